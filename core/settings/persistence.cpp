// Settings files and the stored preferences ("Preferences" in the user store,
// "SettingsModFilename" written to the user store and read from the system
// store).
#include <cstdio>
#include <cstring>

#include "MK_Core.h"
#include "platform/atomic_file.h"
#include "platform/config_store.h"

using mk::platform::ConfigRoot;

namespace {

constexpr const char *kPreferences = "Preferences";
constexpr const char *kProgramPath = "SettingsModFilename";

bool HoldsRecord(const uint8_t *data, size_t size) {
    int32_t mark = 0;
    if (size < sizeof(Setts)) return false;
    std::memcpy(&mark, data, sizeof mark);
    return mark == MK_SETTS_SIZE;
}

int32_t SettsSaveToFile(Setts *settings, const char *path) {
    if (settings == nullptr || path == nullptr) return 1;
    // Written beside the old file and renamed over it, so a failed save never
    // destroys the settings the user had.
    mk::platform::AtomicFile file;
    if (!file.Open(path)) return 1;
    settings->recordSize = MK_SETTS_SIZE;
    const size_t written = std::fwrite(settings, 1, sizeof(Setts), file.stream());
    return written == sizeof(Setts) && file.Commit() ? 0 : 1;
}

int32_t SettsLoadFromFile(Setts *settings, const char *path) {
    if (settings == nullptr || path == nullptr) return -1;
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return -1;
    uint8_t buffer[sizeof(Setts)];
    const size_t got = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    if (!HoldsRecord(buffer, got)) return -2;
    std::memcpy(settings, buffer, sizeof buffer);
    return 0;
}

int32_t SettsSaveToRegistry(Setts *settings) {
    if (settings == nullptr) return 1;
    settings->recordSize = MK_SETTS_SIZE;
    return mk::platform::WriteConfigValue(ConfigRoot::User, kPreferences, settings, sizeof(Setts))
               ? 0
               : 1;
}

int32_t SettsLoadFromRegistry(Setts *settings) {
    if (settings == nullptr) return 0;
    std::memset(settings, 0, sizeof(Setts));
    const auto value = mk::platform::ReadConfigValue(ConfigRoot::User, kPreferences, sizeof(Setts));
    if (value && value->size() == sizeof(Setts) && HoldsRecord(value->data(), value->size()))
        std::memcpy(settings, value->data(), sizeof(Setts));
    else
        MK_SettsLoadDefaults(settings);
    return 0;
}

int32_t ExecFilenameSaveToRegistry(const char *path) {
    if (path == nullptr) return 1;
    // Stored like a registry string: the text and its terminating NUL.
    return mk::platform::WriteConfigValue(ConfigRoot::User, kProgramPath, path,
                                          std::strlen(path) + 1)
               ? 0
               : 1;
}

int32_t ExecFilenameLoadFromRegistry(char *buffer) {
    if (buffer == nullptr) return 1;
    std::memset(buffer, 0, MK_MAX_PATH);
    const auto value = mk::platform::ReadConfigValue(ConfigRoot::System, kProgramPath, MK_MAX_PATH);
    if (!value) return 1;
    size_t length = value->size();
    // The terminating NUL is optional in the file (an installer may write
    // the bare path); a value that leaves no room for it does not fit.
    if (length > 0 && (*value)[length - 1] == '\0') --length;
    if (length >= MK_MAX_PATH || std::memchr(value->data(), '\0', length) != nullptr) return 1;
    std::memcpy(buffer, value->data(), length);
    return 0;
}

}  // namespace

extern "C" MK_API int32_t MK_SettsSaveToFile(Setts *settings, const char *path) {
    try {
        return SettsSaveToFile(settings, path);
    } catch (...) {
        return 1;
    }
}

extern "C" MK_API int32_t MK_SettsLoadFromFile(Setts *settings, const char *path) {
    try {
        return SettsLoadFromFile(settings, path);
    } catch (...) {
        return -1;
    }
}

extern "C" MK_API int32_t MK_SettsSaveToRegistry(Setts *settings) {
    try {
        return SettsSaveToRegistry(settings);
    } catch (...) {
        return 1;
    }
}

extern "C" MK_API int32_t MK_SettsLoadFromRegistry(Setts *settings) {
    try {
        return SettsLoadFromRegistry(settings);
    } catch (...) {
        // No memory for the stored value: the defaults, which need none.
        MK_SettsLoadDefaults(settings);
        return 0;
    }
}

extern "C" MK_API int32_t MK_ExecFilenameSaveToRegistry(const char *path) {
    try {
        return ExecFilenameSaveToRegistry(path);
    } catch (...) {
        return 1;
    }
}

extern "C" MK_API int32_t MK_ExecFilenameLoadFromRegistry(char *buffer) {
    try {
        return ExecFilenameLoadFromRegistry(buffer);
    } catch (...) {
        return 1;
    }
}
