// JPEG section reader: one walk over the head of a file, from a stream or
// from memory, ending at the start-of-scan marker or at the first fatal
// condition, which is returned as a status instead of unwinding.
#include "metadata/section_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "platform/files.h"

namespace mk::metadata {

const char *AbortReason(ReadStatus status) {
    switch (status) {
        case ReadStatus::kOk:
            return "";
        case ReadStatus::kCannotOpen:
            return "can't open file\n";
        case ReadStatus::kNotJpeg:
            return "Not JPEG\n";
        case ReadStatus::kTooManySections:
            return "Too many sections in jpg file";
        case ReadStatus::kTooManyPaddingBytes:
            return "too many padding bytes\n";
        case ReadStatus::kInvalidMarker:
            return "invalid marker";
        case ReadStatus::kOutOfMemory:
            return "Could not allocate memory";
        case ReadStatus::kPrematureEnd:
            return "Premature end of file?";
        case ReadStatus::kNoImage:
            return "No image in jpeg!\n";
    }
    return "";
}

namespace {

constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerApp12 = 0xEC;
constexpr int kMarkerCom = 0xFE;

// A run of this many 0xFF bytes where a marker code is due is refused.
constexpr int kMaxFillBytes = 7;

// Where the walk takes its bytes from.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes; fewer only at the end of the data.
    virtual size_t Read(uint8_t *out, size_t n) = 0;
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t Read(uint8_t *out, size_t n) override {
        const size_t count = std::min(n, bytes_.size() - pos_);
        if (count != 0) std::memcpy(out, bytes_.data() + pos_, count);
        pos_ += count;
        return count;
    }

  private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

struct FileCloser {
    void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

class FileSource final : public ByteSource {
  public:
    explicit FileSource(FILE *file) : file_(file) {}
    size_t Read(uint8_t *out, size_t n) override { return std::fread(out, 1, n, file_); }

  private:
    FILE *file_;
};

// 0xC0 to 0xCF but DHT (0xC4), JPG (0xC8) and DAC (0xCC).
bool IsStartOfFrame(int marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool StartsWith(std::span<const uint8_t> payload, const char *prefix) {
    const size_t n = std::strlen(prefix);
    return payload.size() >= n && std::memcmp(payload.data(), prefix, n) == 0;
}

SectionRead Walk(ByteSource &source) {
    SectionRead read;
    auto fail = [&read](ReadStatus status) {
        read.status = status;
        return std::move(read);
    };

    uint8_t soi[2];
    if (source.Read(soi, 2) != 2 || soi[0] != 0xFF || soi[1] != kMarkerSoi)
        return fail(ReadStatus::kNotJpeg);

    // One buffer for every segment of the read; each segment is handled
    // before the next one is read.
    std::vector<uint8_t> segment;
    bool haveComment = false;
    for (;;) {
        if (read.sections.size() >= kMaxSections) return fail(ReadStatus::kTooManySections);

        // Up to six 0xFF bytes, the prefix included, may stand before the
        // code; a missing prefix makes the next byte the code.
        int marker = -1;
        for (int fill = 1;; ++fill) {
            uint8_t byte;
            if (source.Read(&byte, 1) != 1) return fail(ReadStatus::kPrematureEnd);
            if (byte != 0xFF) {
                marker = byte;
                break;
            }
            if (fill >= kMaxFillBytes) return fail(ReadStatus::kTooManyPaddingBytes);
        }

        // Length field, big-endian, counting its own two bytes.
        uint8_t length[2];
        if (source.Read(length, 2) != 2) return fail(ReadStatus::kPrematureEnd);
        const size_t size = size_t(length[0]) << 8 | length[1];
        if (size < 2) return fail(ReadStatus::kInvalidMarker);

        try {
            segment.resize(size);
        } catch (const std::bad_alloc &) {
            return fail(ReadStatus::kOutOfMemory);
        }
        segment[0] = length[0];
        segment[1] = length[1];
        if (source.Read(segment.data() + 2, size - 2) != size - 2)
            return fail(ReadStatus::kPrematureEnd);

        const std::span<const uint8_t> data(segment);
        const std::span<const uint8_t> payload = data.subspan(2);
        bool keep = true;
        if (IsStartOfFrame(marker)) {
            // kept
        } else if (marker == kMarkerEoi) {
            return fail(ReadStatus::kNoImage);
        } else if (marker == kMarkerSos) {
            read.sections.push_back({marker, size});
            return read;
        } else if (marker == kMarkerApp0) {
            keep = false;
        } else if (marker == kMarkerApp1) {
            keep = StartsWith(payload, "Exif");
            if (keep) {
                ParseExifSegment(data, read.info.dateTimeText);
                read.info.exifSeen = true;
            }
        } else if (marker == kMarkerApp12) {
            if (!read.info.exifSeen) {
                if (const auto time = App12TimeDate(data)) {
                    read.info.app12Time = *time;
                    read.info.app12TimePresent = true;
                }
            }
        } else if (marker == kMarkerCom) {
            keep = !haveComment;
            haveComment = true;
        }
        if (keep) read.sections.push_back({marker, size});
    }
}

}  // namespace

SectionRead ReadSections(std::span<const uint8_t> bytes) {
    MemorySource source(bytes);
    return Walk(source);
}

SectionRead ReadSections(const char *path) {
    FilePtr file(platform::OpenRegularStream(path).release());
    if (!file) {
        SectionRead read;
        read.status = ReadStatus::kCannotOpen;
        return read;
    }
    FileSource source(file.get());
    return Walk(source);
}

std::optional<tm> App12TimeDate(std::span<const uint8_t> segment) {
    static constexpr char kKey[] = "TimeDate=";
    constexpr size_t kKeyLength = sizeof kKey - 1;
    const size_t size = segment.size();
    if (size <= 11) return std::nullopt;

    // Offsets 2 .. size - 10: the match leaves at least one byte after it.
    size_t pos = 0;
    bool found = false;
    for (size_t i = 2; i + 10 <= size; ++i) {
        if (std::memcmp(segment.data() + i, kKey, kKeyLength) == 0) {
            pos = i + kKeyLength;
            found = true;
            break;
        }
    }
    if (!found) return std::nullopt;

    // A decimal number as strtol reads one, but never past the segment.
    auto isSpace = [](uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (pos < size && isSpace(segment[pos])) ++pos;
    bool negative = false;
    if (pos < size && (segment[pos] == '+' || segment[pos] == '-')) {
        negative = segment[pos] == '-';
        ++pos;
    }
    int64_t magnitude = 0;
    bool digits = false;
    for (; pos < size && segment[pos] >= '0' && segment[pos] <= '9'; ++pos) {
        digits = true;
        // Saturate: the count is a signed 32-bit number.
        if (magnitude <= int64_t(INT32_MAX) + 1) magnitude = magnitude * 10 + (segment[pos] - '0');
    }
    if (!digits) return std::nullopt;
    int64_t seconds = negative ? -magnitude : magnitude;
    if (seconds > INT32_MAX) seconds = INT32_MAX;
    if (seconds < INT32_MIN) seconds = INT32_MIN;

    const time_t t = static_cast<time_t>(seconds);
    tm result{};
    if (gmtime_r(&t, &result) == nullptr) return std::nullopt;
    return result;
}

}  // namespace mk::metadata
