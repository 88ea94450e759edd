// End-to-end tests of stamping and undoing through MK_ProcessFiles, on
// copies of real camera pictures.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "batch/fast_stamp.h"
#include "batch/operations.h"
#include "jpeg_maker.h"
#include "overlay/overlay.h"
#include "platform/files.h"
#include "test_support.h"

using mk::test::Bytes;
using mk::test::CorpusDir;
using mk::test::MakeList;
using mk::test::ReadFile;
using mk::test::TempDir;

namespace {

int32_t KeepResult(const char *, int32_t result, void *userData) {
    *static_cast<int32_t *>(userData) = result;
    return 0;
}

// Runs one operation on one file through the batch entry; returns its result.
int32_t Process(int32_t operation, const std::string &source, const std::string &destination,
                const Setts &settings) {
    const std::string sources = MakeList({source});
    const std::string destinations = MakeList({destination});
    int32_t result = 12345;
    MK_ProcessFiles(nullptr, sources.c_str(), destinations.c_str(), operation, 0, &settings,
                    KeepResult, &result);
    return result;
}

struct MarkerHeader {
    int segments = 0;  // APP7 segments carrying the identifier
    int firsts = 0;    // of them, those with segmentIndex 0
    int32_t rectLeft = 0, rectLowRow = 0, rectRight = 0, rectHighRow = 0;
};

int32_t Le32(const uint8_t *p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

// The reverse marker's headers among the segments before the first SOS.
MarkerHeader ReadMarker(const std::string &path) {
    MarkerHeader header;
    for (const auto &segment : mk::test::ReadHeaderSegments(ReadFile(path))) {
        const uint8_t *payload = segment.data.data();
        if (segment.marker != 0xE7 || segment.data.size() < 52 ||
            std::memcmp(payload, "TovuMirelkanzoar", 16) != 0)
            continue;
        ++header.segments;
        if (Le32(payload + 32) == 0) {
            ++header.firsts;
            header.rectLeft = Le32(payload + 36);
            header.rectLowRow = Le32(payload + 40);
            header.rectRight = Le32(payload + 44);
            header.rectHighRow = Le32(payload + 48);
        }
    }
    return header;
}

mk::test::CoefficientImage Coefficients(const std::string &path) {
    auto image = mk::test::ReadCoefficients(ReadFile(path));
    EXPECT_TRUE(image.ok) << path << ": " << image.error;
    return image;
}

// Number of blocks that differ between two pictures outside a pixel
// rectangle (rows from the top, edges included), over all components.
int DifferingBlocksOutside(const mk::test::CoefficientImage &a, const mk::test::CoefficientImage &b,
                           int left, int top, int right, int bottom) {
    int maxH = 1, maxV = 1;
    for (const auto &c : a.components) maxH = std::max(maxH, c.h), maxV = std::max(maxV, c.v);
    int differing = 0;
    for (size_t ci = 0; ci < a.components.size(); ++ci) {
        const auto &ca = a.components[ci];
        const auto &cb = b.components[ci];
        const int fh = maxH / ca.h, fv = maxV / ca.v;
        for (unsigned row = 0; row < ca.heightInBlocks; ++row)
            for (unsigned col = 0; col < ca.widthInBlocks; ++col) {
                const int x0 = int(col) * 8 * fh, y0 = int(row) * 8 * fv;
                const bool inside =
                    x0 + 8 * fh > left && x0 <= right && y0 + 8 * fv > top && y0 <= bottom;
                if (!inside && std::memcmp(ca.Block(row, col), cb.Block(row, col), 128) != 0)
                    ++differing;
            }
    }
    return differing;
}

bool SameCoefficients(const mk::test::CoefficientImage &a, const mk::test::CoefficientImage &b) {
    if (a.components.size() != b.components.size()) return false;
    for (size_t ci = 0; ci < a.components.size(); ++ci)
        if (a.components[ci].coefficients != b.components[ci].coefficients) return false;
    return true;
}

class Operations : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        MK_SettsLoadDefaults(&settings_);
    }
    std::string Copy(const char *corpusName, const std::string &as = "") {
        const std::string to = dir_.file(as.empty() ? corpusName : as);
        std::filesystem::copy_file(CorpusDir() / corpusName, to);
        // The fixtures are read-only; a copy is an ordinary writable file.
        std::filesystem::permissions(to, std::filesystem::perms(0644));
        return to;
    }
    // A lossless crop (and turn) of a corpus picture, made by jpegtran.
    std::string Transformed(const char *corpusName, const std::string &options,
                            const std::string &as) {
        const std::string to = dir_.file(as);
        const std::string command = "jpegtran -copy all " + options + " -outfile '" + to + "' '" +
                                    (CorpusDir() / corpusName).string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return to;
    }
    TempDir dir_;
    Setts settings_{};
};

// With the default settings a 4000 x 3000 picture, and the same picture
// turned, gets a 150-pixel text cell, offsets -80 and -45 and margins 20 and
// 15; the stamp then ends 80 pixels from the right and 45 from the bottom.
TEST_F(Operations, DefaultGeometryOnLandscapeAndPortrait) {
    const auto landscape =
        Transformed("samsung_sm-g935l_12mp_trailer.jpg", "-crop 4000x3000+0+0", "l.jpg");
    const std::string portrait = dir_.file("p.jpg");
    const std::string turn =
        "jpegtran -copy all -rotate 90 -outfile '" + portrait + "' '" + landscape + "'";
    ASSERT_EQ(std::system(turn.c_str()), 0);
    struct Case {
        std::string path;
        int32_t width, height;
    };
    for (const auto &c : {Case{landscape, 4000, 3000}, Case{portrait, 3000, 4000}}) {
        int32_t w = 0, h = 0;
        ASSERT_EQ(MK_ReadJPEG(c.path.c_str(), nullptr, &w, &h), 0);
        ASSERT_EQ(w, c.width);
        ASSERT_EQ(h, c.height);
        OverlayLayer layer{};
        mk::batch::FillStampLayer(layer, c.path.c_str(), settings_, w, h);
        EXPECT_EQ(layer.fontSize, 150);
        EXPECT_EQ(layer.horizontalOffset, -80);
        EXPECT_EQ(layer.verticalOffset, -45);
        EXPECT_EQ(layer.horizontalMargin, 20);
        EXPECT_EQ(layer.verticalMargin, 15);
        EXPECT_STREQ(layer.text, "2017-02-09");
        EXPECT_STREQ(layer.fontFace, "Arial");
        EXPECT_EQ(layer.kind, 1);

        ASSERT_EQ(Process(OP_STAMP, c.path, c.path, settings_), 0) << c.path;
        const MarkerHeader m = ReadMarker(c.path);
        EXPECT_EQ(m.firsts, 1);
        EXPECT_EQ(m.rectRight, c.width - 80);
        EXPECT_EQ(m.rectLowRow, c.height - 1 - (c.height - 45));
        // The box is the fitted text cell (150 pixels where the font can
        // reach it) and two margins of 15.
        const int32_t boxHeight = m.rectHighRow - m.rectLowRow;
        EXPECT_GE(boxHeight, 178);
        EXPECT_LE(boxHeight, 182);
        EXPECT_LT(m.rectLeft, c.width - 80 - 2 * 20);
    }
}

TEST_F(Operations, PixelUnitsAreUsedAsTheyStand) {
    const auto path = Copy("canon_ixus_v2_trailing.jpg");  // 1600 x 1200
    settings_.flags |= FLAG_PIXEL_UNITS;
    settings_.fontSize = 60;
    settings_.horizontalOffset = -20;
    settings_.verticalOffset = -15;
    settings_.horizontalMargin = 5;
    settings_.verticalMargin = 7;
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    const MarkerHeader m = ReadMarker(path);
    EXPECT_EQ(m.rectRight, 1600 - 20);
    EXPECT_EQ(m.rectLowRow, 1199 - (1200 - 15));
    EXPECT_EQ(m.rectHighRow, 1199 - (1200 - 15 - 60 - 14));
}

TEST_F(Operations, ReadOnlyDestinations) {
    const auto path = Copy("kodak_dc210_mm_com.jpg");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const Bytes before = ReadFile(path);
    settings_.flags &= ~FLAG_ALLOW_READONLY;
    // Root may write anyway; the permission bits are what counts.
    EXPECT_EQ(Process(OP_STAMP, path, path, settings_), -1);
    EXPECT_EQ(ReadFile(path), before);

    settings_.flags |= FLAG_ALLOW_READONLY;
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(ReadMarker(path).firsts, 1);

    // Undo of a stamped read-only file is refused without the flag; the
    // probe comes first, so an unstamped one reports -10.
    settings_.flags &= ~FLAG_ALLOW_READONLY;
    EXPECT_EQ(Process(OP_UNDO, path, path, settings_), -1);
    const auto plain = Copy("nikon_e950_444_dri.jpg");
    ASSERT_EQ(chmod(plain.c_str(), 0444), 0);
    EXPECT_EQ(Process(OP_UNDO, plain, plain, settings_), -10);
    settings_.flags |= FLAG_ALLOW_READONLY;
    EXPECT_EQ(Process(OP_UNDO, path, path, settings_), 0);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(ReadMarker(path).segments, 0);
}

TEST_F(Operations, RestampingLeavesOneStampOverTheOriginalPicture) {
    const auto original = Copy("sony_cybershot_app1_before_app0.jpg", "original.jpg");
    const auto path = Copy("sony_cybershot_app1_before_app0.jpg");
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    // The second stamp goes elsewhere, so the first one's area must have been
    // restored.
    settings_.stampPosition = MK_POS_TOP_LEFT;
    settings_.horizontalOffset = 100;
    settings_.verticalOffset = 100;
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    const MarkerHeader m = ReadMarker(path);
    EXPECT_EQ(m.firsts, 1);
    int32_t w = 0, h = 0;
    ASSERT_EQ(MK_ReadJPEG(path.c_str(), nullptr, &w, &h), 0);
    const auto before = Coefficients(original);
    const auto after = Coefficients(path);
    EXPECT_EQ(DifferingBlocksOutside(before, after, m.rectLeft, h - 1 - m.rectHighRow, m.rectRight,
                                     h - 1 - m.rectLowRow),
              0);
    EXPECT_GT(DifferingBlocksOutside(before, after, 0, 0, -1, -1), 0);
    ASSERT_EQ(Process(OP_UNDO, path, path, settings_), 0);
    EXPECT_TRUE(SameCoefficients(Coefficients(path), before));

    // Without FLAG_RESTAMP a stamped picture is refused and left alone.
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    const Bytes stamped = ReadFile(path);
    settings_.flags &= ~FLAG_RESTAMP;
    EXPECT_EQ(Process(OP_STAMP, path, path, settings_), -1);
    EXPECT_EQ(ReadFile(path), stamped);
}

// A stamp over a stamp takes the earlier one off in memory and writes the
// file once: the very file that taking the stamp off into a copy and
// stamping that copy gives, for pictures of every kind of sampling, with
// restart intervals, odd sizes, progressive sources and no EXIF date.
TEST_F(Operations, RestampingInOnePassWritesWhatUndoThenStampWrites) {
    const char *names[] = {"canon_eos450d_12mp.jpg",
                           "apple_iphone6plus_portrait_dri.jpg",
                           "canon_eos20d_portrait_1x2.jpg",
                           "nikon_e950_444_dri.jpg",
                           "minolta_dimage_ex_sampling_2x2_1x2.jpg",
                           "sony_cybershot_oddsize_rot90.jpg",
                           "panasonic_dmc-lc70_progressive_444.jpg",
                           "samsung_sm-g930f_dateonly.jpg",
                           "gray_noexif.jpg"};
    // The date of a picture without one comes from its modification time,
    // which the copy below is given too.
    settings_.flags &= ~FLAG_FILETIME_CREATED;
    Setts again = settings_;
    again.stampPosition = MK_POS_TOP_LEFT;
    again.fontColor = 0x2080FF;
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const std::string stamped = Copy(name, std::string("stamped_") + name);
        ASSERT_EQ(Process(OP_STAMP, stamped, stamped, settings_), 0);
        ASSERT_EQ(ReadMarker(stamped).firsts, 1);

        // One pass: the destination is written once, so it is not there
        // yet when only its flush is left (two steps would have put the
        // restored picture there first).
        const std::string once = dir_.file(std::string("once_") + name);
        int flushes = 0;
        bool there = true;
        ASSERT_EQ(mk::batch::StampFile(stamped.c_str(), once.c_str(), &again, nullptr,
                                       [&] {
                                           ++flushes;
                                           there = std::filesystem::exists(once);
                                       }),
                  0);
        EXPECT_EQ(flushes, 1);
        EXPECT_FALSE(there);

        const std::string restored = dir_.file(std::string("restored_") + name);
        ASSERT_EQ(Process(OP_UNDO, stamped, restored, again), 0);
        const auto time = mk::platform::ModificationTime(stamped.c_str());
        ASSERT_TRUE(time);
        ASSERT_TRUE(mk::platform::SetModificationTime(restored.c_str(), *time));
        const std::string twice = dir_.file(std::string("twice_") + name);
        ASSERT_EQ(Process(OP_STAMP, restored, twice, again), 0);
        EXPECT_EQ(ReadFile(once), ReadFile(twice));
        EXPECT_EQ(ReadMarker(once).firsts, 1);
    }
}

// A re-stamp that fails leaves the file as it was: with a stamp that paints
// nothing, the earlier stamp and its undo data stay; a stamped picture edited
// since is refused and left alone.
TEST_F(Operations, FailedRestampLeavesTheFileAsItWas) {
    const auto original = Copy("casio_ex-z3_mm.jpg", "original.jpg");
    const auto path = Copy("casio_ex-z3_mm.jpg");
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    const Bytes stamped = ReadFile(path);
    for (const bool emptyText : {true, false}) {
        SCOPED_TRACE(emptyText ? "empty text" : "font size 0.01 %");
        Setts nothing = settings_;
        if (emptyText)
            nothing.datePicture[0] = '\0';
        else
            nothing.fontSize = 1;
        EXPECT_EQ(Process(OP_STAMP, path, path, nothing), -1);
        EXPECT_EQ(ReadFile(path), stamped);
    }
    // The earlier stamp can still be taken off.
    ASSERT_EQ(Process(OP_UNDO, path, path, settings_), 0);
    EXPECT_TRUE(SameCoefficients(Coefficients(path), Coefficients(original)));

    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    Bytes edited = ReadFile(path);
    edited[edited.size() - 100] ^= 0x10;
    mk::test::WriteFile(path, edited);
    EXPECT_EQ(Process(OP_STAMP, path, path, settings_), -1);
    EXPECT_EQ(ReadFile(path), edited);
}

TEST_F(Operations, NoReverseMarkerWithoutTheFlag) {
    const auto path = Copy("casio_ex-z3_mm.jpg");
    settings_.flags &= ~FLAG_REVERSE_MARKER;
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    EXPECT_EQ(ReadMarker(path).segments, 0);
    const Bytes stamped = ReadFile(path);
    EXPECT_EQ(Process(OP_UNDO, path, path, settings_), -10);
    EXPECT_EQ(ReadFile(path), stamped);
}

TEST_F(Operations, UndoOfAnUnstampedFileCreatesNothing) {
    const auto path = Copy("fujifilm_mx1200_dri.jpg");
    const std::string destination = dir_.file("restored.jpg");
    EXPECT_EQ(Process(OP_UNDO, path, destination, settings_), -10);
    EXPECT_FALSE(std::filesystem::exists(destination));
}

TEST_F(Operations, StampToACopyLeavesTheSourceAndUndoesBack) {
    const auto path = Copy("canon_eos450d_12mp.jpg");
    const Bytes source = ReadFile(path);
    const std::string copy = dir_.file("stamp_canon.jpg");
    ASSERT_EQ(Process(OP_STAMP, path, copy, settings_), 0);
    EXPECT_EQ(ReadFile(path), source);
    const std::string restored = dir_.file("restored.jpg");
    ASSERT_EQ(Process(OP_UNDO, copy, restored, settings_), 0);
    EXPECT_TRUE(SameCoefficients(Coefficients(restored), Coefficients(path)));
}

// The stamps of a batch share one font catalogue and may run on several
// workers at once; each file comes out as a stamp of it on its own would.
TEST_F(Operations, ABatchStampsEachFileAsAStampOfItAloneWould) {
    const char *names[] = {"canon_eos450d_12mp.jpg", "nikon_e950_444_dri.jpg",
                           "canon_eos450d_12mp.jpg", "nikon_e950_444_dri.jpg"};
    std::vector<std::string> sources, batched;
    for (size_t i = 0; i < std::size(names); ++i) {
        sources.push_back(Copy(names[i], "in" + std::to_string(i) + ".jpg"));
        batched.push_back(dir_.file("batch" + std::to_string(i) + ".jpg"));
    }
    const std::string sourceList = MakeList(sources);
    const std::string destinationList = MakeList(batched);
    int32_t failures = 0;
    MK_ProcessFiles(
        nullptr, sourceList.c_str(), destinationList.c_str(), OP_STAMP, 0, &settings_,
        [](const char *, int32_t result, void *userData) {
            *static_cast<int32_t *>(userData) += result != 0;
            return 0;
        },
        &failures);
    EXPECT_EQ(failures, 0);
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::string alone = dir_.file("alone" + std::to_string(i) + ".jpg");
        ASSERT_EQ(Process(OP_STAMP, sources[i], alone, settings_), 0);
        EXPECT_EQ(ReadFile(batched[i]), ReadFile(alone)) << names[i];
    }
}

// The bitmaps and placement of two overlays' layers are the same.
bool SameOverlay(const OverlayHandle &a, const OverlayHandle &b) {
    if (a.layerCount != b.layerCount) return false;
    auto same = [](const uint8_t *p, int32_t pw, int32_t ph, const uint8_t *q, int32_t qw,
                   int32_t qh) {
        if (pw != qw || ph != qh || (p == nullptr) != (q == nullptr)) return false;
        return p == nullptr || std::memcmp(p, q, size_t(pw) * size_t(ph) * 4) == 0;
    };
    for (int32_t i = 0; i < a.layerCount; ++i) {
        const RenderedLayer &x = a.entries[i], &y = b.entries[i];
        if (x.x != y.x || x.y != y.y || x.position != y.position || x.boxX != y.boxX ||
            x.boxY != y.boxY ||
            !same(x.textPixels, x.textWidth, x.textHeight, y.textPixels, y.textWidth,
                  y.textHeight) ||
            !same(x.boxPixels, x.boxWidth, x.boxHeight, y.boxPixels, y.boxWidth, y.boxHeight))
            return false;
    }
    return true;
}

// A batch renders an overlay once for each layer and picture size among its
// latest pictures, and every other change of the layer gives an overlay of
// its own, the one a rendering of its own gives.
TEST_F(Operations, ABatchRendersEachLayerAndSizeOnce) {
    const auto path = Copy("canon_eos450d_12mp.jpg");
    settings_.flags |= FLAG_BACKGROUND;
    OverlayLayer layer{};
    mk::batch::FillStampLayer(layer, path.c_str(), settings_, 1200, 800);
    ASSERT_NE(layer.text[0], '\0');
    mk::batch::BatchResources batch(1);
    mk::batch::SharedOverlay first = batch.Overlay(layer, 1200, 800);
    ASSERT_TRUE(first);
    EXPECT_EQ(batch.Overlay(layer, 1200, 800).get(), first.get());
    // The links are not part of the layer.
    OverlayLayer linked = layer, other = layer;
    linked.next = &other;
    EXPECT_EQ(batch.Overlay(linked, 1200, 800).get(), first.get());

    struct Change {
        const char *what;
        std::function<void(OverlayLayer &, int32_t &, int32_t &)> apply;
    };
    const Change changes[] = {
        {"text", [](OverlayLayer &l, int32_t &, int32_t &) { l.text[1] ^= 1; }},
        {"font size", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontSize += 3; }},
        {"font face",
         [](OverlayLayer &l, int32_t &, int32_t &) { std::strcpy(l.fontFace, "Courier New"); }},
        {"weight", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontWeight = 700; }},
        {"italic", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontItalic ^= 1; }},
        {"character set", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontCharSet = 204; }},
        {"quality", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontQuality ^= 4; }},
        {"colour", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontColor ^= 0x10203; }},
        {"box opacity", [](OverlayLayer &l, int32_t &, int32_t &) { l.backgroundOpacity ^= 8; }},
        {"margin", [](OverlayLayer &l, int32_t &, int32_t &) { l.horizontalMargin += 2; }},
        {"margin below", [](OverlayLayer &l, int32_t &, int32_t &) { l.verticalMargin += 2; }},
        {"box colour", [](OverlayLayer &l, int32_t &, int32_t &) { l.backgroundColor ^= 0x40; }},
        {"opacity", [](OverlayLayer &l, int32_t &, int32_t &) { l.fontOpacity ^= 16; }},
        {"position", [](OverlayLayer &l, int32_t &, int32_t &) { l.stampPosition ^= 1; }},
        {"offset", [](OverlayLayer &l, int32_t &, int32_t &) { l.horizontalOffset -= 7; }},
        {"offset down", [](OverlayLayer &l, int32_t &, int32_t &) { l.verticalOffset -= 7; }},
        {"flags", [](OverlayLayer &l, int32_t &, int32_t &) { l.flags ^= FLAG_FULL_WIDTH; }},
        {"width", [](OverlayLayer &, int32_t &w, int32_t &) { w += 16; }},
        {"height", [](OverlayLayer &, int32_t &, int32_t &h) { h += 16; }},
    };
    for (const Change &change : changes) {
        // The unchanged layer's overlay is the latest kept.
        const mk::batch::SharedOverlay base = batch.Overlay(layer, 1200, 800);
        OverlayLayer changed = layer;
        int32_t width = 1200, height = 800;
        change.apply(changed, width, height);
        const mk::batch::SharedOverlay overlay = batch.Overlay(changed, width, height);
        ASSERT_TRUE(overlay) << change.what;
        EXPECT_NE(overlay.get(), base.get()) << change.what;
        OverlayParams params{};
        params.layers = &changed;
        const int32_t size[2] = {width, height};
        OverlayHandle *alone = mk::overlay::RenderOverlay(params, size, batch.Fonts());
        ASSERT_NE(alone, nullptr);
        EXPECT_TRUE(SameOverlay(*overlay, *alone)) << change.what;
        MK_ApplyOverlay_Close(alone);
    }
    // Only the latest few are kept: an overlay no picture uses any more
    // stays while later ones have not taken its place.
    const std::weak_ptr<const OverlayHandle> firstKept = first;
    first.reset();
    EXPECT_FALSE(firstKept.expired());
    for (int i = 0; i < 8; ++i) {
        OverlayLayer filler = layer;
        filler.horizontalOffset = static_cast<int16_t>(-100 - i);
        EXPECT_TRUE(batch.Overlay(filler, 1200, 800));
    }
    EXPECT_TRUE(firstKept.expired());
    const std::weak_ptr<const OverlayHandle> latestKept = batch.Overlay(layer, 1200, 800);
    EXPECT_FALSE(latestKept.expired());
}

// Workers asking at once for the same and for other overlays get each the
// overlay of its own layer.
TEST_F(Operations, ABatchHandsOverlaysToSeveralWorkersAtOnce) {
    const auto path = Copy("canon_eos450d_12mp.jpg");
    OverlayLayer layers[3]{};
    for (int i = 0; i < 3; ++i)
        mk::batch::FillStampLayer(layers[i], path.c_str(), settings_, 900 + 100 * i, 600);
    mk::batch::BatchResources batch(4);
    std::vector<mk::batch::SharedOverlay> got(12);
    std::vector<std::thread> workers;
    for (size_t w = 0; w < got.size(); ++w)
        workers.emplace_back(
            [&, w] { got[w] = batch.Overlay(layers[w % 3], 900 + 100 * (w % 3), 600); });
    for (std::thread &t : workers) t.join();
    for (size_t w = 0; w < got.size(); ++w) {
        ASSERT_TRUE(got[w]);
        EXPECT_TRUE(SameOverlay(*got[w], *got[w % 3])) << w;
        EXPECT_FALSE(SameOverlay(*got[w], *got[(w + 1) % 3])) << w;
    }
}

// The stamp and the undo tell the batch when only the flush of the
// destination is left: once, with the file written but not yet in place,
// and (for the stamp) the picture's coefficient memory back in the batch's
// keeping for the next file.
TEST_F(Operations, StampAndUndoTellWhenOnlyTheDiskIsLeft) {
    const auto path = Copy("canon_eos450d_12mp.jpg");
    const std::string stamped = dir_.file("stamped.jpg");
    const std::string restored = dir_.file("restored.jpg");
    mk::batch::BatchResources batch(1);
    int calls = 0;
    bool memoryBack = false, inPlace = true, temporaryWritten = false;
    auto look = [&](const std::string &destination) {
        return [&, destination] {
            ++calls;
            inPlace = std::filesystem::exists(destination);
            // The file being written has no name yet: it is one of the
            // process's open files in the destination's folder.
            for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
                std::error_code error;
                const std::string target = std::filesystem::read_symlink(entry, error).string();
                struct stat st {};
                if (!error && target.rfind(dir_.path().string() + "/", 0) == 0 &&
                    target.ends_with("(deleted)") && ::stat(entry.path().c_str(), &st) == 0 &&
                    st.st_size > 100000)
                    temporaryWritten = true;
            }
            bool zeroed = true;
            mk::platform::Pages kept = batch.Memory()->Take(1, &zeroed);
            memoryBack = !zeroed;
            batch.Memory()->Give(std::move(kept));
        };
    };
    ASSERT_EQ(
        mk::batch::StampFile(path.c_str(), stamped.c_str(), &settings_, &batch, look(stamped)), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(inPlace);
    EXPECT_TRUE(temporaryWritten);
    EXPECT_TRUE(memoryBack);
    EXPECT_TRUE(std::filesystem::exists(stamped));

    calls = 0;
    inPlace = true;
    temporaryWritten = false;
    ASSERT_EQ(mk::batch::UndoStampFile(stamped.c_str(), restored.c_str(), &settings_, nullptr,
                                       look(restored)),
              0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(inPlace);
    EXPECT_TRUE(temporaryWritten);
    EXPECT_TRUE(SameCoefficients(Coefficients(restored), Coefficients(path)));
}

// When an earlier stamp is taken off into the destination first, the date
// still comes from the source: with the file-time date, a stamp of the
// stamped source gives the very same file as a stamp of the original.
TEST_F(Operations, TheDateComesFromTheSource) {
    settings_.flags &= ~FLAG_DATE_FROM_EXIF;
    const auto original = Copy("nikon_e950_444_dri.jpg", "original.jpg");
    const auto stamped = Copy("nikon_e950_444_dri.jpg", "stamped.jpg");
    ASSERT_EQ(Process(OP_STAMP, stamped, stamped, settings_), 0);
    const timespec when{978350400, 0};  // 2001-01-01 12:00 UTC
    mk::platform::SetModificationTime(original.c_str(), when);
    mk::platform::SetModificationTime(stamped.c_str(), when);
    const std::string fromOriginal = dir_.file("a.jpg");
    const std::string fromStamped = dir_.file("b.jpg");
    ASSERT_EQ(Process(OP_STAMP, original, fromOriginal, settings_), 0);
    ASSERT_EQ(Process(OP_STAMP, stamped, fromStamped, settings_), 0);
    EXPECT_EQ(ReadFile(fromOriginal), ReadFile(fromStamped));
}

TEST_F(Operations, EmptyTextWritesNothing) {
    const auto path = Copy("kodak_dc210_mm_com.jpg");
    const Bytes before = ReadFile(path);
    settings_.datePicture[0] = '\0';
    EXPECT_EQ(Process(OP_STAMP, path, path, settings_), -1);
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(Operations, DamagedOrForeignFilesFailCleanly) {
    for (const char *name :
         {"broken_not_jpeg.jpg", "truncated_header_year2216.jpg", "cmyk_multi_icc_dateonly.jpg"}) {
        const auto path = Copy(name);
        const Bytes before = ReadFile(path);
        EXPECT_EQ(Process(OP_STAMP, path, path, settings_), -1) << name;
        EXPECT_EQ(ReadFile(path), before) << name;
        EXPECT_NE(Process(OP_UNDO, path, path, settings_), 0) << name;
        EXPECT_EQ(ReadFile(path), before) << name;
    }
}

// Renders the stamped area of a corpus picture to a PNG under the build
// folder, for a person to look at.
TEST_F(Operations, StampedAreaToPng) {
    const auto path = Copy("canon_eos450d_12mp.jpg", "visual.jpg");
    settings_.timePicture[0] = '\0';
    std::strcpy(settings_.timePicture, "HH:mm");
    settings_.fontQuality = 4;
    ASSERT_EQ(Process(OP_STAMP, path, path, settings_), 0);
    const MarkerHeader m = ReadMarker(path);
    int32_t w = 0, h = 0;
    ASSERT_EQ(MK_ReadJPEG(path.c_str(), nullptr, &w, &h), 0);
    const int top = h - 1 - m.rectHighRow, bottom = h - 1 - m.rectLowRow;
    const int left = std::max(0, m.rectLeft - 40), y = std::max(0, top - 40);
    const std::string png = std::string(MK_BUILD_DIR) + "/stamp_visual_check.png";
    const std::string command = "djpeg -pnm '" + path + "' | /usr/bin/convert - -crop " +
                                std::to_string(std::min(w - left, m.rectRight - left + 80)) + "x" +
                                std::to_string(std::min(h - y, bottom - y + 80)) + "+" +
                                std::to_string(left) + "+" + std::to_string(y) + " '" + png + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_GT(std::filesystem::file_size(png), 1000u);
}

}  // namespace
