/*
 * MK_Core.h - the exported interface of the MK_Core library.
 *
 * Plain C records and functions: every call returns a status code and no
 * exception crosses this boundary. The header compiles as C99/C11 and C++.
 * Paths and strings are UTF-8; paths are at most 259 bytes (260-byte buffers).
 */
#ifndef MK_CORE_H
#define MK_CORE_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(MK_CORE_BUILD)
#define MK_API __declspec(dllexport)
#else
#define MK_API __declspec(dllimport)
#endif
#else
#define MK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define MK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define MK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Size of every path buffer: 259 bytes of path plus the terminating NUL. */
#define MK_MAX_PATH 260

/* ---------------------------------------------------------------------- */
/* Settings record                                                         */
/* ---------------------------------------------------------------------- */

/* Flag bits of Setts.flags. */
#define FLAG_BACKGROUND 0x00000001u
#define FLAG_ROUND_CORNERS 0x00000002u
#define FLAG_FULL_WIDTH 0x00000004u
#define FLAG_DATE_FROM_EXIF 0x00010000u
#define FLAG_FILETIME_CREATED 0x00020000u
#define FLAG_PIXEL_UNITS 0x00040000u
#define FLAG_REVERSE_MARKER 0x00080000u
#define FLAG_RESTAMP 0x00100000u
#define FLAG_ALLOW_READONLY 0x00200000u
#define FLAG_ROTATE 0x00400000u

/* Stamp position codes (Setts.stampPosition). */
#define MK_POS_TOP_LEFT 1
#define MK_POS_TOP_CENTER 2
#define MK_POS_TOP_RIGHT 3
#define MK_POS_BOTTOM_LEFT 4
#define MK_POS_BOTTOM_CENTER 5
#define MK_POS_BOTTOM_RIGHT 6

#define MK_SETTS_SIZE 721

#pragma pack(push, 1)

/* The settings record: 721 bytes, packed, little-endian. It is also the exact
 * content of a settings file (.mks) and of the stored preferences, so the
 * layout is a storage format. */
typedef struct Setts {
    int32_t recordSize;        /*   0: validity mark, always 721 */
    uint32_t useSeconds;       /*   4: bit 0 set: time with seconds */
    uint16_t localeId;         /*   8: Windows locale identifier */
    char datePicture[64];      /*  10: date picture, e.g. "yyyy-MM-dd" */
    char timePicture[64];      /*  74: time picture; empty: no time part */
    uint8_t overlayKind;       /* 138: 1 = text */
    uint8_t stampPosition;     /* 139: MK_POS_* */
    int32_t horizontalOffset;  /* 140: low 16 bits used, signed */
    int32_t verticalOffset;    /* 144: low 16 bits used, signed */
    int32_t fontSize;          /* 148: wanted cell height */
    char fontFace[32];         /* 152: family name */
    int32_t fontWeight;        /* 184: 400 regular, 700 bold */
    uint8_t fontItalic;        /* 188 */
    uint8_t fontCharSet;       /* 189: Windows character-set code */
    uint8_t fontQuality;       /* 190: 4 antialiased, 1 plain */
    uint32_t fontColor;        /* 191: 0x00BBGGRR */
    uint8_t fontOpacity;       /* 195: percent */
    uint8_t backgroundOpacity; /* 196: percent */
    uint16_t horizontalMargin; /* 197 */
    uint16_t verticalMargin;   /* 199 */
    uint32_t backgroundColor;  /* 201: 0x00BBGGRR */
    uint32_t flags;            /* 205: FLAG_* */
    uint8_t reserved[512];     /* 209: zero, carried along */
} Setts;

/* Bytes 4 to 137 of a Setts taken as a record of their own. */
typedef struct DateFormatSpec {
    uint32_t useSeconds;  /*  0 */
    uint16_t localeId;    /*  4 */
    char datePicture[64]; /*  6 */
    char timePicture[64]; /* 70 */
} DateFormatSpec;

#pragma pack(pop)

MK_STATIC_ASSERT(sizeof(Setts) == 721, "Setts must be 721 bytes");
MK_STATIC_ASSERT(offsetof(Setts, useSeconds) == 4, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, localeId) == 8, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, datePicture) == 10, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, timePicture) == 74, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, overlayKind) == 138, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, stampPosition) == 139, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, horizontalOffset) == 140, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, verticalOffset) == 144, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontSize) == 148, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontFace) == 152, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontWeight) == 184, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontItalic) == 188, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontCharSet) == 189, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontQuality) == 190, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontColor) == 191, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, fontOpacity) == 195, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, backgroundOpacity) == 196, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, horizontalMargin) == 197, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, verticalMargin) == 199, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, backgroundColor) == 201, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, flags) == 205, "Setts layout");
MK_STATIC_ASSERT(offsetof(Setts, reserved) == 209, "Setts layout");
MK_STATIC_ASSERT(sizeof(DateFormatSpec) == 134, "DateFormatSpec must be 134 bytes");
MK_STATIC_ASSERT(offsetof(DateFormatSpec, localeId) == 4, "DateFormatSpec layout");
MK_STATIC_ASSERT(offsetof(DateFormatSpec, datePicture) == 6, "DateFormatSpec layout");
MK_STATIC_ASSERT(offsetof(DateFormatSpec, timePicture) == 70, "DateFormatSpec layout");

/* Fills the record with zero bytes, then the defaults. Always 0. */
MK_API int32_t MK_SettsLoadDefaults(Setts *settings);

/* Settings files: 0 written / 1 failed. */
MK_API int32_t MK_SettsSaveToFile(Setts *settings, const char *path);
/* 0 loaded; -1 cannot open; -2 not a settings record (record untouched). */
MK_API int32_t MK_SettsLoadFromFile(Setts *settings, const char *path);
/* Stored preferences (user store): 0 stored and flushed / 1 failed. */
MK_API int32_t MK_SettsSaveToRegistry(Setts *settings);
/* Always 0: the stored preferences, or the defaults when there are none. */
MK_API int32_t MK_SettsLoadFromRegistry(Setts *settings);
/* Path of the desktop program, written to the user store: 0 / 1. */
MK_API int32_t MK_ExecFilenameSaveToRegistry(const char *path);
/* Reads the path from the system store into a 260-byte buffer: 0 found / 1. */
MK_API int32_t MK_ExecFilenameLoadFromRegistry(char *buffer);

/* ---------------------------------------------------------------------- */
/* Batch processing                                                        */
/* ---------------------------------------------------------------------- */

/* A PathList: NUL-terminated paths stored back to back, ended by an empty
 * string (so the buffer ends with two NUL bytes; an empty list is one NUL). */
typedef const char *PathList;

/* Called once per file, in list order; the return value is ignored. */
typedef int32_t (*ProcessCallback)(const char *destination, int32_t result, void *userData);

#define OP_STAMP 1
#define OP_UNDO 2

#define PF_SHOW_PROGRESS 0x1

/* Result reported for every file when the operation code is unknown. */
#define MK_RESULT_UNKNOWN_OPERATION 100
/* Result reported for a path that does not fit a 260-byte buffer. */
#define MK_RESULT_PATH_TOO_LONG (-1)

/* Stamps or restores every file of `sources` (to the matching entry of
 * `destinations`, or in place when it is null). `parent` is an opaque window
 * handle owning the progress dialog. `settings` null: the stored preferences.
 * Always returns 0; per-file results go to the callback. */
MK_API int32_t MK_ProcessFiles(void *parent, PathList sources, PathList destinations,
                               int32_t operation, int32_t flags, const Setts *settings,
                               ProcessCallback callback, void *userData);

/* Why a file was not processed (MK_FileReport.reason). */
#define MK_REASON_NONE 0             /* done */
#define MK_REASON_NOT_FOUND 1        /* no such file */
#define MK_REASON_NOT_REGULAR 2      /* a folder, device, pipe, ... */
#define MK_REASON_CANNOT_OPEN 3      /* no permission to read it, or another open failure */
#define MK_REASON_NOT_JPEG 4         /* not a JPEG file */
#define MK_REASON_DAMAGED 5          /* damaged or cut short: decoding it would change it */
#define MK_REASON_UNSUPPORTED 6      /* a kind of JPEG that cannot be stamped */
#define MK_REASON_READ_ONLY 7        /* read-only and the settings do not allow changing it */
#define MK_REASON_ALREADY_STAMPED 8  /* stamped before and re-stamping is off */
#define MK_REASON_NO_STAMP 9         /* undo of a picture that carries no stamp */
#define MK_REASON_STAMP_DAMAGED 10   /* its undo data is damaged */
#define MK_REASON_CHANGED 11         /* changed after it was stamped */
#define MK_REASON_NO_SPACE 12        /* no space left on the device */
#define MK_REASON_CANNOT_WRITE 13    /* the result could not be written */
#define MK_REASON_NO_MEMORY 14       /* not enough memory */
#define MK_REASON_NOTHING_PAINTED 15 /* the settings paint nothing on this picture */
#define MK_REASON_PATH_TOO_LONG 16   /* a path does not fit 259 bytes */
#define MK_REASON_UNKNOWN_OPERATION 17
#define MK_REASON_OTHER 18

/* One file's outcome, for front ends that tell the user why a file failed. */
typedef struct MK_FileReport {
    const char *source;      /* the entry of the source list */
    const char *destination; /* the entry of the destination list (or the source) */
    int32_t result;          /* the code a ProcessCallback is given */
    int32_t reason;          /* MK_REASON_* */
    char text[256];          /* the reason in words (UTF-8), empty when done */
} MK_FileReport;

/* Called once per file, in list order; the return value is ignored. */
typedef int32_t (*ProcessReportCallback)(const MK_FileReport *report, void *userData);
/* Asked before each file is started; nonzero stops the batch there (files
 * already started are finished and reported). May be called from any of the
 * batch's threads. */
typedef int32_t (*ProcessCancelPoll)(void *userData);

/* MK_ProcessFiles with a report of why each file failed and a way to stop
 * the batch without the progress dialog. `report` and `cancelled` may be
 * null. Always returns 0. */
MK_API int32_t MK_ProcessFilesEx(void *parent, PathList sources, PathList destinations,
                                 int32_t operation, int32_t flags, const Setts *settings,
                                 ProcessReportCallback report, ProcessCancelPoll cancelled,
                                 void *userData);

/* 1 when the name ends in .jpg, .jpeg or .jpe (any case), else 0. */
MK_API int32_t MK_IsSupportedFile(const char *path);

/* ---------------------------------------------------------------------- */
/* JPEG decoding                                                           */
/* ---------------------------------------------------------------------- */

/* A pixel buffer is width x height pixels of 4 bytes (blue, green, red,
 * unused), rows without padding, bottom row first. With pixels null only the
 * size is reported. 0 done; -1 cannot open; -3 the JPEG library failed. */
MK_API int32_t MK_ReadJPEG(const char *path, void *pixels, int32_t *width, int32_t *height);
MK_API int32_t MK_DecodeJPEG(const void *data, int32_t length, void *pixels, int32_t *width,
                             int32_t *height);

/* ---------------------------------------------------------------------- */
/* Date and time                                                           */
/* ---------------------------------------------------------------------- */

/* The Windows SYSTEMTIME layout. */
typedef struct MK_SystemTime {
    uint16_t wYear;
    uint16_t wMonth;     /* 1..12 */
    uint16_t wDayOfWeek; /* 0..6, Sunday 0 */
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} MK_SystemTime;

/* Formats date and time by the pictures and locale of `spec` into `output`
 * (at least 256 bytes, UTF-8): the date text, a space and the time text when
 * there is one. Seconds are left out unless bit 0 of useSeconds is set. A
 * part stays empty when its picture is empty, the locale is unknown or the
 * date (or time) is not valid; the output is empty when both parts together
 * reach 254 bytes. localeId 0, 0x400 and 0x800 mean the user's default
 * locale. Always 0. */
MK_API intptr_t MK_FormatDateTime(const MK_SystemTime *time, const DateFormatSpec *spec,
                                  char *output);

/* Locale data for the settings dialog. */
typedef struct MK_LocaleInfo {
    uint16_t localeId;     /* Windows locale identifier */
    uint8_t charSet;       /* Windows character-set code of the locale's script */
    char tag[32];          /* BCP 47 tag, e.g. "en-US" */
    char englishName[128]; /* e.g. "English (United States)" */
    char nativeName[128];  /* the name in its own language */
} MK_LocaleInfo;

#define MK_PICTURES_SHORT_DATE 0
#define MK_PICTURES_LONG_DATE 1
#define MK_PICTURES_TIME 2

/* Number of installed locales (those with a specific Windows identifier). */
MK_API int32_t MK_LocaleCount(void);
/* The locale at `index` (0 .. count - 1), sorted by English name: 0 / 1. */
MK_API int32_t MK_LocaleGet(int32_t index, MK_LocaleInfo *info);
/* Writes the locale's pictures of `kind` (MK_PICTURES_*), in the Windows
 * picture syntax, into `buffer` as a PathList-like list (NUL-separated,
 * ended by an empty string), the locale's preferred picture first. Pictures
 * are at most 63 bytes. Returns the number of pictures written (those that
 * fit, in order), 0 when the locale is unknown or nothing fits. */
MK_API int32_t MK_LocalePictures(uint16_t localeId, int32_t kind, char *buffer, int32_t size);

/* ---------------------------------------------------------------------- */
/* Overlay rendering and font matching                                     */
/* ---------------------------------------------------------------------- */

/* A font description with the fields of the Windows LOGFONTA. */
typedef struct MK_LogFont {
    int32_t lfHeight;
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;
    uint8_t lfPitchAndFamily;
    char lfFaceName[32];
} MK_LogFont;

/* Finds the installed scalable font closest to the wish. `dc` is an opaque
 * drawing context (may be null). Always 1. */
MK_API int32_t MK_SeekFont(void *dc, int32_t weight, uint8_t italic, uint8_t charSet,
                           const char *faceName, MK_LogFont *font);

/* The families of the installed scalable fonts that cover the character set,
 * as the settings dialog's face list shows them: each once (letter case
 * ignored), sorted ignoring case, written into `buffer` as NUL-terminated
 * names ended by an empty one. Returns the number of names written (those
 * that fit). */
MK_API int32_t MK_FontFamilies(uint8_t charSet, char *buffer, int32_t size);

/* The styles the family has in the character set: bit n set for style
 * number n = 2 x bold + italic, bold meaning weight 700 exactly (0 regular,
 * 1 italic, 2 bold, 3 bold italic). 0 when the family is not installed. */
MK_API int32_t MK_FontStyles(const char *family, uint8_t charSet);

/* One stamp element; the system builds exactly one text layer. */
typedef struct OverlayLayer {
    uint8_t kind; /* 1 = text */
    char text[256];
    int32_t fontSize; /* wanted cell height, pixels */
    char fontFace[32];
    int32_t fontWeight;
    uint8_t fontItalic;
    uint8_t fontCharSet;
    uint8_t fontQuality;
    uint32_t fontColor;
    uint8_t backgroundOpacity;
    uint16_t horizontalMargin;
    uint16_t verticalMargin;
    uint32_t backgroundColor;
    uint8_t fontOpacity;
    uint8_t stampPosition;
    int16_t horizontalOffset;
    int16_t verticalOffset;
    uint32_t flags;
    struct OverlayLayer *prev;
    struct OverlayLayer *next;
} OverlayLayer;

typedef struct OverlayParams {
    uint8_t reserved[272];
    OverlayLayer *layers; /* any layer of the list; null: no overlay */
} OverlayParams;

/* Overlay bitmaps are 4 bytes per pixel (blue, green, red, alpha), bottom-up. */
typedef struct RenderedLayer {
    uint8_t *textPixels;
    int32_t textWidth;
    int32_t textHeight;
    int32_t x;
    int32_t y;
    uint8_t *boxPixels;
    int32_t boxWidth;
    int32_t boxHeight;
    int32_t boxX;
    int32_t boxY;
    int32_t position;
} RenderedLayer;

typedef struct OverlayHandle {
    int32_t layerCount;
    RenderedLayer *entries;
} OverlayHandle;

/* Painted rectangle in picture coordinates, y downwards from the top. */
typedef struct MK_Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} MK_Rect;

/* size: the picture's width and height. Always 0; *handle stays null when
 * there is no layer. */
MK_API int64_t MK_ApplyOverlay_Init(const OverlayParams *params, const int32_t size[2],
                                    OverlayHandle **handle);
MK_API int64_t MK_ApplyOverlay_Proc(void *pixels, int32_t width, int32_t height,
                                    const OverlayHandle *handle, MK_Rect *painted);
MK_API int64_t MK_ApplyOverlay_Close(OverlayHandle *handle);

#ifdef __cplusplus
}
#endif

#endif /* MK_CORE_H */
