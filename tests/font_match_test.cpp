// Tests of font matching: the slot rules over made-up catalogues, and the
// installed fonts with fontconfig's substitutes.
#include "overlay/font_match.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace mk::overlay {
namespace {

using platform::FontCatalogue;
using platform::FontFace;

FontFace Face(const std::string &family, int32_t weight, bool italic, const std::string &file,
              std::vector<uint8_t> charSets = {0, 1, 2}) {
    FontFace face;
    face.family = family;
    face.weight = weight;
    face.italic = italic;
    face.file = file;
    for (uint8_t code : charSets) face.charSets.set(code);
    return face;
}

FontWish Wish(const std::string &family, int32_t weight = 400, uint8_t italic = 0,
              uint8_t charSet = 0) {
    FontWish wish;
    wish.family = family;
    wish.weight = weight;
    wish.italic = italic;
    wish.charSet = charSet;
    return wish;
}

// A family with the four usual styles, one with a regular face only, and
// one that covers Cyrillic only.
FontCatalogue Sample() {
    return FontCatalogue({
        Face("Sans", 400, false, "sans-r.ttf"),
        Face("Sans", 700, false, "sans-b.ttf"),
        Face("Sans", 400, true, "sans-i.ttf"),
        Face("Sans", 700, true, "sans-bi.ttf"),
        Face("Plain", 400, false, "plain.ttf"),
        Face("Kyrill", 400, false, "kyrill.ttf", {204}),
    });
}

const SubstituteFn kNoSubstitutes = [](const std::string &) { return std::vector<std::string>{}; };

TEST(FontMatch, PicksTheFaceBySlot) {
    struct Row {
        int32_t weight;
        uint8_t italic;
        const char *file;
    };
    // Every style of a four-style family is an exact match of its own.
    const Row rows[] = {
        {400, 0, "sans-r.ttf"},
        {700, 0, "sans-b.ttf"},
        {400, 1, "sans-i.ttf"},
        {700, 1, "sans-bi.ttf"},
        // No face of weight 500: the slant match wins, and of the two the
        // one enumerated last (the bold, after the regular).
        {500, 0, "sans-b.ttf"},
        {500, 1, "sans-bi.ttf"},
    };
    const FontCatalogue catalogue = Sample();
    for (const Row &row : rows) {
        const FontMatch match =
            SeekFont(catalogue, Wish("Sans", row.weight, row.italic), kNoSubstitutes);
        ASSERT_TRUE(match.face) << row.weight << "/" << int(row.italic);
        EXPECT_EQ(match.face->file, row.file) << row.weight << "/" << int(row.italic);
        EXPECT_STREQ(match.logFont.lfFaceName, "Sans");
        EXPECT_EQ(match.logFont.lfWidth, 0);
    }
}

TEST(FontMatch, FirstExactMatchStopsTheSearch) {
    // Two faces of the same style: the first one enumerated is kept, though
    // in the other slots the last one wins.
    const FontCatalogue catalogue({
        Face("Twin", 400, false, "twin-a.ttf"),
        Face("Twin", 400, false, "twin-b.ttf"),
        Face("Twin", 700, true, "twin-c.ttf"),
        Face("Twin", 700, true, "twin-d.ttf"),
    });
    const FontMatch exact = SeekFont(catalogue, Wish("Twin", 400, 0), kNoSubstitutes);
    ASSERT_TRUE(exact.face);
    EXPECT_EQ(exact.face->file, "twin-a.ttf");
    // Weight 300 upright: both 400 faces are slant matches, the last wins.
    const FontMatch slant = SeekFont(catalogue, Wish("Twin", 300, 0), kNoSubstitutes);
    ASSERT_TRUE(slant.face);
    EXPECT_EQ(slant.face->file, "twin-b.ttf");
}

TEST(FontMatch, SlotOrderIsExactThenSlantThenWeightThenNeither) {
    struct Row {
        std::vector<FontFace> faces;
        FontWish wish;
        const char *file;
    };
    const Row rows[] = {
        // Slant match (slot 2) beats weight match (slot 1).
        {{Face("F", 700, true, "weight.ttf"), Face("F", 400, false, "slant.ttf")},
         Wish("F", 700, 0),
         "slant.ttf"},
        // Weight match (slot 1) beats neither (slot 0).
        {{Face("F", 700, false, "neither.ttf"), Face("F", 400, false, "weight.ttf")},
         Wish("F", 400, 1),
         "weight.ttf"},
        // A bold italic wish on a family with only a regular face: slot 0.
        {{Face("F", 400, false, "regular.ttf")}, Wish("F", 700, 1), "regular.ttf"},
        // Exact beats everything, wherever it comes in the order.
        {{Face("F", 400, false, "a.ttf"), Face("F", 700, false, "b.ttf"),
          Face("F", 700, true, "c.ttf")},
         Wish("F", 700, 1),
         "c.ttf"},
    };
    for (const Row &row : rows) {
        const FontMatch match = SeekFont(FontCatalogue(row.faces), row.wish, kNoSubstitutes);
        ASSERT_TRUE(match.face) << row.file;
        EXPECT_EQ(match.face->file, row.file);
        EXPECT_EQ(match.logFont.lfWeight, match.face->weight);
        EXPECT_EQ(match.logFont.lfItalic, match.face->italic ? 1 : 0);
    }
}

TEST(FontMatch, ItalicWishOfTwoNeverMatchesTheSlant) {
    const FontCatalogue catalogue = Sample();
    // Weight 400 and italic 2: no slant match, so of the two weight matches
    // (regular, italic) the one enumerated last wins.
    const FontMatch match = SeekFont(catalogue, Wish("Sans", 400, 2), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "sans-i.ttf");
    // Weight 500 and italic 2: nothing matches, the last face of the family.
    const FontMatch none = SeekFont(catalogue, Wish("Sans", 500, 2), kNoSubstitutes);
    ASSERT_TRUE(none.face);
    EXPECT_EQ(none.face->file, "sans-bi.ttf");
}

TEST(FontMatch, UnknownFamilySearchesEveryFamilyOfTheCharacterSet) {
    const FontCatalogue catalogue = Sample();
    // The families' representative faces are the regular ones; the first
    // exact match in catalogue order ("Plain" before "Sans") wins.
    const FontMatch match = SeekFont(catalogue, Wish("NoSuchFont"), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "plain.ttf");
    EXPECT_STREQ(match.logFont.lfFaceName, "Plain");
    // Cyrillic: only one family covers it.
    const FontMatch cyrillic = SeekFont(catalogue, Wish("NoSuchFont", 700, 1, 204), kNoSubstitutes);
    ASSERT_TRUE(cyrillic.face);
    EXPECT_EQ(cyrillic.face->file, "kyrill.ttf");
    EXPECT_EQ(cyrillic.logFont.lfCharSet, 204);
}

TEST(FontMatch, FamilyWithoutTheCharacterSetIsUnknown) {
    // "Sans" has no Cyrillic face: the search goes on to every family.
    const FontMatch match = SeekFont(Sample(), Wish("Sans", 400, 0, 204), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "kyrill.ttf");
}

TEST(FontMatch, SecondPassTakesOneFacePerFamily) {
    // With bold wished, the bold face of "Sans" is not offered in the pass
    // over all families: each family shows its regular face only, so no
    // exact match exists and the last slant match ("Sans" regular) wins.
    const FontMatch match = SeekFont(Sample(), Wish("", 700, 0), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "sans-r.ttf");
}

TEST(FontMatch, EmptyFamilyEnumeratesAllFamiliesAtOnce) {
    int calls = 0;
    const SubstituteFn counting = [&](const std::string &) {
        ++calls;
        return std::vector<std::string>{"Sans"};
    };
    const FontMatch match = SeekFont(Sample(), Wish(""), counting);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "plain.ttf");
    EXPECT_EQ(calls, 0);
}

TEST(FontMatch, SubstituteIsTriedBeforeEveryFamily) {
    const std::map<std::string, std::vector<std::string>> aliases{{"Helvet", {"Missing", "Sans"}}};
    const SubstituteFn substitutes = [&](const std::string &name) {
        auto it = aliases.find(name);
        return it == aliases.end() ? std::vector<std::string>{} : it->second;
    };
    const FontMatch match = SeekFont(Sample(), Wish("Helvet", 700, 1), substitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "sans-bi.ttf");
    EXPECT_STREQ(match.logFont.lfFaceName, "Sans");
}

TEST(FontMatch, FamilyNamesCompareWithoutCase) {
    const FontMatch match = SeekFont(Sample(), Wish("sANS", 700, 0), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "sans-b.ttf");
    EXPECT_STREQ(match.logFont.lfFaceName, "Sans");
}

TEST(FontMatch, TypographicFamilyNameIsTheFallback) {
    FontFace condensed = Face("Sans Condensed", 400, false, "sans-c.ttf");
    condensed.otherFamilies = {"Sans Wide"};
    const FontCatalogue catalogue({condensed, Face("Sans", 400, false, "sans-r.ttf")});
    const FontMatch match = SeekFont(catalogue, Wish("Sans Wide"), kNoSubstitutes);
    ASSERT_TRUE(match.face);
    EXPECT_EQ(match.face->file, "sans-c.ttf");
    EXPECT_STREQ(match.logFont.lfFaceName, "Sans Condensed");
}

TEST(FontMatch, NothingInstalledGivesTheWishItself) {
    const FontMatch match = SeekFont(FontCatalogue{}, Wish("Wished", 700, 1, 161), kNoSubstitutes);
    EXPECT_FALSE(match.face);
    MK_LogFont expected{};
    expected.lfHeight = -11;
    expected.lfWeight = 700;
    expected.lfItalic = 1;
    expected.lfCharSet = 161;
    std::strcpy(expected.lfFaceName, "Wished");
    EXPECT_EQ(std::memcmp(&match.logFont, &expected, sizeof expected), 0);
}

TEST(FontMatch, DescriptionHasTheEnumerationFields) {
    FontFace mono = Face("Mono", 700, true, "mono.ttf");
    mono.fixedPitch = true;
    const MK_LogFont font = LogFontOf(mono, 204);
    EXPECT_EQ(font.lfHeight, 0);
    EXPECT_EQ(font.lfWidth, 0);
    EXPECT_EQ(font.lfWeight, 700);
    EXPECT_EQ(font.lfItalic, 1);
    EXPECT_EQ(font.lfUnderline, 0);
    EXPECT_EQ(font.lfStrikeOut, 0);
    EXPECT_EQ(font.lfCharSet, 204);
    EXPECT_EQ(font.lfOutPrecision, 3);   // stroke precision: an outline font
    EXPECT_EQ(font.lfClipPrecision, 2);  // stroke clipping
    EXPECT_EQ(font.lfQuality, 1);
    EXPECT_EQ(font.lfPitchAndFamily, 0x31);  // fixed pitch, modern
    EXPECT_STREQ(font.lfFaceName, "Mono");
    EXPECT_EQ(LogFontOf(Face("Prop", 400, false, "p.ttf"), 0).lfPitchAndFamily, 2);
}

TEST(FontMatch, FaceNamesKeepThirtyOneBytes) {
    EXPECT_EQ(FaceNameOf(std::string(40, 'a')), std::string(31, 'a'));
    // A two-byte character across the limit is dropped whole.
    const std::string name = std::string(30, 'a') + "\xC3\xA9" + "b";
    EXPECT_EQ(FaceNameOf(name), std::string(30, 'a'));
    EXPECT_EQ(FaceNameOf("Short"), "Short");
}

// The installed fonts of the project's package list.

TEST(InstalledFontMatch, ArialFindsItsMetricCompatibleSubstitute) {
    const FontMatch match = SeekInstalledFont(Wish("Arial"));
    ASSERT_TRUE(match.face) << "no scalable font installed";
    EXPECT_STREQ(match.logFont.lfFaceName, "Liberation Sans")
        << "fonts-liberation2 must be installed";
    EXPECT_EQ(match.logFont.lfWeight, 400);
    EXPECT_EQ(match.logFont.lfItalic, 0);
    EXPECT_NE(match.face->file.find("LiberationSans-Regular"), std::string::npos);

    const FontMatch boldItalic = SeekInstalledFont(Wish("Arial", 700, 1));
    ASSERT_TRUE(boldItalic.face);
    EXPECT_NE(boldItalic.face->file.find("LiberationSans-BoldItalic"), std::string::npos);
}

TEST(InstalledFontMatch, ExactMatchOfAFourStyleFamily) {
    struct Row {
        int32_t weight;
        uint8_t italic;
        const char *file;
    };
    const Row rows[] = {{400, 0, "DejaVuSans.ttf"},
                        {700, 0, "DejaVuSans-Bold.ttf"},
                        {400, 1, "DejaVuSans-Oblique.ttf"},
                        {700, 1, "DejaVuSans-BoldOblique.ttf"}};
    for (const Row &row : rows) {
        const FontMatch match = SeekInstalledFont(Wish("DejaVu Sans", row.weight, row.italic));
        ASSERT_TRUE(match.face) << "fonts-dejavu-core must be installed";
        EXPECT_STREQ(match.logFont.lfFaceName, "DejaVu Sans");
        const std::string &file = match.face->file;
        EXPECT_EQ(file.substr(file.rfind('/') + 1), row.file);
    }
}

TEST(InstalledFontMatch, UnknownFamilyGoesToTheSecondPass) {
    const FontMatch match = SeekInstalledFont(Wish("NoSuchFont"));
    ASSERT_TRUE(match.face);
    // The first family in catalogue order that has a regular upright face
    // covering Western European.
    const std::optional<FontCatalogue> catalogue = FontCatalogue::Installed();
    ASSERT_TRUE(catalogue);
    const FontFace *first = nullptr;
    for (const FontFace &face : catalogue->faces())
        if (face.Supports(0) && face.weight == 400 && !face.italic) {
            first = &face;
            break;
        }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(match.face->family, first->family);
    EXPECT_EQ(match.logFont.lfWeight, 400);
    EXPECT_EQ(match.logFont.lfItalic, 0);
    EXPECT_NE(std::string(match.logFont.lfFaceName), "NoSuchFont");
}

TEST(InstalledFontMatch, CyrillicFaceCoversRussian) {
    const FontMatch match = SeekInstalledFont(Wish("Liberation Serif", 400, 0, 204));
    ASSERT_TRUE(match.face);
    EXPECT_STREQ(match.logFont.lfFaceName, "Liberation Serif");
    EXPECT_EQ(match.logFont.lfCharSet, 204);
}

TEST(SeekFontExport, FillsTheDescriptionAndReturnsOne) {
    MK_LogFont font;
    std::memset(&font, 0x5A, sizeof font);
    EXPECT_EQ(MK_SeekFont(nullptr, 700, 0, 0, "Arial", &font), 1);
    EXPECT_STREQ(font.lfFaceName, "Liberation Sans");
    EXPECT_EQ(font.lfWeight, 700);
    EXPECT_EQ(font.lfWidth, 0);
    EXPECT_EQ(MK_SeekFont(nullptr, 400, 0, 0, "Arial", nullptr), 1);
    MK_LogFont any{};
    EXPECT_EQ(MK_SeekFont(nullptr, 400, 0, 0, nullptr, &any), 1);
    EXPECT_NE(any.lfFaceName[0], '\0');
}

}  // namespace
}  // namespace mk::overlay

namespace {

std::vector<std::string> Families(uint8_t charSet, int32_t size, int32_t *count) {
    std::vector<char> buffer(size_t(size) + 1, 'x');
    *count = MK_FontFamilies(charSet, buffer.data(), size);
    std::vector<std::string> names;
    for (const char *p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) names.push_back(p);
    return names;
}

// The face list of the settings dialog: every installed family of the
// character set once, in case-blind order, each with the styles it has.
TEST(FontLists, FamiliesAreSortedOnceEachAndHaveStyles) {
    int32_t count = 0;
    const auto names = Families(0, 65536, &count);
    ASSERT_EQ(size_t(count), names.size());
    ASSERT_FALSE(names.empty());
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_LT(strcasecmp(names[i - 1].c_str(), names[i].c_str()), 0) << names[i];
    for (const auto &name : names) EXPECT_NE(MK_FontStyles(name.c_str(), 0), 0) << name;
    // The project's packages install DejaVu Sans in all four styles.
    EXPECT_EQ(MK_FontStyles("DejaVu Sans", 0), 0xF);
    EXPECT_EQ(MK_FontStyles("dejavu sans", 0), 0xF);
    EXPECT_EQ(MK_FontStyles("No Such Family", 0), 0);
    EXPECT_EQ(MK_FontStyles(nullptr, 0), 0);

    // A buffer that holds only the first names gets those, properly ended.
    const size_t room = names[0].size() + 1 + names[1].size() + 1 + 1;
    const auto cut = Families(0, int32_t(room), &count);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1], names[1]);
}

}  // namespace
