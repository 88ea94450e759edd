// The strip's text fitting: the largest size at which the text fits is
// what a search one size at a time from 25 (grow while it fits, shrink while
// it does not, never past 1 or 57) finds, for short, long and empty texts
// and strips of several sizes; and proportional values scaled to a picture.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "MK_Core.h"
#include "stamp_sample.h"

namespace {

// The text box of `layer` at `size`, drawn by the core.
bool Box(OverlayLayer layer, int32_t size, int32_t width, int32_t height, int32_t *boxWidth,
         int32_t *boxHeight) {
    layer.fontSize = size;
    layer.flags &= ~uint32_t{FLAG_BACKGROUND};
    layer.prev = layer.next = nullptr;
    OverlayParams params{};
    params.layers = &layer;
    const int32_t area[2] = {width, height};
    OverlayHandle *handle = nullptr;
    MK_ApplyOverlay_Init(&params, area, &handle);
    if (handle == nullptr) return false;
    const bool drawn = handle->layerCount > 0 && handle->entries[0].textPixels != nullptr;
    if (drawn) {
        *boxWidth = handle->entries[0].textWidth;
        *boxHeight = handle->entries[0].textHeight;
    }
    MK_ApplyOverlay_Close(handle);
    return drawn;
}

// The reference: one size at a time from 25.
int32_t StepwiseFit(const OverlayLayer &layer, int32_t width, int32_t height) {
    auto fits = [&](int32_t size) {
        int32_t w = 0;
        int32_t h = 0;
        return Box(layer, size, width, height, &w, &h) && w < width && h < height;
    };
    int32_t size = 25;
    if (fits(26)) {
        size = 26;
        while (size < 57 && fits(size + 1)) ++size;
        return size;
    }
    while (size > 1 && !fits(size)) --size;
    return size;
}

struct FitCase {
    const char *text;
    int32_t width;
    int32_t height;
    uint16_t horizontalMargin;
    uint16_t verticalMargin;
};

class FitTextTest : public testing::TestWithParam<FitCase> {};

TEST_P(FitTextTest, FindsTheSizeAStepwiseSearchFinds) {
    const FitCase &c = GetParam();
    Setts record;
    MK_SettsLoadDefaults(&record);
    record.flags |= FLAG_PIXEL_UNITS;
    OverlayLayer layer = mk::app::LayerFromSetts(record, c.text);
    layer.horizontalMargin = c.horizontalMargin;
    layer.verticalMargin = c.verticalMargin;
    const mk::app::TextFit fit = mk::app::FitText(layer, c.width, c.height);
    EXPECT_EQ(fit.fontSize, StepwiseFit(layer, c.width, c.height));
    int32_t w = 0;
    int32_t h = 0;
    ASSERT_TRUE(Box(layer, fit.fontSize, c.width, c.height, &w, &h));
    EXPECT_EQ(fit.boxWidth, w);
    EXPECT_EQ(fit.boxHeight, h);
}

INSTANTIATE_TEST_SUITE_P(
    Strips, FitTextTest,
    testing::Values(FitCase{"2008-04-15", 360, 66, 0, 0},   // grows to the height
                    FitCase{"2008-04-15", 360, 66, 10, 5},  // margins count
                    FitCase{"2008-04-15", 900, 200, 0, 0},  // capped at 57
                    FitCase{"15 April 2008 13:45:09 and some words more", 360, 66, 0, 0},
                    FitCase{"Tuesday, 15 April 2008 13:45:09, somewhere far away", 200, 66, 0,
                            0},                     // shrinks below 25
                    FitCase{"2008", 30, 20, 0, 0},  // nearly nothing fits
                    FitCase{"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 40, 66, 0, 0}));  // nothing fits

TEST(FitTextTest, AnEmptyTextTakesSize25AndTheWholeArea) {
    Setts record;
    MK_SettsLoadDefaults(&record);
    const mk::app::TextFit fit = mk::app::FitText(mk::app::LayerFromSetts(record, ""), 360, 66);
    EXPECT_EQ(fit.fontSize, 25);
    EXPECT_EQ(fit.boxWidth, 360);
    EXPECT_EQ(fit.boxHeight, 66);
}

struct ScaleCase {
    int32_t width;
    int32_t height;
    uint32_t fontSize;
    int32_t offsets[2];
    uint16_t margins[2];
    int32_t wantFont;
    int16_t wantOffsets[2];
    uint16_t wantMargins[2];
};

class ScaleToPictureTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleToPictureTest, TakesHorizontalValuesOfTheLongerSide) {
    const ScaleCase &c = GetParam();
    OverlayLayer layer{};
    layer.fontSize = int32_t(c.fontSize);
    layer.horizontalOffset = int16_t(c.offsets[0]);
    layer.verticalOffset = int16_t(c.offsets[1]);
    layer.horizontalMargin = c.margins[0];
    layer.verticalMargin = c.margins[1];
    mk::app::ScaleToPicture(layer, c.width, c.height);
    EXPECT_EQ(layer.fontSize, c.wantFont);
    EXPECT_EQ(layer.horizontalOffset, c.wantOffsets[0]);
    EXPECT_EQ(layer.verticalOffset, c.wantOffsets[1]);
    EXPECT_EQ(layer.horizontalMargin, c.wantMargins[0]);
    EXPECT_EQ(layer.verticalMargin, c.wantMargins[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScaleToPictureTest,
    testing::Values(
        // 400 x 300 landscape: 5 % of 300 = 15, -2 % of 400 = -8, -1.5 % of 300 = -4.
        ScaleCase{400, 300, 500, {-200, -150}, {100, 100}, 15, {-8, -4}, {4, 3}},
        // The same in portrait: the sides swap roles, not the axes.
        ScaleCase{300, 400, 500, {-200, -150}, {100, 100}, 15, {-8, -4}, {4, 3}},
        // Truncation towards zero on odd sizes.
        ScaleCase{6001, 4001, 333, {-3, 7}, {1, 9999}, 133, {-1, 2}, {0, 4000}}));

TEST(ScaleToPictureTest, LeavesPixelUnitsAsTheyAre) {
    OverlayLayer layer{};
    layer.flags = FLAG_PIXEL_UNITS;
    layer.fontSize = 40;
    layer.horizontalOffset = -12;
    layer.verticalMargin = 7;
    mk::app::ScaleToPicture(layer, 400, 300);
    EXPECT_EQ(layer.fontSize, 40);
    EXPECT_EQ(layer.horizontalOffset, -12);
    EXPECT_EQ(layer.verticalMargin, 7);
}

}  // namespace
