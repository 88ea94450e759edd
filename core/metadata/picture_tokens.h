// The tokens of a Windows date or time picture, shared by the formatter and
// the conversion of ICU patterns in the locale module.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mk::metadata {

// One piece of a Windows picture: a run of one element letter, or literal
// text (quotes already resolved).
struct PictureToken {
    char letter = 0;   // 0: literal text
    int count = 0;     // length of the letter run
    std::string text;  // the literal text, or the run as written
};

// Splits a Windows picture. Runs of a letter in `elements` become element
// tokens; everything else is literal. Text between single quotes is literal,
// and '' stands for one quote inside and outside quoted text. An unclosed
// quote runs to the end of the picture.
std::vector<PictureToken> TokenizePicture(std::string_view picture, std::string_view elements);

// The element letters of each picture kind: GetDateFormat knows only the
// date letters and GetTimeFormat only the time letters; the others stand as
// they are.
inline constexpr std::string_view kDateElements = "dMyg";
inline constexpr std::string_view kTimeElements = "hHmst";

}  // namespace mk::metadata
