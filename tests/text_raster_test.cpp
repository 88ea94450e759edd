// Tests of the FreeType text rasteriser and its extent rules.
#include "overlay/text_raster.h"

#include <gtest/gtest.h>

#include FT_SYNTHESIS_H

#include <algorithm>
#include <string>

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

// The text drawn the plain way, each glyph loaded and rendered afresh from
// a face of its own: what the face's drawing, which loads each glyph of a
// height once, must give.
CoverageImage DrawGlyphByGlyph(FT_Library library, const std::string &file,
                               SyntheticStyle synthetic, int32_t height, int32_t ascent,
                               const std::u32string &text, int32_t w, int32_t h, int32_t x,
                               int32_t y, bool antialiased) {
    CoverageImage image(w, h);
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), 0, &face) != 0) {
        ADD_FAILURE() << file;
        return image;
    }
    const FtFace owner(face);
    FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(height));
    auto load = [&](FT_UInt glyph, FT_Int32 flags) {
        if (FT_Load_Glyph(face, glyph, flags) != 0) return false;
        if (synthetic.italic) FT_GlyphSlot_Oblique(face->glyph);
        if (synthetic.bold) FT_GlyphSlot_Embolden(face->glyph);
        return true;
    };
    int64_t pen = x;
    for (const char32_t cp : text) {
        const FT_UInt glyph = FT_Get_Char_Index(face, cp);
        if (!load(glyph, FT_LOAD_DEFAULT)) continue;
        const int64_t advance = (face->glyph->advance.x + 32) >> 6;
        if (load(glyph, antialiased ? FT_LOAD_DEFAULT : FT_LOAD_TARGET_MONO) &&
            FT_Render_Glyph(face->glyph,
                            antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) == 0) {
            const FT_Bitmap &b = face->glyph->bitmap;
            for (unsigned r = 0; r < b.rows; ++r)
                for (unsigned c = 0; c < b.width; ++c) {
                    const int64_t ix = pen + face->glyph->bitmap_left + c;
                    const int64_t iy = y + ascent - face->glyph->bitmap_top + r;
                    if (ix < 0 || iy < 0 || ix >= w || iy >= h) continue;
                    const unsigned char *row = b.buffer + int64_t{r} * b.pitch;
                    uint8_t v = b.pixel_mode == FT_PIXEL_MODE_MONO
                                    ? ((row[c >> 3] & (0x80u >> (c & 7))) ? 255 : 0)
                                    : row[c];
                    if (!antialiased) v = v >= 128 ? 255 : 0;
                    uint8_t &pixel = image.at(static_cast<int32_t>(ix), static_cast<int32_t>(iy));
                    pixel = std::max(pixel, v);
                }
        }
        pen += advance;
    }
    return image;
}

TEST_F(TextRaster, DrawingGivesThePixelsOfEachGlyphLoadedAfresh) {
    struct Row {
        const char *family;
        SyntheticStyle synthetic;
        int32_t height;
        bool antialiased;
        int32_t x, y;  // where the cell starts; negative cuts the text off
    };
    const Row rows[] = {
        {"Liberation Sans", {}, 40, false, 3, 2},
        {"Liberation Sans", {}, 40, true, 3, 2},
        {"DejaVu Sans", {}, 17, false, 0, 0},
        {"DejaVu Sans", {}, 97, true, -25, -9},
        {"DejaVu Sans", {true, true}, 33, false, 5, -4},
        {"DejaVu Sans", {true, false}, 61, true, -3, 6},
    };
    // Digits and separators repeat, as in a date.
    const std::u32string text = U"2011-11-21 11:12:22 \u00E9\u20AC";
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.family) + " " + std::to_string(row.height) +
                     (row.antialiased ? " antialiased" : " monochrome"));
        TextFace face = Open(row.family, row.synthetic);
        // Measured and drawn at another height first: nothing of it may
        // stay.
        ASSERT_TRUE(face.SetCharHeight(row.height + 7));
        ASSERT_TRUE(face.TextWidth(text));
        CoverageImage before(50, 50);
        face.Draw(text, before, 0, 0, row.antialiased);

        ASSERT_TRUE(face.SetCharHeight(row.height));
        const int32_t w = *face.TextWidth(text) + 10;
        const int32_t h = face.cellHeight() + 10;
        CoverageImage drawn(w, h);
        face.Draw(text, drawn, row.x, row.y, row.antialiased);
        // Twice over the same image: the stronger coverage stays, which is
        // the same.
        face.Draw(text, drawn, row.x, row.y, row.antialiased);
        const CoverageImage expected =
            DrawGlyphByGlyph(library_->get(), FontFile(row.family), row.synthetic, row.height,
                             face.ascent(), text, w, h, row.x, row.y, row.antialiased);
        EXPECT_GT(Count(drawn).white, 50);
        EXPECT_EQ(drawn.pixels, expected.pixels);
    }
}

TEST_F(TextRaster, MissingFileDoesNotOpen) {
    EXPECT_FALSE(TextFace::Open(*library_, "/nonexistent/font.ttf", 0));
    EXPECT_FALSE(TextFace::Open(*library_, FontFile("DejaVu Sans"), 7));
}

}  // namespace
}  // namespace mk::overlay
