// Tests of the region stamp: the decoded region equals the full decode
// inside the touched MCUs, and stamping through the region writes the very
// bytes that decoding the whole picture, blending the overlay into it and
// handing it to the stamped-image writer writes, on made pictures of every
// sampling, size and coding and on the camera corpus; undo of a region
// stamp restores the source's coefficients.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "MK_Core.h"
#include "batch/fast_stamp.h"
#include "engine/engine.h"
#include "engine/picture_checks.h"
#include "engine/region_stamp.h"
#include "engine/reverse_marker.h"
#include "engine/stamp_steps.h"
#include "engine_test_helpers.h"
#include "jpeg_maker.h"
#include "overlay/region.h"
#include "test_support.h"

namespace mk::test {
namespace {

using engine::kErrorTextSize;

// A picture decoded by the engine, bottom row first.
struct Decoded {
    int32_t width = 0;
    int32_t height = 0;
    Pixels pixels;
};

bool Decode(const std::string &path, Decoded *out) {
    char error[kErrorTextSize];
    if (engine::ReadJpegFile(path.c_str(), nullptr, &out->width, &out->height, error) != 0 ||
        out->width <= 0 || out->height <= 0)
        return false;
    out->pixels.assign(static_cast<size_t>(out->width) * out->height * 4, 0);
    return engine::ReadJpegFile(path.c_str(), out->pixels.data(), &out->width, &out->height,
                                error) == 0;
}

// An overlay made by hand in the shape of a rendered one: bitmaps whose
// alpha runs through many values, opaque and clear runs included.
struct MadeOverlay {
    std::vector<std::vector<uint8_t>> bitmaps;
    std::vector<RenderedLayer> entries;
    OverlayHandle handle{};

    const OverlayHandle *get() {
        handle.layerCount = static_cast<int32_t>(entries.size());
        handle.entries = entries.data();
        return &handle;
    }
    uint8_t *Bitmap(int32_t width, int32_t height, uint32_t seed) {
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
        for (int32_t r = 0; r < height; ++r)
            for (int32_t c = 0; c < width; ++c) {
                uint8_t *p = pixels.data() + (static_cast<size_t>(r) * width + c) * 4;
                const uint32_t v =
                    (static_cast<uint32_t>(c) * 37 + static_cast<uint32_t>(r) * 11 + seed * 101) %
                    300;
                p[0] = static_cast<uint8_t>(c * 7 + seed);
                p[1] = static_cast<uint8_t>(r * 13 + 40);
                p[2] = static_cast<uint8_t>(255 - c * 3);
                p[3] = v >= 255 ? (v >= 280 ? 0 : 255) : static_cast<uint8_t>(v);
            }
        bitmaps.push_back(std::move(pixels));
        return bitmaps.back().data();
    }
};

// Where a stamp goes: a text bitmap (w x h at x, y for the position code)
// and optionally a box under it, the full picture width when boxWidth is 0.
struct Placement {
    const char *name;
    int32_t x, y, w, h, position;
    bool box = false;
    int32_t boxWidth = -1;  // -1: the text's size; 0: the picture's width
};

void Fill(MadeOverlay *overlay, const Placement &p, int32_t pictureWidth) {
    RenderedLayer entry{};
    entry.position = p.position;
    entry.x = p.x;
    entry.y = p.y;
    entry.textWidth = p.w;
    entry.textHeight = p.h;
    entry.textPixels = overlay->Bitmap(p.w, p.h, 3);
    if (p.box) {
        entry.boxWidth = p.boxWidth < 0 ? p.w : (p.boxWidth == 0 ? pictureWidth : p.boxWidth);
        entry.boxHeight = p.h + 4;
        entry.boxX = p.boxWidth == 0 ? 0 : p.x;
        entry.boxY = p.y;
        entry.boxPixels = overlay->Bitmap(entry.boxWidth, entry.boxHeight, 9);
    }
    overlay->entries.push_back(entry);
}

// The placements tried on a width x height picture: every corner and edge,
// the centre, stamps partly and wholly outside, full-width boxes and a
// stamp larger than the picture.
std::vector<Placement> Placements(int32_t width, int32_t height) {
    const int32_t w = std::max(1, std::min(23, width / 2 + 1));
    const int32_t h = std::max(1, std::min(11, height / 2 + 1));
    return {
        {"top-left", 0, 0, w, h, MK_POS_TOP_LEFT},
        {"top-right", 0, 0, w, h, MK_POS_TOP_RIGHT, true},
        {"bottom-left", 0, 0, w, h, MK_POS_BOTTOM_LEFT},
        {"bottom-right", 0, 0, w, h, MK_POS_BOTTOM_RIGHT, true},
        {"top-left-outside", -7, -5, w + 3, h + 2, MK_POS_TOP_LEFT},
        {"bottom-right-outside", 9, 6, w + 5, h + 4, MK_POS_BOTTOM_RIGHT, true},
        {"centre-pixel", width / 2, height / 2, 1, 1, MK_POS_TOP_LEFT},
        {"top-centre", 0, 1, w, h, MK_POS_TOP_CENTER},
        {"bottom-centre", 3, -2, w, h, MK_POS_BOTTOM_CENTER, true},
        {"left-middle", 0, height / 2, w, h, MK_POS_TOP_LEFT},
        {"right-middle", 0, height / 2, w, h, MK_POS_TOP_RIGHT},
        {"full-width-bottom", -4, -3, w, h, MK_POS_BOTTOM_RIGHT, true, 0},
        {"full-width-top", 5, 2, w, h, MK_POS_TOP_CENTER, true, 0},
        {"larger-than-picture", -15, -10, width + 30, height + 20, MK_POS_TOP_LEFT, true},
        {"beyond-right", width + 5, 0, w, h, MK_POS_TOP_LEFT},
    };
}

struct Outcome {
    int32_t code = 0;
    Bytes file;
    std::string error;
};

// The reference: the whole picture decoded, painted by the overlay's Proc
// and written by the stamped-image writer.
Outcome StampByFullDecode(const std::string &source, const Decoded &decoded,
                          const std::string &destination, const OverlayHandle *overlay,
                          bool keepUndo) {
    Outcome out;
    Pixels pixels = decoded.pixels;
    const int32_t width = decoded.width, height = decoded.height;
    MK_Rect rect{width, height, 0, 0};
    MK_ApplyOverlay_Proc(pixels.data(), width, height, overlay, &rect);
    if (rect.left > rect.right || rect.top > rect.bottom) {
        out.code = engine::kNothingPainted;
        return out;
    }
    char error[kErrorTextSize] = "";
    out.code = engine::WriteStampedJpeg(source.c_str(), destination.c_str(), pixels.data(),
                                        rect.left, height - rect.bottom - 1, rect.right,
                                        height - rect.top - 1, keepUndo ? 1 : 0, error);
    out.error = error;
    if (out.code == 0) out.file = ReadFile(destination);
    return out;
}

// Counts, in the decoded bands handed to the painter, the pixels that
// differ from the full decode, leaving out the region's outer MCU columns
// and its top MCU row where they do not lie on the picture's edge. The
// bands end with the stamp's last MCU row, which must be exact: the decoder
// reads the margin below it for its upsampling.
struct RegionCheck {
    const Decoded *full = nullptr;
    int32_t mcuWidth = 8;
    int32_t mcuHeight = 8;
    // Leaves out the picture's last MCU column (whose last samples the
    // library may leave undefined).
    bool skipLastMcuColumn = false;
    int64_t compared = 0;
    int64_t differing = 0;

    int32_t regionTop = -1;
    int32_t nextBand = -1;

    void Compare(const uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h) {
        if (regionTop < 0) regionTop = y;
        // Bands follow each other without a gap or an overlap.
        if (nextBand >= 0 && y != nextBand) ++differing;
        nextBand = y + h;
        const int32_t x0 = x == 0 ? 0 : x + mcuWidth;
        const int32_t y0 = std::max(y, regionTop == 0 ? 0 : regionTop + mcuHeight);
        int32_t x1 = x + w == full->width ? x + w : x + w - mcuWidth;
        if (skipLastMcuColumn) x1 = std::min(x1, (full->width - 1) / mcuWidth * mcuWidth);
        const int32_t y1 = y + h;
        for (int32_t py = y0; py < y1; ++py)
            for (int32_t px = x0; px < x1; ++px) {
                const uint8_t *a =
                    area + ((static_cast<size_t>(h) - 1 - (py - y)) * w + (px - x)) * 4;
                const uint8_t *b =
                    full->pixels.data() +
                    ((static_cast<size_t>(full->height) - 1 - py) * full->width + px) * 4;
                ++compared;
                if (std::memcmp(a, b, 3) != 0) ++differing;
            }
    }
};

Outcome StampByRegion(const std::string &source, const std::string &destination,
                      const OverlayHandle *overlay, bool keepUndo, RegionCheck *check = nullptr) {
    engine::RegionPainter painter;
    painter.paintedRect = [overlay](int32_t width, int32_t height) {
        return overlay::PaintedRect(overlay, width, height);
    };
    painter.paint = [overlay, check](uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h,
                                     int32_t width, int32_t height) {
        if (check != nullptr) check->Compare(area, x, y, w, h);
        overlay::BlendLayers(overlay, overlay::PictureArea{area, x, y, w, h}, width, height);
    };
    Outcome out;
    char error[kErrorTextSize] = "";
    out.code =
        engine::StampRegion(source.c_str(), destination.c_str(), painter, keepUndo ? 1 : 0, error);
    out.error = error;
    if (out.code == 0) out.file = ReadFile(destination);
    return out;
}

int McuWidthOf(const CoefficientImage &image) {
    int maxH = 1;
    for (const auto &c : image.components) maxH = std::max(maxH, c.h);
    return 8 * maxH;
}
int McuHeightOf(const CoefficientImage &image) {
    int maxV = 1;
    for (const auto &c : image.components) maxV = std::max(maxV, c.v);
    return 8 * maxV;
}

struct MadePicture {
    const char *name;
    JpegSpec spec;
};

// With these samplings and widths the library leaves the last column or two
// of its full decode undefined (uninitialised samples of its own buffers),
// so a stamp over them is not reproducible by either path.
bool RightEdgeUndefined(const JpegSpec &spec) {
    return !spec.gray &&
           ((spec.lumaV == 2 && spec.lumaH != 2) || spec.lumaH == 3 || spec.lumaV == 3);
}

// True when the placement's blocks reach the picture's last MCU column.
bool ReachesLastMcuColumn(const OverlayHandle *overlay, const JpegSpec &spec, int32_t width,
                          int32_t height) {
    const MK_Rect rect = overlay::PaintedRect(overlay, width, height);
    const int32_t mcuWidth = 8 * (spec.gray ? 1 : spec.lumaH);
    return rect.left <= rect.right && rect.right / mcuWidth == (width - 1) / mcuWidth;
}

JpegSpec Spec(int width, int height, int h, int v) {
    JpegSpec spec;
    spec.width = width;
    spec.height = height;
    spec.lumaH = h;
    spec.lumaV = v;
    return spec;
}

std::vector<MadePicture> MadePictures() {
    std::vector<MadePicture> pictures = {
        {"420", Spec(64, 48, 2, 2)},         {"420-odd", Spec(203, 157, 2, 2)},
        {"422-odd", Spec(121, 75, 2, 1)},    {"440-odd", Spec(99, 70, 1, 2)},
        {"444-odd", Spec(77, 53, 1, 1)},     {"411-odd", Spec(197, 61, 4, 1)},
        {"410", Spec(130, 70, 4, 2)},        {"420-tiny", Spec(5, 3, 2, 2)},
        {"422-one-pixel", Spec(1, 1, 2, 1)}, {"420-tall", Spec(17, 300, 2, 2)},
        {"422-wide", Spec(400, 20, 2, 1)},   {"420-large", Spec(640, 480, 2, 2)},
        {"3x1-odd", Spec(101, 50, 3, 1)},    {"1x3-odd", Spec(70, 95, 1, 3)},
        {"3x2-odd", Spec(119, 77, 3, 2)},
    };
    JpegSpec gray = Spec(83, 45, 1, 1);
    gray.gray = true;
    pictures.push_back({"gray-odd", gray});
    JpegSpec gray22 = Spec(50, 41, 2, 2);
    gray22.gray = true;
    pictures.push_back({"gray-2x2", gray22});
    JpegSpec progressive = Spec(150, 100, 2, 2);
    progressive.progressive = true;
    pictures.push_back({"progressive-420", progressive});
    JpegSpec progressive422 = Spec(117, 93, 2, 1);
    progressive422.progressive = true;
    pictures.push_back({"progressive-422-odd", progressive422});
    JpegSpec progressiveGray = gray;
    progressiveGray.progressive = true;
    pictures.push_back({"progressive-gray", progressiveGray});
    JpegSpec restart = Spec(160, 120, 2, 2);
    restart.restartInterval = 3;
    pictures.push_back({"restart-420", restart});
    JpegSpec restart444 = Spec(91, 37, 1, 1);
    restart444.restartInterval = 1;
    pictures.push_back({"restart-444-odd", restart444});
    JpegSpec quality = Spec(100, 66, 2, 2);
    quality.quality = 100;
    pictures.push_back({"420-quality-100", quality});
    JpegSpec wideTables = Spec(90, 70, 2, 2);
    wideTables.quality = 3;
    wideTables.baseline = false;
    pictures.push_back({"420-16-bit-tables", wideTables});
    JpegSpec arithmetic = Spec(110, 77, 2, 2);
    arithmetic.arithmetic = true;
    pictures.push_back({"arithmetic-420", arithmetic});
    arithmetic.progressive = true;
    pictures.push_back({"arithmetic-progressive", arithmetic});
    JpegSpec rgb = Spec(77, 45, 1, 1);
    rgb.colour = Colour::kRgb;
    pictures.push_back({"rgb", rgb});
    JpegSpec fineChroma = Spec(83, 61, 1, 1);
    fineChroma.sampling = {{1, 1}, {2, 2}, {2, 2}};
    pictures.push_back({"chroma-finer-than-luma", fineChroma});
    JpegSpec mixed = Spec(91, 66, 1, 1);
    mixed.sampling = {{2, 1}, {1, 2}, {1, 1}};
    pictures.push_back({"mixed-sampling", mixed});
    JpegSpec separate = Spec(97, 51, 2, 2);
    separate.scans = {Scan{{0}}, Scan{{1}}, Scan{{2}}};
    pictures.push_back({"scan-per-component", separate});
    return pictures;
}

TEST(RegionStamp, DecodedRegionEqualsTheFullDecodeInsideTheTouchedArea) {
    TempDir dir;
    int64_t compared = 0;
    for (const MadePicture &made : MadePictures()) {
        const std::string source = dir.file(std::string(made.name) + ".jpg");
        WriteFile(source, MakeJpeg(made.spec));
        Decoded full;
        ASSERT_TRUE(Decode(source, &full)) << made.name;
        const CoefficientImage image = ReadCoefficients(ReadFile(source));
        ASSERT_TRUE(image.ok) << made.name;
        for (const Placement &p : Placements(full.width, full.height)) {
            MadeOverlay overlay;
            Fill(&overlay, p, full.width);
            if (RightEdgeUndefined(made.spec) &&
                ReachesLastMcuColumn(overlay.get(), made.spec, full.width, full.height))
                continue;
            RegionCheck check;
            check.full = &full;
            check.mcuWidth = McuWidthOf(image);
            check.mcuHeight = McuHeightOf(image);
            check.skipLastMcuColumn = RightEdgeUndefined(made.spec);
            StampByRegion(source, dir.file("out.jpg"), overlay.get(), false, &check);
            EXPECT_EQ(check.differing, 0) << made.name << ", " << p.name;
            compared += check.compared;
        }
    }
    EXPECT_GT(compared, 100000);
}

TEST(RegionStamp, WritesTheBytesOfTheFullDecodeOnMadePictures) {
    TempDir dir;
    int identical = 0;
    int index = 0;
    for (const MadePicture &made : MadePictures()) {
        const std::string source = dir.file(std::string(made.name) + ".jpg");
        WriteFile(source, MakeJpeg(made.spec));
        Decoded full;
        ASSERT_TRUE(Decode(source, &full)) << made.name;
        for (const Placement &p : Placements(full.width, full.height)) {
            const bool keepUndo = index++ % 3 != 2;
            MadeOverlay overlay;
            Fill(&overlay, p, full.width);
            if (RightEdgeUndefined(made.spec) &&
                ReachesLastMcuColumn(overlay.get(), made.spec, full.width, full.height))
                continue;
            const std::string reference = dir.file("reference.jpg");
            const std::string region = dir.file("region.jpg");
            std::filesystem::remove(reference);
            std::filesystem::remove(region);
            const Outcome expected =
                StampByFullDecode(source, full, reference, overlay.get(), keepUndo);
            const Outcome got = StampByRegion(source, region, overlay.get(), keepUndo);
            ASSERT_EQ(got.code, expected.code)
                << made.name << ", " << p.name << ": " << got.error << " / " << expected.error;
            if (expected.code != 0) {
                EXPECT_FALSE(std::filesystem::exists(region)) << made.name << ", " << p.name;
                continue;
            }
            EXPECT_TRUE(got.file == expected.file) << made.name << ", " << p.name;
            if (got.file == expected.file) ++identical;
        }
    }
    EXPECT_GE(identical, static_cast<int>(MadePictures().size()) * 9);
}

// Every block of every component equal.
void ExpectSameCoefficients(const Bytes &a, const Bytes &b, const std::string &what) {
    const CoefficientImage x = ReadCoefficients(a);
    const CoefficientImage y = ReadCoefficients(b);
    ASSERT_TRUE(x.ok && y.ok) << what;
    ASSERT_EQ(x.components.size(), y.components.size()) << what;
    for (size_t c = 0; c < x.components.size(); ++c)
        EXPECT_TRUE(x.components[c].coefficients == y.components[c].coefficients)
            << what << ", component " << c;
}

TEST(RegionStamp, UndoOfARegionStampRestoresTheSource) {
    TempDir dir;
    for (const MadePicture &made : MadePictures()) {
        // Undo data is refused for sampling ratios of 3 (the saved block
        // rectangle is aligned by masking, which suits only powers of two).
        if (made.spec.lumaH == 3 || made.spec.lumaV == 3) continue;
        const Bytes original = MakeJpeg(made.spec);
        const std::string source = dir.file("source.jpg");
        WriteFile(source, original);
        Decoded full;
        ASSERT_TRUE(Decode(source, &full));
        for (const Placement &p : Placements(full.width, full.height)) {
            MadeOverlay overlay;
            Fill(&overlay, p, full.width);
            if (RightEdgeUndefined(made.spec) &&
                ReachesLastMcuColumn(overlay.get(), made.spec, full.width, full.height))
                continue;
            const MK_Rect rect = overlay::PaintedRect(overlay.get(), full.width, full.height);
            if (rect.left > rect.right || rect.top > rect.bottom) continue;
            const std::string stamped = dir.file("stamped.jpg");
            const Outcome got = StampByRegion(source, stamped, overlay.get(), true);
            ASSERT_EQ(got.code, 0) << made.name << ", " << p.name << ": " << got.error;
            EXPECT_EQ(engine::ProbeReverseMarker(stamped.c_str(), nullptr), 0);
            const std::string undone = dir.file("undone.jpg");
            char error[kErrorTextSize];
            ASSERT_EQ(engine::UndoStampedJpeg(stamped.c_str(), undone.c_str(), error), 0)
                << made.name << ", " << p.name << ": " << error;
            ExpectSameCoefficients(ReadFile(undone), original,
                                   std::string(made.name) + ", " + p.name);
        }
    }
}

TEST(RegionStamp, WithoutUndoDataNoMarkerIsWritten) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeJpeg(Spec(120, 90, 2, 2)));
    MadeOverlay overlay;
    Fill(&overlay, {"bottom-right", -5, -5, 30, 12, MK_POS_BOTTOM_RIGHT, true}, 120);
    const std::string stamped = dir.file("stamped.jpg");
    ASSERT_EQ(StampByRegion(source, stamped, overlay.get(), false).code, 0);
    EXPECT_EQ(CountReverseMarkerSegments(ReadFile(stamped)), 0);
    EXPECT_EQ(engine::ProbeReverseMarker(stamped.c_str(), nullptr), engine::kNoReverseMarker);
}

TEST(RegionStamp, StampsInPlace) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    const std::string copy = dir.file("copy.jpg");
    const Bytes original = MakeJpeg(Spec(120, 90, 2, 1));
    WriteFile(source, original);
    WriteFile(copy, original);
    Decoded full;
    ASSERT_TRUE(Decode(source, &full));
    MadeOverlay overlay;
    Fill(&overlay, {"top-centre", 0, 3, 40, 12, MK_POS_TOP_CENTER, true}, 120);
    const std::string reference = dir.file("reference.jpg");
    const Outcome expected = StampByFullDecode(source, full, reference, overlay.get(), true);
    ASSERT_EQ(expected.code, 0);
    const Outcome got = StampByRegion(copy, copy, overlay.get(), true);
    ASSERT_EQ(got.code, 0) << got.error;
    EXPECT_TRUE(got.file == expected.file);
}

TEST(RegionStamp, RefusesWhatItCannotDo) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeJpeg(Spec(64, 48, 2, 2)));
    MadeOverlay overlay;
    Fill(&overlay, {"top-left", 0, 0, 10, 10, MK_POS_TOP_LEFT}, 64);
    char error[kErrorTextSize];
    const std::string out = dir.file("out.jpg");

    MadeOverlay empty;
    EXPECT_EQ(StampByRegion(source, out, empty.get(), true).code, engine::kNothingPainted);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(StampByRegion(dir.file("missing.jpg"), out, overlay.get(), true).code, -1);
    EXPECT_FALSE(std::filesystem::exists(out));
    const std::string notJpeg = dir.file("not.jpg");
    WriteFile(notJpeg, std::string("this is not a picture"));
    EXPECT_EQ(StampByRegion(notJpeg, out, overlay.get(), true).code, engine::kLibraryFailed);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(StampByRegion(source, dir.file("no/such/folder/out.jpg"), overlay.get(), true).code,
              -1);
    engine::RegionPainter none;
    EXPECT_EQ(engine::StampRegion(source.c_str(), out.c_str(), none, 1, error),
              engine::kLibraryFailed);
    EXPECT_FALSE(std::filesystem::exists(out));
}

// The stamp's blocks are made on a thread of their own while the file is
// written: when that fails, at the top of the picture (the encoder waits
// at once) or at the bottom (it has written most rows), nothing replaces
// the destination and no temporary file stays behind.
TEST(RegionStamp, AFailingPaintLeavesTheDestinationAlone) {
    struct FailCase {
        const char *name;
        int32_t position;
        bool outOfMemory;
        int32_t code;
    };
    const FailCase cases[] = {
        {"top, library failure", MK_POS_TOP_LEFT, false, engine::kLibraryFailed},
        {"bottom, library failure", MK_POS_BOTTOM_RIGHT, false, engine::kLibraryFailed},
        {"bottom, out of memory", MK_POS_BOTTOM_RIGHT, true, engine::kNoMemory},
    };
    for (const FailCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string source = dir.file("source.jpg");
        const Bytes original = MakeJpeg(Spec(200, 120, 2, 2));
        WriteFile(source, original);
        MadeOverlay overlay;
        Fill(&overlay, {c.name, 0, 0, 40, 16, c.position, true}, 200);
        const OverlayHandle *handle = overlay.get();
        engine::RegionPainter painter;
        painter.paintedRect = [handle](int32_t width, int32_t height) {
            return overlay::PaintedRect(handle, width, height);
        };
        painter.paint = [&c](uint8_t *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
            if (c.outOfMemory) throw std::bad_alloc();
            throw std::runtime_error("paint failed");
        };
        char error[kErrorTextSize] = "";
        EXPECT_EQ(engine::StampRegion(source.c_str(), source.c_str(), painter, 1, error), c.code);
        EXPECT_TRUE(ReadFile(source) == original);
        size_t files = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
            ++files;
        EXPECT_EQ(files, 1u);
    }
}

// A few hundred bytes whose frame header declares 57207 x 26008 pixels:
// the coefficient arrays are refused before anything is decoded.
TEST(RegionStamp, TinyFileOfAHugePictureCannotTakeGigabytes) {
    const Bytes file = TinyFileOfAHugePicture();
    TempDir dir;
    const std::string source = dir.file("huge.jpg");
    WriteFile(source, file);
    MadeOverlay overlay;
    Fill(&overlay, {"bottom-right", -5, -5, 300, 40, MK_POS_BOTTOM_RIGHT, true}, 57207);
    const Outcome got = StampByRegion(source, dir.file("out.jpg"), overlay.get(), true);
    EXPECT_EQ(got.code, engine::kLibraryFailed);
    EXPECT_NE(got.error, "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.jpg")));
}

// The corpus: every picture the reference can stamp, three placements each
// (a stamp in the bottom-right corner with a box, a full-width band at the
// bottom, a stamp over the top-left corner), undo data on and off.
TEST(RegionStamp, WritesTheBytesOfTheFullDecodeOnTheCorpus) {
    TempDir dir;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(CorpusDir()))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 30u);
    // The pictures that the index marks as decoding with a warning.
    std::vector<std::string> warned;
    for (const CorpusRow &row : CorpusIndex())
        if (row.at("decodes") == "warning") warned.push_back(row.at("file"));
    ASSERT_FALSE(warned.empty());
    int compared = 0, skipped = 0, fullDecodes = 0;
    for (const auto &file : files) {
        const std::string name = file.filename().string();
        // A copy that may be written: corpus files are read-only.
        const std::string source = dir.file("source.jpg");
        std::filesystem::remove(source);
        WriteFile(source, ReadFile(file));
        std::filesystem::permissions(source, std::filesystem::perms(0644));
        Decoded full;
        if (!Decode(source, &full)) {
            std::printf("not decoded: %s\n", name.c_str());
            ++skipped;
            continue;
        }
        const int32_t w = full.width, h = full.height;
        const int32_t textW = std::max(1, w / 5), textH = std::max(1, h / 20);
        const std::vector<Placement> placements = {
            {"bottom-right", -w / 50, -h / 50, textW, textH, MK_POS_BOTTOM_RIGHT, true},
            {"full-width-bottom", -w / 50, -h / 40, textW, textH, MK_POS_BOTTOM_CENTER, true, 0},
            {"top-left-outside", -9, -7, textW, textH, MK_POS_TOP_LEFT},
        };
        for (size_t i = 0; i < placements.size(); ++i) {
            const bool keepUndo = i != 1;
            MadeOverlay overlay;
            Fill(&overlay, placements[i], w);
            const std::string reference = dir.file("reference.jpg");
            const std::string region = dir.file("region.jpg");
            std::filesystem::remove(reference);
            std::filesystem::remove(region);
            const Outcome expected =
                StampByFullDecode(source, full, reference, overlay.get(), keepUndo);
            const Outcome got = StampByRegion(source, region, overlay.get(), keepUndo);
            // Their recovered coefficients are not the file's: both refuse
            // them as damaged, or where the data ends before the picture,
            // with the library's end of input (djpeg invents the end).
            if (std::find(warned.begin(), warned.end(), name) != warned.end()) {
                for (const Outcome *outcome : {&expected, &got})
                    EXPECT_TRUE(outcome->code == engine::kDamaged ||
                                (outcome->code == engine::kLibraryFailed &&
                                 outcome->error == "Premature end of input file"))
                        << name << ": " << outcome->code << " " << outcome->error;
            }
            if (expected.code != 0) {
                // The region stamp reads the same coefficients and fails too.
                EXPECT_EQ(got.code, expected.code) << name;
                std::printf("not stamped: %s (%s)\n", name.c_str(), expected.error.c_str());
                ++skipped;
                break;
            }
            if (got.code == engine::kNeedsFullDecode) {
                ++fullDecodes;
                EXPECT_FALSE(std::filesystem::exists(region)) << name;
                break;
            }
            ASSERT_EQ(got.code, 0) << name << ", " << placements[i].name << ": " << got.error;
            EXPECT_TRUE(got.file == expected.file) << name << ", " << placements[i].name;
            ++compared;
        }
    }
    std::printf(
        "corpus: %d stamps compared, %d pictures the reference cannot stamp, %d left to "
        "a full decode\n",
        compared, skipped, fullDecodes);
    EXPECT_GT(compared, 90);
}

// A real text layer as the stamp operation fills it.
OverlayLayer TextLayer(const char *text, int32_t fontSize, uint8_t position, uint32_t flags) {
    OverlayLayer layer{};
    layer.kind = 1;
    std::strncpy(layer.text, text, sizeof layer.text - 1);
    layer.fontSize = fontSize;
    std::strcpy(layer.fontFace, "Liberation Sans");
    layer.fontWeight = 700;
    layer.fontQuality = 4;
    layer.fontColor = 0x0000A0FF;
    layer.fontOpacity = 90;
    layer.backgroundColor = 0x00302010;
    layer.backgroundOpacity = 60;
    layer.horizontalMargin = 5;
    layer.verticalMargin = 3;
    layer.stampPosition = position;
    layer.horizontalOffset = -7;
    layer.verticalOffset = -4;
    layer.flags = flags;
    return layer;
}

struct HandleCloser {
    void operator()(OverlayHandle *handle) const noexcept { MK_ApplyOverlay_Close(handle); }
};
using Handle = std::unique_ptr<OverlayHandle, HandleCloser>;

Handle Render(OverlayLayer layer, int32_t width, int32_t height) {
    OverlayParams params{};
    params.layers = &layer;
    const int32_t size[2] = {width, height};
    OverlayHandle *handle = nullptr;
    MK_ApplyOverlay_Init(&params, size, &handle);
    return Handle(handle);
}

// StampPicture against the overlay rendered and blended into the whole
// decoded picture and handed to the writer.
void ExpectStampPictureMatches(const std::string &source, const TempDir &dir,
                               const std::string &what) {
    Decoded full;
    ASSERT_TRUE(Decode(source, &full)) << what;
    const int32_t size = std::max(6, std::min(full.width, full.height) / 12);
    const struct {
        uint8_t position;
        uint32_t flags;
    } cases[] = {
        {MK_POS_BOTTOM_RIGHT, FLAG_BACKGROUND},
        {MK_POS_BOTTOM_CENTER, FLAG_BACKGROUND | FLAG_FULL_WIDTH},
        {MK_POS_TOP_LEFT, FLAG_BACKGROUND | FLAG_ROUND_CORNERS},
        {MK_POS_TOP_RIGHT, 0},
    };
    for (const auto &c : cases) {
        const OverlayLayer layer = TextLayer("2011-07-04 18:30", size, c.position, c.flags);
        const Handle handle = Render(layer, full.width, full.height);
        const std::string reference = dir.file("reference.jpg");
        const std::string fast = dir.file("fast.jpg");
        std::filesystem::remove(reference);
        std::filesystem::remove(fast);
        const Outcome expected = StampByFullDecode(source, full, reference, handle.get(), true);
        char error[kErrorTextSize] = "";
        const int32_t code = batch::StampPicture(source.c_str(), fast.c_str(), layer, true, error);
        ASSERT_EQ(expected.code, 0) << what << ": " << expected.error;
        ASSERT_EQ(code, 0) << what << ": " << error;
        EXPECT_TRUE(ReadFile(fast) == expected.file)
            << what << ", position " << int{c.position} << ", flags " << c.flags;
    }
}

TEST(StampPicture, WritesTheBytesOfTheFullDecodeWithRenderedText) {
    TempDir dir;
    for (const MadePicture &made : MadePictures()) {
        if (made.spec.width < 40 || made.spec.height < 30 || RightEdgeUndefined(made.spec))
            continue;
        const std::string source = dir.file("source.jpg");
        WriteFile(source, MakeJpeg(made.spec));
        ExpectStampPictureMatches(source, dir, made.name);
    }
    for (const char *name :
         {"canon_eos20d_portrait_1x2.jpg", "minolta_dimage_ex_sampling_2x2_1x2.jpg",
          "nikon_d300_progressive.jpg", "gray_noexif.jpg"}) {
        const std::string source = dir.file("corpus.jpg");
        std::filesystem::remove(source);
        WriteFile(source, ReadFile(CorpusDir() / name));
        ExpectStampPictureMatches(source, dir, name);
    }
}

TEST(StampPicture, EmptyTextWritesNothing) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeJpeg(Spec(64, 48, 2, 2)));
    const std::string out = dir.file("out.jpg");
    char error[kErrorTextSize];
    const OverlayLayer layer = TextLayer("", 12, MK_POS_TOP_LEFT, FLAG_BACKGROUND);
    EXPECT_EQ(batch::StampPicture(source.c_str(), out.c_str(), layer, true, error),
              engine::kNothingPainted);
    EXPECT_FALSE(std::filesystem::exists(out));
}

// A progressive picture whose scans never refine the AC coefficients'
// lowest bit: the decoder smooths it across blocks.
Bytes MakeUnrefinedProgressive(int width, int height) {
    const Pixels pixels = PatternPixels(width, height);
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    static const jpeg_scan_info scans[] = {
        {3, {0, 1, 2, 0}, 0, 0, 0, 0},
        {1, {0, 0, 0, 0}, 1, 63, 0, 1},
        {1, {1, 0, 0, 0}, 1, 63, 0, 1},
        {1, {2, 0, 0, 0}, 1, 63, 0, 1},
    };
    info.scan_info = scans;
    info.num_scans = 4;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto row = const_cast<JSAMPROW>(pixels.data() +
                                        (static_cast<size_t>(height) - 1 - info.next_scanline) *
                                            static_cast<size_t>(width) * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

TEST(StampPicture, LeavesSmoothedProgressivePicturesToAFullDecode) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeUnrefinedProgressive(160, 120));
    MadeOverlay overlay;
    Fill(&overlay, {"bottom-right", -5, -5, 40, 12, MK_POS_BOTTOM_RIGHT, true}, 160);
    const std::string out = dir.file("out.jpg");
    EXPECT_EQ(StampByRegion(source, out, overlay.get(), true).code, engine::kNeedsFullDecode);
    EXPECT_FALSE(std::filesystem::exists(out));
    ExpectStampPictureMatches(source, dir, "unrefined progressive");
}

// What a stamp run in a child process gave: its code, or kCrashed when the
// child died, and its message.
constexpr int32_t kCrashed = 1000;
struct ChildOutcome {
    int32_t code = kCrashed;
    std::string error;
};

ChildOutcome RunInChild(const std::function<int32_t(char *error)> &work) {
    int channel[2];
    if (::pipe(channel) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(channel[0]);
        char error[kErrorTextSize] = "";
        const int32_t code = work(error);
        const bool sent = ::write(channel[1], &code, sizeof code) == sizeof code &&
                          ::write(channel[1], error, std::strlen(error)) >= 0;
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    ChildOutcome outcome;
    std::string received;
    char buffer[512];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        received.append(buffer, static_cast<size_t>(got));
    ::close(channel[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || received.size() < sizeof outcome.code)
        return outcome;
    std::memcpy(&outcome.code, received.data(), sizeof outcome.code);
    outcome.error = received.substr(sizeof outcome.code);
    return outcome;
}

Bytes WithQuantValue(Bytes jpeg, int table, int index, unsigned value) {
    EXPECT_TRUE(SetQuantValue(&jpeg, table, index, value)) << "table " << table;
    return jpeg;
}

// A progressive picture with a DQT segment before its second scan that
// gives table 0 another first step: the components of the first scan
// keep the table they started with, the slot holds the new one.
Bytes WithTableChangedBetweenScans() {
    JpegSpec spec = Spec(96, 64, 2, 2);
    spec.progressive = true;
    const Bytes jpeg = MakeJpeg(spec);
    Bytes table;
    for (const Segment &segment : ReadHeaderSegments(jpeg))
        if (segment.marker == 0xDB && !segment.data.empty() && segment.data[0] == 0x00)
            table.assign(segment.data.begin(), segment.data.begin() + 65);
    if (table.size() != 65) {
        ADD_FAILURE() << "no 8-bit table 0";
        return jpeg;
    }
    table[1] = static_cast<uint8_t>(table[1] + 1);
    Bytes dqt{0xFF, 0xDB, 0x00, 0x43};
    dqt.insert(dqt.end(), table.begin(), table.end());
    int scans = 0;
    for (const MarkerAt &marker : ListMarkers(jpeg))
        if (marker.code == 0xDA && ++scans == 2) {
            Bytes changed(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(marker.offset));
            changed.insert(changed.end(), dqt.begin(), dqt.end());
            changed.insert(changed.end(), jpeg.begin() + static_cast<ptrdiff_t>(marker.offset),
                           jpeg.end());
            return changed;
        }
    ADD_FAILURE() << "no second scan";
    return jpeg;
}

struct EncoderRefusal {
    const char *name;
    Bytes file;
    const char *message;
};

std::vector<EncoderRefusal> PicturesTheEncoderCannotTake() {
    const Bytes plain = MakeJpeg(Spec(96, 64, 2, 2));
    JpegSpec wide = Spec(96, 64, 2, 2);
    wide.quality = 3;
    wide.baseline = false;
    JpegSpec cmyk = Spec(96, 64, 1, 1);
    cmyk.colour = Colour::kCmyk;
    JpegSpec ycck = Spec(96, 64, 2, 2);
    ycck.colour = Colour::kYcck;
    JpegSpec two = Spec(96, 64, 1, 1);
    two.colour = Colour::kTwoComponents;
    // Each scan holds one component, so no scan's MCU has more than one
    // block; interleaved, the encoders would need 18.
    JpegSpec big = Spec(96, 64, 4, 4);
    big.scans = {Scan{{0}}, Scan{{1}}, Scan{{2}}};
    JpegSpec separate = Spec(96, 64, 2, 2);
    separate.scans = {Scan{{0}}, Scan{{1}}, Scan{{2}}};
    // Written from coefficients: the library's subsampling refuses ratios
    // that are not whole, its decoder reads the blocks all the same.
    JpegSpec fractional = Spec(96, 64, 1, 1);
    fractional.sampling = {{3, 1}, {2, 1}, {1, 1}};
    return {
        {"zero in the luma table", WithQuantValue(plain, 0, 5, 0),
         "quantization table 0 holds a zero value"},
        {"zero in the chroma table", WithQuantValue(plain, 1, 0, 0),
         "quantization table 1 holds a zero value"},
        {"8192 in a 16-bit table", WithQuantValue(MakeJpeg(wide), 0, 10, 8192),
         "quantization table 0 holds a value above 8191"},
        {"table changed between scans", WithTableChangedBetweenScans(),
         "quantization table 0 changes between scans"},
        {"CMYK", MakeJpeg(cmyk), "CMYK pictures are not supported"},
        {"YCCK", MakeJpeg(ycck), "YCCK pictures are not supported"},
        {"two components", MakeJpeg(two), "pictures of 2 components are not supported"},
        {"18 blocks per MCU", MakeJpeg(big), "sampling factors need 18 blocks per MCU"},
        {"a component without a scan", WithoutLastScan(MakeJpeg(separate)),
         "component 2 has no scan"},
        {"sampling ratios of 3 to 2", MakeFromCoefficients(fractional),
         "Unsupported sampling factors"},
        {"AC coefficient of 1500", WithCoefficient(plain, {0, 1, 9, 1}, 1500),
         "component 0 holds a coefficient the encoder cannot code: 1500"},
        {"DC coefficient of 3000", WithCoefficient(plain, {2, 2, 4, 0}, 3000),
         "component 2 holds a coefficient the encoder cannot code: 3000"},
    };
}

// Pictures the decoder reads but an encoder of the stamp cannot take (one
// divides by the quantisation steps, the coefficients must fit the
// Huffman codes): the stamp refuses them before any encoder starts, in a
// child process, as a crash would end the batch.
TEST(RegionStamp, PicturesTheEncoderCannotTakeAreRefusedBeforeAnythingIsWritten) {
    for (const EncoderRefusal &c : PicturesTheEncoderCannotTake()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ReadCoefficients(c.file).ok) << "the decoder must read it";
        TempDir dir;
        const std::string source = dir.file("source.jpg");
        const std::string out = dir.file("out.jpg");
        WriteFile(source, c.file);
        MadeOverlay overlay;
        Fill(&overlay, {"bottom-right", -5, -5, 40, 12, MK_POS_BOTTOM_RIGHT, true}, 96);
        const OverlayHandle *handle = overlay.get();
        for (const bool keepUndo : {true, false}) {
            const ChildOutcome region = RunInChild([&](char *error) {
                engine::RegionPainter painter;
                painter.paintedRect = [handle](int32_t width, int32_t height) {
                    return overlay::PaintedRect(handle, width, height);
                };
                painter.paint = [handle](uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h,
                                         int32_t width, int32_t height) {
                    overlay::BlendLayers(handle, overlay::PictureArea{area, x, y, w, h}, width,
                                         height);
                };
                return engine::StampRegion(source.c_str(), out.c_str(), painter, keepUndo ? 1 : 0,
                                           error);
            });
            EXPECT_EQ(region.code, engine::kUnsupported) << "region stamp: " << region.error;
            EXPECT_EQ(region.error, c.message);
            EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"source.jpg"});

            const ChildOutcome writer = RunInChild([&](char *error) {
                const Pixels pixels(96u * 64u * 4u, 0x80);
                return engine::WriteStampedJpeg(source.c_str(), out.c_str(), pixels.data(), 50, 2,
                                                90, 20, keepUndo ? 1 : 0, error);
            });
            EXPECT_EQ(writer.code, engine::kUnsupported) << "writer: " << writer.error;
            EXPECT_EQ(writer.error, c.message);
            EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"source.jpg"});
        }
    }
}

// The byte in "damaged at byte N: ..." or -1 when the text says none.
long long DamagedAt(const std::string &error) {
    const std::string prefix = "damaged at byte ";
    const size_t at = error.find(prefix);
    if (at == std::string::npos) return -1;
    return std::atoll(error.c_str() + at + prefix.size());
}

struct DamageCase {
    const char *name;
    Damage damage;
    bool progressive;
    const char *warning;  // how the library's warning begins
};

// Pictures whose data the decoder gets over with a warning: the
// coefficients it recovers are not the file's over a large area, so a
// stamp would write them as if they were and undo would refuse the
// result. The stamp refuses such a picture before anything is written and
// says where the damage is.
TEST(RegionStamp, DamagedPicturesAreRefusedBeforeAnythingIsWritten) {
    const DamageCase cases[] = {
        {"bytes before EOI", Damage::kBytesBeforeEoi, false,
         "Corrupt JPEG data: 1 extraneous bytes before marker 0xd9"},
        {"premature end of data segment", Damage::kEndOfSegment, false,
         "Corrupt JPEG data: premature end of data segment"},
        {"bad Huffman code", Damage::kBadHuffmanCode, false, "Corrupt JPEG data: bad Huffman code"},
        {"changed Huffman table", Damage::kHuffmanTable, false, "Corrupt JPEG data: "},
        {"missing restart marker", Damage::kMissingRestart, false, "Corrupt JPEG data: "},
        {"bad code in the last progressive scan", Damage::kLastScan, true,
         "Corrupt JPEG data: bad Huffman code"},
    };
    for (const DamageCase &c : cases) {
        SCOPED_TRACE(c.name);
        JpegSpec spec = Spec(160, 120, 2, 2);
        spec.restartInterval = c.progressive ? 0 : 2;
        spec.progressive = c.progressive;
        const Damaged damaged = WithDamage(MakeJpeg(spec), c.damage);
        TempDir dir;
        const std::string source = dir.file("source.jpg");
        const std::string out = dir.file("out.jpg");
        WriteFile(source, damaged.file);
        MadeOverlay overlay;
        Fill(&overlay, {"bottom-right", -5, -5, 50, 14, MK_POS_BOTTOM_RIGHT, true}, 160);
        const Pixels pixels(160u * 120u * 4u, 0x80);
        const auto expectRefused = [&](const Outcome &got, const char *path) {
            SCOPED_TRACE(path);
            EXPECT_EQ(got.code, engine::kDamaged) << got.error;
            EXPECT_EQ(got.error.rfind("damaged at byte ", 0), 0u) << got.error;
            EXPECT_NE(got.error.find(std::string(": ") + c.warning), std::string::npos)
                << got.error;
            // The decoder reports from the start of the MCU it was in.
            const long long at = DamagedAt(got.error);
            EXPECT_GE(at + 256, static_cast<long long>(damaged.at)) << got.error;
            EXPECT_LE(at, static_cast<long long>(damaged.file.size())) << got.error;
            EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"source.jpg"});
        };
        for (const bool keepUndo : {true, false}) {
            expectRefused(StampByRegion(source, out, overlay.get(), keepUndo), "region stamp");
            Outcome writer;
            char error[kErrorTextSize] = "";
            writer.code = engine::WriteStampedJpeg(source.c_str(), out.c_str(), pixels.data(), 100,
                                                   2, 150, 20, keepUndo ? 1 : 0, error);
            writer.error = error;
            expectRefused(writer, "writer");
        }
    }
}

// A stamp over an earlier stamp takes that one off in memory first: a
// damaged picture or a damaged stream of former blocks is refused there
// as undo refuses it, and nothing is written.
TEST(RegionStamp, RestampRefusesDamagedPicturesAndStreams) {
    TempDir dir;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeJpeg(Spec(160, 120, 2, 2)));
    MadeOverlay overlay;
    Fill(&overlay, {"bottom-right", -5, -5, 50, 14, MK_POS_BOTTOM_RIGHT, true}, 160);
    const Outcome first = StampByRegion(source, dir.file("stamped.jpg"), overlay.get(), true);
    ASSERT_EQ(first.code, 0) << first.error;
    const Bytes stamped = first.file;
    const Bytes damagedStream = WithReverseMarkerStream(
        stamped, WithDamage(ReverseMarkerStream(stamped), Damage::kBytesBeforeEoi).file);
    const struct {
        const char *name;
        Bytes file;
        const char *prefix;
    } cases[] = {
        {"damaged picture", WithDamage(stamped, Damage::kBytesBeforeEoi).file, "damaged at byte "},
        {"damaged stream of former blocks", damagedStream,
         "reverse marker's stream damaged at byte "},
    };
    const OverlayHandle *handle = overlay.get();
    engine::RegionPainter painter;
    painter.paintedRect = [handle](int32_t width, int32_t height) {
        return overlay::PaintedRect(handle, width, height);
    };
    painter.paint = [handle](uint8_t *area, int32_t x, int32_t y, int32_t w, int32_t h,
                             int32_t width, int32_t height) {
        overlay::BlendLayers(handle, overlay::PictureArea{area, x, y, w, h}, width, height);
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string restamped = dir.file("restamped.jpg");
        WriteFile(restamped, c.file);
        for (const std::string &out : {dir.file("out.jpg"), restamped}) {
            char error[kErrorTextSize] = "";
            EXPECT_EQ(engine::StampRegion(restamped.c_str(), out.c_str(), painter, 1, error,
                                          nullptr, {}, true),
                      engine::kDamaged)
                << error;
            EXPECT_EQ(std::string(error).rfind(c.prefix, 0), 0u) << error;
            EXPECT_TRUE(ReadFile(restamped) == c.file);
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.jpg")));
        }
    }
}

// Pictures the library itself refuses to read (12-bit samples, a height
// left to a DNL marker, more than four components, of which its decoder
// finds only the first four in a scan): refused before anything is
// written.
TEST(RegionStamp, PicturesTheLibraryCannotReadLeaveNothingBehind) {
    const Bytes plain = MakeJpeg(Spec(96, 64, 2, 2));
    size_t frame = 0;
    for (const MarkerAt &marker : ListMarkers(plain))
        if (marker.code == 0xC0) frame = marker.offset;
    ASSERT_NE(frame, 0u);
    Bytes twelveBits = plain;
    twelveBits[frame + 4] = 12;
    Bytes dnl = plain;
    dnl[frame + 5] = dnl[frame + 6] = 0;
    JpegSpec five = Spec(96, 64, 1, 1);
    five.sampling = {{1, 1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}};
    five.scans = {Scan{{0}}, Scan{{1}}, Scan{{2}}, Scan{{3}}, Scan{{4}}};
    const struct {
        const char *name;
        Bytes file;
        const char *message;
    } cases[] = {
        {"12-bit samples", twelveBits, "Unsupported JPEG data precision 12"},
        {"height left to DNL", dnl, "Empty JPEG image (DNL not supported)"},
        {"five components", MakeFromCoefficients(five), "Invalid component ID 4 in SOS"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string source = dir.file("source.jpg");
        WriteFile(source, c.file);
        MadeOverlay overlay;
        Fill(&overlay, {"bottom-right", -5, -5, 40, 12, MK_POS_BOTTOM_RIGHT, true}, 96);
        const Outcome region = StampByRegion(source, dir.file("out.jpg"), overlay.get(), true);
        EXPECT_EQ(region.code, engine::kLibraryFailed);
        EXPECT_EQ(region.error, c.message);
        const Pixels pixels(96u * 64u * 4u, 0x80);
        char error[kErrorTextSize] = "";
        EXPECT_EQ(engine::WriteStampedJpeg(source.c_str(), dir.file("out.jpg").c_str(),
                                           pixels.data(), 50, 2, 90, 20, 1, error),
                  engine::kLibraryFailed);
        EXPECT_STREQ(error, c.message);
        EXPECT_EQ(engine::UndoStampedJpeg(source.c_str(), dir.file("out.jpg").c_str(), error),
                  engine::kLibraryFailed);
        EXPECT_EQ(FolderContents(dir.path()), std::vector<std::string>{"source.jpg"});
    }
}

// A stamped picture made progressive, whose reverse marker another program
// moved behind the first scan, where the probe does not look: the picture counts
// as unstamped, but the library still hands the marker's segment over
// with the others. Stamped with undo data, the old marker would stand
// before the new one and undo would take it for the new one's. The stamp
// refuses; without undo data it stamps (the old marker no longer fits the
// picture, and undo refuses it as changed).
TEST(RegionStamp, AReverseMarkerBehindTheFirstScanIsNotCopiedBeforeANewOne) {
    TempDir dir;
    JpegSpec spec = Spec(120, 80, 2, 2);
    spec.progressive = true;
    const std::string source = dir.file("source.jpg");
    WriteFile(source, MakeJpeg(spec));
    MadeOverlay overlay;
    Fill(&overlay, {"top-left", 0, 0, 30, 12, MK_POS_TOP_LEFT, true}, 120);
    const Outcome first = StampByRegion(source, dir.file("stamped.jpg"), overlay.get(), true);
    ASSERT_EQ(first.code, 0) << first.error;
    // Made progressive again, every segment kept (the coefficients and so
    // the marker's CRCs stay), then the marker's segment taken out of the
    // header and put before the second scan.
    const std::string progressive = dir.file("progressive.jpg");
    const std::string command = "jpegtran -copy all -progressive -outfile '" + progressive + "' '" +
                                dir.file("stamped.jpg") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Bytes moved = ReadFile(progressive);
    size_t markerAt = 0, markerLength = 0, secondScan = 0;
    int scans = 0;
    for (const MarkerAt &marker : ListMarkers(moved)) {
        if (marker.code == 0xE7 && markerAt == 0) {
            markerAt = marker.offset;
            markerLength =
                2 + (static_cast<size_t>(moved[marker.offset + 2]) << 8 | moved[marker.offset + 3]);
        }
        if (marker.code == 0xDA && ++scans == 2) secondScan = marker.offset;
    }
    ASSERT_NE(markerAt, 0u);
    ASSERT_NE(secondScan, 0u);
    const Bytes segment(moved.begin() + static_cast<ptrdiff_t>(markerAt),
                        moved.begin() + static_cast<ptrdiff_t>(markerAt + markerLength));
    moved.insert(moved.begin() + static_cast<ptrdiff_t>(secondScan), segment.begin(),
                 segment.end());
    moved.erase(moved.begin() + static_cast<ptrdiff_t>(markerAt),
                moved.begin() + static_cast<ptrdiff_t>(markerAt + markerLength));
    const std::string hidden = dir.file("hidden.jpg");
    WriteFile(hidden, moved);
    ASSERT_EQ(engine::ProbeReverseMarker(hidden.c_str(), nullptr), engine::kNoReverseMarker);

    Fill(&overlay, {"bottom-right", -5, -5, 30, 12, MK_POS_BOTTOM_RIGHT, true}, 120);
    const std::string out = dir.file("out.jpg");
    const Outcome region = StampByRegion(hidden, out, overlay.get(), true);
    EXPECT_EQ(region.code, engine::kUnsupported) << region.error;
    EXPECT_EQ(region.error, "the picture already holds a reverse marker");
    EXPECT_FALSE(std::filesystem::exists(out));
    Decoded full;
    ASSERT_TRUE(Decode(hidden, &full));
    const Outcome writer = StampByFullDecode(hidden, full, out, overlay.get(), true);
    EXPECT_EQ(writer.code, engine::kUnsupported) << writer.error;
    EXPECT_FALSE(std::filesystem::exists(out));

    const Outcome plain = StampByRegion(hidden, out, overlay.get(), false);
    ASSERT_EQ(plain.code, 0) << plain.error;
    char error[kErrorTextSize];
    EXPECT_EQ(engine::UndoStampedJpeg(out.c_str(), dir.file("undone.jpg").c_str(), error),
              engine::kPictureChanged)
        << error;
}

// True when a call of `function` creates no argument with a destructor.
template <typename Result, typename... Arguments>
constexpr bool TakesNothingWithADestructor(Result (*)(Arguments...)) {
    return (std::is_trivially_destructible_v<std::remove_cvref_t<Arguments>> && ...);
}

// The steps of a stamp and of an undo run while recovery points are armed:
// a library failure inside one of them jumps out over its frame and its
// caller's, so no argument they take may have a destructor to skip (the
// gate that holds the encoder back is a function and its context).
TEST(RecoveryPoints, StepsTakeNoArgumentWithADestructor) {
    static_assert(TakesNothingWithADestructor(&engine::ReadSourceHeader));
    static_assert(TakesNothingWithADestructor(&engine::PlanStamp));
    static_assert(TakesNothingWithADestructor(&engine::CheckSource));
    static_assert(TakesNothingWithADestructor(&engine::SaveFormerBlocks));
    static_assert(TakesNothingWithADestructor(&engine::EncodeCrop));
    static_assert(TakesNothingWithADestructor(&engine::StartCropEncoder));
    static_assert(TakesNothingWithADestructor(&engine::WriteCropRow));
    static_assert(TakesNothingWithADestructor(&engine::FinishCropEncoder));
    static_assert(TakesNothingWithADestructor(&engine::ReadNewBlocks));
    static_assert(TakesNothingWithADestructor(&engine::PlaceCropBlocks));
    static_assert(TakesNothingWithADestructor(&engine::StartDestination));
    static_assert(TakesNothingWithADestructor(&engine::FinishDestination));
    static_assert(TakesNothingWithADestructor(&engine::WriteDestination));
    static_assert(TakesNothingWithADestructor(&engine::RestoreFormerBlocks));
    static_assert(TakesNothingWithADestructor(&engine::CheckStampable));
    static_assert(TakesNothingWithADestructor(&engine::CheckTranscodable));
    static_assert(std::is_trivially_destructible_v<engine::CrcWhileWriting::Gate>);
    SUCCEED();
}

}  // namespace
}  // namespace mk::test
