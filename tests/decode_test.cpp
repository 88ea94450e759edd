// Tests of decoding: sizes, bottom-up pixel order, colour spaces, damaged
// and truncated data, and equality with the reference decoder.
#include <gtest/gtest.h>

#include <string>

#include "MK_Core.h"
#include "engine/engine.h"
#include "engine_test_helpers.h"

namespace mk::test {
namespace {

using engine::DecodeJpegMemory;
using engine::ReadJpegFile;

TEST(Decode, SizeQueryLeavesNoPixels) {
    TempDir dir;
    JpegSpec spec;
    spec.width = 4000;
    spec.height = 3000;
    spec.quality = 30;
    const Bytes jpeg = MakeJpeg(spec, Pixels(4000u * 3000u * 4, 128));
    WriteFile(dir.file("big.jpg"), jpeg);
    int32_t width = 0, height = 0;
    char error[engine::kErrorTextSize] = "x";
    EXPECT_EQ(ReadJpegFile(dir.file("big.jpg").c_str(), nullptr, &width, &height, error), 0);
    EXPECT_EQ(width, 4000);
    EXPECT_EQ(height, 3000);
    EXPECT_STREQ(error, "");
    width = height = 0;
    EXPECT_EQ(DecodeJpegMemory(jpeg.data(), jpeg.size(), nullptr, &width, &height, nullptr), 0);
    EXPECT_EQ(width, 4000);
    EXPECT_EQ(height, 3000);
    EXPECT_EQ(
        MK_DecodeJPEG(jpeg.data(), static_cast<int32_t>(jpeg.size()), nullptr, &width, &height), 0);
}

TEST(Decode, RedOverBlueIsStoredBottomUp) {
    const int w = 48, h = 64;
    Pixels pixels(static_cast<size_t>(w) * h * 4, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *p = pixels.data() + (static_cast<size_t>(h - 1 - y) * w + x) * 4;
            p[y < h / 2 ? 2 : 0] = 255;  // top half red, bottom half blue
        }
    JpegSpec spec;
    spec.width = w;
    spec.height = h;
    spec.quality = 95;
    // Full chroma resolution: subsampled chroma would blend the two halves.
    spec.lumaH = spec.lumaV = 1;
    const Bytes jpeg = MakeJpeg(spec, pixels);
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4, 0x77);
    int32_t width = 0, height = 0;
    ASSERT_EQ(DecodeJpegMemory(jpeg.data(), jpeg.size(), out.data(), &width, &height, nullptr), 0);
    const auto near = [](int value, int expected) { return std::abs(value - expected) <= 12; };
    for (int row = 0; row < h; ++row) {
        // Memory row 0 is the bottom of the picture: blue.
        const bool blue = row < h / 2;
        for (int x = 0; x < w; ++x) {
            const uint8_t *p = out.data() + (static_cast<size_t>(row) * w + x) * 4;
            ASSERT_TRUE(near(p[0], blue ? 255 : 0) && near(p[1], 0) && near(p[2], blue ? 0 : 255))
                << "row " << row << " x " << x << ": " << int(p[0]) << "," << int(p[1]) << ","
                << int(p[2]);
        }
    }
}

TEST(Decode, GrayPixelsHaveEqualChannels) {
    JpegSpec spec;
    spec.gray = true;
    spec.width = 37;
    spec.height = 21;
    const Bytes jpeg = MakeJpeg(spec);
    std::vector<uint8_t> out(37u * 21u * 4);
    int32_t width = 0, height = 0;
    ASSERT_EQ(
        MK_DecodeJPEG(jpeg.data(), static_cast<int32_t>(jpeg.size()), out.data(), &width, &height),
        0);
    int distinct = 0;
    for (size_t i = 0; i < out.size(); i += 4) {
        ASSERT_EQ(out[i], out[i + 1]);
        ASSERT_EQ(out[i], out[i + 2]);
        distinct += out[i] != out[0];
    }
    EXPECT_GT(distinct, 0);
}

TEST(Decode, CmykFails) {
    const std::string path = (CorpusDir() / "cmyk_multi_icc_dateonly.jpg").string();
    int32_t width = 0, height = 0;
    ASSERT_EQ(ReadJpegFile(path.c_str(), nullptr, &width, &height, nullptr), 0);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    char error[engine::kErrorTextSize];
    EXPECT_EQ(ReadJpegFile(path.c_str(), out.data(), &width, &height, error), -3);
    EXPECT_NE(std::string(error), "");
    EXPECT_EQ(MK_ReadJPEG(path.c_str(), out.data(), &width, &height), -3);
}

TEST(Decode, TextFileIsNotJpeg) {
    TempDir dir;
    WriteFile(dir.file("notes.jpg"), std::string("just some text, not a picture\n"));
    int32_t width = 0, height = 0;
    char error[engine::kErrorTextSize];
    EXPECT_EQ(ReadJpegFile(dir.file("notes.jpg").c_str(), nullptr, &width, &height, error), -3);
    EXPECT_NE(std::string(error).find("Not a JPEG file"), std::string::npos) << error;
}

TEST(Decode, MissingFileCannotBeOpened) {
    TempDir dir;
    const std::string path = dir.file("missing.jpg");
    int32_t width = 0, height = 0;
    char error[engine::kErrorTextSize];
    EXPECT_EQ(ReadJpegFile(path.c_str(), nullptr, &width, &height, error), -1);
    EXPECT_EQ(std::string(error), "can't open " + path);
    EXPECT_EQ(MK_ReadJPEG(path.c_str(), nullptr, &width, &height), -1);
}

TEST(Decode, LongMessagesAreCutToTheBuffer) {
    const std::string path = "/nonexistent/" + std::string(400, 'a') + ".jpg";
    char error[engine::kErrorTextSize + 16];
    std::memset(error, '#', sizeof error);
    int32_t width = 0, height = 0;
    EXPECT_EQ(ReadJpegFile(path.c_str(), nullptr, &width, &height, error), -1);
    EXPECT_EQ(std::strlen(error), engine::kErrorTextSize - 1);
    EXPECT_EQ(std::string(error).rfind("can't open /nonexistent/aaa", 0), 0u);
    EXPECT_EQ(error[engine::kErrorTextSize], '#') << "nothing written past 256 bytes";
}

TEST(Decode, PathsLongerThan259BytesAreRefused) {
    TempDir dir;
    WriteFile(dir.file("p.jpg"), MakeJpeg(JpegSpec{}));
    // The same file through "./" prefixes: 259 bytes still work, 260 do not.
    const std::string tail = dir.file("p.jpg");
    const auto withLength = [&](size_t length) {
        std::string path = tail;
        const size_t slash = path.find_last_of('/');
        std::string prefix;
        while (path.size() + prefix.size() + 2 <= length) prefix += "./";
        if (path.size() + prefix.size() < length) prefix = "/" + prefix;
        path.insert(slash + 1, prefix.substr(prefix[0] == '/' ? 1 : 0));
        if (prefix[0] == '/') path.insert(slash, "/");
        return path;
    };
    const std::string ok = withLength(259);
    const std::string tooLong = withLength(260);
    ASSERT_EQ(ok.size(), 259u);
    ASSERT_EQ(tooLong.size(), 260u);
    int32_t width = 0, height = 0;
    EXPECT_EQ(MK_ReadJPEG(ok.c_str(), nullptr, &width, &height), 0);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(MK_ReadJPEG(tooLong.c_str(), nullptr, &width, &height), -1);
    EXPECT_EQ(ReadJpegFile(tooLong.c_str(), nullptr, &width, &height, nullptr), 0)
        << "the internal call takes any path";
}

TEST(Decode, TruncatedFileWarnsAndSucceeds) {
    TempDir dir;
    JpegSpec spec;
    spec.width = 96;
    spec.height = 96;
    Bytes jpeg = MakeJpeg(spec);
    jpeg.resize(jpeg.size() * 2 / 3);
    WriteFile(dir.file("cut.jpg"), jpeg);
    std::vector<uint8_t> out(96u * 96u * 4);
    int32_t width = 0, height = 0;
    char error[engine::kErrorTextSize];
    EXPECT_EQ(ReadJpegFile(dir.file("cut.jpg").c_str(), out.data(), &width, &height, error), 0);
    EXPECT_NE(std::string(error).find("Premature end of JPEG file"), std::string::npos) << error;
}

TEST(Decode, TruncatedMemoryDataFails) {
    JpegSpec spec;
    spec.width = 96;
    spec.height = 96;
    Bytes jpeg = MakeJpeg(spec);
    jpeg.resize(jpeg.size() * 2 / 3);
    std::vector<uint8_t> out(96u * 96u * 4);
    int32_t width = 0, height = 0;
    char error[engine::kErrorTextSize];
    EXPECT_EQ(DecodeJpegMemory(jpeg.data(), jpeg.size(), out.data(), &width, &height, error), -3);
    EXPECT_NE(std::string(error), "");
    EXPECT_EQ(
        MK_DecodeJPEG(jpeg.data(), static_cast<int32_t>(jpeg.size()), out.data(), &width, &height),
        -3);
}

TEST(Decode, ExportsCheckTheirArguments) {
    int32_t width = 0, height = 0;
    const uint8_t data[2] = {0xFF, 0xD8};
    EXPECT_EQ(MK_ReadJPEG(nullptr, nullptr, &width, &height), -1);
    EXPECT_EQ(MK_DecodeJPEG(nullptr, 10, nullptr, &width, &height), -3);
    EXPECT_EQ(MK_DecodeJPEG(data, -1, nullptr, &width, &height), -3);
    EXPECT_EQ(MK_DecodeJPEG(data, 2, nullptr, nullptr, &height), -3);
    EXPECT_EQ(MK_DecodeJPEG(data, 0, nullptr, &width, &height), -3);
}

// Pixels equal the reference decoder's output for the same file.
void ExpectSameAsDjpeg(const std::string &path) {
    TempDir dir;
    const ReferenceImage reference = DecodeWithDjpeg(path, dir.path().string());
    ASSERT_FALSE(reference.samples.empty()) << path;
    int32_t width = 0, height = 0;
    ASSERT_EQ(ReadJpegFile(path.c_str(), nullptr, &width, &height, nullptr), 0);
    ASSERT_EQ(width, reference.width);
    ASSERT_EQ(height, reference.height);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    ASSERT_EQ(ReadJpegFile(path.c_str(), out.data(), &width, &height, nullptr), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t *p = out.data() + (static_cast<size_t>(height - 1 - y) * width + x) * 4;
            const uint8_t *r = reference.samples.data() +
                               (static_cast<size_t>(y) * width + x) * reference.channels;
            const uint8_t red = r[0];
            const uint8_t green = reference.channels == 3 ? r[1] : r[0];
            const uint8_t blue = reference.channels == 3 ? r[2] : r[0];
            ASSERT_TRUE(p[0] == blue && p[1] == green && p[2] == red)
                << path << " differs at " << x << "," << y;
        }
}

struct MadeCase {
    const char *name;
    JpegSpec spec;
};

class DecodeMade : public ::testing::TestWithParam<MadeCase> {};

TEST_P(DecodeMade, EqualsDjpeg) {
    TempDir dir;
    WriteFile(dir.file("made.jpg"), MakeJpeg(GetParam().spec));
    ExpectSameAsDjpeg(dir.file("made.jpg"));
}

JpegSpec Spec(int w, int h, int lumaH, int lumaV, bool gray = false, bool progressive = false,
              int restart = 0) {
    return mk::test::Layout(w, h, lumaH, lumaV, gray, progressive, restart);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, DecodeMade,
    ::testing::Values(MadeCase{"s420", Spec(101, 67, 2, 2)}, MadeCase{"s422", Spec(90, 33, 2, 1)},
                      MadeCase{"s444", Spec(40, 40, 1, 1)},
                      MadeCase{"gray", Spec(45, 31, 1, 1, true)},
                      MadeCase{"progressive", Spec(77, 51, 2, 2, false, true)},
                      MadeCase{"restart", Spec(120, 80, 2, 2, false, false, 3)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DecodeCorpus, EqualsDjpegOnCameraFiles) {
    for (const char *name :
         {"canon_eos40d_small_icc.jpg", "fujifilm_ds7_1996_dtoonly.jpg", "gray_noexif.jpg",
          "nikon_d300_progressive.jpg", "sony_cybershot_oddsize_rot90.jpg",
          "minolta_dimage_ex_sampling_2x2_1x2.jpg", "samsung_sm-g930f_dateonly.jpg"}) {
        SCOPED_TRACE(name);
        ExpectSameAsDjpeg((CorpusDir() / name).string());
    }
}

}  // namespace
}  // namespace mk::test
