// Error manager, memory source and destination, object owners and segment
// copying for the engine's libjpeg work.
#include "engine/jpeg_support.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/engine.h"
#include "engine/reverse_marker.h"
#include "platform/files.h"

namespace mk::engine {
namespace {

void OutputMessage(j_common_ptr info) {
    auto *manager = reinterpret_cast<EngineErrorManager *>(info->err);
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    if (manager->errorText != nullptr) SetErrorText(manager->errorText, "%s", message);
}

// Keeps the first warning, and where the decoder was, before the
// library's own handling counts it (and outputs the first).
void EmitMessage(j_common_ptr info, int level) {
    auto *manager = reinterpret_cast<EngineErrorManager *>(info->err);
    if (level < 0 && info->err->num_warnings == 0) {
        (*info->err->format_message)(info, manager->warning);
        const SourcePlace *place = manager->place;
        const jpeg_source_mgr *source =
            info->is_decompressor ? reinterpret_cast<j_decompress_ptr>(info)->src : nullptr;
        if (source != nullptr && place != nullptr) {
            const JOCTET *next = source->next_input_byte;
            manager->warningPlaced = true;
            manager->warningAt = place->offset;
            if (next != nullptr && place->buffer != nullptr && next >= place->buffer)
                manager->warningAt += static_cast<uint64_t>(next - place->buffer);
        }
    }
    (*manager->libraryEmit)(info, level);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
    auto *manager = reinterpret_cast<EngineErrorManager *>(info->err);
    (*info->err->output_message)(info);
    std::longjmp(manager->recovery, 1);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
    // Unlike the library's own memory source no fake EOI is inserted: data
    // that ends early is an error.
    ERREXIT(info, JERR_INPUT_EOF);
    return FALSE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr *source = info->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) {
        (*source->fill_input_buffer)(info);
        return;
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= static_cast<size_t>(count);
}

void InitDestination(j_compress_ptr info) {
    auto *destination = reinterpret_cast<MemoryDestination *>(info->dest);
    destination->pub.next_output_byte = destination->buffer->data() + destination->offset;
    destination->pub.free_in_buffer = destination->buffer->size() - destination->offset;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
    auto *destination = reinterpret_cast<MemoryDestination *>(info->dest);
    ByteBuffer *buffer = destination->buffer;
    const size_t used = buffer->size();
    if (!buffer->Resize(used + destination->growBy)) ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    destination->pub.next_output_byte = buffer->data() + used;
    destination->pub.free_in_buffer = buffer->size() - used;
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    auto *destination = reinterpret_cast<MemoryDestination *>(info->dest);
    destination->written =
        destination->buffer->size() - destination->offset - destination->pub.free_in_buffer;
}

void InitStreamDestination(j_compress_ptr info) {
    auto *destination = reinterpret_cast<StreamDestination *>(info->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = sizeof destination->buffer;
}

void FlushStream(j_compress_ptr info, size_t count) {
    auto *destination = reinterpret_cast<StreamDestination *>(info->dest);
    if (count != 0 &&
        std::fwrite(destination->buffer, 1, count, destination->file->stream()) != count) {
        reinterpret_cast<EngineErrorManager *>(info->err)->failureCode = WriteFailureCode(errno);
        ERREXIT(info, JERR_FILE_WRITE);
    }
    destination->flushed += count;
    if (destination->flushed >= destination->writeBackAt) {
        destination->file->StartWriteBack();
        destination->writeBackAt = destination->flushed + kWriteBackEvery;
    }
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = sizeof destination->buffer;
}

boolean EmptyStreamBuffer(j_compress_ptr info) {
    FlushStream(info, sizeof reinterpret_cast<StreamDestination *>(info->dest)->buffer);
    return TRUE;
}

void TermStreamDestination(j_compress_ptr info) {
    auto *destination = reinterpret_cast<StreamDestination *>(info->dest);
    FlushStream(info, sizeof destination->buffer - destination->pub.free_in_buffer);
}

bool StartsWith(const jpeg_marker_struct &segment, const char *signature, size_t length) {
    return segment.data_length >= length && std::memcmp(segment.data, signature, length) == 0;
}

struct FileCloser {
    void operator()(FILE *file) const noexcept { std::fclose(file); }
};

}  // namespace

int32_t WriteFailureCode(int error) {
    return error == ENOSPC || error == EDQUOT ? kNoSpace : kWriteFailed;
}

jpeg_error_mgr *SetUpErrorManager(EngineErrorManager *manager, char *errorText) {
    jpeg_error_mgr *pub = jpeg_std_error(&manager->pub);
    pub->error_exit = ErrorExit;
    pub->output_message = OutputMessage;
    manager->libraryEmit = pub->emit_message;
    pub->emit_message = EmitMessage;
    manager->errorText = errorText;
    manager->failureCode = 0;
    manager->place = nullptr;
    manager->warning[0] = '\0';
    manager->warningPlaced = false;
    manager->warningAt = 0;
    return pub;
}

void WatchSource(j_decompress_ptr info, const SourcePlace *place) {
    // Only a manager of the engine's has room for it.
    if (info->err != nullptr && info->err->emit_message == EmitMessage)
        reinterpret_cast<EngineErrorManager *>(info->err)->place = place;
}

int32_t RefuseIfDamaged(const EngineErrorManager &manager, char *errorText, const char *what) {
    if (manager.pub.num_warnings == 0) return kOk;
    if (manager.warningPlaced) {
        SetErrorText(errorText, "%sdamaged at byte %llu: %s", what,
                     static_cast<unsigned long long>(manager.warningAt), manager.warning);
    } else {
        SetErrorText(errorText, "%sdamaged: %s", what, manager.warning);
    }
    return kDamaged;
}

void ClearErrorText(char *errorText) {
    if (errorText != nullptr) errorText[0] = '\0';
}

void SetErrorText(char *errorText, const char *format, ...) {
    if (errorText == nullptr) return;
    va_list args;
    va_start(args, format);
    // vsnprintf cuts the text to the buffer and always terminates it.
    std::vsnprintf(errorText, kErrorTextSize, format, args);
    va_end(args);
}

int32_t CommitOutput(platform::AtomicFile &output, const char *destination, char *errorText,
                     const std::function<void()> &diskWait) {
    if (diskWait) diskWait();
    if (!output.Commit()) {
        const int error = errno;
        SetErrorText(errorText, "can't write %s: %s", destination, std::strerror(error));
        return WriteFailureCode(error);
    }
    return kOk;
}

ByteBuffer::~ByteBuffer() { Reset(); }

ByteBuffer::ByteBuffer(ByteBuffer &&other) noexcept : data_(other.data_), size_(other.size_) {
    other.data_ = nullptr;
    other.size_ = 0;
}

ByteBuffer &ByteBuffer::operator=(ByteBuffer &&other) noexcept {
    if (this != &other) {
        Reset();
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

bool ByteBuffer::Resize(size_t size) noexcept {
    void *grown = std::realloc(data_, size == 0 ? 1 : size);
    if (grown == nullptr) return false;
    data_ = static_cast<uint8_t *>(grown);
    size_ = size;
    return true;
}

void ByteBuffer::Reset() noexcept {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

bool ReadWholeFile(const char *path, ByteBuffer *out) {
    std::unique_ptr<FILE, FileCloser> file(platform::OpenRegularStream(path).release());
    if (!file) return false;
    ByteBuffer data;
    size_t used = 0;
    size_t capacity = 1 << 16;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long end = std::ftell(file.get());
        if (end > 0) capacity = static_cast<size_t>(end) + 1;
        std::rewind(file.get());
    }
    if (!data.Resize(capacity)) throw std::bad_alloc();
    for (;;) {
        if (used == data.size() && !data.Resize(data.size() * 2)) throw std::bad_alloc();
        const size_t got = std::fread(data.data() + used, 1, data.size() - used, file.get());
        used += got;
        if (got == 0) break;
    }
    if (std::ferror(file.get())) {
        errno = EIO;
        return false;
    }
    if (!data.Resize(used)) throw std::bad_alloc();
    *out = std::move(data);
    return true;
}

void AttachMemorySource(j_decompress_ptr info, MemorySource *source, const void *data,
                        size_t length) {
    source->pub.init_source = InitSource;
    source->pub.fill_input_buffer = FillInputBuffer;
    source->pub.skip_input_data = SkipInputData;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = TermSource;
    source->pub.next_input_byte = static_cast<const JOCTET *>(data);
    source->pub.bytes_in_buffer = length;
    source->place = SourcePlace{static_cast<const JOCTET *>(data), 0};
    info->src = &source->pub;
    WatchSource(info, &source->place);
}

void AttachMemoryDestination(j_compress_ptr info, MemoryDestination *destination,
                             ByteBuffer *buffer, size_t offset) {
    destination->pub.init_destination = InitDestination;
    destination->pub.empty_output_buffer = EmptyOutputBuffer;
    destination->pub.term_destination = TermDestination;
    destination->buffer = buffer;
    destination->offset = offset;
    destination->growBy = buffer->size() > 0 ? buffer->size() : 4096;
    destination->written = 0;
    info->dest = &destination->pub;
}

void AttachStreamDestination(j_compress_ptr info, StreamDestination *destination,
                             platform::AtomicFile *file) {
    destination->pub.init_destination = InitStreamDestination;
    destination->pub.empty_output_buffer = EmptyStreamBuffer;
    destination->pub.term_destination = TermStreamDestination;
    destination->file = file;
    destination->flushed = 0;
    destination->writeBackAt = kWriteBackEvery;
    info->dest = &destination->pub;
}

uint64_t BytesWritten(const StreamDestination &destination) {
    return destination.flushed + (sizeof destination.buffer - destination.pub.free_in_buffer);
}

void Decompressor::Create(char *errorText) {
    info.err = SetUpErrorManager(&error, errorText);
    // Marked before the call: a failing creation leaves mem null, which
    // jpeg_destroy accepts.
    created_ = true;
    jpeg_create_decompress(&info);
    arrays.Install(&info);
}

void Decompressor::Destroy() noexcept {
    if (!created_) return;
    created_ = false;
    jpeg_destroy_decompress(&info);
    arrays.Release();
}

void Compressor::Create(char *errorText) {
    info.err = SetUpErrorManager(&error, errorText);
    created_ = true;
    jpeg_create_compress(&info);
    ArrayStore::InstallAccess(reinterpret_cast<j_common_ptr>(&info));
}

void Compressor::Destroy() noexcept {
    if (!created_) return;
    created_ = false;
    jpeg_destroy_compress(&info);
    arrays.Release();
}

void LimitCoefficientMemory(j_decompress_ptr info, size_t inputSize) {
    constexpr size_t kFloor = size_t{256} << 20;
    // 128 bytes per block and at most 8 blocks per coded byte.
    constexpr size_t kBytesPerInputByte = 128 * 8;
    const size_t limit = inputSize > (SIZE_MAX / kBytesPerInputByte)
                             ? SIZE_MAX
                             : std::max(kFloor, inputSize * kBytesPerInputByte);
    info->mem->max_memory_to_use = static_cast<long>(std::min<size_t>(limit, LONG_MAX));
}

void SaveAllSegments(j_decompress_ptr info) {
    for (int n = 0; n < 16; ++n) jpeg_save_markers(info, JPEG_APP0 + n, 0xFFFF);
    jpeg_save_markers(info, JPEG_COM, 0xFFFF);
}

void CopySavedSegments(j_decompress_ptr source, j_compress_ptr destination,
                       bool dropReverseMarker) {
    for (jpeg_saved_marker_ptr segment = source->marker_list; segment != nullptr;
         segment = segment->next) {
        if (destination->write_JFIF_header && segment->marker == JPEG_APP0 &&
            StartsWith(*segment, "JFIF", 5))
            continue;
        if (destination->write_Adobe_marker && segment->marker == JPEG_APP0 + 14 &&
            StartsWith(*segment, "Adobe", 5))
            continue;
        if (dropReverseMarker && IsReverseMarkerSegment(*segment)) continue;
        jpeg_write_marker(destination, segment->marker, segment->data, segment->data_length);
    }
}

JDIMENSION PaddedWidthInBlocks(const jpeg_component_info &component) {
    const JDIMENSION h = static_cast<JDIMENSION>(component.h_samp_factor);
    return (component.width_in_blocks + h - 1) / h * h;
}

JDIMENSION PaddedHeightInBlocks(const jpeg_component_info &component) {
    const JDIMENSION v = static_cast<JDIMENSION>(component.v_samp_factor);
    return (component.height_in_blocks + v - 1) / v * v;
}

}  // namespace mk::engine

namespace mk::engine {

void CopyBlockArea(j_common_ptr info, jvirt_barray_ptr from, JDIMENSION fromRow,
                   JDIMENSION fromColumn, jvirt_barray_ptr to, JDIMENSION toRow,
                   JDIMENSION toColumn, JDIMENSION rows, JDIMENSION columns) {
    for (JDIMENSION j = 0; j < rows; ++j) {
        JBLOCKARRAY source = (*info->mem->access_virt_barray)(info, from, fromRow + j, 1, FALSE);
        JBLOCKARRAY target = (*info->mem->access_virt_barray)(info, to, toRow + j, 1, TRUE);
        std::memcpy(target[0] + toColumn, source[0] + fromColumn, columns * sizeof(JBLOCK));
    }
}

}  // namespace mk::engine
