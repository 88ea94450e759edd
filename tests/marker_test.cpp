// Tests of the reverse marker: CRC-32, block rectangles, writing and
// assembling the APP7 segments, and probing files for them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "engine/reverse_marker.h"
#include "engine_test_helpers.h"

namespace mk::test {
namespace {

using namespace mk::engine;

TEST(Crc32, CheckValue) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32("a", 1), 0xE8B7BE43u);
}

TEST(Crc32, UpdateBuildsTheCrcOfAConcatenation) {
    const char text[] = "The quick brown fox jumps over the lazy dog";
    const size_t n = sizeof text - 1;
    EXPECT_EQ(Crc32(text, n), 0x414FA339u);
    for (size_t cut = 0; cut <= n; cut += 7)
        EXPECT_EQ(Crc32Update(Crc32Update(0, text, cut), text + cut, n - cut), Crc32(text, n));
}

// A decompression object with the header of a made picture read.
class HeaderReader {
  public:
    explicit HeaderReader(const Bytes &jpeg) : jpeg_(jpeg) {
        info_.err = jpeg_std_error(&error_);
        jpeg_create_decompress(&info_);
        jpeg_mem_src(&info_, jpeg_.data(), static_cast<unsigned long>(jpeg_.size()));
        SaveAllSegments(&info_);
        jpeg_read_header(&info_, TRUE);
    }
    ~HeaderReader() { jpeg_destroy_decompress(&info_); }
    j_decompress_ptr get() { return &info_; }

  private:
    Bytes jpeg_;
    jpeg_error_mgr error_{};
    jpeg_decompress_struct info_{};
};

struct RectCase {
    const char *name;
    int width, height, lumaH, lumaV;
    TopRect rect;
    BlockRect expected;
    ComponentBlocks chroma;  // component 1's part
};

class BlockRectTest : public ::testing::TestWithParam<RectCase> {};

TEST_P(BlockRectTest, CoversTheStampInWholeMcus) {
    const RectCase &c = GetParam();
    JpegSpec spec;
    spec.width = c.width;
    spec.height = c.height;
    spec.lumaH = c.lumaH;
    spec.lumaV = c.lumaV;
    spec.quality = 20;
    HeaderReader reader(MakeJpeg(spec, Pixels(static_cast<size_t>(c.width) * c.height * 4, 90)));
    const StampRect rect{c.rect.left, c.height - 1 - c.rect.bottom, c.rect.right,
                         c.height - 1 - c.rect.top};
    const BlockRect blocks = ComputeBlockRect(reader.get(), rect);
    EXPECT_EQ(blocks.left, c.expected.left);
    EXPECT_EQ(blocks.top, c.expected.top);
    EXPECT_EQ(blocks.width, c.expected.width);
    EXPECT_EQ(blocks.height, c.expected.height);
    const ComponentBlocks luma = ComponentPart(reader.get(), 0, blocks);
    EXPECT_EQ(luma.column, blocks.left);
    EXPECT_EQ(luma.width, blocks.width);
    const ComponentBlocks chroma = ComponentPart(reader.get(), 1, blocks);
    EXPECT_EQ(chroma.column, c.chroma.column);
    EXPECT_EQ(chroma.row, c.chroma.row);
    EXPECT_EQ(chroma.width, c.chroma.width);
    EXPECT_EQ(chroma.height, c.chroma.height);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BlockRectTest,
    ::testing::Values(
        // 4:2:0, columns 100..103, rows 50..53: luma rows 6-7, columns 12-13.
        RectCase{"small420", 200, 120, 2, 2, {100, 50, 103, 53}, {12, 6, 2, 2}, {6, 3, 1, 1}},
        RectCase{"camera420",
                 1600,
                 1200,
                 2,
                 2,
                 {1200, 1100, 1580, 1180},
                 {150, 136, 48, 12},
                 {75, 68, 24, 6}},
        RectCase{"s444", 200, 120, 1, 1, {100, 50, 103, 53}, {12, 6, 1, 1}, {12, 6, 1, 1}},
        RectCase{"s422", 200, 120, 2, 1, {9, 0, 30, 7}, {0, 0, 4, 1}, {0, 0, 2, 1}},
        RectCase{"corner", 33, 17, 2, 2, {32, 16, 32, 16}, {4, 2, 2, 2}, {2, 1, 1, 1}}),
    [](const auto &info) { return std::string(info.param.name); });

// Writes a marker of totalLength bytes into a small picture and returns the
// file together with the assembled marker as it must read back.
Bytes PictureWithMarker(size_t totalLength, Bytes *expected, const Segment *before = nullptr) {
    Bytes marker(totalLength);
    std::mt19937 random(static_cast<unsigned>(totalLength));
    for (uint8_t &b : marker) b = static_cast<uint8_t>(random());
    WriteLe32(marker.data() + kFieldTotalLength, static_cast<uint32_t>(totalLength));
    const JpegSpec spec;
    const Pixels pixels = PatternPixels(spec.width, spec.height);
    jpeg_error_mgr error{};
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(spec.width);
    info.image_height = static_cast<JDIMENSION>(spec.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    if (before != nullptr)
        jpeg_write_marker(&info, before->marker, before->data.data(),
                          static_cast<unsigned>(before->data.size()));
    Bytes work = marker;
    WriteReverseMarker(work.data(), work.size(), &info);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(pixels.data() +
                                        (spec.height - 1 - info.next_scanline) * spec.width * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes file(out, out + size);
    std::free(out);
    // The assembled marker: header of segment 0 with the CRC, then the data.
    std::memcpy(marker.data(), "TovuMirelkanzoar", 16);
    WriteLe32(marker.data() + kFieldVersion, 100);
    WriteLe32(marker.data() + kFieldSegmentIndex, 0);
    WriteLe32(marker.data() + kFieldMarkerCrc, Crc32(marker.data() + 24, marker.size() - 24));
    *expected = marker;
    return file;
}

std::vector<Segment> App7Segments(const Bytes &file) {
    std::vector<Segment> out;
    for (Segment &s : ReadHeaderSegments(file))
        if (s.marker == 0xE7) out.push_back(std::move(s));
    return out;
}

struct SplitCase {
    size_t totalLength;
    std::vector<size_t> payloads;
};

class MarkerSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(MarkerSplit, WrittenAndReadBack) {
    const SplitCase &c = GetParam();
    Bytes expected;
    const Bytes file = PictureWithMarker(c.totalLength, &expected);
    const std::vector<Segment> segments = App7Segments(file);
    ASSERT_EQ(segments.size(), c.payloads.size());
    for (size_t k = 0; k < segments.size(); ++k) {
        EXPECT_EQ(segments[k].data.size(), c.payloads[k]);
        EXPECT_EQ(ReadLe32(segments[k].data.data() + kFieldSegmentIndex), k);
        EXPECT_EQ(std::memcmp(segments[k].data.data(), expected.data(), 32), 0);
        // Piece k of the stream follows the header copy.
        EXPECT_EQ(std::memcmp(segments[k].data.data() + 52, expected.data() + 52 + k * 59948,
                              segments[k].data.size() - 52),
                  0);
    }
    HeaderReader reader(file);
    std::vector<uint8_t> marker;
    char error[kErrorTextSize] = "";
    const int64_t length = LoadReverseMarker(reader.get(), &marker, error);
    ASSERT_EQ(length, static_cast<int64_t>(c.totalLength - 52)) << error;
    EXPECT_EQ(Bytes(marker.begin(), marker.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MarkerSplit,
                         ::testing::Values(SplitCase{60000, {60000}}, SplitCase{60001, {60000, 53}},
                                           SplitCase{130000, {60000, 60000, 10104}},
                                           SplitCase{200, {200}}));

TEST(LoadReverseMarker, SkipsAForeignApp7Segment) {
    Segment foreign{0xE7, Bytes(80, 'x')};
    std::memcpy(foreign.data.data(), "OtherProgramData", 16);
    Bytes expected;
    const Bytes file = PictureWithMarker(5000, &expected, &foreign);
    ASSERT_EQ(App7Segments(file).size(), 2u);
    TempDir dir;
    WriteFile(dir.file("f.jpg"), file);
    EXPECT_EQ(ProbeReverseMarker(dir.file("f.jpg").c_str(), nullptr), 0);
    HeaderReader reader(file);
    std::vector<uint8_t> marker;
    ASSERT_EQ(LoadReverseMarker(reader.get(), &marker, nullptr), 5000 - 52);
    EXPECT_EQ(Bytes(marker.begin(), marker.end()), expected);
}

TEST(LoadReverseMarker, FlippedByteIsCorrupted) {
    Bytes expected;
    Bytes file = PictureWithMarker(130000, &expected);
    // A byte of the second segment's data.
    const auto at =
        std::search(file.begin(), file.end(), expected.begin() + 60000, expected.begin() + 60016);
    ASSERT_NE(at, file.end());
    *at ^= 0x40;
    HeaderReader reader(file);
    std::vector<uint8_t> marker;
    char error[kErrorTextSize];
    EXPECT_EQ(LoadReverseMarker(reader.get(), &marker, error), kMarkerCorrupted);
    EXPECT_STREQ(error, "Corrupted Mirelkanzoar marker!");
}

// Rewrites the totalLength field of every identifier segment.
Bytes WithTotalLength(Bytes file, uint32_t totalLength) {
    for (size_t p = 0; p + 40 < file.size(); ++p)
        if (file[p] == 0xFF && file[p + 1] == 0xE7 &&
            std::memcmp(&file[p + 4], "TovuMirelkanzoar", 16) == 0)
            WriteLe32(&file[p + 4 + kFieldTotalLength], totalLength);
    return file;
}

TEST(LoadReverseMarker, NeverCopiesPastTotalLength) {
    Bytes expected;
    const Bytes file = PictureWithMarker(130000, &expected);
    for (uint32_t claimed : {0u, 51u, 52u, 60000u, 100000u, 129999u, 130001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(claimed);
        HeaderReader reader(WithTotalLength(file, claimed));
        std::vector<uint8_t> marker;
        EXPECT_EQ(LoadReverseMarker(reader.get(), &marker, nullptr), kMarkerCorrupted);
        EXPECT_LE(marker.size(), std::max<size_t>(claimed, 0));
    }
}

TEST(LoadReverseMarker, NoMarker) {
    HeaderReader reader(MakeJpeg(JpegSpec{}));
    std::vector<uint8_t> marker;
    char error[kErrorTextSize];
    EXPECT_EQ(LoadReverseMarker(reader.get(), &marker, error), kNoReverseMarker);
    EXPECT_STREQ(error, "Mirelkanzoar Marker was not found!");
}

struct ProbeCase {
    const char *name;
    Bytes content;
    int32_t expected;
    const char *message;  // null: the "not a JPEG" text with the path
};

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes App7(const char *identifier, size_t payload) {
    Bytes segment = {0xFF, 0xE7, static_cast<uint8_t>((payload + 2) >> 8),
                     static_cast<uint8_t>(payload + 2)};
    Bytes data(payload, 0);
    std::memcpy(data.data(), identifier, std::min<size_t>(16, payload));
    segment.insert(segment.end(), data.begin(), data.end());
    return segment;
}

class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, Result) {
    TempDir dir;
    const std::string path = dir.file("p.jpg");
    WriteFile(path, GetParam().content);
    char error[kErrorTextSize];
    EXPECT_EQ(ProbeReverseMarker(path.c_str(), error), GetParam().expected);
    const std::string message =
        GetParam().message ? GetParam().message : path + " is not a JPEG file";
    EXPECT_EQ(std::string(error), message);
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kSos = {0xFF, 0xDA, 0x00, 0x02};

INSTANTIATE_TEST_SUITE_P(
    Files, Probe,
    ::testing::Values(
        ProbeCase{"empty", {}, kNotJpeg, nullptr},
        ProbeCase{"text", {'h', 'e', 'l', 'l', 'o'}, kNotJpeg, nullptr},
        ProbeCase{"onlySoi", kSoi, kPrematureEnd, "Premature EOF in JPEG file"},
        ProbeCase{"marker", Join({kSoi, App7("TovuMirelkanzoar", 60), kSos}), kOk, ""},
        ProbeCase{"fillBytes", Join({kSoi, {0xFF, 0xFF}, App7("TovuMirelkanzoar", 52)}), kOk, ""},
        ProbeCase{"foreignThenOurs",
                  Join({kSoi, App7("SomebodyElsesApp", 60), App7("TovuMirelkanzoar", 60), kSos}),
                  kOk, ""},
        ProbeCase{"shortApp7", Join({kSoi, App7("TovuMirelkanzoar", 51), kSos}), kNoReverseMarker,
                  "Mirelkanzoar Marker was not found"},
        ProbeCase{"afterSos", Join({kSoi, kSos, App7("TovuMirelkanzoar", 60)}), kNoReverseMarker,
                  "Mirelkanzoar Marker was not found"},
        ProbeCase{"eoi", Join({kSoi, {0xFF, 0xD9}}), kNoReverseMarker,
                  "Mirelkanzoar Marker was not found"},
        ProbeCase{"badLength", Join({kSoi, {0xFF, 0xE1, 0x00, 0x01}}), kBadMarkerLength,
                  "Erroneous JPEG marker length"},
        ProbeCase{"cutLength", Join({kSoi, {0xFF, 0xE1, 0x00}}), kPrematureEnd,
                  "Premature EOF in JPEG file"},
        ProbeCase{"cutHeader", Join({kSoi, {0xFF, 0xE7, 0x00, 0x40, 'T', 'o'}}), kPrematureEnd,
                  "Premature EOF in JPEG file"},
        ProbeCase{"cutAfterMarker", Join({kSoi, {0xFF}}), kPrematureEnd,
                  "Premature EOF in JPEG file"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Probe, MissingFile) {
    TempDir dir;
    char error[kErrorTextSize];
    EXPECT_EQ(ProbeReverseMarker(dir.file("none.jpg").c_str(), error), kCannotOpen);
    EXPECT_EQ(std::string(error), "Can't open file " + dir.file("none.jpg"));
}

TEST(Probe, CorpusFilesHaveNoMarker) {
    for (const CorpusRow &row : CorpusIndex()) {
        if (row.at("header_markers").find("SOS") == std::string::npos) continue;
        if (row.at("header_markers").find('?') != std::string::npos) continue;
        const std::string path = (CorpusDir() / row.at("file")).string();
        EXPECT_EQ(ProbeReverseMarker(path.c_str(), nullptr), kNoReverseMarker) << path;
    }
}

}  // namespace
}  // namespace mk::test
