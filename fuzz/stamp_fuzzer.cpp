// Fuzz target: the stamp itself on arbitrary files, as the batch runs it
// (the region stamp, with the full decode and the stamped-image writer
// where the region stamp leaves a picture to them), then undo of what it
// wrote. When the stamp succeeds, undo must succeed and give back every
// coefficient of the source exactly. A file that carries a stamp already
// is stamped over it (the earlier stamp taken off in memory); its undo must
// then give back what undo of the file gives.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <csetjmp>

#include "MK_Core.h"
#include "engine/engine.h"
#include "engine/region_stamp.h"
#include "fuzz_file.h"

namespace {

using mk::engine::kErrorTextSize;

// Pictures larger than this are not decoded whole in a fuzzing run.
constexpr int64_t kLargestFullDecode = int64_t{1} << 22;

// The painted rectangle on a width x height picture: a box of at most
// 40 x 16 pixels in the corner or the centre that `where` picks.
MK_Rect PaintedRect(int32_t width, int32_t height, uint8_t where) {
    const int32_t w = std::min(width, 40), h = std::min(height, 16);
    int32_t left = 0, top = 0;
    switch (where % 4) {
        case 1:
            left = width - w;
            break;
        case 2:
            left = width - w;
            top = height - h;
            break;
        case 3:
            left = (width - w) / 2;
            top = (height - h) / 2;
            break;
        default:
            break;
    }
    return MK_Rect{left, top, left + w - 1, top + h - 1};
}

// Paints the part of `rect` that lies in a bottom-up area of 4-byte pixels
// whose top-left pixel is picture pixel (x, y).
void Paint(const MK_Rect &rect, uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h) {
    for (int32_t row = std::max(rect.top, y); row <= std::min(rect.bottom, y + h - 1); ++row)
        for (int32_t column = std::max(rect.left, x); column <= std::min(rect.right, x + w - 1);
             ++column) {
            uint8_t *p = area + ((static_cast<size_t>(h) - 1 - (row - y)) * w + (column - x)) * 4;
            const bool light = ((column / 3) + (row / 2)) % 2 == 0;
            p[0] = light ? 240 : 20;
            p[1] = light ? 250 : 60;
            p[2] = light ? 230 : 180;
        }
}

// The stamp of StampPicture: the region stamp, or the whole picture
// decoded, painted and written where the region stamp leaves it to that.
int32_t Stamp(const char *source, const char *destination, uint8_t where, bool restoreEarlier) {
    mk::engine::RegionPainter painter;
    MK_Rect rect{};
    painter.paintedRect = [&](int32_t width, int32_t height) {
        rect = PaintedRect(width, height, where);
        return rect;
    };
    painter.paint = [&](uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h, int32_t,
                        int32_t) { Paint(rect, area, x, y, w, h); };
    char error[kErrorTextSize] = "";
    const int32_t result = mk::engine::StampRegion(source, destination, painter, 1, error, nullptr,
                                                   {}, restoreEarlier);
    if (std::strlen(error) >= sizeof error) __builtin_trap();
    if (result != mk::engine::kNeedsFullDecode || restoreEarlier) return result;

    int32_t width = 0, height = 0;
    if (mk::engine::ReadJpegFile(source, nullptr, &width, &height, error) != 0 || width <= 0 ||
        height <= 0 || int64_t{width} * height > kLargestFullDecode)
        return mk::engine::kLibraryFailed;
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    if (mk::engine::ReadJpegFile(source, pixels.data(), &width, &height, error) != 0)
        return mk::engine::kLibraryFailed;
    rect = PaintedRect(width, height, where);
    Paint(rect, pixels.data(), 0, 0, width, height);
    return mk::engine::WriteStampedJpeg(source, destination, pixels.data(), rect.left,
                                        height - 1 - rect.bottom, rect.right, height - 1 - rect.top,
                                        1, error);
}

// Every coefficient of a picture, component after component, as the
// library reads it; `warned` when the decoder warned.
struct Coefficients {
    std::vector<JCOEF> values;
    bool warned = false;
};

struct ReadJob {
    const std::vector<uint8_t> *data;
    Coefficients *out;
    jpeg_error_mgr error{};
    jmp_buf recovery;
    jpeg_decompress_struct info{};
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    std::longjmp(*static_cast<jmp_buf *>(info->client_data), 1);
}

void Silent(j_common_ptr) {}

// No frame that a failure leaves from here on holds an object with a destructor.
bool RunRead(ReadJob *job) {
    jpeg_decompress_struct *info = &job->info;
    info->err = jpeg_std_error(&job->error);
    job->error.error_exit = ErrorExit;
    job->error.output_message = Silent;
    info->client_data = &job->recovery;
    if (setjmp(job->recovery)) return false;
    jpeg_create_decompress(info);
    info->client_data = &job->recovery;
    jpeg_mem_src(info, job->data->data(), static_cast<unsigned long>(job->data->size()));
    jpeg_read_header(info, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(info);
    size_t total = 0;
    for (int c = 0; c < info->num_components; ++c)
        total += size_t{info->comp_info[c].width_in_blocks} * info->comp_info[c].height_in_blocks;
    job->out->values.resize(total * DCTSIZE2);
    JCOEF *at = job->out->values.data();
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), arrays[c], row, 1, FALSE);
            std::memcpy(at, blocks[0], component.width_in_blocks * sizeof(JBLOCK));
            at += size_t{component.width_in_blocks} * DCTSIZE2;
        }
    }
    job->out->warned = job->error.num_warnings != 0;
    jpeg_finish_decompress(info);
    return true;
}

bool ReadCoefficients(const std::string &path, Coefficients *out) {
    std::vector<uint8_t> data;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t buffer[1 << 14];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        data.insert(data.end(), buffer, buffer + got);
    std::fclose(file);
    ReadJob job;
    job.data = &data;
    job.out = out;
    const bool ok = RunRead(&job);
    jpeg_destroy_decompress(&job.info);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const mk::fuzz::ScratchFolder folder;
    folder.WriteInput(data, size);
    const std::string input = folder.input();
    const std::string stamped = folder.output();
    const std::string undone = folder.file("undone.jpg");
    const std::string reference = folder.file("reference.jpg");
    const bool restamp = mk::engine::ProbeReverseMarker(input.c_str(), nullptr) == 0;
    const int32_t result =
        Stamp(input.c_str(), stamped.c_str(), size > 0 ? data[size - 1] : 0, restamp);
    if (result > 0) __builtin_trap();
    if (result == 0) {
        // What undo must give back: the source, or for a source with a
        // stamp of its own, that source with its stamp taken off.
        std::string original = input;
        char error[kErrorTextSize] = "";
        if (restamp) {
            if (mk::engine::UndoStampedJpeg(input.c_str(), reference.c_str(), error) != 0)
                __builtin_trap();
            original = reference;
        }
        Coefficients before, after;
        if (!ReadCoefficients(original, &before) || before.warned) __builtin_trap();
        if (mk::engine::UndoStampedJpeg(stamped.c_str(), undone.c_str(), error) != 0)
            __builtin_trap();
        if (!ReadCoefficients(undone, &after) || after.warned || after.values != before.values)
            __builtin_trap();
    }
    for (const std::string &path : {stamped, undone, reference}) std::remove(path.c_str());
    return 0;
}
