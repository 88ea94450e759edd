// Decoding JPEG pictures, from a file or from memory, into bottom-up
// blue-green-red-x pixel buffers; also the exported MK_ReadJPEG and
// MK_DecodeJPEG.
#include <cstring>
#include <memory>

#include "MK_Core.h"
#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "platform/files.h"

namespace mk::engine {
namespace {

struct FileCloser {
    void operator()(FILE *file) const noexcept { std::fclose(file); }
};

// Everything one decoding needs, owned outside the function that arms the
// recovery point.
struct DecodeJob {
    FILE *file = nullptr;
    const void *data = nullptr;
    size_t length = 0;
    uint8_t *pixels = nullptr;
    int32_t *width = nullptr;
    int32_t *height = nullptr;
    char *errorText = nullptr;
    MemorySource source{};
    Decompressor decompressor;
};

// A library failure jumps back here.
int32_t RunDecode(DecodeJob *job) {
    Decompressor &d = job->decompressor;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(d.error.recovery)) return FailureCodeOf(d.error);
    d.Create(job->errorText);
    j_decompress_ptr info = d.get();
    if (job->file != nullptr)
        jpeg_stdio_src(info, job->file);
    else
        AttachMemorySource(info, &job->source, job->data, job->length);
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_EXT_BGRX;
    *job->width = static_cast<int32_t>(info->image_width);
    *job->height = static_cast<int32_t>(info->image_height);
    if (job->pixels == nullptr) return kOk;

    jpeg_start_decompress(info);
    const size_t stride = static_cast<size_t>(info->output_width) * info->output_components;
    // The top row of the picture goes to the last row of the buffer.
    JSAMPROW row = job->pixels + stride * (info->output_height - 1);
    while (info->output_scanline < info->output_height) {
        jpeg_read_scanlines(info, &row, 1);
        row -= stride;
    }
    jpeg_finish_decompress(info);
    return kOk;
}

int32_t CheckOutputs(int32_t *width, int32_t *height) {
    return width != nullptr && height != nullptr ? kOk : kLibraryFailed;
}

}  // namespace

int32_t ReadJpegFile(const char *path, void *pixels, int32_t *width, int32_t *height,
                     char *errorText) {
    ClearErrorText(errorText);
    if (path == nullptr || CheckOutputs(width, height) != kOk) return kCannotOpen;
    try {
        std::unique_ptr<FILE, FileCloser> file(platform::OpenRegularStream(path).release());
        if (!file) {
            SetErrorText(errorText, "can't open %s", path);
            return kCannotOpen;
        }
        DecodeJob job;
        job.file = file.get();
        job.pixels = static_cast<uint8_t *>(pixels);
        job.width = width;
        job.height = height;
        job.errorText = errorText;
        return RunDecode(&job);
    } catch (...) {
        SetErrorText(errorText, "Not enough memory");
        return kNoMemory;
    }
}

int32_t DecodeJpegMemory(const void *data, size_t length, void *pixels, int32_t *width,
                         int32_t *height, char *errorText) {
    ClearErrorText(errorText);
    if (CheckOutputs(width, height) != kOk || (data == nullptr && length != 0))
        return kLibraryFailed;
    try {
        DecodeJob job;
        job.data = data;
        job.length = length;
        job.pixels = static_cast<uint8_t *>(pixels);
        job.width = width;
        job.height = height;
        job.errorText = errorText;
        return RunDecode(&job);
    } catch (...) {
        SetErrorText(errorText, "Not enough memory");
        return kNoMemory;
    }
}

}  // namespace mk::engine

extern "C" MK_API int32_t MK_ReadJPEG(const char *path, void *pixels, int32_t *width,
                                      int32_t *height) {
    try {
        if (path == nullptr || width == nullptr || height == nullptr)
            return mk::engine::kCannotOpen;
        // Paths live in 260-byte buffers; a longer one is refused, never cut.
        char buffer[MK_MAX_PATH];
        const size_t length = std::strlen(path);
        if (length >= sizeof buffer) return mk::engine::kCannotOpen;
        std::memcpy(buffer, path, length + 1);
        char errorText[mk::engine::kErrorTextSize];
        return mk::engine::ReadJpegFile(buffer, pixels, width, height, errorText);
    } catch (...) {
        return mk::engine::kLibraryFailed;
    }
}

extern "C" MK_API int32_t MK_DecodeJPEG(const void *data, int32_t length, void *pixels,
                                        int32_t *width, int32_t *height) {
    try {
        if (data == nullptr || length < 0 || width == nullptr || height == nullptr)
            return mk::engine::kLibraryFailed;
        char errorText[mk::engine::kErrorTextSize];
        return mk::engine::DecodeJpegMemory(data, static_cast<size_t>(length), pixels, width,
                                            height, errorText);
    } catch (...) {
        return mk::engine::kLibraryFailed;
    }
}
