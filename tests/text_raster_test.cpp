// Tests of the FreeType text rasteriser and its extent rules.
#include "overlay/text_raster.h"

#include <gtest/gtest.h>

#include "platform/font_catalogue.h"

namespace mk::overlay {
namespace {

// The regular face of a family of the project's package list, found
// through fontconfig.
std::string FontFile(const std::string &family) {
    const std::optional<platform::FontCatalogue> catalogue = platform::FontCatalogue::Installed();
    if (catalogue)
        for (const platform::FontFace &face : catalogue->faces())
            if (face.family == family && face.weight == 400 && !face.italic) return face.file;
    ADD_FAILURE() << family << " is not installed (fonts-liberation2, fonts-dejavu-core)";
    return {};
}

class TextRaster : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = FtLibrary::Create();
        ASSERT_TRUE(library_);
    }
    TextFace Open(const std::string &family, SyntheticStyle synthetic = {}) {
        std::optional<TextFace> face = TextFace::Open(*library_, FontFile(family), 0, synthetic);
        EXPECT_TRUE(face);
        return std::move(*face);
    }
    std::optional<FtLibrary> library_;
};

TEST(DecodeUtf8, DecodesAndReplacesBadBytes) {
    struct Row {
        const char *text;
        std::u32string expected;
    };
    const Row rows[] = {
        {"", U""},
        {"2011-07-04", U"2011-07-04"},
        {"\xC3\xA9t\xC3\xA9", U"\u00E9t\u00E9"},
        {"\xE2\x82\xAC", U"\u20AC"},
        {"\xF0\x9F\x98\x80", U"\U0001F600"},
        {"\x80", U"\uFFFD"},
        {"a\xC0\xAF", U"a\uFFFD\uFFFD"},                    // overlong
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},            // surrogate
        {"\xE2\x82", U"\uFFFD\uFFFD"},                      // cut short
        {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xFF"
         "x",
         U"\uFFFDx"},
    };
    for (const Row &row : rows) EXPECT_EQ(DecodeUtf8(row.text), row.expected) << row.text;
}

TEST_F(TextRaster, CellIsTheRoundedWindowsAscentPlusDescent) {
    // Liberation Sans: 2048 units per em, Windows ascent 1854, descent 434.
    struct Row {
        int32_t h, ascent, descent;
    };
    const Row rows[] = {
        {100, 91, 21},  // 90.53 and 21.19
        {12, 11, 3},    // 10.86 and 2.54
        {16, 14, 3},    // 14.48 and 3.39
        {33, 30, 7},    // 29.87 and 6.99
        {1, 1, 0},      // 0.91 and 0.21
    };
    TextFace face = Open("Liberation Sans");
    for (const Row &row : rows) {
        ASSERT_TRUE(face.SetCharHeight(row.h)) << row.h;
        EXPECT_EQ(face.charHeight(), row.h);
        EXPECT_EQ(face.ascent(), row.ascent) << row.h;
        EXPECT_EQ(face.descent(), row.descent) << row.h;
        EXPECT_EQ(face.cellHeight(), row.ascent + row.descent) << row.h;
    }
}

TEST_F(TextRaster, HeightsOutsideTheScalerRangeFail) {
    TextFace face = Open("DejaVu Sans");
    EXPECT_FALSE(face.SetCharHeight(0));
    EXPECT_FALSE(face.SetCharHeight(-5));
    EXPECT_FALSE(face.SetCharHeight(0x10000));
    EXPECT_FALSE(face.TextWidth(U"x"));
}

TEST_F(TextRaster, WidthIsTheSumOfWholePixelAdvancesWithoutKerning) {
    TextFace face = Open("Liberation Sans");
    ASSERT_TRUE(face.SetCharHeight(100));
    // Digits of Liberation Sans are 1139 units wide: 55.6 pixels, hinted 56.
    EXPECT_EQ(face.TextWidth(U"0"), 56);
    EXPECT_EQ(face.TextWidth(U"2011"), 4 * 56);
    EXPECT_EQ(face.TextWidth(U""), 0);
    // "AV" has a kerning pair in the font; the extent ignores it.
    const int32_t a = *face.TextWidth(U"A");
    const int32_t v = *face.TextWidth(U"V");
    EXPECT_EQ(face.TextWidth(U"AV"), a + v);
    EXPECT_EQ(face.TextWidth(U"2011-07-04 18:30"), 794);
}

// Counts of black, white and in-between pixels.
struct Tally {
    int black = 0, white = 0, grey = 0;
};
Tally Count(const CoverageImage &image) {
    Tally t;
    for (uint8_t v : image.pixels) (v == 0 ? t.black : v == 255 ? t.white : t.grey)++;
    return t;
}

TEST_F(TextRaster, AntialiasedDrawingHasGreyEdgesAndMonochromeHasNone) {
    TextFace face = Open("Liberation Sans");
    ASSERT_TRUE(face.SetCharHeight(40));
    const std::u32string text = U"2011-07-04 18:30";
    const int32_t width = *face.TextWidth(text);
    CoverageImage smooth(width, face.cellHeight());
    CoverageImage plain(width, face.cellHeight());
    face.Draw(text, smooth, 0, 0, true);
    face.Draw(text, plain, 0, 0, false);
    const Tally s = Count(smooth), p = Count(plain);
    EXPECT_GT(s.grey, 100);
    EXPECT_GT(s.white, 100);
    EXPECT_EQ(p.grey, 0);
    EXPECT_GT(p.white, 100);
    // Roughly the same ink either way.
    EXPECT_NEAR(p.white, s.white + s.grey / 2, (s.white + s.grey) / 4);
}

TEST_F(TextRaster, TextSitsOnTheBaselineInsideItsCell) {
    TextFace face = Open("Liberation Sans");
    ASSERT_TRUE(face.SetCharHeight(50));
    // "_" lies below the baseline, "'" near the top of the cell.
    const int32_t w = *face.TextWidth(U"'_");
    CoverageImage image(w + 20, face.cellHeight() + 20);
    face.Draw(U"'_", image, 10, 10, true);
    int32_t top = -1, bottom = -1;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            if (image.at(x, y) != 0) {
                if (top < 0) top = y;
                bottom = y;
            }
    const int32_t baseline = 10 + face.ascent();
    EXPECT_GE(top, 10);
    EXPECT_LT(top, baseline - face.ascent() / 2);
    EXPECT_GE(bottom, baseline);
    EXPECT_LT(bottom, 10 + face.cellHeight());
}

TEST_F(TextRaster, DrawingPastTheImageIsCutOff) {
    TextFace face = Open("DejaVu Sans");
    ASSERT_TRUE(face.SetCharHeight(30));
    CoverageImage image(20, 10);
    face.Draw(U"WWWW", image, -15, -12, true);
    face.Draw(U"WWWW", image, 15, 5, false);
    EXPECT_GT(Count(image).white + Count(image).grey, 0);
}

TEST_F(TextRaster, SyntheticBoldIsWiderAndDarker) {
    TextFace regular = Open("DejaVu Sans");
    TextFace bold = Open("DejaVu Sans", SyntheticStyle{true, false});
    ASSERT_TRUE(regular.SetCharHeight(40));
    ASSERT_TRUE(bold.SetCharHeight(40));
    const int32_t wr = *regular.TextWidth(U"lll");
    const int32_t wb = *bold.TextWidth(U"lll");
    EXPECT_GT(wb, wr);
    CoverageImage a(wb, 60), b(wb, 60);
    regular.Draw(U"lll", a, 0, 0, false);
    bold.Draw(U"lll", b, 0, 0, false);
    EXPECT_GT(Count(b).white, Count(a).white);
}

TEST_F(TextRaster, MissingFileDoesNotOpen) {
    EXPECT_FALSE(TextFace::Open(*library_, "/nonexistent/font.ttf", 0));
    EXPECT_FALSE(TextFace::Open(*library_, FontFile("DejaVu Sans"), 7));
}

}  // namespace
}  // namespace mk::overlay
