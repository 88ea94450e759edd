// Tests of the rounded-rectangle masks.
#include "overlay/round_rect.h"

#include <gtest/gtest.h>

#include <string>

namespace mk::overlay {
namespace {

// The mask's rows as strings, '#' inside and '.' outside.
std::vector<std::string> Rows(const std::vector<uint8_t> &mask, int32_t width, int32_t height) {
    std::vector<std::string> rows;
    for (int32_t r = 0; r < height; ++r) {
        std::string row;
        for (int32_t c = 0; c < width; ++c) row += mask[r * width + c] == 255 ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

TEST(RoundRect, FiftyPixelBoxHasTenByTenCorners) {
    // Box height 50: corner ellipses of 0.2 x 50 = 10 pixels.
    const int32_t w = 80, h = 50;
    const std::vector<uint8_t> mask = RoundRectMask(w, h, 10, 10);
    ASSERT_EQ(mask.size(), size_t(w * h));
    const std::vector<std::string> rows = Rows(mask, w, h);
    // The top-left quarter of a circle 10 pixels across: pixel centres
    // outside it are left out.
    const std::vector<std::string> corner = {
        "...###", ".#####", ".#####", "######", "######", "######",
    };
    for (int32_t r = 0; r < 6; ++r) EXPECT_EQ(rows[r].substr(0, 6), corner[r]) << r;
    // The other corners mirror it.
    for (int32_t r = 0; r < 6; ++r) {
        std::string mirrored(corner[r].rbegin(), corner[r].rend());
        EXPECT_EQ(rows[r].substr(w - 6), mirrored) << r;
        EXPECT_EQ(rows[h - 1 - r].substr(0, 6), corner[r]) << r;
        EXPECT_EQ(rows[h - 1 - r].substr(w - 6), mirrored) << r;
    }
    // Nothing outside the four 5 x 5 corner squares is left out.
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) {
            const bool inCorner = (r < 5 || r >= h - 5) && (c < 5 || c >= w - 5);
            if (!inCorner) {
                EXPECT_EQ(mask[r * w + c], 255) << c << "," << r;
            }
        }
}

TEST(RoundRect, OddEllipseKeepsItsCentreLine) {
    const std::vector<uint8_t> mask = RoundRectMask(20, 20, 11, 11);
    const std::vector<std::string> rows = Rows(mask, 20, 20);
    EXPECT_EQ(rows[0].substr(0, 6), "...###");
    // Column 5 and row 5 go through the ellipse's centre: always inside.
    for (int32_t r = 0; r < 20; ++r) EXPECT_EQ(rows[r][5], '#') << r;
    EXPECT_EQ(rows[5], std::string(20, '#'));
}

TEST(RoundRect, SmallEllipsesLeaveTheRectangleSquare) {
    for (int32_t r : {0, 1}) {
        const std::vector<uint8_t> mask = RoundRectMask(7, 4, r, r);
        EXPECT_EQ(mask, std::vector<uint8_t>(28, 255)) << r;
    }
}

TEST(RoundRect, EllipseIsClampedToTheRectangle) {
    // An ellipse wider than the box is taken as wide as the box.
    const std::vector<uint8_t> mask = RoundRectMask(6, 30, 20, 6);
    EXPECT_EQ(mask, RoundRectMask(6, 30, 6, 6));
    const std::vector<std::string> rows = Rows(mask, 6, 30);
    EXPECT_EQ(rows[0], ".####.");
    EXPECT_EQ(rows[29], ".####.");
    EXPECT_EQ(rows[15], "######");
}

TEST(RoundRect, EmptySizesGiveNoMask) {
    EXPECT_TRUE(RoundRectMask(0, 10, 2, 2).empty());
    EXPECT_TRUE(RoundRectMask(10, -1, 2, 2).empty());
}

}  // namespace
}  // namespace mk::overlay
