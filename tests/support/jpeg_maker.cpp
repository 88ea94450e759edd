// Making JPEG test pictures and reading back their coefficients.
#include "jpeg_maker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <zlib.h>

namespace mk::test {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf recovery;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    auto *manager = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->recovery, 1);
}

void Silent(j_common_ptr) {}

struct EncodeJob {
    const JpegSpec *spec;
    const uint8_t *pixels;
    int inputComponents = 4;
    J_COLOR_SPACE inputSpace = JCS_EXT_BGRX;
    const jpeg_scan_info *scans = nullptr;
    int scanCount = 0;
    unsigned char *output = nullptr;
    unsigned long size = 0;
    ErrorManager error{};
    jpeg_compress_struct info{};
};

// No objects with destructors here: library failures jump back.
bool RunEncode(EncodeJob *job) {
    const JpegSpec &spec = *job->spec;
    jpeg_compress_struct *info = &job->info;
    info->err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = ErrorExit;
    if (setjmp(job->error.recovery)) return false;
    jpeg_create_compress(info);
    jpeg_mem_dest(info, &job->output, &job->size);
    info->image_width = static_cast<JDIMENSION>(spec.width);
    info->image_height = static_cast<JDIMENSION>(spec.height);
    info->input_components = job->inputComponents;
    info->in_color_space = job->inputSpace;
    jpeg_set_defaults(info);
    if (spec.gray) {
        jpeg_set_colorspace(info, JCS_GRAYSCALE);
    } else if (spec.colour == Colour::kRgb) {
        jpeg_set_colorspace(info, JCS_RGB);
    } else if (spec.colour == Colour::kYcck) {
        jpeg_set_colorspace(info, JCS_YCCK);
    }
    jpeg_set_quality(info, spec.quality, spec.baseline ? TRUE : FALSE);
    if (spec.sampling.empty()) {
        info->comp_info[0].h_samp_factor = spec.lumaH;
        info->comp_info[0].v_samp_factor = spec.lumaV;
    } else {
        for (int c = 0; c < info->num_components && c < static_cast<int>(spec.sampling.size());
             ++c) {
            info->comp_info[c].h_samp_factor = spec.sampling[static_cast<size_t>(c)].first;
            info->comp_info[c].v_samp_factor = spec.sampling[static_cast<size_t>(c)].second;
        }
    }
    info->write_JFIF_header = spec.jfif ? TRUE : FALSE;
    info->restart_interval = static_cast<unsigned>(spec.restartInterval);
    info->arith_code = spec.arithmetic ? TRUE : FALSE;
    if (job->scans != nullptr) {
        info->scan_info = job->scans;
        info->num_scans = job->scanCount;
    } else if (spec.progressive) {
        jpeg_simple_progression(info);
    }
    jpeg_start_compress(info, TRUE);
    for (const Segment &segment : spec.segments)
        jpeg_write_marker(info, segment.marker, segment.data.data(),
                          static_cast<unsigned>(segment.data.size()));
    const size_t stride = static_cast<size_t>(spec.width) * job->inputComponents;
    while (info->next_scanline < info->image_height) {
        auto row =
            const_cast<JSAMPROW>(job->pixels + (spec.height - 1 - info->next_scanline) * stride);
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

struct DecodeJob {
    const Bytes *jpeg;
    CoefficientImage *image;
    ErrorManager error{};
    jpeg_decompress_struct info{};
};

bool RunRead(DecodeJob *job) {
    jpeg_decompress_struct *info = &job->info;
    info->err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = ErrorExit;
    job->error.pub.output_message = Silent;
    if (setjmp(job->error.recovery)) return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, job->jpeg->data(), static_cast<unsigned long>(job->jpeg->size()));
    jpeg_read_header(info, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(info);
    CoefficientImage &image = *job->image;
    image.width = info->image_width;
    image.height = info->image_height;
    image.progressive = info->progressive_mode != 0;
    image.components.resize(static_cast<size_t>(info->num_components));
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        CoefficientImage::Component &out = image.components[static_cast<size_t>(c)];
        out.id = component.component_id;
        out.h = component.h_samp_factor;
        out.v = component.v_samp_factor;
        out.widthInBlocks = component.width_in_blocks;
        out.heightInBlocks = component.height_in_blocks;
        out.quantTable.assign(64, 0);
        if (component.quant_table != nullptr)
            for (int i = 0; i < 64; ++i) out.quantTable[i] = component.quant_table->quantval[i];
        out.coefficients.resize(static_cast<size_t>(out.widthInBlocks) * out.heightInBlocks * 64);
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), arrays[c], row, 1, FALSE);
            std::memcpy(out.coefficients.data() + static_cast<size_t>(row) * out.widthInBlocks * 64,
                        blocks[0], out.widthInBlocks * sizeof(JBLOCK));
        }
    }
    jpeg_finish_decompress(info);
    return true;
}

struct ReencodeJob {
    const Bytes *source;
    const Pixels *pixels;
    unsigned char *output = nullptr;
    unsigned long size = 0;
    ErrorManager error{};
    jpeg_decompress_struct in{};
    jpeg_compress_struct out{};
};

bool RunReencode(ReencodeJob *job) {
    job->in.err = jpeg_std_error(&job->error.pub);
    job->out.err = &job->error.pub;
    job->error.pub.error_exit = ErrorExit;
    job->error.pub.output_message = Silent;
    if (setjmp(job->error.recovery)) return false;
    jpeg_create_decompress(&job->in);
    jpeg_create_compress(&job->out);
    jpeg_mem_src(&job->in, job->source->data(), static_cast<unsigned long>(job->source->size()));
    jpeg_read_header(&job->in, TRUE);
    jpeg_copy_critical_parameters(&job->in, &job->out);
    job->out.in_color_space = JCS_EXT_BGRX;
    job->out.input_components = 4;
    jpeg_mem_dest(&job->out, &job->output, &job->size);
    jpeg_start_compress(&job->out, TRUE);
    const size_t width = job->in.image_width;
    const size_t height = job->in.image_height;
    while (job->out.next_scanline < job->out.image_height) {
        auto row = const_cast<JSAMPROW>(job->pixels->data() +
                                        (height - 1 - job->out.next_scanline) * width * 4);
        jpeg_write_scanlines(&job->out, &row, 1);
    }
    jpeg_finish_compress(&job->out);
    return true;
}

// The library's form of a scan script.
std::vector<jpeg_scan_info> ScanScript(const std::vector<Scan> &script) {
    std::vector<jpeg_scan_info> scans;
    for (const Scan &scan : script) {
        jpeg_scan_info info{};
        info.comps_in_scan = static_cast<int>(scan.components.size());
        for (size_t i = 0; i < scan.components.size() && i < MAX_COMPS_IN_SCAN; ++i)
            info.component_index[i] = scan.components[i];
        info.Ss = scan.ss;
        info.Se = scan.se;
        info.Ah = scan.ah;
        info.Al = scan.al;
        scans.push_back(info);
    }
    return scans;
}

struct CoefficientJob {
    const JpegSpec *spec;
    const jpeg_scan_info *scans = nullptr;
    int scanCount = 0;
    unsigned char *output = nullptr;
    unsigned long size = 0;
    ErrorManager error{};
    jpeg_compress_struct info{};
};

// No objects with destructors here: library failures jump back.
bool RunCoefficientWrite(CoefficientJob *job) {
    const JpegSpec &spec = *job->spec;
    jpeg_compress_struct *info = &job->info;
    info->err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = ErrorExit;
    job->error.pub.output_message = Silent;
    if (setjmp(job->error.recovery)) return false;
    jpeg_create_compress(info);
    jpeg_mem_dest(info, &job->output, &job->size);
    const int count = static_cast<int>(spec.sampling.size());
    info->image_width = static_cast<JDIMENSION>(spec.width);
    info->image_height = static_cast<JDIMENSION>(spec.height);
    info->input_components = count;
    info->in_color_space = count == 1 ? JCS_GRAYSCALE : count == 3 ? JCS_YCbCr : JCS_UNKNOWN;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, spec.quality, TRUE);
    int maxH = 1, maxV = 1;
    for (int c = 0; c < count; ++c) {
        info->comp_info[c].h_samp_factor = spec.sampling[static_cast<size_t>(c)].first;
        info->comp_info[c].v_samp_factor = spec.sampling[static_cast<size_t>(c)].second;
        maxH = std::max(maxH, info->comp_info[c].h_samp_factor);
        maxV = std::max(maxV, info->comp_info[c].v_samp_factor);
    }
    if (job->scans != nullptr) {
        info->scan_info = job->scans;
        info->num_scans = job->scanCount;
    }
    jvirt_barray_ptr arrays[MAX_COMPONENTS]{};
    JDIMENSION columns[MAX_COMPONENTS]{}, rows[MAX_COMPONENTS]{};
    for (int c = 0; c < count; ++c) {
        const auto h = static_cast<JDIMENSION>(info->comp_info[c].h_samp_factor);
        const auto v = static_cast<JDIMENSION>(info->comp_info[c].v_samp_factor);
        // As the library sizes a component, padded to whole MCUs.
        columns[c] = (static_cast<JDIMENSION>(spec.width) * h + 8 * maxH - 1) / (8 * maxH);
        rows[c] = (static_cast<JDIMENSION>(spec.height) * v + 8 * maxV - 1) / (8 * maxV);
        arrays[c] = (*info->mem->request_virt_barray)(
            reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, TRUE, (columns[c] + h - 1) / h * h,
            (rows[c] + v - 1) / v * v, v);
    }
    // The encoder reads the arrays only when compression ends.
    jpeg_write_coefficients(info, arrays);
    for (int c = 0; c < count; ++c)
        for (JDIMENSION row = 0; row < rows[c]; ++row) {
            JBLOCKARRAY blocks = (*info->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(info), arrays[c], row, 1, TRUE);
            for (JDIMENSION column = 0; column < columns[c]; ++column) {
                blocks[0][column][0] =
                    static_cast<JCOEF>((c * 37 + row * 5 + column * 3) % 200 - 100);
                blocks[0][column][1] = static_cast<JCOEF>((row + column) % 7 - 3);
            }
        }
    jpeg_finish_compress(info);
    return true;
}

struct RecodeJob {
    const Bytes *source;
    CoefficientAt at;
    int value = 0;
    unsigned char *output = nullptr;
    unsigned long size = 0;
    ErrorManager error{};
    jpeg_decompress_struct in{};
    jpeg_compress_struct out{};
};

bool RunRecode(RecodeJob *job) {
    job->in.err = jpeg_std_error(&job->error.pub);
    job->out.err = &job->error.pub;
    job->error.pub.error_exit = ErrorExit;
    job->error.pub.output_message = Silent;
    if (setjmp(job->error.recovery)) return false;
    jpeg_create_decompress(&job->in);
    jpeg_create_compress(&job->out);
    jpeg_mem_src(&job->in, job->source->data(), static_cast<unsigned long>(job->source->size()));
    jpeg_read_header(&job->in, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&job->in);
    const CoefficientAt &at = job->at;
    if (at.component < 0 || at.component >= job->in.num_components || at.index < 0 ||
        at.index >= DCTSIZE2) {
        std::snprintf(job->error.message, sizeof job->error.message, "no such coefficient");
        return false;
    }
    JBLOCKARRAY row = (*job->in.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&job->in),
                                                         arrays[at.component], at.row, 1, TRUE);
    row[0][at.column][at.index] = static_cast<JCOEF>(job->value);
    jpeg_copy_critical_parameters(&job->in, &job->out);
    job->out.arith_code = TRUE;
    jpeg_mem_dest(&job->out, &job->output, &job->size);
    jpeg_write_coefficients(&job->out, arrays);
    jpeg_finish_compress(&job->out);
    jpeg_finish_decompress(&job->in);
    return true;
}

}  // namespace

Bytes MakeFromCoefficients(const JpegSpec &spec) {
    const std::vector<jpeg_scan_info> scans = ScanScript(spec.scans);
    CoefficientJob job;
    job.spec = &spec;
    if (!scans.empty()) {
        job.scans = scans.data();
        job.scanCount = static_cast<int>(scans.size());
    }
    const bool ok = !spec.sampling.empty() && RunCoefficientWrite(&job);
    Bytes result;
    if (ok) result.assign(job.output, job.output + job.size);
    jpeg_destroy_compress(&job.info);
    std::free(job.output);
    if (!ok) ADD_FAILURE() << "writing made-up coefficients failed: " << job.error.message;
    return result;
}

Bytes WithCoefficient(const Bytes &jpeg, const CoefficientAt &at, int value) {
    RecodeJob job;
    job.source = &jpeg;
    job.at = at;
    job.value = value;
    const bool ok = RunRecode(&job);
    Bytes result;
    if (ok) result.assign(job.output, job.output + job.size);
    jpeg_destroy_compress(&job.out);
    jpeg_destroy_decompress(&job.in);
    std::free(job.output);
    if (!ok) ADD_FAILURE() << "writing the coefficients failed: " << job.error.message;
    return result;
}

std::vector<MarkerAt> ListMarkers(const Bytes &jpeg) {
    std::vector<MarkerAt> markers;
    size_t p = 0;
    while (p + 1 < jpeg.size()) {
        // Entropy-coded data, stuffed zeroes and fill bytes.
        if (jpeg[p] != 0xFF || jpeg[p + 1] == 0x00) {
            p += jpeg[p] == 0xFF ? 2 : 1;
            continue;
        }
        const int code = jpeg[p + 1];
        if (code == 0xFF) {
            ++p;
            continue;
        }
        markers.push_back(MarkerAt{p, code});
        if (code == 0xD9) break;
        const bool standalone = code == 0xD8 || code == 0x01 || (code >= 0xD0 && code <= 0xD7);
        if (standalone || p + 3 >= jpeg.size()) {
            p += 2;
            continue;
        }
        p += 2 + (static_cast<size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3]);
    }
    return markers;
}

namespace {

// The reverse marker's header: identifier, version, marker CRC (of the
// bytes from the image CRC on), image CRC, total length, ... 52 bytes.
constexpr size_t kHeaderSize = 52, kMarkerCrcField = 20, kImageCrcField = 24,
                 kTotalLengthField = 28;

uint32_t Le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Where the first reverse-marker segment stands (its FF byte), or 0.
size_t ReverseMarkerAt(const Bytes &jpeg) {
    for (const MarkerAt &marker : ListMarkers(jpeg))
        if (marker.code == 0xE7 && marker.offset + 4 + kHeaderSize <= jpeg.size() &&
            std::memcmp(&jpeg[marker.offset + 4], "TovuMirelkanzoar", 16) == 0)
            return marker.offset;
    ADD_FAILURE() << "no reverse marker";
    return 0;
}

}  // namespace

Bytes ReverseMarkerStream(const Bytes &stamped) {
    const size_t at = ReverseMarkerAt(stamped);
    if (at == 0) return {};
    const uint8_t *payload = &stamped[at + 4];
    const size_t total = Le32(payload + kTotalLengthField);
    const size_t length = static_cast<size_t>(stamped[at + 2]) << 8 | stamped[at + 3];
    if (total != length - 2) {
        ADD_FAILURE() << "the marker takes more than one segment";
        return {};
    }
    return Bytes(payload + kHeaderSize, payload + total);
}

Bytes WithReverseMarkerStream(const Bytes &stamped, const Bytes &stream) {
    const size_t at = ReverseMarkerAt(stamped);
    if (at == 0) return stamped;
    const size_t length = static_cast<size_t>(stamped[at + 2]) << 8 | stamped[at + 3];
    Bytes marker(stamped.begin() + static_cast<ptrdiff_t>(at + 4),
                 stamped.begin() + static_cast<ptrdiff_t>(at + 4 + kHeaderSize));
    marker.insert(marker.end(), stream.begin(), stream.end());
    PutLe32(&marker[kTotalLengthField], static_cast<uint32_t>(marker.size()));
    PutLe32(&marker[kMarkerCrcField],
            static_cast<uint32_t>(::crc32(0, &marker[kImageCrcField],
                                          static_cast<uInt>(marker.size() - kImageCrcField))));
    Bytes out(stamped.begin(), stamped.begin() + static_cast<ptrdiff_t>(at));
    out.insert(out.end(), {0xFF, 0xE7, static_cast<uint8_t>((marker.size() + 2) >> 8),
                           static_cast<uint8_t>(marker.size() + 2)});
    out.insert(out.end(), marker.begin(), marker.end());
    out.insert(out.end(), stamped.begin() + static_cast<ptrdiff_t>(at + 2 + length), stamped.end());
    return out;
}

Damaged WithDamage(const Bytes &jpeg, Damage damage) {
    const std::vector<MarkerAt> markers = ListMarkers(jpeg);
    std::vector<size_t> scanData, restarts;
    size_t eoi = 0, firstTable = 0;
    for (const MarkerAt &marker : markers) {
        if (marker.code == 0xDA)
            scanData.push_back(
                marker.offset + 2 +
                (static_cast<size_t>(jpeg[marker.offset + 2]) << 8 | jpeg[marker.offset + 3]));
        if (marker.code >= 0xD0 && marker.code <= 0xD7) restarts.push_back(marker.offset);
        if (marker.code == 0xD9) eoi = marker.offset;
        if (marker.code == 0xC4 && firstTable == 0) firstTable = marker.offset;
    }
    if (scanData.empty() || eoi == 0) {
        ADD_FAILURE() << "no scan or no EOI";
        return {jpeg, 0};
    }
    Damaged out{jpeg, 0};
    Bytes &file = out.file;
    // The end of the scan whose data starts at `start`.
    const auto scanEnd = [&](size_t start) {
        for (const MarkerAt &marker : markers)
            if (marker.offset > start && (marker.code < 0xD0 || marker.code > 0xD7))
                return marker.offset;
        return eoi;
    };
    const auto ones = [&](size_t start) {
        out.at = start + (scanEnd(start) - start) / 2;
        // Whole stuffed bytes: a 0xFF data byte is followed by a zero.
        if (file[out.at - 1] == 0xFF) ++out.at;
        for (int i = 0; i < 8; ++i) {
            file[out.at + 2 * static_cast<size_t>(i)] = 0xFF;
            file[out.at + 2 * static_cast<size_t>(i) + 1] = 0x00;
        }
    };
    switch (damage) {
        case Damage::kBytesBeforeEoi:
            out.at = eoi;
            file.insert(file.begin() + static_cast<ptrdiff_t>(eoi), {0x12, 0x34, 0x56, 0x78, 0x9A});
            break;
        case Damage::kEndOfSegment: {
            const size_t start = scanData.back();
            out.at = start + (eoi - start) * 3 / 5;
            if (file[out.at - 1] == 0xFF) ++out.at;
            file.erase(file.begin() + static_cast<ptrdiff_t>(out.at),
                       file.begin() + static_cast<ptrdiff_t>(eoi));
            break;
        }
        case Damage::kBadHuffmanCode:
            ones(scanData.front());
            break;
        case Damage::kLastScan:
            ones(scanData.back());
            break;
        case Damage::kHuffmanTable:
            // FF C4, length, class and slot, 16 counts, then the symbols.
            out.at = firstTable + 5 + 16 + 3;
            file[out.at] ^= 0x01;
            break;
        case Damage::kMissingRestart:
            if (restarts.size() < 2) {
                ADD_FAILURE() << "fewer than two restart markers";
                break;
            }
            out.at = restarts[1];
            file.erase(file.begin() + static_cast<ptrdiff_t>(out.at),
                       file.begin() + static_cast<ptrdiff_t>(out.at + 2));
            break;
    }
    return out;
}

Bytes WithoutLastScan(const Bytes &jpeg) {
    size_t last = 0;
    for (const MarkerAt &marker : ListMarkers(jpeg))
        if (marker.code == 0xDA) last = marker.offset;
    if (last == 0) {
        ADD_FAILURE() << "no scan";
        return jpeg;
    }
    Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(last));
    cut.push_back(0xFF);
    cut.push_back(0xD9);
    return cut;
}

bool SetQuantValue(Bytes *jpeg, int table, int index, unsigned value) {
    bool set = false;
    for (const MarkerAt &marker : ListMarkers(*jpeg)) {
        if (marker.code != 0xDB || marker.offset + 4 > jpeg->size()) continue;
        const size_t end =
            marker.offset + 2 +
            (static_cast<size_t>((*jpeg)[marker.offset + 2]) << 8 | (*jpeg)[marker.offset + 3]);
        size_t p = marker.offset + 4;
        while (p < end && end <= jpeg->size()) {
            const bool wide = ((*jpeg)[p] >> 4) != 0;
            const int slot = (*jpeg)[p] & 0x0F;
            const size_t entries = p + 1;
            p = entries + (wide ? 128 : 64);
            if (slot != table) continue;
            if (value > (wide ? 0xFFFFu : 0xFFu)) return false;
            if (wide) {
                (*jpeg)[entries + 2 * static_cast<size_t>(index)] =
                    static_cast<uint8_t>(value >> 8);
                (*jpeg)[entries + 2 * static_cast<size_t>(index) + 1] = static_cast<uint8_t>(value);
            } else {
                (*jpeg)[entries + static_cast<size_t>(index)] = static_cast<uint8_t>(value);
            }
            set = true;
        }
    }
    return set;
}

Bytes EncodeWithParametersOf(const Bytes &source, const Pixels &pixels) {
    ReencodeJob job;
    job.source = &source;
    job.pixels = &pixels;
    const bool ok = RunReencode(&job);
    Bytes result;
    if (ok) result.assign(job.output, job.output + job.size);
    jpeg_destroy_compress(&job.out);
    jpeg_destroy_decompress(&job.in);
    std::free(job.output);
    if (!ok) ADD_FAILURE() << "re-encoding failed: " << job.error.message;
    return result;
}

JpegSpec Layout(int width, int height, int lumaH, int lumaV, bool gray, bool progressive,
                int restartInterval) {
    JpegSpec spec;
    spec.width = width;
    spec.height = height;
    spec.lumaH = lumaH;
    spec.lumaV = lumaV;
    spec.gray = gray;
    spec.progressive = progressive;
    spec.restartInterval = restartInterval;
    return spec;
}

Pixels PatternPixels(int width, int height) {
    Pixels pixels(static_cast<size_t>(width) * height * 4);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>((state >> 16) % 48);
            uint8_t *p = pixels.data() + ((static_cast<size_t>(height) - 1 - y) * width + x) * 4;
            p[0] = static_cast<uint8_t>((x * 255 / std::max(width - 1, 1) + noise) / 2 + 40);
            p[1] = static_cast<uint8_t>((y * 255 / std::max(height - 1, 1)) * 3 / 4 + noise);
            p[2] = static_cast<uint8_t>(((x ^ y) & 0x3F) * 3 + noise / 2);
            p[3] = 0;
        }
    }
    return pixels;
}

Bytes MakeJpeg(const JpegSpec &spec, const Pixels &pixels) {
    Pixels input = pixels.empty() ? PatternPixels(spec.width, spec.height) : pixels;
    EncodeJob job;
    job.spec = &spec;
    if (!spec.gray && (spec.colour == Colour::kCmyk || spec.colour == Colour::kYcck)) {
        job.inputSpace = JCS_CMYK;
    } else if (!spec.gray && spec.colour == Colour::kTwoComponents) {
        // The first two bytes of every pixel.
        for (size_t i = 0; i < input.size() / 4; ++i) {
            input[2 * i] = input[4 * i];
            input[2 * i + 1] = input[4 * i + 1];
        }
        input.resize(input.size() / 2);
        job.inputSpace = JCS_UNKNOWN;
        job.inputComponents = 2;
    }
    job.pixels = input.data();
    const std::vector<jpeg_scan_info> scans = ScanScript(spec.scans);
    if (!scans.empty()) {
        job.scans = scans.data();
        job.scanCount = static_cast<int>(scans.size());
    }
    const bool ok = RunEncode(&job);
    Bytes result;
    if (ok) result.assign(job.output, job.output + job.size);
    jpeg_destroy_compress(&job.info);
    std::free(job.output);
    if (!ok) ADD_FAILURE() << "encoding failed: " << job.error.message;
    return result;
}

CoefficientImage ReadCoefficients(const Bytes &jpeg) {
    CoefficientImage image;
    DecodeJob job;
    job.jpeg = &jpeg;
    job.image = &image;
    image.ok = RunRead(&job);
    if (!image.ok) image.error = job.error.message;
    jpeg_destroy_decompress(&job.info);
    return image;
}

std::vector<Segment> ReadHeaderSegments(const Bytes &jpeg) {
    std::vector<Segment> segments;
    if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return segments;
    size_t p = 2;
    while (p + 4 <= jpeg.size() && jpeg[p] == 0xFF) {
        const int marker = jpeg[p + 1];
        const size_t length = static_cast<size_t>(jpeg[p + 2]) << 8 | jpeg[p + 3];
        if (length < 2 || p + 2 + length > jpeg.size()) break;
        Segment segment;
        segment.marker = marker;
        segment.data.assign(jpeg.begin() + static_cast<ptrdiff_t>(p + 4),
                            jpeg.begin() + static_cast<ptrdiff_t>(p + 2 + length));
        segments.push_back(std::move(segment));
        p += 2 + length;
        if (marker == 0xDA) break;
    }
    return segments;
}

int CountReverseMarkerSegments(const Bytes &jpeg) {
    int count = 0;
    for (const Segment &segment : ReadHeaderSegments(jpeg))
        if (segment.marker == 0xE7 && segment.data.size() >= 16 &&
            std::memcmp(segment.data.data(), "TovuMirelkanzoar", 16) == 0)
            ++count;
    return count;
}

Bytes TinyFileOfAHugePicture() {
    JpegSpec spec;
    spec.gray = true;
    spec.width = spec.height = 8;
    Bytes file = MakeJpeg(spec);
    for (size_t p = 2; p + 9 < file.size(); ++p)
        if (file[p] == 0xFF && file[p + 1] == 0xC0) {
            file[p + 5] = 0x65;  // height 0x6598
            file[p + 6] = 0x98;
            file[p + 7] = 0xDF;  // width 0xDF77
            file[p + 8] = 0x77;
            break;
        }
    return file;
}

}  // namespace mk::test
