// Tests of the fontconfig font catalogue.
#include "platform/font_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mk::platform {
namespace {

const FontCatalogue &Installed() {
    static const FontCatalogue catalogue = [] {
        std::optional<FontCatalogue> c = FontCatalogue::Installed();
        return c ? std::move(*c) : FontCatalogue{};
    }();
    return catalogue;
}

std::vector<const FontFace *> FacesOf(const std::string &family) {
    std::vector<const FontFace *> out;
    for (const FontFace &face : Installed().faces())
        if (face.family == family) out.push_back(&face);
    return out;
}

std::string FileName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

TEST(FontCatalogue, ListsTheFourStylesOfLiberationSans) {
    const std::vector<const FontFace *> faces = FacesOf("Liberation Sans");
    ASSERT_EQ(faces.size(), 4u) << "fonts-liberation2 must be installed";
    struct Row {
        int32_t weight;
        bool italic;
        const char *file;
    };
    // In catalogue order: weight, then upright before italic.
    const Row rows[] = {{400, false, "LiberationSans-Regular.ttf"},
                        {400, true, "LiberationSans-Italic.ttf"},
                        {700, false, "LiberationSans-Bold.ttf"},
                        {700, true, "LiberationSans-BoldItalic.ttf"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(faces[i]->weight, rows[i].weight) << i;
        EXPECT_EQ(faces[i]->italic, rows[i].italic) << i;
        EXPECT_EQ(FileName(faces[i]->file), rows[i].file) << i;
        EXPECT_EQ(faces[i]->index, 0);
        EXPECT_FALSE(faces[i]->fixedPitch);
        for (uint8_t code : {0, 1, 2, 161, 204, 238})
            EXPECT_TRUE(faces[i]->Supports(code)) << i << " " << int(code);
        EXPECT_FALSE(faces[i]->Supports(128));
    }
}

TEST(FontCatalogue, ListsFacesUnderTheirWindowsFamily) {
    // fontconfig names the condensed faces "DejaVu Sans" first and "DejaVu
    // Sans Condensed" second; the enumeration shows the second.
    const std::vector<const FontFace *> condensed = FacesOf("DejaVu Sans Condensed");
    ASSERT_FALSE(condensed.empty()) << "fonts-dejavu-core must be installed";
    for (const FontFace *face : condensed) {
        EXPECT_NE(std::find(face->otherFamilies.begin(), face->otherFamilies.end(), "DejaVu Sans"),
                  face->otherFamilies.end());
    }
    const std::vector<const FontFace *> sans = FacesOf("DejaVu Sans");
    ASSERT_EQ(sans.size(), 4u);
    const std::vector<const FontFace *> mono = FacesOf("DejaVu Sans Mono");
    ASSERT_FALSE(mono.empty());
    EXPECT_TRUE(mono.front()->fixedPitch);
}

TEST(FontCatalogue, HoldsOnlyTrueTypeAndCffFaces) {
    ASSERT_FALSE(Installed().faces().empty());
    for (const FontFace &face : Installed().faces()) {
        const std::string name = FileName(face.file);
        const std::string ext = name.substr(name.rfind('.') + 1);
        EXPECT_TRUE(ext == "ttf" || ext == "otf" || ext == "ttc" || ext == "otc" || ext == "TTF" ||
                    ext == "OTF")
            << face.file;
        EXPECT_GE(face.weight, 1);
        EXPECT_LE(face.weight, 1000);
    }
}

TEST(FontCatalogue, IsInCatalogueOrder) {
    const std::vector<FontFace> &faces = Installed().faces();
    EXPECT_TRUE(std::is_sorted(faces.begin(), faces.end(), CatalogueOrder));
    // A second listing gives the same order.
    const std::optional<FontCatalogue> again = FontCatalogue::Installed();
    ASSERT_TRUE(again);
    ASSERT_EQ(again->faces().size(), faces.size());
    for (size_t i = 0; i < faces.size(); ++i) EXPECT_EQ(again->faces()[i].file, faces[i].file);
}

TEST(FontCatalogue, SortsMadeUpFaces) {
    auto face = [](const char *family, int32_t weight, bool italic, const char *file) {
        FontFace f;
        f.family = family;
        f.weight = weight;
        f.italic = italic;
        f.file = file;
        return f;
    };
    const FontCatalogue catalogue({face("beta", 400, false, "4"), face("Alpha", 700, false, "3"),
                                   face("alpha", 400, true, "2"), face("ALPHA", 400, false, "1"),
                                   face("Alpha", 400, false, "0")});
    std::string order;
    for (const FontFace &f : catalogue.faces()) order += f.file;
    EXPECT_EQ(order, "01234");
}

TEST(FontCatalogue, CharacterSetsMapToLanguages) {
    struct Row {
        uint8_t code;
        std::vector<std::string> languages;
    };
    const std::vector<std::string> western{"en", "fr", "de"};
    const Row rows[] = {
        {0, western},        {1, western},  {2, {}},       {77, western},       {255, western},
        {128, {"ja"}},       {129, {"ko"}}, {130, {"ko"}}, {134, {"zh-cn"}},    {136, {"zh-tw"}},
        {161, {"el"}},       {162, {"tr"}}, {163, {"vi"}}, {177, {"he"}},       {178, {"ar"}},
        {186, {"lt", "lv"}}, {204, {"ru"}}, {222, {"th"}}, {238, {"cs", "pl"}}, {99, western},
    };
    for (const Row &row : rows)
        EXPECT_EQ(CharSetLanguages(row.code), row.languages) << int(row.code);
}

TEST(FontCatalogue, SymbolCharacterSetTakesEveryFace) {
    for (const FontFace &face : Installed().faces()) EXPECT_TRUE(face.Supports(2)) << face.file;
}

TEST(FontCatalogue, FamilyNamesCompareWithoutAsciiCase) {
    EXPECT_TRUE(SameFamily("Liberation Sans", "LIBERATION sans"));
    EXPECT_FALSE(SameFamily("Liberation Sans", "Liberation Sans "));
    EXPECT_FALSE(SameFamily("Liberation", "Liberation Sans"));
}

TEST(FontSubstitutes, ArialIsBoundToItsMetricAliases) {
    const std::vector<std::string> substitutes = Installed().StrongSubstitutes("Arial");
    EXPECT_NE(std::find(substitutes.begin(), substitutes.end(), "Liberation Sans"),
              substitutes.end());
    // The generic fallbacks are weak bindings and stay out.
    EXPECT_EQ(std::find(substitutes.begin(), substitutes.end(), "DejaVu Sans"), substitutes.end());
    EXPECT_EQ(std::find(substitutes.begin(), substitutes.end(), "Arial"), substitutes.end());
}

TEST(FontSubstitutes, UnknownNameHasNone) {
    EXPECT_TRUE(Installed().StrongSubstitutes("NoSuchFont").empty());
    EXPECT_TRUE(Installed().StrongSubstitutes("").empty());
    // A catalogue of made-up faces has no configuration behind it.
    EXPECT_TRUE(FontCatalogue{}.StrongSubstitutes("Arial").empty());
    EXPECT_FALSE(FontCatalogue{}.BestMatch("Arial", 400, false));
}

TEST(FontSubstitutes, BestInstalledMatchIsAnOutlineFace) {
    const std::optional<FontFace> face = Installed().BestMatch("Liberation Sans", 700, true);
    ASSERT_TRUE(face);
    EXPECT_EQ(face->family, "Liberation Sans");
    EXPECT_EQ(face->weight, 700);
    EXPECT_TRUE(face->italic);
    EXPECT_TRUE(Installed().BestMatch("NoSuchFont", 400, false));
}

}  // namespace
}  // namespace mk::platform
