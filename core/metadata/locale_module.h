// The interface between the core and its locale module. The module holds
// everything that needs ICU (locale identifiers, calendar names, the locale
// list and pictures) and is loaded on the first call that needs it, so a
// stamp with a picture of numbers only never maps ICU's libraries.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "MK_Core.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MK_LocaleModuleApi {
    /* 1 when the Windows locale identifier names a locale ICU has data for
     * (0, 0x400 and 0x800: the user's default locale, always known). */
    int32_t (*knowsLocale)(uint32_t localeId);
    /* The locale's calendar names as a list of NUL-terminated UTF-8 strings
     * (see locale_names.h for their order). Returns the bytes the list
     * takes, also when that is more than `size` (then the buffer holds
     * nothing usable); 0 for an unknown locale. */
    size_t (*names)(uint32_t localeId, char *buffer, size_t size);
    /* `text` with each ill-formed UTF-8 sequence replaced by U+FFFD, not
     * NUL-terminated. Returns its length, also when more than `size`. */
    size_t (*validUtf8)(const char *text, size_t length, char *buffer, size_t size);
    /* The bodies of MK_LocaleCount, MK_LocaleGet and MK_LocalePictures. */
    int32_t (*localeCount)(void);
    int32_t (*localeGet)(int32_t index, MK_LocaleInfo *info);
    int32_t (*localePictures)(uint16_t localeId, int32_t kind, char *buffer, int32_t size);
} MK_LocaleModuleApi;

typedef const MK_LocaleModuleApi *(*MK_LocaleModuleEntryFn)(void);

#define MK_LOCALE_MODULE "libMK_Locale.so"
#define MK_LOCALE_ENTRY "MK_LocaleModule"

#ifdef __cplusplus
}
#endif
