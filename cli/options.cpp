// Command-line options.
#include "options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace mk::cli {

bool IsOption(const char *argument) {
    if (argument[0] == '-') return true;
    // '/' is also this platform's path separator: an argument with a folder
    // part after the leading '/' is an absolute path, not an option.
    return argument[0] == '/' && std::strchr(argument + 1, '/') == nullptr;
}

std::optional<std::string> ScanWord(const char *text) {
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char *end = text;
    while (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end == text) return std::nullopt;
    return std::string(text, end);
}

std::optional<int32_t> ScanInteger(const char *text) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text) return std::nullopt;
    if (value > INT32_MAX || (errno == ERANGE && value > 0)) return INT32_MAX;
    if (value < INT32_MIN || (errno == ERANGE && value < 0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool ApplyOption(const char *argument, RunState &state) {
    // Only the letter counts; whatever follows it is the option's value where
    // the option takes one and is ignored otherwise.
    const char *value = argument[1] != '\0' ? argument + 2 : argument + 1;
    switch (std::toupper(static_cast<unsigned char>(argument[1]))) {
        case 'S':
            state.operation = OP_STAMP;
            return true;
        case 'U':
            state.operation = OP_UNDO;
            return true;
        case 'R':
            state.recursive = true;
            return true;
        case 'D':
            state.showSettings = true;
            return true;
        case 'O':
            state.overwrite = true;
            return true;
        case 'P':
            if (auto word = ScanWord(value)) state.prefix = std::move(*word);
            return true;
        case 'L':
            if (*value == '\0') {
                state.defaultSettings = true;
            } else if (auto word = ScanWord(value)) {
                state.settingsFile = std::move(*word);
            }
            return true;
        case 'V':
            if (auto level = ScanInteger(value)) state.verbosity = *level;
            return true;
        default:
            return false;
    }
}

}  // namespace mk::cli
