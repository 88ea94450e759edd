// Building blocks shared by the engine's operations: the error manager with
// its recovery point, in-memory sources and destinations for the JPEG
// library, owners for libjpeg objects and heap buffers, and the error-text
// helpers.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "engine/block_arrays.h"
#include "platform/atomic_file.h"

namespace mk::engine {

// Where the buffer that a data source hands the library lies in the whole
// of its data, so that a warning can tell which byte the decoder had
// reached.
struct SourcePlace {
    const JOCTET *buffer = nullptr;
    uint64_t offset = 0;  // of the buffer's first byte
};

// The library's error manager extended by a recovery point. error_exit
// formats the message into errorText and jumps back to `recovery`; the
// object itself is destroyed by its owner afterwards. A decoder's first
// warning is kept with the byte of its data it had reached then, which
// its source (when it says where it is, WatchSource) tells.
struct EngineErrorManager {
    jpeg_error_mgr pub;
    jmp_buf recovery;
    char *errorText;
    int32_t failureCode;
    void (*libraryEmit)(j_common_ptr, int);
    const SourcePlace *place;
    char warning[JMSG_LENGTH_MAX];
    bool warningPlaced;
    uint64_t warningAt;
};

// Attaches the manager to a libjpeg object's err field (before creation).
jpeg_error_mgr *SetUpErrorManager(EngineErrorManager *manager, char *errorText);

// Tells the engine's manager of a decoder where its source is (null: it
// cannot say).
void WatchSource(j_decompress_ptr info, const SourcePlace *place);

// kDamaged when the decoder of `manager` warned: its data is damaged and
// the coefficients it recovered are not the file's. errorText then says
// "<what>damaged at byte N: <the library's warning>", or without the byte
// when the source could not tell. 0 when it never warned.
int32_t RefuseIfDamaged(const EngineErrorManager &manager, char *errorText, const char *what = "");

// The code an operation returns after its recovery point was reached.
inline int32_t FailureCodeOf(const EngineErrorManager &manager) {
    return manager.failureCode != 0 ? manager.failureCode : -3;
}

// Makes errorText empty (when given).
void ClearErrorText(char *errorText);
// printf into errorText, cut to fit its 256 bytes.
void SetErrorText(char *errorText, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The engine code of a failed write with this errno: kNoSpace for a full
// disk or quota, else kWriteFailed.
int32_t WriteFailureCode(int error);

// Tells `diskWait` (when set) that only the disk is left, then commits the
// written file; "can't write" and WriteFailureCode when that fails.
int32_t CommitOutput(platform::AtomicFile &output, const char *destination, char *errorText,
                     const std::function<void()> &diskWait);

// A heap buffer that can grow in place (realloc); move-only.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(ByteBuffer &&other) noexcept;
    ByteBuffer &operator=(ByteBuffer &&other) noexcept;
    ByteBuffer(const ByteBuffer &) = delete;
    ByteBuffer &operator=(const ByteBuffer &) = delete;

    // False when memory is short (the contents are kept).
    bool Resize(size_t size) noexcept;
    void Reset() noexcept;
    uint8_t *data() const { return data_; }
    size_t size() const { return size_; }

  private:
    uint8_t *data_ = nullptr;
    size_t size_ = 0;
};

// Reads a whole file. False when it cannot be opened or read; errno set.
// Throws std::bad_alloc when memory is short.
bool ReadWholeFile(const char *path, ByteBuffer *out);

// Data source over a byte range; running past its end is a library error.
struct MemorySource {
    jpeg_source_mgr pub;
    SourcePlace place;
};
void AttachMemorySource(j_decompress_ptr info, MemorySource *source, const void *data,
                        size_t length);

// Data destination into a ByteBuffer that grows by its initial capacity
// whenever it is full. `offset` bytes at the start are left free. After
// jpeg_finish_compress, `written` holds the bytes written after the offset.
struct MemoryDestination {
    jpeg_destination_mgr pub;
    ByteBuffer *buffer;
    size_t offset;
    size_t growBy;
    size_t written;
};
void AttachMemoryDestination(j_compress_ptr info, MemoryDestination *destination,
                             ByteBuffer *buffer, size_t offset);

// Data destination into a stdio stream through a buffer of its own, which
// counts the bytes it has taken, so that the position of anything written
// is known while later bytes are still being produced. A failed write is a
// library error.
// Every `writeBackEvery` bytes it starts the file's write-back, so the disk
// works while the rest is encoded.
struct StreamDestination {
    jpeg_destination_mgr pub;
    platform::AtomicFile *file;
    uint64_t flushed;  // bytes handed to the stream so far
    uint64_t writeBackAt;
    JOCTET buffer[1 << 16];
};
inline constexpr uint64_t kWriteBackEvery = uint64_t{1} << 20;
void AttachStreamDestination(j_compress_ptr info, StreamDestination *destination,
                             platform::AtomicFile *file);
// Bytes written to the destination so far, whether flushed or buffered.
uint64_t BytesWritten(const StreamDestination &destination);

// Owners of libjpeg objects. They are neither copied nor moved: the library
// keeps pointers into them. Create() may only be called after the owner's
// error manager recovery point was armed. The block arrays of either kind
// live in its `arrays` (a decoder asks for them there itself, an encoder's
// are asked for by the engine) and go with Destroy().
class Decompressor {
  public:
    Decompressor() = default;
    ~Decompressor() { Destroy(); }
    Decompressor(const Decompressor &) = delete;
    Decompressor &operator=(const Decompressor &) = delete;

    void Create(char *errorText);
    void Destroy() noexcept;
    j_decompress_ptr get() { return &info; }

    jpeg_decompress_struct info{};
    EngineErrorManager error{};
    ArrayStore arrays;

  private:
    bool created_ = false;
};

class Compressor {
  public:
    Compressor() = default;
    ~Compressor() { Destroy(); }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;

    void Create(char *errorText);
    void Destroy() noexcept;
    j_compress_ptr get() { return &info; }

    jpeg_compress_struct info{};
    EngineErrorManager error{};
    ArrayStore arrays;

  private:
    bool created_ = false;
};

// Caps the memory of the coefficient arrays by what `inputSize` bytes of
// coded data can plausibly describe (a block costs at least a bit or two),
// and never below 256 MiB; a tiny file that declares a huge picture then
// fails with a library error instead of taking gigabytes.
void LimitCoefficientMemory(j_decompress_ptr info, size_t inputSize);

// Asks the library to keep every APP0..APP15 and COM segment whole.
void SaveAllSegments(j_decompress_ptr info);

// Writes the saved segments of `source` to `destination` in file order,
// leaving out a JFIF APP0 or Adobe APP14 that the library wrote itself and,
// when `dropReverseMarker`, every reverse-marker APP7 segment.
void CopySavedSegments(j_decompress_ptr source, j_compress_ptr destination, bool dropReverseMarker);

// Size of a component's coefficient array in blocks, padded to whole MCUs
// the way the library allocates it.
JDIMENSION PaddedWidthInBlocks(const jpeg_component_info &component);
JDIMENSION PaddedHeightInBlocks(const jpeg_component_info &component);

}  // namespace mk::engine

namespace mk::engine {

// Copies rows x columns blocks from (fromRow, fromColumn) of one coefficient
// array to (toRow, toColumn) of another. May raise a library error.
void CopyBlockArea(j_common_ptr info, jvirt_barray_ptr from, JDIMENSION fromRow,
                   JDIMENSION fromColumn, jvirt_barray_ptr to, JDIMENSION toRow,
                   JDIMENSION toColumn, JDIMENSION rows, JDIMENSION columns);

}  // namespace mk::engine
