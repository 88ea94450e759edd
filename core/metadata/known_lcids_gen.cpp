// Build tool: writes the Windows language identifiers (locale identifiers
// without a sort ID) that the locale module maps to a locale with data, as a
// sorted C++ array of ranges the core includes. With it the core tells a
// known locale from an unknown one without loading ICU.
//   known_lcids_gen <output file>
#include <cstdint>
#include <cstdio>
#include <string>

#include "metadata/locale_data.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: known_lcids_gen <output file>\n");
        return 2;
    }
    std::string text =
        "// Made by known_lcids_gen when the core was built: first and last\n"
        "// identifier of each range.\n"
        "constexpr std::array<std::array<uint16_t, 2>, %RANGES%> kKnownLocaleRanges{{\n";
    int ranges = 0;
    uint32_t first = 0;
    // One past 0xFFFF closes the last range.
    for (uint32_t id = 1; id <= 0x10000; ++id) {
        const bool known = id <= 0xFFFF && id != 0x400 && id != 0x800 &&
                           mk::metadata::IcuLocaleForLcid(id).has_value();
        if (known && first == 0) first = id;
        if (known || first == 0) continue;
        text += "    {" + std::to_string(first) + ", " + std::to_string(id - 1) + "},\n";
        ++ranges;
        first = 0;
    }
    text += "}};\n";
    if (ranges == 0) {
        std::fprintf(stderr, "known_lcids_gen: ICU knows no locale identifier\n");
        return 1;
    }
    text.replace(text.find("%RANGES%"), 8, std::to_string(ranges));
    const std::string temporary = std::string(argv[1]) + ".tmp";
    FILE *out = std::fopen(temporary.c_str(), "w");
    if (out == nullptr) {
        std::perror(temporary.c_str());
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), argv[1]) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
