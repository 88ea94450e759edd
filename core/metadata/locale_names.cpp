// The flat form of a locale's calendar names.
#include "metadata/locale_names.h"

namespace mk::metadata {
namespace {

// Every name of the record in the one order both sides use.
template <typename Names, typename Visit>
void ForEachName(Names &names, Visit visit) {
    for (auto &n : names.monthFormat) visit(n);
    for (auto &n : names.monthStandalone) visit(n);
    for (auto &n : names.monthFormatAbbr) visit(n);
    for (auto &n : names.monthStandaloneAbbr) visit(n);
    for (auto &n : names.day) visit(n);
    for (auto &n : names.dayAbbr) visit(n);
    visit(names.am);
    visit(names.pm);
    visit(names.era);
}

}  // namespace

std::string FlattenNames(const LocaleNames &names) {
    std::string flat;
    ForEachName(names, [&flat](const std::string &n) {
        flat += n;
        flat += '\0';
    });
    return flat;
}

std::optional<LocaleNames> UnflattenNames(std::string_view flat) {
    LocaleNames names;
    bool complete = true;
    ForEachName(names, [&](std::string &n) {
        const size_t end = flat.find('\0');
        if (end == std::string_view::npos) {
            complete = false;
            return;
        }
        n = flat.substr(0, end);
        flat.remove_prefix(end + 1);
    });
    if (!complete || !flat.empty()) return std::nullopt;
    return names;
}

}  // namespace mk::metadata
