// Making JPEG test pictures and reading back their coefficients.
#include "jpeg_maker.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

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
    info->input_components = 4;
    info->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(info);
    if (spec.gray) jpeg_set_colorspace(info, JCS_GRAYSCALE);
    jpeg_set_quality(info, spec.quality, spec.baseline ? TRUE : FALSE);
    info->comp_info[0].h_samp_factor = spec.lumaH;
    info->comp_info[0].v_samp_factor = spec.lumaV;
    info->write_JFIF_header = spec.jfif ? TRUE : FALSE;
    info->restart_interval = static_cast<unsigned>(spec.restartInterval);
    if (spec.progressive) jpeg_simple_progression(info);
    jpeg_start_compress(info, TRUE);
    for (const Segment &segment : spec.segments)
        jpeg_write_marker(info, segment.marker, segment.data.data(),
                          static_cast<unsigned>(segment.data.size()));
    const size_t stride = static_cast<size_t>(spec.width) * 4;
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

}  // namespace

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
    const Pixels pattern = pixels.empty() ? PatternPixels(spec.width, spec.height) : Pixels();
    EncodeJob job;
    job.spec = &spec;
    job.pixels = pixels.empty() ? pattern.data() : pixels.data();
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
