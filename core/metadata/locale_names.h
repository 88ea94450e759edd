// The calendar names of one locale, as the formatter uses them, and their
// flat form (NUL-terminated strings in a fixed order) in which the locale
// module hands them over.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace mk::metadata {

struct LocaleNames {
    std::array<std::string, 12> monthFormat;      // genitive where the language has one
    std::array<std::string, 12> monthStandalone;  // nominative
    std::array<std::string, 12> monthFormatAbbr;
    std::array<std::string, 12> monthStandaloneAbbr;
    std::array<std::string, 7> day;  // Sunday first
    std::array<std::string, 7> dayAbbr;
    std::string am, pm;
    std::string era;  // the Common Era, abbreviated
};

// The names one after the other, each followed by a NUL.
std::string FlattenNames(const LocaleNames &names);
// The names back from their flat form; nothing when the text does not hold
// exactly the strings FlattenNames writes.
std::optional<LocaleNames> UnflattenNames(std::string_view flat);

}  // namespace mk::metadata
