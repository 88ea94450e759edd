// The core's side of the locale module: whether a locale is known, its
// calendar names and the repair of ill-formed UTF-8, each loading the module
// only when the answer needs ICU.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/locale_module.h"
#include "metadata/locale_names.h"

namespace mk::metadata {

// The module's interface, loaded on the first call; null when the module
// cannot be loaded (then no locale is known and no names are given).
const MK_LocaleModuleApi *LocaleModule();

// True when the locale identifier names a locale with data: the user's
// default (0, 0x400, 0x800) and the identifiers the build's ICU knows are
// answered without the module, any other is asked of it.
bool KnowsLocale(uint32_t localeId);

// True when the identifier, without a sort ID, is among those the build's
// ICU knows (listed when the core was built; nothing is loaded).
bool KnownWhenBuilt(uint32_t localeId);

// The locale's calendar names; nothing for an unknown locale.
std::optional<LocaleNames> NamesOf(uint32_t localeId);

// The text as valid UTF-8 (ill-formed sequences become U+FFFD). ASCII text
// is taken as it is; other text needs the module, nothing without it.
std::optional<std::string> ValidUtf8(std::string_view text);

}  // namespace mk::metadata
