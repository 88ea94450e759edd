// Tests of the stamped-image writer (and the undo round trip) on made
// pictures of every sampling and on the camera corpus: blocks outside the
// stamp keep the source's coefficients, the blocks under it equal an
// encoding of the painted picture, segments are carried over, nothing is
// lost when writing fails.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>

#include "engine/engine.h"
#include "engine_test_helpers.h"

namespace mk::test {
namespace {

using engine::ProbeReverseMarker;
using engine::UndoStampedJpeg;
using engine::WriteStampedJpeg;

Segment MakeSegment(int marker, const std::string &prefix, size_t size) {
    Segment segment{marker, Bytes(size)};
    for (size_t i = 0; i < size; ++i) segment.data[i] = static_cast<uint8_t>(i * 7 + marker);
    std::memcpy(segment.data.data(), prefix.data(), std::min(prefix.size(), size));
    return segment;
}

std::vector<Segment> TypicalSegments() {
    return {MakeSegment(0xE1, std::string("Exif\0\0MM", 8), 900),
            MakeSegment(0xFE, "a comment", 40), MakeSegment(0xE2, "ICC_PROFILE", 300),
            MakeSegment(0xFE, "second comment", 20), MakeSegment(0xED, "Photoshop 3.0", 64)};
}

// Stamps, checks the result against the source and a full re-encoding of
// the painted picture, then undoes and checks the source's coefficients.
void CheckStampAndUndo(const std::string &sourcePath, const TopRect &rect) {
    TempDir dir;
    const Bytes source = ReadFile(sourcePath);
    const std::string stamped = dir.file("stamped.jpg");
    std::string message;
    ASSERT_EQ(StampBox(sourcePath, stamped, rect, true, &message), 0) << message;
    const Bytes out = ReadFile(stamped);

    const CoefficientImage before = ReadCoefficients(source);
    const CoefficientImage after = ReadCoefficients(out);
    ExpectSameLayout(before, after);
    EXPECT_FALSE(after.progressive);
    const auto touched = [&](size_t c, unsigned row, unsigned column) {
        return TouchedRange(before, c, rect).Contains(row, column);
    };
    const auto untouched = [&](size_t c, unsigned row, unsigned column) {
        return !touched(c, row, column);
    };
    EXPECT_EQ(DifferingBlocks(before, after, touched), 0) << "blocks outside the stamp changed";
    EXPECT_GT(DifferingBlocks(before, after, untouched), 0) << "the stamp changed nothing";

    int width = 0, height = 0;
    Pixels painted = DecodeFile(sourcePath, &width, &height);
    PaintBox(&painted, width, height, rect);
    const CoefficientImage reference = ReadCoefficients(EncodeWithParametersOf(source, painted));
    ExpectSameLayout(before, reference);
    EXPECT_EQ(DifferingBlocks(reference, after, untouched), 0)
        << "the new blocks differ from an encoding of the painted picture";

    EXPECT_EQ(CarriedSegments(out), CarriedSegments(source));
    EXPECT_GE(CountReverseMarkerSegments(out), 1);
    EXPECT_EQ(ProbeReverseMarker(stamped.c_str(), nullptr), 0);

    const std::string undone = dir.file("undone.jpg");
    char error[engine::kErrorTextSize];
    ASSERT_EQ(UndoStampedJpeg(stamped.c_str(), undone.c_str(), error), 0) << error;
    const Bytes restored = ReadFile(undone);
    const CoefficientImage back = ReadCoefficients(restored);
    ExpectSameLayout(before, back);
    EXPECT_EQ(DifferingBlocks(before, back, [](size_t, unsigned, unsigned) { return false; }), 0)
        << "undo did not bring back every block";
    EXPECT_EQ(CountReverseMarkerSegments(restored), 0);
    EXPECT_EQ(CarriedSegments(restored), CarriedSegments(source));
    EXPECT_EQ(ProbeReverseMarker(undone.c_str(), nullptr), engine::kNoReverseMarker);
}

struct MadeCase {
    const char *name;
    JpegSpec spec;
};

JpegSpec Spec(int w, int h, int lumaH, int lumaV, bool gray = false, bool progressive = false,
              int restart = 0, bool jfif = true) {
    JpegSpec spec = mk::test::Layout(w, h, lumaH, lumaV, gray, progressive, restart);
    spec.jfif = jfif;
    spec.segments = TypicalSegments();
    return spec;
}

class StampMade : public ::testing::TestWithParam<MadeCase> {};

TEST_P(StampMade, KeepsEverythingOutsideTheStampAndUndoes) {
    const JpegSpec &spec = GetParam().spec;
    TempDir dir;
    WriteFile(dir.file("source.jpg"), MakeJpeg(spec));
    const int w = spec.width, h = spec.height;
    const TopRect rects[] = {
        {w / 3, h / 4, w / 3 + w / 4, h / 4 + h / 3},  // interior
        {w / 2, h / 2, w - 1, h - 1},                  // right and bottom edges
        {0, 0, w - 1, h - 1},                          // everything
        {0, 0, 0, 0},                                  // one pixel
        {w - 1, 0, w - 1, h - 1},                      // last column
    };
    for (const TopRect &rect : rects) {
        SCOPED_TRACE(testing::Message() << "rect " << rect.left << "," << rect.top << " - "
                                        << rect.right << "," << rect.bottom);
        CheckStampAndUndo(dir.file("source.jpg"), rect);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, StampMade,
    ::testing::Values(MadeCase{"s420", Spec(64, 48, 2, 2)},
                      MadeCase{"s420_odd", Spec(101, 67, 2, 2)},
                      MadeCase{"s422_odd", Spec(70, 45, 2, 1)},
                      MadeCase{"s444", Spec(50, 30, 1, 1)}, MadeCase{"s440", Spec(41, 59, 1, 2)},
                      MadeCase{"gray_odd", Spec(33, 17, 1, 1, true)},
                      MadeCase{"progressive", Spec(100, 75, 2, 2, false, true)},
                      MadeCase{"progressive_gray", Spec(45, 45, 1, 1, true, true)},
                      MadeCase{"restart", Spec(123, 77, 2, 2, false, false, 2)},
                      MadeCase{"no_jfif", Spec(96, 64, 2, 1, false, false, 0, false)},
                      MadeCase{"s411", Spec(99, 40, 4, 1)}),
    [](const auto &info) { return std::string(info.param.name); });

// Pictures of the less common kinds that a decoder reads and the stamp
// must either take exactly or refuse: arithmetic coding, RGB data, chroma
// sampled more finely than luma, mixed and fourfold factors, one scan per
// component, a progressive script that never sends the chroma's AC
// coefficients and the largest quantisation step the encoder divides by.
std::vector<std::pair<std::string, Bytes>> UnusualPictures() {
    std::vector<std::pair<std::string, Bytes>> pictures;
    const auto add = [&pictures](const char *name, const JpegSpec &spec) {
        pictures.emplace_back(name, MakeJpeg(spec));
    };
    JpegSpec arithmetic = Spec(90, 70, 2, 2);
    arithmetic.arithmetic = true;
    add("arithmetic", arithmetic);
    arithmetic.progressive = true;
    add("arithmetic progressive", arithmetic);
    JpegSpec rgb = Spec(77, 45, 1, 1);
    rgb.colour = Colour::kRgb;
    add("RGB", rgb);
    JpegSpec fineChroma = Spec(83, 61, 1, 1);
    fineChroma.sampling = {{1, 1}, {2, 2}, {2, 2}};
    add("chroma finer than luma", fineChroma);
    JpegSpec mixed = Spec(91, 66, 1, 1);
    mixed.sampling = {{2, 1}, {1, 2}, {1, 1}};
    add("mixed sampling", mixed);
    add("4x2 luma", Spec(140, 60, 4, 2));
    JpegSpec separate = Spec(97, 51, 2, 2);
    separate.scans = {Scan{{0}}, Scan{{1}}, Scan{{2}}};
    add("one scan per component", separate);
    JpegSpec dcChroma = Spec(88, 72, 2, 2);
    dcChroma.scans = {Scan{{0, 1, 2}, 0, 0, 0, 1}, Scan{{0}, 1, 63, 0, 0},
                      Scan{{0, 1, 2}, 0, 0, 1, 0}};
    add("chroma without AC scans", dcChroma);
    JpegSpec coarse = Spec(80, 56, 2, 2);
    coarse.quality = 1;
    coarse.baseline = false;
    Bytes largest = MakeJpeg(coarse);
    EXPECT_TRUE(SetQuantValue(&largest, 0, 20, 8191));
    pictures.emplace_back("a step of 8191", largest);
    return pictures;
}

TEST(StampUnusual, KeepsEverythingOutsideTheStampAndUndoes) {
    for (const auto &[name, file] : UnusualPictures()) {
        SCOPED_TRACE(name);
        TempDir dir;
        WriteFile(dir.file("source.jpg"), file);
        const CoefficientImage image = ReadCoefficients(file);
        ASSERT_TRUE(image.ok) << image.error;
        const int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
        CheckStampAndUndo(dir.file("source.jpg"), {w / 3, h / 4, w - 5, h / 2});
        CheckStampAndUndo(dir.file("source.jpg"), {0, h / 2, w - 1, h - 1});
    }
}

std::vector<std::string> DecodableCorpusFiles() {
    std::vector<std::string> files;
    for (const CorpusRow &row : CorpusIndex())
        if (row.at("decodes") == "yes" && row.at("components") != "4")
            files.push_back(row.at("file"));
    return files;
}

std::string TestName(const std::string &file) {
    std::string name;
    for (char c : file.substr(0, file.rfind('.'))) name += std::isalnum(c) ? c : '_';
    return name;
}

class StampCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(StampCorpus, KeepsEverythingOutsideTheStampAndUndoes) {
    const std::string path = (CorpusDir() / GetParam()).string();
    int32_t w = 0, h = 0;
    ASSERT_EQ(engine::ReadJpegFile(path.c_str(), nullptr, &w, &h, nullptr), 0);
    const TopRect rect{w / 5, h * 3 / 5, std::min(w - 1, w / 5 + std::max(w / 4, 2)),
                       std::min(h - 1, h * 3 / 5 + std::max(h / 8, 2))};
    CheckStampAndUndo(path, rect);
}

INSTANTIATE_TEST_SUITE_P(Corpus, StampCorpus, ::testing::ValuesIn(DecodableCorpusFiles()),
                         [](const auto &info) { return TestName(info.param); });

// Damaged or unusual corpus files: the writer either succeeds or fails
// cleanly without creating the destination. Pictures that the index marks
// as decoding with a warning never succeed: their recovered coefficients
// are not the file's. They are refused as damaged, or, where the data ends
// before the picture does, with the library's end of input (the engine's
// source never invents the missing end, as djpeg's does with a warning).
// Four-component pictures (CMYK, YCCK) decode but cannot be stamped: the
// stamp's encoder takes gray, YCbCr and RGB only.
TEST(StampCorpusDamaged, FailsCleanlyOrSucceeds) {
    for (const CorpusRow &row : CorpusIndex()) {
        if (row.at("decodes") == "yes" && row.at("components") != "4") continue;
        const std::string path = (CorpusDir() / row.at("file")).string();
        SCOPED_TRACE(path);
        int32_t w = 0, h = 0;
        if (engine::ReadJpegFile(path.c_str(), nullptr, &w, &h, nullptr) != 0 || w <= 0 || h <= 0)
            continue;
        std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4, 128);
        TempDir dir;
        const std::string out = dir.file("out.jpg");
        char error[engine::kErrorTextSize] = "";
        const int32_t result = WriteStampedJpeg(path.c_str(), out.c_str(), pixels.data(), 0, 0,
                                                w - 1, h - 1, 1, error);
        if (row.at("decodes") == "warning") {
            EXPECT_TRUE(result == engine::kDamaged ||
                        (result == engine::kLibraryFailed &&
                         std::string(error) == "Premature end of input file"))
                << result << ": " << error;
        } else if (row.at("components") == "4") {
            EXPECT_EQ(result, engine::kUnsupported) << error;
        }
        if (result != 0) {
            EXPECT_TRUE(FolderContents(dir.path()).empty());
        } else {
            EXPECT_TRUE(ReadCoefficients(ReadFile(out)).ok);
        }
    }
}

TEST(StampedJpeg, ExifWithoutJfifGetsTheLibrarysJfifFirst) {
    TempDir dir;
    JpegSpec spec = Spec(64, 64, 2, 2, false, false, 0, false);
    WriteFile(dir.file("s.jpg"), MakeJpeg(spec));
    ASSERT_EQ(StampBox(dir.file("s.jpg"), dir.file("o.jpg"), {1, 1, 9, 9}, false), 0);
    const std::vector<Segment> segments = ReadHeaderSegments(ReadFile(dir.file("o.jpg")));
    ASSERT_GE(segments.size(), 3u);
    EXPECT_EQ(segments[0].marker, 0xE0);
    EXPECT_EQ(std::memcmp(segments[0].data.data(), "JFIF", 5), 0);
    EXPECT_EQ(segments[1], spec.segments[0]);
    EXPECT_EQ(segments[2], spec.segments[1]) << "the comment stays in its place";
}

TEST(StampedJpeg, KeepUndoClearWritesNoMarker) {
    TempDir dir;
    WriteFile(dir.file("s.jpg"), MakeJpeg(Spec(80, 60, 2, 2)));
    ASSERT_EQ(StampBox(dir.file("s.jpg"), dir.file("o.jpg"), {10, 10, 40, 30}, false), 0);
    const Bytes out = ReadFile(dir.file("o.jpg"));
    for (const Segment &s : ReadHeaderSegments(out)) EXPECT_NE(s.marker, 0xE7);
    EXPECT_EQ(ProbeReverseMarker(dir.file("o.jpg").c_str(), nullptr), engine::kNoReverseMarker);
    EXPECT_EQ(UndoStampedJpeg(dir.file("o.jpg").c_str(), dir.file("u.jpg").c_str(), nullptr),
              engine::kNoReverseMarker);
    EXPECT_FALSE(std::filesystem::exists(dir.file("u.jpg")));
}

TEST(StampedJpeg, InPlaceKeepsPermissionBits) {
    TempDir dir;
    const std::string path = dir.file("p.jpg");
    const Bytes original = MakeJpeg(Spec(64, 64, 2, 2));
    WriteFile(path, original);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(StampBox(path, path, {5, 5, 20, 20}, true), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(ReadFile(path), original);
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"p.jpg"});
    ASSERT_EQ(UndoStampedJpeg(path.c_str(), path.c_str(), nullptr), 0);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    const CoefficientImage a = ReadCoefficients(original), b = ReadCoefficients(ReadFile(path));
    ExpectSameLayout(a, b);
    EXPECT_EQ(DifferingBlocks(a, b, [](size_t, unsigned, unsigned) { return false; }), 0);
    EXPECT_EQ(CountReverseMarkerSegments(ReadFile(path)), 0);
}

TEST(StampedJpeg, MissingSourceAndUncreatableDestination) {
    TempDir dir;
    std::vector<uint8_t> pixels(64u * 64u * 4);
    char error[engine::kErrorTextSize];
    const std::string missing = dir.file("missing.jpg");
    EXPECT_EQ(WriteStampedJpeg(missing.c_str(), dir.file("o.jpg").c_str(), pixels.data(), 0, 0, 1,
                               1, 1, error),
              engine::kCannotOpen);
    EXPECT_EQ(std::string(error), "can't open " + missing);
    WriteFile(dir.file("s.jpg"), MakeJpeg(Spec(64, 64, 2, 2)));
    const std::string nowhere = dir.file("no/such/folder/o.jpg");
    EXPECT_EQ(WriteStampedJpeg(dir.file("s.jpg").c_str(), nowhere.c_str(), pixels.data(), 0, 0, 1,
                               1, 1, error),
              engine::kCannotOpen);
    EXPECT_EQ(std::string(error), "can't create " + nowhere);
}

TEST(StampedJpeg, RectangleOutsideThePictureIsRefused) {
    TempDir dir;
    WriteFile(dir.file("s.jpg"), MakeJpeg(Spec(64, 48, 2, 2)));
    std::vector<uint8_t> pixels(64u * 48u * 4);
    const int32_t bad[][4] = {{0, 0, 64, 10}, {0, 0, 10, 48}, {-1, 0, 5, 5},
                              {0, -1, 5, 5},  {6, 0, 5, 5},   {0, 6, 5, 5}};
    for (const auto &r : bad) {
        EXPECT_NE(WriteStampedJpeg(dir.file("s.jpg").c_str(), dir.file("o.jpg").c_str(),
                                   pixels.data(), r[0], r[1], r[2], r[3], 1, nullptr),
                  0);
        EXPECT_FALSE(std::filesystem::exists(dir.file("o.jpg")));
    }
}

TEST(StampedJpeg, SourceTruncatedInItsScanLeavesTheDestination) {
    TempDir dir;
    const Bytes full = MakeJpeg(Spec(160, 120, 2, 2));
    WriteFile(dir.file("full.jpg"), full);
    int width = 0, height = 0;
    const Pixels pixels = DecodeFile(dir.file("full.jpg"), &width, &height);
    Bytes cut = full;
    cut.resize(full.size() * 3 / 5);
    WriteFile(dir.file("cut.jpg"), cut);
    const Bytes existing = MakeJpeg(Spec(16, 16, 1, 1));
    WriteFile(dir.file("dest.jpg"), existing);
    char error[engine::kErrorTextSize];
    EXPECT_EQ(WriteStampedJpeg(dir.file("cut.jpg").c_str(), dir.file("dest.jpg").c_str(),
                               pixels.data(), 10, 10, 50, 50, 1, error),
              engine::kLibraryFailed);
    EXPECT_NE(std::string(error), "");
    EXPECT_EQ(ReadFile(dir.file("dest.jpg")), existing);
    // In place: the cut file stays as it was.
    EXPECT_EQ(WriteStampedJpeg(dir.file("cut.jpg").c_str(), dir.file("cut.jpg").c_str(),
                               pixels.data(), 10, 10, 50, 50, 1, nullptr),
              engine::kLibraryFailed);
    EXPECT_EQ(ReadFile(dir.file("cut.jpg")), cut);
    EXPECT_EQ(FolderContents(dir.path()),
              (std::vector<std::string>{"cut.jpg", "dest.jpg", "full.jpg"}));
}

TEST(StampedJpeg, FullDiskLeavesThePictureInPlace) {
    TempDir dir;
    const std::string path = dir.file("p.jpg");
    const Bytes original = MakeJpeg(Spec(320, 240, 2, 2));
    WriteFile(path, original);
    int width = 0, height = 0;
    const Pixels pixels = DecodeFile(path, &width, &height);
    const int32_t result = RunWithFileSizeLimit(original.size() / 2, [&] {
        return WriteStampedJpeg(path.c_str(), path.c_str(), pixels.data(), 10, 10, 200, 100, 1,
                                nullptr);
    });
    // A file grown past its limit fails with EFBIG: a failed write, though
    // not for want of space.
    EXPECT_EQ(result, engine::kWriteFailed);
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"p.jpg"});
}

// The same on a real, small file system, where the system allows mounting.
TEST(StampedJpeg, FullTmpfsLeavesThePictureInPlace) {
    TempDir dir;
    const std::string mountPoint = dir.file("small");
    std::filesystem::create_directory(mountPoint);
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    const std::string path = mountPoint + "/p.jpg";
    const Bytes original = MakeJpeg(Spec(320, 240, 2, 2));
    WriteFile(path, original);
    int width = 0, height = 0;
    const Pixels pixels = DecodeFile(path, &width, &height);
    {
        // Fill the rest of the file system.
        std::ofstream filler(mountPoint + "/filler", std::ios::binary);
        const std::string chunk(4096, 'x');
        while (filler.write(chunk.data(), static_cast<std::streamsize>(chunk.size())) &&
               filler.flush()) {
        }
    }
    EXPECT_NE(
        WriteStampedJpeg(path.c_str(), path.c_str(), pixels.data(), 10, 10, 200, 100, 1, nullptr),
        0);
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(FolderContents(mountPoint), (std::vector<std::string>{"filler", "p.jpg"}));
}

}  // namespace
}  // namespace mk::test
