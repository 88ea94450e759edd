// Font matching: the font wish of the settings (family, weight, italic,
// character set) to the description and the face of an installed scalable
// font, the way the Windows font enumeration answers it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "platform/font_catalogue.h"

namespace mk::overlay {

struct FontWish {
    int32_t weight = 400;
    uint8_t italic = 0;
    uint8_t charSet = 0;
    std::string family;  // at most 31 bytes are used
};

struct FontMatch {
    MK_LogFont logFont{};
    // The catalogue entry the description was taken from; empty when no
    // scalable font of the character set is installed and the description
    // is the wish itself.
    std::optional<platform::FontFace> face;
};

// Families that stand in for a family name that is not installed.
using SubstituteFn = std::function<std::vector<std::string>(const std::string &)>;

// Matches the wish against the catalogue: the family's faces by slot
// (3 weight and slant, 2 slant, 1 weight, 0 neither; the first exact match
// ends the search, in the other slots the last face wins), then the
// substitutes of a family that gives nothing, then one face of every family
// of the character set, then the wish itself.
FontMatch SeekFont(const platform::FontCatalogue &catalogue, const FontWish &wish,
                   const SubstituteFn &substitutes);

// The same with the catalogue's own substitutes (fontconfig's strong ones).
FontMatch SeekFont(const platform::FontCatalogue &catalogue, const FontWish &wish);

// The same over the installed fonts.
FontMatch SeekInstalledFont(const FontWish &wish);

// The description of a catalogue face as the enumeration reports it in the
// character set.
MK_LogFont LogFontOf(const platform::FontFace &face, uint8_t charSet);

// The name cut to the 31 bytes of a face name, on a UTF-8 character boundary.
std::string FaceNameOf(const std::string &family);

}  // namespace mk::overlay
