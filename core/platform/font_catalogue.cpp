// The font catalogue on fontconfig.
#include "platform/font_catalogue.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>

namespace mk::platform {

namespace {

template <typename T, void (*Free)(T *)>
struct FcFree {
    void operator()(T *p) const noexcept {
        if (p != nullptr) Free(p);
    }
};
using PatternPtr = std::unique_ptr<FcPattern, FcFree<FcPattern, FcPatternDestroy>>;
using ObjectSetPtr = std::unique_ptr<FcObjectSet, FcFree<FcObjectSet, FcObjectSetDestroy>>;
using FontSetPtr = std::unique_ptr<FcFontSet, FcFree<FcFontSet, FcFontSetDestroy>>;

struct CharSetLanguageRow {
    uint8_t code;
    std::vector<std::string> languages;
};

const std::vector<std::string> &WesternLanguages() {
    static const std::vector<std::string> western{"en", "fr", "de"};
    return western;
}

const std::vector<CharSetLanguageRow> &CharSetTable() {
    static const std::vector<CharSetLanguageRow> table{
        {0, WesternLanguages()}, {1, WesternLanguages()}, {2, {}},          {128, {"ja"}},
        {129, {"ko"}},           {130, {"ko"}},           {134, {"zh-cn"}}, {136, {"zh-tw"}},
        {161, {"el"}},           {162, {"tr"}},           {163, {"vi"}},    {177, {"he"}},
        {178, {"ar"}},           {186, {"lt", "lv"}},     {204, {"ru"}},    {222, {"th"}},
        {238, {"cs", "pl"}},
    };
    return table;
}

std::string StringValue(FcPattern *pattern, const char *object, int n) {
    FcChar8 *value = nullptr;
    if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch || value == nullptr)
        return {};
    return reinterpret_cast<const char *>(value);
}

bool IsEnglish(const std::string &lang) {
    return lang == "en" || lang.rfind("en-", 0) == 0 || lang.rfind("en_", 0) == 0;
}

// The faces fontconfig lists as scalable include Type 1 and bitmap-derived
// formats; only TrueType and CFF outlines count, as only TrueType fonts do
// in the Windows enumeration.
bool IsOutlineFormat(const std::string &format) { return format == "TrueType" || format == "CFF"; }

std::optional<FontFace> FaceFromPattern(FcPattern *pattern) {
    FcBool scalable = FcFalse;
    if (FcPatternGetBool(pattern, FC_SCALABLE, 0, &scalable) != FcResultMatch || !scalable)
        return std::nullopt;
    if (!IsOutlineFormat(StringValue(pattern, FC_FONTFORMAT, 0))) return std::nullopt;

    FontFace face;
    face.file = StringValue(pattern, FC_FILE, 0);
    if (face.file.empty()) return std::nullopt;

    // fontconfig lists the typographic family first and the legacy family
    // (the one the Windows enumeration shows) last; take the last English
    // one, or the first name when none is marked English.
    std::vector<std::string> families;
    int legacy = -1;
    for (int n = 0;; ++n) {
        std::string name = StringValue(pattern, FC_FAMILY, n);
        if (name.empty()) break;
        if (IsEnglish(StringValue(pattern, FC_FAMILYLANG, n))) legacy = n;
        families.push_back(std::move(name));
    }
    if (families.empty()) return std::nullopt;
    if (legacy < 0) legacy = 0;
    face.family = families[static_cast<size_t>(legacy)];
    for (size_t n = 0; n < families.size(); ++n) {
        if (static_cast<int>(n) == legacy || SameFamily(families[n], face.family)) continue;
        if (std::none_of(face.otherFamilies.begin(), face.otherFamilies.end(),
                         [&](const std::string &f) { return SameFamily(f, families[n]); }))
            face.otherFamilies.push_back(families[n]);
    }

    face.style = StringValue(pattern, FC_STYLE, 0);
    int weight = FC_WEIGHT_REGULAR;
    if (FcPatternGetInteger(pattern, FC_WEIGHT, 0, &weight) == FcResultMatch) {
        face.weight = FcWeightToOpenType(weight);
    } else {
        double w = FC_WEIGHT_REGULAR;
        if (FcPatternGetDouble(pattern, FC_WEIGHT, 0, &w) == FcResultMatch)
            face.weight = static_cast<int32_t>(FcWeightToOpenTypeDouble(w) + 0.5);
    }
    int slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(pattern, FC_SLANT, 0, &slant);
    face.italic = slant != FC_SLANT_ROMAN;
    int spacing = FC_PROPORTIONAL;
    if (FcPatternGetInteger(pattern, FC_SPACING, 0, &spacing) == FcResultMatch)
        face.fixedPitch = spacing == FC_MONO || spacing == FC_CHARCELL;
    int index = 0;
    FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
    face.index = index;

    FcLangSet *langs = nullptr;
    const bool haveLangs = FcPatternGetLangSet(pattern, FC_LANG, 0, &langs) == FcResultMatch;
    auto covers = [&](const std::vector<std::string> &wanted) {
        return std::all_of(wanted.begin(), wanted.end(), [&](const std::string &lang) {
            return haveLangs &&
                   FcLangSetHasLang(langs, reinterpret_cast<const FcChar8 *>(lang.c_str())) ==
                       FcLangEqual;
        });
    };
    // Codes without a row of their own are Western European.
    if (covers(WesternLanguages())) face.charSets.set();
    for (const CharSetLanguageRow &row : CharSetTable())
        face.charSets.set(row.code, covers(row.languages));
    return face;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(const std::string &s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), FoldAscii);
    return out;
}

}  // namespace

std::vector<std::string> CharSetLanguages(uint8_t charSet) {
    for (const CharSetLanguageRow &row : CharSetTable())
        if (row.code == charSet) return row.languages;
    return WesternLanguages();
}

bool SameFamily(const std::string &a, const std::string &b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

bool CatalogueOrder(const FontFace &a, const FontFace &b) {
    return std::forward_as_tuple(Folded(a.family), a.weight, a.italic, a.file, a.index) <
           std::forward_as_tuple(Folded(b.family), b.weight, b.italic, b.file, b.index);
}

void FontCatalogue::ConfigFree::operator()(_FcConfig *config) const noexcept {
    if (config != nullptr) FcConfigDestroy(config);
}

FontCatalogue::FontCatalogue() = default;
FontCatalogue::~FontCatalogue() = default;
FontCatalogue::FontCatalogue(FontCatalogue &&) noexcept = default;
FontCatalogue &FontCatalogue::operator=(FontCatalogue &&) noexcept = default;

FontCatalogue::FontCatalogue(std::vector<FontFace> faces) : faces_(std::move(faces)) {
    std::stable_sort(faces_.begin(), faces_.end(), CatalogueOrder);
}

std::optional<FontCatalogue> FontCatalogue::Installed() {
    // A configuration of our own: fontconfig's default one lives until
    // FcFini and is shared by the whole process.
    std::unique_ptr<_FcConfig, ConfigFree> config(FcInitLoadConfigAndFonts());
    if (!config) return std::nullopt;
    PatternPtr pattern(FcPatternCreate());
    if (!pattern || !FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue)) return std::nullopt;
    ObjectSetPtr objects(FcObjectSetBuild(FC_FAMILY, FC_FAMILYLANG, FC_STYLE, FC_WEIGHT, FC_SLANT,
                                          FC_SPACING, FC_FILE, FC_INDEX, FC_FONTFORMAT, FC_SCALABLE,
                                          FC_LANG, static_cast<char *>(nullptr)));
    if (!objects) return std::nullopt;
    FontSetPtr set(FcFontList(config.get(), pattern.get(), objects.get()));
    if (!set) return std::nullopt;
    std::vector<FontFace> faces;
    faces.reserve(static_cast<size_t>(set->nfont));
    for (int i = 0; i < set->nfont; ++i)
        if (std::optional<FontFace> face = FaceFromPattern(set->fonts[i]))
            faces.push_back(std::move(*face));
    FontCatalogue catalogue(std::move(faces));
    catalogue.config_ = std::move(config);
    catalogue.configLock_ = std::make_unique<std::mutex>();
    return catalogue;
}

std::vector<std::string> FontCatalogue::StrongSubstitutes(const std::string &family) const {
    std::vector<std::string> out;
    if (family.empty() || !config_) return out;
    const std::lock_guard<std::mutex> hold(*configLock_);
    PatternPtr pattern(FcPatternCreate());
    if (!pattern || !FcPatternAddString(pattern.get(), FC_FAMILY,
                                        reinterpret_cast<const FcChar8 *>(family.c_str())))
        return out;
    // Only the configuration's rules; FcDefaultSubstitute adds nothing to
    // the family list.
    if (!FcConfigSubstitute(config_.get(), pattern.get(), FcMatchPattern)) return out;
    for (int n = 0;; ++n) {
        FcValue value;
        FcValueBinding binding = FcValueBindingWeak;
        if (FcPatternGetWithBinding(pattern.get(), FC_FAMILY, n, &value, &binding) != FcResultMatch)
            break;
        if (value.type != FcTypeString || binding == FcValueBindingWeak) continue;
        std::string name = reinterpret_cast<const char *>(value.u.s);
        if (SameFamily(name, family)) continue;
        if (std::none_of(out.begin(), out.end(),
                         [&](const std::string &f) { return SameFamily(f, name); }))
            out.push_back(std::move(name));
    }
    return out;
}

std::optional<FontFace> FontCatalogue::BestMatch(const std::string &family, int32_t weight,
                                                 bool italic) const {
    if (!config_) return std::nullopt;
    const std::lock_guard<std::mutex> hold(*configLock_);
    PatternPtr pattern(FcPatternCreate());
    if (!pattern) return std::nullopt;
    if (!family.empty())
        FcPatternAddString(pattern.get(), FC_FAMILY,
                           reinterpret_cast<const FcChar8 *>(family.c_str()));
    const int openType = weight <= 0 ? 400 : std::min(weight, 1000);
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(openType));
    FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    if (!FcConfigSubstitute(config_.get(), pattern.get(), FcMatchPattern)) return std::nullopt;
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    FontSetPtr sorted(FcFontSort(config_.get(), pattern.get(), FcTrue, nullptr, &result));
    if (!sorted) return std::nullopt;
    for (int i = 0; i < sorted->nfont; ++i)
        if (std::optional<FontFace> face = FaceFromPattern(sorted->fonts[i])) return face;
    return std::nullopt;
}

}  // namespace mk::platform
