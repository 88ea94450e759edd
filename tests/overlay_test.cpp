// Tests of the overlay renderer: height fitting, layer rendering, blending
// and the exported Init/Proc/Close calls, with a visual check written as a
// PNG under the build folder.
#include "overlay/overlay.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "overlay/round_rect.h"
#include "test_support.h"

namespace mk::overlay {
namespace {

// A picture as the engine hands it over: 4-byte pixels, bottom row first.
struct Picture {
    int32_t width, height;
    std::vector<uint8_t> pixels;

    Picture(int32_t w, int32_t h, uint8_t fill = 0)
        : width(w), height(h), pixels(size_t(w) * size_t(h) * 4, fill) {}
    // Pixel (x, y) with y downwards from the top.
    uint8_t *at(int32_t x, int32_t y) {
        return pixels.data() + (size_t(height - 1 - y) * size_t(width) + size_t(x)) * 4;
    }
};

// A bitmap of one colour and alpha, bottom-up.
std::vector<uint8_t> Solid(int32_t w, int32_t h, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    std::vector<uint8_t> out(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < out.size(); i += 4) {
        out[i] = b;
        out[i + 1] = g;
        out[i + 2] = r;
        out[i + 3] = a;
    }
    return out;
}

MK_Rect Empty(const Picture &p) { return {p.width, p.height, 0, 0}; }

bool Same(const MK_Rect &a, const MK_Rect &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

::testing::AssertionResult RectIs(const MK_Rect &r, int32_t l, int32_t t, int32_t rt, int32_t b) {
    if (Same(r, {l, t, rt, b})) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "rect " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
}

OverlayLayer TextLayer(const char *text, int32_t fontSize = 40) {
    OverlayLayer layer{};
    layer.kind = 1;
    std::strncpy(layer.text, text, sizeof layer.text - 1);
    layer.fontSize = fontSize;
    std::strcpy(layer.fontFace, "Liberation Sans");
    layer.fontWeight = 400;
    layer.fontQuality = 4;
    layer.fontColor = 0x000000FF;  // red
    layer.fontOpacity = 100;
    layer.backgroundOpacity = 10;
    layer.horizontalMargin = 6;
    layer.verticalMargin = 4;
    layer.stampPosition = MK_POS_TOP_LEFT;
    return layer;
}

struct HandleCloser {
    void operator()(OverlayHandle *h) const noexcept { MK_ApplyOverlay_Close(h); }
};
using Handle = std::unique_ptr<OverlayHandle, HandleCloser>;

Handle Init(OverlayLayer *any, int32_t width, int32_t height) {
    OverlayParams params{};
    params.layers = any;
    const int32_t size[2] = {width, height};
    OverlayHandle *handle = reinterpret_cast<OverlayHandle *>(uintptr_t{1});
    EXPECT_EQ(MK_ApplyOverlay_Init(&params, size, &handle), 0);
    return Handle(handle);
}

// ---------------------------------------------------------------------------
// Height fitting

TEST(FitCharHeight, FirstMeasuresTargetPlusASixth) {
    std::vector<int32_t> tried;
    // A font whose cell is 1.12 times the character height, rounded.
    auto cell = [&](int32_t h) -> std::optional<int32_t> {
        tried.push_back(h);
        return (h * 112 + 50) / 100;
    };
    const int32_t h = FitCharHeight(112, cell);
    ASSERT_FALSE(tried.empty());
    EXPECT_EQ(tried.front(), 112 + 112 / 6);
    EXPECT_EQ(cell(h), 112);
    EXPECT_EQ(h, 100);
}

TEST(FitCharHeight, SmallTargetsAreNotMeasured) {
    for (int32_t target : {0, 1, 5, -3}) {
        int calls = 0;
        auto cell = [&](int32_t) -> std::optional<int32_t> {
            ++calls;
            return 1;
        };
        EXPECT_EQ(FitCharHeight(target, cell), target);
        EXPECT_EQ(calls, 0) << target;
    }
}

TEST(FitCharHeight, FailureToMeasureKeepsTheLastHeightTried) {
    std::vector<int32_t> tried;
    auto cell = [&](int32_t h) -> std::optional<int32_t> {
        tried.push_back(h);
        if (tried.size() == 3) return std::nullopt;
        return h * 2;
    };
    const int32_t h = FitCharHeight(60, cell);
    ASSERT_EQ(tried.size(), 3u);
    EXPECT_EQ(h, tried.back());
}

TEST(FitCharHeight, WalkFollowsTheStepRules) {
    // Cell = 2h: target 60 is reached at 30. Steps: 10 up (70), then down
    // with 5 (65), ... as the walk halves its step on each turn.
    std::vector<int32_t> tried;
    auto cell = [&](int32_t h) -> std::optional<int32_t> {
        tried.push_back(h);
        return 2 * h;
    };
    EXPECT_EQ(FitCharHeight(60, cell), 30);
    ASSERT_GE(tried.size(), 3u);
    EXPECT_EQ(tried[0], 70);
    EXPECT_EQ(tried[1], 65);
    EXPECT_EQ(tried[2], 60);
    EXPECT_EQ(tried.back(), 30);
}

TEST(FitCharHeight, UnreachableTargetStopsWithinNinetyNineTries) {
    int calls = 0;
    // Cells only of even sizes: an odd target is never met.
    auto cell = [&](int32_t h) -> std::optional<int32_t> {
        ++calls;
        return (h / 2) * 2 + 2;
    };
    const int32_t h = FitCharHeight(61, cell);
    EXPECT_LE(calls, 99);
    EXPECT_GT(h, 0);
}

TEST(FitCharHeight, CellEqualsTargetWhereverTheFontReachesIt) {
    std::optional<FtLibrary> library = FtLibrary::Create();
    ASSERT_TRUE(library);
    const FontMatch font = SeekInstalledFont(FontWish{400, 0, 0, "Liberation Sans"});
    ASSERT_TRUE(font.face) << "fonts-liberation2 must be installed";
    std::optional<TextFace> face = TextFace::Open(*library, font.face->file, font.face->index);
    ASSERT_TRUE(face);
    auto cell = [&](int32_t h) -> std::optional<int32_t> {
        if (!face->SetCharHeight(h)) return std::nullopt;
        return face->cellHeight();
    };
    std::vector<int32_t> reachable(1001, 0);
    for (int32_t h = 1; h <= 1000; ++h)
        if (int32_t c = *cell(h); c <= 1000) reachable[size_t(c)] = 1;
    int checked = 0;
    for (int32_t target = 6; target <= 800; ++target) {
        if (!reachable[size_t(target)]) continue;
        ++checked;
        const int32_t h = FitCharHeight(target, cell);
        EXPECT_EQ(cell(h), target) << "target " << target << " height " << h;
    }
    EXPECT_GT(checked, 600);
}

// ---------------------------------------------------------------------------
// Blending

TEST(BlendBitmap, PlacesBottomRightWithOffsets) {
    Picture picture(1000, 800, 10);
    const std::vector<uint8_t> bitmap = Solid(200, 60, 1, 2, 3, 255);
    MK_Rect rect = Empty(picture);
    BlendBitmap(picture.pixels.data(), 1000, 800, bitmap.data(), 200, 60, -20, -15,
                MK_POS_BOTTOM_RIGHT, rect);
    EXPECT_TRUE(RectIs(rect, 780, 725, 980, 785));
    EXPECT_EQ(picture.at(780, 725)[0], 1);
    EXPECT_EQ(picture.at(979, 784)[2], 3);
    EXPECT_EQ(picture.at(779, 725)[0], 10);
    EXPECT_EQ(picture.at(780, 724)[0], 10);
    EXPECT_EQ(picture.at(980, 785)[0], 10);
    // The fourth byte of the picture is left alone.
    EXPECT_EQ(picture.at(780, 725)[3], 10);
}

TEST(BlendBitmap, AlignsByPositionCode) {
    struct Row {
        int32_t position, left, top;
    };
    // 1000 x 800 picture, 201 x 60 bitmap, offsets 5 and 7.
    const Row rows[] = {
        {MK_POS_TOP_LEFT, 5, 7},
        {MK_POS_TOP_CENTER, 5 + 399, 7},
        {MK_POS_TOP_RIGHT, 5 + 799, 7},
        {MK_POS_BOTTOM_LEFT, 5, 7 + 740},
        {MK_POS_BOTTOM_CENTER, 404, 747},
        {MK_POS_BOTTOM_RIGHT, 804, 747},
        {0, 5, 7},
        {9, 5, 7},
    };
    const std::vector<uint8_t> bitmap = Solid(201, 60, 0, 0, 0, 0);
    for (const Row &row : rows) {
        Picture picture(1000, 800);
        MK_Rect rect = Empty(picture);
        BlendBitmap(picture.pixels.data(), 1000, 800, bitmap.data(), 201, 60, 5, 7, row.position,
                    rect);
        EXPECT_TRUE(RectIs(rect, row.left, row.top, row.left + 201, row.top + 60)) << row.position;
    }
}

TEST(BlendBitmap, MixesWithTheAlphaAndTruncates) {
    struct Row {
        uint8_t bitmap, alpha, picture, expected;
    };
    const Row rows[] = {
        {200, 128, 100, 150},                                                    // 100.39 + 49.80
        {255, 255, 0, 255},   {0, 0, 77, 77}, {255, 1, 0, 1}, {0, 254, 255, 0},  // 0.996
        {255, 26, 0, 26},                                                        // 26.0 exactly
    };
    for (const Row &row : rows) {
        // Seven pixels: one step of four and a tail of three.
        Picture picture(7, 1, row.picture);
        const std::vector<uint8_t> bitmap =
            Solid(7, 1, row.bitmap, row.bitmap, row.bitmap, row.alpha);
        MK_Rect rect = Empty(picture);
        BlendBitmap(picture.pixels.data(), 7, 1, bitmap.data(), 7, 1, 0, 0, 1, rect);
        for (int32_t x = 0; x < 7; ++x)
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(picture.at(x, 0)[k], row.expected)
                    << int(row.bitmap) << "/" << int(row.alpha) << " at " << x;
    }
}

TEST(BlendBitmap, RunsGiveTheBytesOfThePixelByPixelFormula) {
    // Rows of long and short runs (clear, opaque, a box's fill, text edges)
    // over a picture whose every pixel differs.
    const int32_t w = 300, h = 12;
    std::vector<uint8_t> bitmap(size_t(w) * h * 4);
    uint32_t state = 7;
    auto next = [&state] { return state = state * 1103515245u + 12345u, uint8_t(state >> 23); };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w;) {
            const int32_t run =
                std::min<int32_t>(w - x, y % 2 == 0 ? 1 + next() % 4 : 40 + next() % 90);
            const uint8_t alphas[] = {0, 255, 26, next()};
            const uint8_t pixel[4] = {next(), next(), next(), alphas[next() % 4]};
            for (int32_t i = 0; i < run; ++i, ++x)
                std::memcpy(&bitmap[(size_t(y) * w + x) * 4], pixel, 4);
        }
    Picture picture(w + 10, h + 4);
    for (uint8_t &b : picture.pixels) b = next();
    Picture expected = picture;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            // Bitmap row y from the top is memory row h - 1 - y; placed at (10, 4).
            const uint8_t *over = &bitmap[(size_t(h - 1 - y) * w + x) * 4];
            uint8_t *under = expected.at(10 + x, 4 + y);
            const double a = over[3] / 255.0;
            for (int k = 0; k < 3; ++k)
                under[k] = static_cast<uint8_t>(over[k] * a + under[k] * (1 - a));
        }
    MK_Rect rect = Empty(picture);
    BlendBitmap(picture.pixels.data(), w + 10, h + 4, bitmap.data(), w, h, 10, 4, 1, rect);
    EXPECT_EQ(picture.pixels, expected.pixels);
}

TEST(BlendBitmap, KeepsTheBitmapRowsTheRightWayUp) {
    Picture picture(3, 3);
    // Bottom-up: memory row 0 is the bitmap's bottom row.
    std::vector<uint8_t> bitmap = Solid(3, 2, 0, 0, 0, 255);
    bitmap[0] = 200;      // bottom-left
    bitmap[3 * 4] = 100;  // top-left
    MK_Rect rect = Empty(picture);
    BlendBitmap(picture.pixels.data(), 3, 3, bitmap.data(), 3, 2, 0, 0, 1, rect);
    EXPECT_EQ(picture.at(0, 0)[0], 100);
    EXPECT_EQ(picture.at(0, 1)[0], 200);
}

TEST(BlendBitmap, ClipsAtThePictureEdges) {
    struct Row {
        int32_t x, y;
    };
    const Row rows[] = {{-5, -5}, {95, 45}, {-50, 20}, {50, -20}, {200, 200}, {-300, -300}};
    for (const Row &row : rows) {
        Picture picture(100, 50, 0);
        const std::vector<uint8_t> bitmap = Solid(30, 20, 255, 255, 255, 255);
        MK_Rect rect = Empty(picture);
        BlendBitmap(picture.pixels.data(), 100, 50, bitmap.data(), 30, 20, row.x, row.y, 1, rect);
        EXPECT_TRUE(RectIs(rect, std::min(100, row.x), std::min(50, row.y), std::max(0, row.x + 30),
                           std::max(0, row.y + 20)));
        int painted = 0, expected = 0;
        for (int32_t y = 0; y < 50; ++y)
            for (int32_t x = 0; x < 100; ++x) {
                const bool inside = x >= row.x && x < row.x + 30 && y >= row.y && y < row.y + 20;
                expected += inside;
                painted += picture.at(x, y)[0] == 255;
                EXPECT_EQ(picture.at(x, y)[0] == 255, inside) << x << "," << y;
            }
        EXPECT_EQ(painted, expected);
    }
}

// ---------------------------------------------------------------------------
// Init, Proc, Close

TEST(ApplyOverlay, RendersTextWithMarginsAndTheBox) {
    // Liberation Sans has a 41-pixel cell (at 36) but none of 40.
    OverlayLayer layer = TextLayer("2011-07-04 18:30", 41);
    layer.flags = FLAG_BACKGROUND;
    Handle handle = Init(&layer, 640, 480);
    ASSERT_TRUE(handle);
    ASSERT_EQ(handle->layerCount, 1);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.textPixels, nullptr);
    // The fitted font's cell is 41 pixels; margins 6 and 4.
    EXPECT_EQ(e.textHeight, 41 + 2 * 4);
    EXPECT_GT(e.textWidth, 2 * 6 + 200);
    ASSERT_NE(e.boxPixels, nullptr);
    EXPECT_EQ(e.boxWidth, e.textWidth);
    EXPECT_EQ(e.boxHeight, e.textHeight);
    EXPECT_EQ(e.boxX, 0);
    EXPECT_EQ(e.position, MK_POS_TOP_LEFT);
    // Text pixels carry the colour; the margins are transparent.
    int ink = 0;
    for (int32_t i = 0; i < e.textWidth * e.textHeight; ++i) {
        const uint8_t *p = e.textPixels + i * 4;
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 255);
        const int32_t x = i % e.textWidth, yUp = i / e.textWidth;
        if (x < 6 || x >= e.textWidth - 6 || yUp < 4 || yUp >= e.textHeight - 4) {
            EXPECT_EQ(p[3], 0) << x << "," << yUp;
        }
        ink += p[3] == 255;
    }
    EXPECT_GT(ink, 200);
    // The box: 10 % of 255 everywhere.
    for (int32_t i = 0; i < e.boxWidth * e.boxHeight; ++i) EXPECT_EQ(e.boxPixels[i * 4 + 3], 25);
}

TEST(ApplyOverlay, PlacesThePaintedRectangle) {
    OverlayLayer layer = TextLayer("2011-07-04", 60);
    layer.stampPosition = MK_POS_BOTTOM_RIGHT;
    layer.horizontalOffset = -20;
    layer.verticalOffset = -15;
    layer.flags = FLAG_BACKGROUND;
    Handle handle = Init(&layer, 1000, 800);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.textPixels, nullptr);
    EXPECT_EQ(e.x, -20);
    EXPECT_EQ(e.y, -15);
    Picture picture(1000, 800, 50);
    MK_Rect rect{};
    EXPECT_EQ(MK_ApplyOverlay_Proc(picture.pixels.data(), 1000, 800, handle.get(), &rect), 0);
    const int32_t left = 1000 - e.textWidth - 20, top = 800 - e.textHeight - 15;
    EXPECT_TRUE(RectIs(rect, left, top, left + e.textWidth, top + e.textHeight));
    // The 10 % black box darkens its corner pixel: 50 * (1 - 25/255).
    EXPECT_EQ(picture.at(left, top)[0], 45);
    EXPECT_EQ(picture.at(left - 1, top)[0], 50);
}

TEST(ApplyOverlay, ZeroOpacityLeavesThePictureButReportsTheRectangle) {
    OverlayLayer layer = TextLayer("2011-07-04", 30);
    layer.fontOpacity = 0;
    layer.stampPosition = MK_POS_TOP_CENTER;
    Handle handle = Init(&layer, 400, 300);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.textPixels, nullptr);
    Picture picture(400, 300, 123);
    const std::vector<uint8_t> before = picture.pixels;
    MK_Rect rect{};
    MK_ApplyOverlay_Proc(picture.pixels.data(), 400, 300, handle.get(), &rect);
    EXPECT_EQ(picture.pixels, before);
    const int32_t left = (400 - e.textWidth) / 2;
    EXPECT_TRUE(RectIs(rect, left, 0, left + e.textWidth, e.textHeight));
}

TEST(ApplyOverlay, FullWidthBoxWithTopRight) {
    OverlayLayer layer = TextLayer("18:30", 30);
    layer.stampPosition = MK_POS_TOP_RIGHT;
    layer.horizontalOffset = -10;
    layer.verticalOffset = 5;
    layer.backgroundOpacity = 100;
    layer.backgroundColor = 0x00FFFFFF;
    // Round corners have no effect on a full-width box.
    layer.flags = FLAG_BACKGROUND | FLAG_FULL_WIDTH | FLAG_ROUND_CORNERS;
    Handle handle = Init(&layer, 300, 100);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.boxPixels, nullptr);
    EXPECT_EQ(e.boxWidth, 300);
    EXPECT_EQ(e.boxX, 0);
    EXPECT_EQ(e.boxY, 5);
    for (int32_t i = 0; i < e.boxWidth * e.boxHeight; ++i) EXPECT_EQ(e.boxPixels[i * 4 + 3], 255);
    Picture picture(300, 100, 0);
    MK_Rect rect{};
    MK_ApplyOverlay_Proc(picture.pixels.data(), 300, 100, handle.get(), &rect);
    // The box covers columns 0 to 299; the right edge is clamped to W - 1.
    EXPECT_TRUE(RectIs(rect, 0, 5, 299, 5 + e.boxHeight));
    for (int32_t x = 0; x < 300; ++x) EXPECT_EQ(picture.at(x, 5)[0], 255) << x;
    EXPECT_EQ(picture.at(0, 4)[0], 0);
    // The text is right-aligned over it: its red ink lies in its bitmap's
    // columns, which end 10 pixels before the right edge.
    const int32_t textLeft = 300 - e.textWidth - 10;
    for (int32_t y = 5; y < 5 + e.textHeight; ++y)
        for (int32_t x = 0; x < 300; ++x) {
            const uint8_t *p = picture.at(x, y);
            if (p[0] != 255) {
                EXPECT_GE(x, textLeft + 6);
                EXPECT_LT(x, textLeft + e.textWidth - 6);
            }
        }
}

TEST(ApplyOverlay, FiftyPixelRoundBoxHasTenPixelCorners) {
    // Cell 30 and margins 10: a box 50 high, corner ellipses of 10 pixels.
    OverlayLayer layer = TextLayer("0", 30);
    layer.verticalMargin = 10;
    layer.horizontalMargin = 20;
    layer.backgroundOpacity = 100;
    layer.flags = FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
    layer.horizontalOffset = 3;
    Handle handle = Init(&layer, 200, 200);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.boxPixels, nullptr);
    ASSERT_EQ(e.boxHeight, 50);
    EXPECT_EQ(e.boxX, 3);
    const std::vector<uint8_t> mask = RoundRectMask(e.boxWidth, 50, 10, 10);
    for (int32_t yUp = 0; yUp < 50; ++yUp)
        for (int32_t x = 0; x < e.boxWidth; ++x) {
            const uint8_t alpha = e.boxPixels[(yUp * e.boxWidth + x) * 4 + 3];
            // Bottom-up bitmap against the top-down mask.
            EXPECT_EQ(alpha, mask[size_t((49 - yUp) * e.boxWidth + x)]) << x << "," << yUp;
        }
    EXPECT_EQ(e.boxPixels[3], 0);
    EXPECT_EQ(e.boxPixels[(25 * e.boxWidth) * 4 + 3], 255);
}

TEST(ApplyOverlay, StampPastTheEdgeIsClippedAndTheRectangleClamped) {
    OverlayLayer layer = TextLayer("2011-07-04 18:30", 40);
    layer.flags = FLAG_BACKGROUND;
    layer.backgroundOpacity = 100;
    layer.backgroundColor = 0x00FFFFFF;
    layer.horizontalOffset = -30;
    layer.verticalOffset = -10;
    Handle handle = Init(&layer, 120, 30);
    ASSERT_TRUE(handle);
    Picture picture(120, 30, 0);
    MK_Rect rect{};
    MK_ApplyOverlay_Proc(picture.pixels.data(), 120, 30, handle.get(), &rect);
    EXPECT_TRUE(RectIs(rect, 0, 0, 119, 29));
    EXPECT_EQ(picture.at(0, 0)[1], 255);
    EXPECT_EQ(picture.at(119, 29)[1], 255);
}

// Bitmaps made in memory that earlier overlays left dirty are those made in
// fresh memory, in both text qualities and all box shapes.
TEST(RenderOverlay, BitmapsInReusedMemoryAreThoseOfFreshMemory) {
    struct Row {
        uint8_t quality;
        int32_t flags;
    };
    const Row rows[] = {{4, FLAG_BACKGROUND},
                        {1, FLAG_BACKGROUND | FLAG_FULL_WIDTH},
                        {4, FLAG_BACKGROUND | FLAG_ROUND_CORNERS}};
    for (const Row &row : rows) {
        BitmapMemory memory(8);
        std::vector<const uint8_t *> dirty;
        for (int i = 0; i < 3; ++i) {
            std::vector<uint8_t> buffer(size_t{1} << 20, uint8_t(0x5A + i));
            dirty.push_back(buffer.data());
            memory.Give(std::move(buffer));
        }
        OverlayLayer layer = TextLayer("08.12.2026", 30);
        layer.fontQuality = row.quality;
        layer.flags = row.flags;
        layer.stampPosition = MK_POS_BOTTOM_RIGHT;
        const int32_t size[2] = {400, 300};
        OverlayParams params{};
        params.layers = &layer;
        Handle reused(RenderOverlay(params, size, nullptr, &memory));
        Handle fresh(RenderOverlay(params, size, nullptr));
        ASSERT_TRUE(reused && fresh);
        const RenderedLayer &a = reused->entries[0], &b = fresh->entries[0];
        // The dirty memory was used, else this shows nothing.
        EXPECT_NE(std::find(dirty.begin(), dirty.end(), a.textPixels), dirty.end());
        ASSERT_EQ(a.textWidth * a.textHeight, b.textWidth * b.textHeight);
        ASSERT_EQ(a.boxWidth * a.boxHeight, b.boxWidth * b.boxHeight);
        EXPECT_EQ(std::memcmp(a.textPixels, b.textPixels, size_t(a.textWidth * a.textHeight) * 4),
                  0)
            << int(row.quality);
        EXPECT_EQ(std::memcmp(a.boxPixels, b.boxPixels, size_t(a.boxWidth * a.boxHeight) * 4), 0)
            << row.flags;
    }
}

TEST(ApplyOverlay, ListGivenByItsTailRendersLikeItsHead) {
    OverlayLayer first = TextLayer("first", 20);
    OverlayLayer second = TextLayer("second layer", 30);
    second.stampPosition = MK_POS_BOTTOM_RIGHT;
    second.flags = FLAG_BACKGROUND;
    first.next = &second;
    second.prev = &first;
    Handle fromHead = Init(&first, 300, 200);
    Handle fromTail = Init(&second, 300, 200);
    ASSERT_TRUE(fromHead && fromTail);
    ASSERT_EQ(fromHead->layerCount, 2);
    ASSERT_EQ(fromTail->layerCount, 2);
    for (int i = 0; i < 2; ++i) {
        const RenderedLayer &a = fromHead->entries[i], &b = fromTail->entries[i];
        EXPECT_EQ(a.textWidth, b.textWidth);
        EXPECT_EQ(a.textHeight, b.textHeight);
        EXPECT_EQ(a.position, b.position);
        EXPECT_EQ(std::memcmp(a.textPixels, b.textPixels, size_t(a.textWidth * a.textHeight * 4)),
                  0);
    }
    EXPECT_EQ(fromHead->entries[0].position, MK_POS_TOP_LEFT);
    EXPECT_EQ(fromHead->entries[1].boxWidth, fromHead->entries[1].textWidth);
    Picture a(300, 200, 9), b(300, 200, 9);
    MK_Rect ra{}, rb{};
    MK_ApplyOverlay_Proc(a.pixels.data(), 300, 200, fromHead.get(), &ra);
    MK_ApplyOverlay_Proc(b.pixels.data(), 300, 200, fromTail.get(), &rb);
    EXPECT_EQ(a.pixels, b.pixels);
    EXPECT_TRUE(Same(ra, rb));
    // The rectangle spans both layers.
    EXPECT_TRUE(RectIs(ra, 0, 0, 299, 199));
}

TEST(ApplyOverlay, CircularListIsCutWhereItComesBack) {
    OverlayLayer a = TextLayer("a", 10), b = TextLayer("b", 10);
    a.next = &b;
    b.next = &a;
    a.prev = &b;
    b.prev = &a;
    Handle handle = Init(&a, 50, 50);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->layerCount, 2);
}

TEST(ApplyOverlay, EmptyTextPaintsNothing) {
    OverlayLayer layer = TextLayer("", 40);
    layer.flags = FLAG_BACKGROUND;
    layer.horizontalOffset = 7;
    layer.stampPosition = MK_POS_BOTTOM_LEFT;
    Handle handle = Init(&layer, 100, 80);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    EXPECT_EQ(e.textPixels, nullptr);
    EXPECT_EQ(e.boxPixels, nullptr);
    EXPECT_EQ(e.x, 7);
    EXPECT_EQ(e.position, MK_POS_BOTTOM_LEFT);
    Picture picture(100, 80, 3);
    const std::vector<uint8_t> before = picture.pixels;
    MK_Rect rect{};
    MK_ApplyOverlay_Proc(picture.pixels.data(), 100, 80, handle.get(), &rect);
    EXPECT_EQ(picture.pixels, before);
    // Nothing painted: left W, top H, right 0, bottom 0.
    EXPECT_TRUE(RectIs(rect, 100, 80, 0, 0));
}

TEST(ApplyOverlay, OtherKindsArePlacedButRenderNothing) {
    OverlayLayer layer = TextLayer("2011", 40);
    layer.kind = 2;
    layer.verticalOffset = -4;
    Handle handle = Init(&layer, 100, 80);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->entries[0].textPixels, nullptr);
    EXPECT_EQ(handle->entries[0].y, -4);
}

TEST(ApplyOverlay, HeightsNoFontReachesRenderNothing) {
    for (int32_t size : {0, -20, 1000000}) {
        OverlayLayer layer = TextLayer("2011", size);
        Handle handle = Init(&layer, 100, 80);
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->entries[0].textPixels, nullptr) << size;
    }
}

TEST(ApplyOverlay, OpacityAboveAHundredIsFull) {
    OverlayLayer layer = TextLayer("8", 30);
    layer.fontOpacity = 200;
    layer.flags = FLAG_BACKGROUND;
    layer.backgroundOpacity = 250;
    Handle handle = Init(&layer, 100, 80);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.textPixels, nullptr);
    uint8_t most = 0;
    for (int32_t i = 0; i < e.textWidth * e.textHeight; ++i)
        most = std::max(most, e.textPixels[i * 4 + 3]);
    EXPECT_EQ(most, 255);
    EXPECT_EQ(e.boxPixels[3], 255);
}

TEST(ApplyOverlay, MonochromeQualityHasNoPartialAlpha) {
    OverlayLayer layer = TextLayer("2011-07-04", 30);
    layer.fontQuality = 1;
    Handle handle = Init(&layer, 300, 80);
    ASSERT_TRUE(handle);
    const RenderedLayer &e = handle->entries[0];
    ASSERT_NE(e.textPixels, nullptr);
    for (int32_t i = 0; i < e.textWidth * e.textHeight; ++i) {
        const uint8_t a = e.textPixels[i * 4 + 3];
        EXPECT_TRUE(a == 0 || a == 255) << int(a);
    }
}

TEST(ApplyOverlay, NullArgumentsAreHarmless) {
    OverlayHandle *handle = reinterpret_cast<OverlayHandle *>(uintptr_t{1});
    const int32_t size[2] = {10, 10};
    EXPECT_EQ(MK_ApplyOverlay_Init(nullptr, size, &handle), 0);
    EXPECT_EQ(handle, nullptr);
    OverlayParams params{};
    handle = reinterpret_cast<OverlayHandle *>(uintptr_t{1});
    EXPECT_EQ(MK_ApplyOverlay_Init(&params, size, &handle), 0);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(MK_ApplyOverlay_Init(&params, size, nullptr), 0);
    // A null handle leaves the rectangle untouched.
    MK_Rect rect{1, 2, 3, 4};
    Picture picture(10, 10);
    EXPECT_EQ(MK_ApplyOverlay_Proc(picture.pixels.data(), 10, 10, nullptr, &rect), 0);
    EXPECT_TRUE(RectIs(rect, 1, 2, 3, 4));
    EXPECT_EQ(MK_ApplyOverlay_Close(nullptr), 0);
}

TEST(ApplyOverlay, CallsOnSeparateThreadsGiveTheSameResult) {
    auto render = [] {
        OverlayLayer layer = TextLayer("2011-07-04 18:30", 33);
        layer.flags = FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
        Handle handle = Init(&layer, 400, 100);
        Picture picture(400, 100, 77);
        MK_ApplyOverlay_Proc(picture.pixels.data(), 400, 100, handle.get(), nullptr);
        return picture.pixels;
    };
    const std::vector<uint8_t> expected = render();
    std::vector<std::vector<uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (auto &result : results) threads.emplace_back([&result, &render] { result = render(); });
    for (std::thread &t : threads) t.join();
    for (const auto &result : results) EXPECT_EQ(result, expected);
}

TEST(RenderTextLayer, DescriptionWithoutAFaceUsesTheNearestInstalledOne) {
    std::optional<FtLibrary> library = FtLibrary::Create();
    std::optional<platform::FontCatalogue> catalogue = platform::FontCatalogue::Installed();
    ASSERT_TRUE(library && catalogue);
    // The wish itself, as when nothing of the character set is installed.
    FontMatch font;
    font.logFont.lfWeight = 700;
    std::strcpy(font.logFont.lfFaceName, "Liberation Sans");
    const OverlayLayer layer = TextLayer("2011", 41);
    const LayerBitmaps bitmaps = RenderTextLayer(layer, font, 200, *library, *catalogue);
    ASSERT_TRUE(bitmaps.text);
    EXPECT_EQ(bitmaps.text->height, 41 + 2 * 4);
    EXPECT_EQ(bitmaps.charHeight, 36);
    // Without a catalogue behind it nothing can be drawn.
    EXPECT_FALSE(RenderTextLayer(layer, font, 200, *library, platform::FontCatalogue{}).text);
}

// ---------------------------------------------------------------------------
// Visual check

// A PNG of the picture (RGB, 8 bits), written with zlib.
void WritePng(const std::filesystem::path &path, Picture &picture) {
    std::vector<uint8_t> raw;
    for (int32_t y = 0; y < picture.height; ++y) {
        raw.push_back(0);  // no filter
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint8_t *p = picture.at(x, y);
            raw.insert(raw.end(), {p[2], p[1], p[0]});
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 9), Z_OK);
    packed.resize(packedSize);

    test::Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto be32 = [&](std::vector<uint8_t> &out, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
    };
    auto chunk = [&](const char *type, const std::vector<uint8_t> &data) {
        be32(png, uint32_t(data.size()));
        std::vector<uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        png.insert(png.end(), body.begin(), body.end());
        be32(png, uint32_t(crc32(0, body.data(), uInt(body.size()))));
    };
    std::vector<uint8_t> header;
    be32(header, uint32_t(picture.width));
    be32(header, uint32_t(picture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    test::WriteFile(path, png);
}

TEST(ApplyOverlayVisual, StampOnAGradientIsWrittenAsPng) {
    const int32_t w = 1280, h = 720;
    Picture picture(w, h);
    // Sky-like gradient over a darker, greener ground.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t *p = picture.at(x, y);
            const bool ground = y > h * 3 / 5 + (x % 97) / 12;
            const int32_t sx = x * 100 / w, sy = y * 100 / h;            // 0..99
            p[0] = uint8_t(ground ? 40 + x % 30 : 235 - sy);             // blue
            p[1] = uint8_t(ground ? 100 + (x * y) % 40 : 150 + sx / 2);  // green
            p[2] = uint8_t(ground ? 60 + sy / 2 : 110 + sx);             // red
        }
    // The default settings for a 1280 x 720 picture: height 5 % of 720,
    // offsets -2 % and -1.5 %, margins 0.5 %, 10 % black box, antialiased.
    OverlayLayer layer = TextLayer("2011-07-04 18:30", h * 500 / 10000);
    std::strcpy(layer.fontFace, "Arial");
    layer.fontColor = 0x000000FF;
    layer.fontQuality = 4;
    layer.backgroundOpacity = 10;
    layer.backgroundColor = 0;
    layer.horizontalMargin = uint16_t(w * 50 / 10000);
    layer.verticalMargin = uint16_t(h * 50 / 10000);
    layer.horizontalOffset = int16_t(w * -200 / 10000);
    layer.verticalOffset = int16_t(h * -150 / 10000);
    layer.stampPosition = MK_POS_BOTTOM_RIGHT;
    layer.flags = FLAG_BACKGROUND;
    // A second stamp on top with a rounded, denser box, aliased.
    OverlayLayer plain = TextLayer("2011-07-04 18:30", 30);
    plain.fontQuality = 1;
    plain.fontColor = 0x0000FFFF;  // yellow
    plain.backgroundOpacity = 60;
    plain.horizontalMargin = 12;
    plain.verticalMargin = 6;
    plain.horizontalOffset = 20;
    plain.verticalOffset = 20;
    plain.flags = FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
    layer.next = &plain;
    plain.prev = &layer;

    Handle handle = Init(&plain, w, h);
    ASSERT_TRUE(handle);
    MK_Rect rect{};
    MK_ApplyOverlay_Proc(picture.pixels.data(), w, h, handle.get(), &rect);
    EXPECT_TRUE(RectIs(rect, 20, 20, w + handle->entries[0].x, h + handle->entries[0].y));
    const std::filesystem::path out = std::filesystem::path(MK_BUILD_DIR) / "overlay_stamp.png";
    WritePng(out, picture);
    EXPECT_GT(std::filesystem::file_size(out), 1000u);
    std::cout << "stamp written to " << out.string() << "\n";

    // The default stamp enlarged four times, to see its edges.
    const RenderedLayer &e = handle->entries[0];
    const int32_t left = w - e.textWidth + e.x, top = h - e.textHeight + e.y;
    Picture zoom(e.textWidth * 4, e.textHeight * 4);
    for (int32_t y = 0; y < zoom.height; ++y)
        for (int32_t x = 0; x < zoom.width; ++x)
            std::memcpy(zoom.at(x, y), picture.at(left + x / 4, top + y / 4), 4);
    WritePng(std::filesystem::path(MK_BUILD_DIR) / "overlay_stamp_zoom.png", zoom);
}

}  // namespace
}  // namespace mk::overlay
