// The core's side of the locale module and the MK_Locale* calls, which hand
// over to it.
#include "metadata/locale_access.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "platform/modules.h"

namespace mk::metadata {
namespace {

// kKnownLocaleRanges: the sorted ranges of identifiers without a sort ID for
// which the locale module gave a locale when the core was built.
#include "known_lcids.inc"

bool IsUserDefault(uint32_t localeId) {
    return localeId == 0 || localeId == 0x400 || localeId == 0x800;
}

const MK_LocaleModuleApi *Load() {
    void *module = platform::LoadModule(MK_LOCALE_MODULE);
    const auto entry =
        reinterpret_cast<MK_LocaleModuleEntryFn>(platform::ModuleSymbol(module, MK_LOCALE_ENTRY));
    return entry != nullptr ? entry() : nullptr;
}

// Calls a module function that fills a buffer and returns the size it
// needed, growing the buffer once when the first guess was short.
template <typename Fill>
std::optional<std::string> Filled(size_t guess, Fill fill) {
    std::string buffer(guess, '\0');
    size_t size = fill(buffer.data(), buffer.size());
    if (size > buffer.size()) {
        buffer.assign(size, '\0');
        size = fill(buffer.data(), buffer.size());
        if (size > buffer.size()) return std::nullopt;
    }
    buffer.resize(size);
    return buffer;
}

}  // namespace

const MK_LocaleModuleApi *LocaleModule() {
    // Loaded once (thread-safe initialisation) and kept: the module's data
    // (the locale list) lives as long as the process.
    static const MK_LocaleModuleApi *const api = Load();
    return api;
}

bool KnownWhenBuilt(uint32_t localeId) {
    if (localeId > 0xFFFF) return false;
    // The first range that starts after the identifier; the one before it
    // is the only one that can hold it.
    const auto next = std::upper_bound(
        kKnownLocaleRanges.begin(), kKnownLocaleRanges.end(), localeId,
        [](uint32_t id, const std::array<uint16_t, 2> &range) { return id < range[0]; });
    return next != kKnownLocaleRanges.begin() && localeId <= (*std::prev(next))[1];
}

bool KnowsLocale(uint32_t localeId) {
    if (IsUserDefault(localeId) || KnownWhenBuilt(localeId)) return true;
    const MK_LocaleModuleApi *api = LocaleModule();
    return api != nullptr && api->knowsLocale(localeId) != 0;
}

std::optional<LocaleNames> NamesOf(uint32_t localeId) {
    const MK_LocaleModuleApi *api = LocaleModule();
    if (api == nullptr) return std::nullopt;
    const auto flat =
        Filled(4096, [&](char *buffer, size_t size) { return api->names(localeId, buffer, size); });
    if (!flat || flat->empty()) return std::nullopt;
    return UnflattenNames(*flat);
}

std::optional<std::string> ValidUtf8(std::string_view text) {
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    const MK_LocaleModuleApi *api = LocaleModule();
    if (api == nullptr) return std::nullopt;
    // U+FFFD takes three bytes for at least one ill-formed byte.
    return Filled(text.size() * 3, [&](char *buffer, size_t size) {
        return api->validUtf8(text.data(), text.size(), buffer, size);
    });
}

}  // namespace mk::metadata

extern "C" MK_API int32_t MK_LocaleCount(void) {
    try {
        const MK_LocaleModuleApi *api = mk::metadata::LocaleModule();
        return api != nullptr ? api->localeCount() : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" MK_API int32_t MK_LocaleGet(int32_t index, MK_LocaleInfo *info) {
    try {
        const MK_LocaleModuleApi *api = mk::metadata::LocaleModule();
        return api != nullptr ? api->localeGet(index, info) : 1;
    } catch (...) {
        return 1;
    }
}

extern "C" MK_API int32_t MK_LocalePictures(uint16_t localeId, int32_t kind, char *buffer,
                                            int32_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    try {
        const MK_LocaleModuleApi *api = mk::metadata::LocaleModule();
        return api != nullptr ? api->localePictures(localeId, kind, buffer, size) : 0;
    } catch (...) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return 0;
    }
}
