// Font matching over the font catalogue.
#include "overlay/font_match.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "platform/name_list.h"

namespace mk::overlay {

namespace {

using platform::FontFace;

// Windows LOGFONT constants as the enumeration reports TrueType fonts.
constexpr uint8_t kOutStrokePrecision = 3;
constexpr uint8_t kClipStrokePrecision = 2;
constexpr uint8_t kDraftQuality = 1;
constexpr uint8_t kFixedPitch = 1;
constexpr uint8_t kVariablePitch = 2;
constexpr uint8_t kFamilyModern = 0x30;

class Slots {
  public:
    explicit Slots(const FontWish &wish) : wish_(wish) {}

    // Files the face into its slot; true when it is an exact match, which
    // ends the enumeration.
    bool Offer(const FontFace &face) {
        int slot = 0;
        if (face.weight == wish_.weight) slot += 1;
        // Only 0 and 1 can equal a face's italic state, so a wish of 2 never
        // counts as a slant match.
        if ((face.italic ? 1 : 0) == wish_.italic) slot += 2;
        slots_[static_cast<size_t>(slot)] = &face;
        return slot == 3;
    }

    const FontFace *Best() const {
        for (int slot = 3; slot >= 0; --slot)
            if (slots_[static_cast<size_t>(slot)] != nullptr)
                return slots_[static_cast<size_t>(slot)];
        return nullptr;
    }

  private:
    const FontWish &wish_;
    std::array<const FontFace *, 4> slots_{};
};

// The styles of one family in the character set. Faces are listed under
// their Windows family name; a name that only fontconfig's other names of a
// face carry (a typographic family) is the fallback.
const FontFace *EnumerateFamily(const platform::FontCatalogue &catalogue, const FontWish &wish,
                                const std::string &family) {
    const std::string name = FaceNameOf(family);
    Slots slots(wish);
    bool any = false;
    for (const FontFace &face : catalogue.faces()) {
        if (!face.Supports(wish.charSet) || !platform::SameFamily(FaceNameOf(face.family), name))
            continue;
        any = true;
        if (slots.Offer(face)) return &face;
    }
    if (any) return slots.Best();
    for (const FontFace &face : catalogue.faces()) {
        if (!face.Supports(wish.charSet)) continue;
        bool named = false;
        for (const std::string &other : face.otherFamilies)
            named = named || platform::SameFamily(FaceNameOf(other), name);
        if (named && slots.Offer(face)) return &face;
    }
    return slots.Best();
}

// How far a face is from the regular style that the enumeration of all
// families reports for each family: upright first, then the weight closest
// to 400, the lighter one on a tie.
std::array<int32_t, 3> DistanceFromRegular(const FontFace &face) {
    return {face.italic ? 1 : 0, std::abs(face.weight - 400), face.weight};
}

// One face per family of the character set, the families in catalogue order.
const FontFace *EnumerateAllFamilies(const platform::FontCatalogue &catalogue,
                                     const FontWish &wish) {
    Slots slots(wish);
    const std::vector<FontFace> &faces = catalogue.faces();
    for (size_t i = 0; i < faces.size();) {
        // The catalogue keeps a family's faces together.
        size_t end = i;
        const FontFace *representative = nullptr;
        while (end < faces.size() && platform::SameFamily(faces[end].family, faces[i].family)) {
            const FontFace &face = faces[end];
            if (face.Supports(wish.charSet) &&
                (representative == nullptr ||
                 DistanceFromRegular(face) < DistanceFromRegular(*representative)))
                representative = &face;
            ++end;
        }
        if (representative != nullptr && slots.Offer(*representative)) return representative;
        i = end;
    }
    return slots.Best();
}

void CopyFaceName(char (&out)[32], const std::string &name) {
    std::memset(out, 0, sizeof out);
    const std::string cut = FaceNameOf(name);
    std::memcpy(out, cut.data(), cut.size());
}

}  // namespace

std::string FaceNameOf(const std::string &family) {
    size_t end = family.find('\0');
    if (end == std::string::npos) end = family.size();
    if (end > 31) {
        end = 31;
        // Step back over UTF-8 continuation bytes so no character is split.
        while (end > 0 && (static_cast<unsigned char>(family[end]) & 0xC0) == 0x80) --end;
    }
    return family.substr(0, end);
}

MK_LogFont LogFontOf(const FontFace &face, uint8_t charSet) {
    MK_LogFont font{};
    font.lfWeight = face.weight;
    font.lfItalic = face.italic ? 1 : 0;
    font.lfCharSet = charSet;
    font.lfOutPrecision = kOutStrokePrecision;
    font.lfClipPrecision = kClipStrokePrecision;
    font.lfQuality = kDraftQuality;
    // fontconfig knows the pitch but not the Windows family class, so only
    // fixed-pitch faces get one (modern).
    font.lfPitchAndFamily = face.fixedPitch ? (kFixedPitch | kFamilyModern) : kVariablePitch;
    CopyFaceName(font.lfFaceName, face.family);
    return font;
}

FontMatch SeekFont(const platform::FontCatalogue &catalogue, const FontWish &wish,
                   const SubstituteFn &substitutes) {
    const std::string family = FaceNameOf(wish.family);
    const FontFace *found = nullptr;
    if (family.empty()) {
        found = EnumerateAllFamilies(catalogue, wish);
    } else {
        found = EnumerateFamily(catalogue, wish, family);
        if (found == nullptr && substitutes) {
            for (const std::string &substitute : substitutes(family)) {
                found = EnumerateFamily(catalogue, wish, substitute);
                if (found != nullptr) break;
            }
        }
        if (found == nullptr) found = EnumerateAllFamilies(catalogue, wish);
    }

    FontMatch match;
    if (found != nullptr) {
        match.logFont = LogFontOf(*found, wish.charSet);
        match.logFont.lfWidth = 0;
        match.face = *found;
        return match;
    }
    match.logFont.lfHeight = -11;
    match.logFont.lfWeight = wish.weight;
    match.logFont.lfItalic = wish.italic;
    match.logFont.lfCharSet = wish.charSet;
    CopyFaceName(match.logFont.lfFaceName, family);
    return match;
}

FontMatch SeekFont(const platform::FontCatalogue &catalogue, const FontWish &wish) {
    return SeekFont(catalogue, wish,
                    [&](const std::string &family) { return catalogue.StrongSubstitutes(family); });
}

FontMatch SeekInstalledFont(const FontWish &wish) {
    const std::optional<platform::FontCatalogue> installed = platform::FontCatalogue::Installed();
    const platform::FontCatalogue none;
    return SeekFont(installed ? *installed : none, wish);
}

}  // namespace mk::overlay

extern "C" MK_API int32_t MK_SeekFont(void *dc, int32_t weight, uint8_t italic, uint8_t charSet,
                                      const char *faceName, MK_LogFont *font) {
    (void)dc;  // fonts come from the catalogue, not from a drawing context
    if (font == nullptr) return 1;
    mk::overlay::FontWish wish;
    wish.weight = weight;
    wish.italic = italic;
    wish.charSet = charSet;
    try {
        if (faceName != nullptr) wish.family.assign(faceName, ::strnlen(faceName, 32));
        *font = mk::overlay::SeekInstalledFont(wish).logFont;
    } catch (...) {
        // Out of memory: the wish itself, as when nothing is installed.
        *font = MK_LogFont{};
        font->lfHeight = -11;
        font->lfWeight = weight;
        font->lfItalic = italic;
        font->lfCharSet = charSet;
        if (faceName != nullptr) std::memcpy(font->lfFaceName, faceName, ::strnlen(faceName, 31));
    }
    return 1;
}

namespace {

// The faces of the installed catalogue; none when fontconfig cannot load.
std::vector<mk::platform::FontFace> InstalledFaces() {
    std::optional<mk::platform::FontCatalogue> installed = mk::platform::FontCatalogue::Installed();
    return installed ? installed->faces() : std::vector<mk::platform::FontFace>{};
}

}  // namespace

extern "C" MK_API int32_t MK_FontFamilies(uint8_t charSet, char *buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    try {
        std::vector<std::string> families;
        for (const auto &face : InstalledFaces()) {
            if (!face.Supports(charSet)) continue;
            const std::string name = mk::overlay::FaceNameOf(face.family);
            if (std::none_of(families.begin(), families.end(), [&](const std::string &known) {
                    return mk::platform::SameFamily(known, name);
                }))
                families.push_back(name);
        }
        std::sort(families.begin(), families.end(), [](const std::string &a, const std::string &b) {
            return strcasecmp(a.c_str(), b.c_str()) < 0;
        });
        return mk::platform::WriteNameList(families, buffer, size);
    } catch (...) {
        buffer[0] = '\0';
        return 0;
    }
}

extern "C" MK_API int32_t MK_FontStyles(const char *family, uint8_t charSet) {
    if (family == nullptr) return 0;
    try {
        const std::string wanted = mk::overlay::FaceNameOf(family);
        int32_t styles = 0;
        for (const auto &face : InstalledFaces()) {
            if (!face.Supports(charSet) ||
                !mk::platform::SameFamily(mk::overlay::FaceNameOf(face.family), wanted))
                continue;
            styles |= 1 << ((face.weight == 700 ? 2 : 0) + (face.italic ? 1 : 0));
        }
        return styles;
    } catch (...) {
        return 0;
    }
}
