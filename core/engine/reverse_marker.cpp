// The reverse marker: CRC-32, the block rectangle of a stamp, writing the
// marker's APP7 segments, finding them in a file and assembling them again.
#include "engine/reverse_marker.h"

#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "engine/engine.h"
#include "platform/files.h"

namespace mk::engine {
namespace {

struct FileCloser {
    void operator()(FILE *file) const noexcept { std::fclose(file); }
};

bool HasIdentifier(const uint8_t *payload) {
    return std::memcmp(payload, kMarkerIdentifier, kIdentifierSize) == 0;
}

}  // namespace

uint32_t Crc32(const void *data, size_t length) { return Crc32Update(0, data, length); }

uint32_t Crc32Update(uint32_t crc, const void *data, size_t length) {
    if (length == 0) return crc;
    // The same CRC as zlib's crc32, chained the same way; the storage
    // library folds with carry-less multiplication where the processor has
    // it, several times faster than zlib's tables, which matters for the CRC
    // over every coefficient that each stamp and undo computes.
    return crc32_gzip_refl(crc, static_cast<const unsigned char *>(data), length);
}

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    // zlib's offset type may be 32 bits wide; shifting A over B in steps
    // of at most 1 GiB (combining with an empty CRC) is the same.
    constexpr uint64_t kStep = uint64_t{1} << 30;
    uLong crc = crcA;
    while (lengthB > kStep) {
        crc = crc32_combine(crc, 0, static_cast<z_off_t>(kStep));
        lengthB -= kStep;
    }
    return static_cast<uint32_t>(crc32_combine(crc, crcB, static_cast<z_off_t>(lengthB)));
}

uint32_t CrcBlockRow(uint32_t crc, JBLOCKROW blocks, JDIMENSION count) {
    if constexpr (std::endian::native == std::endian::little)
        return Crc32Update(crc, blocks, count * sizeof(JBLOCK));
    for (JDIMENSION k = 0; k < count; ++k) {
        uint8_t bytes[DCTSIZE2 * 2];
        for (int i = 0; i < DCTSIZE2; ++i) {
            const auto value = static_cast<uint16_t>(blocks[k][i]);
            bytes[2 * i] = static_cast<uint8_t>(value);
            bytes[2 * i + 1] = static_cast<uint8_t>(value >> 8);
        }
        crc = Crc32Update(crc, bytes, sizeof bytes);
    }
    return crc;
}

uint32_t ReadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteLe32(uint8_t *p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

bool RectInside(const StampRect &rect, JDIMENSION width, JDIMENSION height) {
    return rect.left >= 0 && rect.left <= rect.right &&
           static_cast<JDIMENSION>(rect.right) < width && rect.lowRow >= 0 &&
           rect.lowRow <= rect.highRow && static_cast<JDIMENSION>(rect.highRow) < height;
}

BlockRect ComputeBlockRect(j_decompress_ptr info, const StampRect &rect) {
    int maxH = 1, maxV = 1, minH = 4, minV = 4;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        maxH = std::max(maxH, component.h_samp_factor);
        maxV = std::max(maxV, component.v_samp_factor);
        minH = std::min(minH, component.h_samp_factor);
        minV = std::min(minV, component.v_samp_factor);
    }
    const int32_t fh = maxH / minH;
    const int32_t fv = maxV / minV;
    const int32_t height = static_cast<int32_t>(info->image_height);
    const int32_t top = height - rect.highRow - 1;
    const int32_t bottom = height - rect.lowRow - 1;
    BlockRect blocks{};
    blocks.left = (rect.left / 8) & ~(fh - 1);
    blocks.top = (top / 8) & ~(fv - 1);
    blocks.width = ((rect.right / 8) | (fh - 1)) - blocks.left + 1;
    blocks.height = ((bottom / 8) | (fv - 1)) - blocks.top + 1;
    return blocks;
}

ComponentBlocks ComponentPart(j_decompress_ptr info, int component, const BlockRect &blocks) {
    const jpeg_component_info &c = info->comp_info[component];
    const int32_t fh = info->max_h_samp_factor / c.h_samp_factor;
    const int32_t fv = info->max_v_samp_factor / c.v_samp_factor;
    return ComponentBlocks{blocks.left / fh, blocks.top / fv, blocks.width / fh,
                           blocks.height / fv};
}

bool IsReverseMarkerSegment(const jpeg_marker_struct &segment) {
    return segment.marker == JPEG_APP0 + 7 && segment.data_length >= kMarkerHeaderSize &&
           HasIdentifier(segment.data);
}

uint32_t CoefficientCrc(j_decompress_ptr info, jvirt_barray_ptr *coefficients) {
    uint32_t crc = 0;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), coefficients[c], row, 1, FALSE);
            crc = CrcBlockRow(crc, blocks[0], component.width_in_blocks);
        }
    }
    return crc;
}

uint32_t WriteReverseMarker(uint8_t *marker, size_t totalLength, j_compress_ptr destination) {
    std::memcpy(marker, kMarkerIdentifier, kIdentifierSize);
    WriteLe32(marker + kFieldVersion, kMarkerVersion);
    WriteLe32(marker + kFieldSegmentIndex, 0);
    const uint32_t tailCrc = Crc32(marker + kFieldTotalLength, totalLength - kFieldTotalLength);
    WriteLe32(marker + kFieldMarkerCrc,
              MarkerCrc(ReadLe32(marker + kFieldImageCrc), tailCrc, totalLength));

    uint8_t header[kMarkerHeaderSize];
    std::memcpy(header, marker, sizeof header);
    uint8_t *p = marker;
    size_t left = totalLength;
    for (uint32_t k = 0;; ++k) {
        const size_t n = std::min(left, kMaxSegmentPayload);
        jpeg_write_marker(destination, JPEG_APP0 + 7, p, static_cast<unsigned>(n));
        if (left <= kMaxSegmentPayload) break;
        // The next segment repeats the header over the bytes already written.
        p += kSegmentData;
        std::memcpy(p, header, sizeof header);
        WriteLe32(p + kFieldSegmentIndex, k + 1);
        left -= kSegmentData;
    }
    return tailCrc;
}

uint32_t MarkerCrc(uint32_t imageCrc, uint32_t tailCrc, size_t totalLength) {
    static_assert(kFieldTotalLength == kFieldImageCrc + 4, "the tail follows the image CRC");
    uint8_t field[4];
    WriteLe32(field, imageCrc);
    return Crc32Combine(Crc32(field, sizeof field), tailCrc, totalLength - kFieldTotalLength);
}

size_t MarkerSegmentCount(size_t totalLength) {
    if (totalLength <= kMaxSegmentPayload) return 1;
    return 1 + (totalLength - kMaxSegmentPayload + kSegmentData - 1) / kSegmentData;
}

bool PatchReverseMarkerCrcs(FILE *file, uint64_t markerOffset, size_t totalLength,
                            uint32_t imageCrc, uint32_t tailCrc) {
    // Marker CRC and image CRC are neighbours in every segment's header.
    static_assert(kFieldImageCrc == kFieldMarkerCrc + 4);
    uint8_t fields[8];
    WriteLe32(fields, MarkerCrc(imageCrc, tailCrc, totalLength));
    WriteLe32(fields + 4, imageCrc);
    if (std::fflush(file) != 0) return false;
    const size_t segments = MarkerSegmentCount(totalLength);
    for (size_t k = 0; k < segments; ++k) {
        // Each segment: FF E7, two length bytes, then the payload.
        const uint64_t at = markerOffset + k * (4 + kMaxSegmentPayload) + 4 + kFieldMarkerCrc;
        if (at > static_cast<uint64_t>(std::numeric_limits<long>::max()) ||
            std::fseek(file, static_cast<long>(at), SEEK_SET) != 0 ||
            std::fwrite(fields, 1, sizeof fields, file) != sizeof fields)
            return false;
    }
    return std::fseek(file, 0, SEEK_END) == 0 && std::fflush(file) == 0;
}

int32_t ProbeReverseMarker(const char *path, char *errorText) {
    ClearErrorText(errorText);
    if (path == nullptr) return kCannotOpen;
    try {
        std::unique_ptr<FILE, FileCloser> file(platform::OpenRegularStream(path).release());
        if (!file) {
            SetErrorText(errorText, "Can't open file %s", path);
            return kCannotOpen;
        }
        FILE *f = file.get();
        if (std::getc(f) != 0xFF || std::getc(f) != 0xD8) {
            SetErrorText(errorText, "%s is not a JPEG file", path);
            return kNotJpeg;
        }
        const auto prematureEnd = [errorText] {
            SetErrorText(errorText, "Premature EOF in JPEG file");
            return kPrematureEnd;
        };
        const auto readLength = [f](int *length) {
            const int high = std::getc(f);
            const int low = std::getc(f);
            if (high == EOF || low == EOF) return false;
            *length = high << 8 | low;
            return true;
        };
        for (;;) {
            int byte = std::getc(f);
            if (byte == EOF) return prematureEnd();
            if (byte != 0xFF) continue;
            do {
                byte = std::getc(f);
            } while (byte == 0xFF);
            if (byte == EOF) return prematureEnd();
            if (byte == 0xD9 || byte == 0xDA) {
                SetErrorText(errorText, "Mirelkanzoar Marker was not found");
                return kNoReverseMarker;
            }
            int length = 0;
            if (!readLength(&length)) return prematureEnd();
            if (length < 2) {
                SetErrorText(errorText, "Erroneous JPEG marker length");
                return kBadMarkerLength;
            }
            long skip = length - 2;
            if (byte == 0xE7 && length > 53) {
                uint8_t header[kMarkerHeaderSize];
                if (std::fread(header, 1, sizeof header, f) != sizeof header) return prematureEnd();
                if (HasIdentifier(header)) return kOk;
                skip = length - 2 - static_cast<long>(kMarkerHeaderSize);
            }
            if (skip > 0 && std::fseek(f, skip, SEEK_CUR) != 0) return prematureEnd();
        }
    } catch (...) {
        SetErrorText(errorText, "Not enough memory");
        return kNoMemory;
    }
}

int64_t LoadReverseMarker(j_decompress_ptr info, std::vector<uint8_t> *marker, char *errorText) {
    jpeg_saved_marker_ptr first = info->marker_list;
    while (first != nullptr && !IsReverseMarkerSegment(*first)) first = first->next;
    if (first == nullptr) {
        SetErrorText(errorText, "Mirelkanzoar Marker was not found!");
        return kNoReverseMarker;
    }
    const auto corrupted = [errorText] {
        SetErrorText(errorText, "Corrupted Mirelkanzoar marker!");
        return kMarkerCorrupted;
    };
    // The pieces must add up to exactly totalLength: fewer bytes or more
    // (damaged or foreign data carrying the identifier) is a damaged marker,
    // and nothing is ever copied past the buffer.
    const uint64_t totalLength = ReadLe32(first->data + kFieldTotalLength);
    uint64_t available = first->data_length;
    for (jpeg_saved_marker_ptr s = first->next; s != nullptr; s = s->next)
        if (IsReverseMarkerSegment(*s)) available += s->data_length - kMarkerHeaderSize;
    if (totalLength < kMarkerHeaderSize || available != totalLength) return corrupted();

    try {
        marker->assign(static_cast<size_t>(totalLength), 0);
    } catch (const std::bad_alloc &) {
        SetErrorText(errorText, "Not enough memory!");
        return kNoMemory;
    }
    uint8_t *out = marker->data();
    std::memcpy(out, first->data, first->data_length);
    size_t used = first->data_length;
    for (jpeg_saved_marker_ptr s = first->next; s != nullptr; s = s->next) {
        if (!IsReverseMarkerSegment(*s)) continue;
        const size_t n = s->data_length - kMarkerHeaderSize;
        std::memcpy(out + used, s->data + kMarkerHeaderSize, n);
        used += n;
    }
    const uint32_t markerCrc = ReadLe32(out + kFieldMarkerCrc);
    if (Crc32(out + kFieldImageCrc, used - kFieldImageCrc) != markerCrc) return corrupted();
    return static_cast<int64_t>(used - kMarkerHeaderSize);
}

namespace {

// True when the embedded stream has the picture's components and holds
// every block that goes back, and those blocks lie inside the picture.
bool EmbeddedFits(j_decompress_ptr picture, j_decompress_ptr embedded, const BlockRect &blocks) {
    if (embedded->num_components != picture->num_components) return false;
    for (int c = 0; c < picture->num_components; ++c) {
        const jpeg_component_info &target = picture->comp_info[c];
        const jpeg_component_info &saved = embedded->comp_info[c];
        if (target.h_samp_factor != saved.h_samp_factor ||
            target.v_samp_factor != saved.v_samp_factor)
            return false;
        const ComponentBlocks part = ComponentPart(picture, c, blocks);
        if (part.width <= 0 || part.height <= 0 ||
            static_cast<JDIMENSION>(part.width) > saved.width_in_blocks ||
            static_cast<JDIMENSION>(part.height) > saved.height_in_blocks ||
            static_cast<JDIMENSION>(part.column + part.width) > PaddedWidthInBlocks(target) ||
            static_cast<JDIMENSION>(part.row + part.height) > PaddedHeightInBlocks(target))
            return false;
    }
    return true;
}

}  // namespace

int32_t RestoreFormerBlocks(j_decompress_ptr picture, jvirt_barray_ptr *coefficients,
                            Decompressor *embedded, std::vector<uint8_t> *marker,
                            MemorySource *embeddedInput, char *errorText) {
    const int64_t embeddedLength = LoadReverseMarker(picture, marker, errorText);
    if (embeddedLength < 0) return static_cast<int32_t>(embeddedLength);
    const uint8_t *header = marker->data();
    const StampRect rect{static_cast<int32_t>(ReadLe32(header + kFieldRectLeft)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectLowRow)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectRight)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectHighRow))};
    // A marker whose CRC matches but whose rectangle does not fit the
    // picture was not written for it.
    if (!RectInside(rect, picture->image_width, picture->image_height)) {
        SetErrorText(errorText, "%s", "Corrupted Mirelkanzoar marker!");
        return kMarkerCorrupted;
    }
    const BlockRect blocks = ComputeBlockRect(picture, rect);
    if (CoefficientCrc(picture, coefficients) != ReadLe32(header + kFieldImageCrc)) {
        SetErrorText(errorText, "%s", "Image has been changed after Mirelkanzo was added!");
        return kPictureChanged;
    }

    // The former blocks, read and checked before any block is replaced.
    embedded->Create(errorText);
    j_decompress_ptr emb = embedded->get();
    AttachMemorySource(emb, embeddedInput, header + kMarkerHeaderSize,
                       static_cast<size_t>(embeddedLength));
    LimitCoefficientMemory(emb, static_cast<size_t>(embeddedLength));
    jpeg_read_header(emb, TRUE);
    jvirt_barray_ptr *former = jpeg_read_coefficients(emb);
    // The marker's CRC matched: the stream is the one written, and a
    // warning means it was written damaged (or forged so).
    if (const int32_t damaged =
            RefuseIfDamaged(embedded->error, errorText, "reverse marker's stream ");
        damaged != kOk)
        return damaged;
    if (!EmbeddedFits(picture, emb, blocks)) {
        SetErrorText(errorText, "%s", "Corrupted Mirelkanzoar marker!");
        return kMarkerCorrupted;
    }
    for (int c = 0; c < picture->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(picture, c, blocks);
        CopyBlockArea(reinterpret_cast<j_common_ptr>(picture), former[c], 0, 0, coefficients[c],
                      static_cast<JDIMENSION>(part.row), static_cast<JDIMENSION>(part.column),
                      static_cast<JDIMENSION>(part.height), static_cast<JDIMENSION>(part.width));
    }
    jpeg_finish_decompress(emb);
    embedded->Destroy();
    return kOk;
}

}  // namespace mk::engine
