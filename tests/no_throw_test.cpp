// No exception crosses the library's C interface: with every allocation
// failing, each MK_ call still returns its documented failure value.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "MK_Core.h"
#include "test_support.h"

namespace {

// While set, every operator new of the process throws.
bool failAllocations = false;

class AllocationsFail {
  public:
    AllocationsFail() { failAllocations = true; }
    ~AllocationsFail() { failAllocations = false; }
    AllocationsFail(const AllocationsFail &) = delete;
    AllocationsFail &operator=(const AllocationsFail &) = delete;
};

}  // namespace

void *operator new(std::size_t size) {
    if (failAllocations) throw std::bad_alloc();
    if (void *p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
// GCC cannot see that the new above takes its memory from malloc when it
// inlines these into the test framework's code, and warns of a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void *operator new[](std::size_t size) { return operator new(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return failAllocations ? nullptr : std::malloc(size != 0 ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept {
    return operator new(size, tag);
}
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using mk::test::CorpusDir;
using mk::test::TempDir;

TEST(NoThrow, EveryEntryReturnsInsteadOfThrowing) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    Setts settings{};
    MK_SettsLoadDefaults(&settings);
    const std::string picture = (CorpusDir() / "casio_ex-z3_mm.jpg").string();
    const std::string list = mk::test::MakeList({picture});
    const std::string copies = mk::test::MakeList({dir.file("copy.jpg")});
    char buffer[MK_MAX_PATH * 4] = "";
    int32_t width = 0, height = 0;

    struct Case {
        const char *name;
        int64_t (*call)(void *);
    };
    struct Context {
        Setts *settings;
        std::string settingsFile;
        const char *sources, *destinations;
        char *buffer;
        int32_t *width, *height;
    } context{&settings, dir.file("s.mks"), list.c_str(), copies.c_str(), buffer, &width, &height};
    const Case cases[] = {
        {"MK_SettsSaveToFile",
         [](void *c) -> int64_t {
             auto &x = *static_cast<Context *>(c);
             return MK_SettsSaveToFile(x.settings, x.settingsFile.c_str());
         }},
        {"MK_SettsSaveToRegistry",
         [](void *c) -> int64_t {
             return MK_SettsSaveToRegistry(static_cast<Context *>(c)->settings);
         }},
        {"MK_SettsLoadFromRegistry",
         [](void *c) -> int64_t {
             return MK_SettsLoadFromRegistry(static_cast<Context *>(c)->settings);
         }},
        {"MK_ExecFilenameSaveToRegistry",
         [](void *) -> int64_t { return MK_ExecFilenameSaveToRegistry("/usr/bin/true"); }},
        {"MK_ExecFilenameLoadFromRegistry",
         [](void *c) -> int64_t {
             return MK_ExecFilenameLoadFromRegistry(static_cast<Context *>(c)->buffer);
         }},
        {"MK_LocaleCount", [](void *) -> int64_t { return MK_LocaleCount(); }},
        {"MK_LocaleGet",
         [](void *) -> int64_t {
             MK_LocaleInfo info;
             return MK_LocaleGet(0, &info);
         }},
        {"MK_LocalePictures",
         [](void *c) -> int64_t {
             return MK_LocalePictures(1033, MK_PICTURES_SHORT_DATE,
                                      static_cast<Context *>(c)->buffer, MK_MAX_PATH);
         }},
        {"MK_SeekFont",
         [](void *) -> int64_t {
             MK_LogFont font;
             return MK_SeekFont(nullptr, 400, 0, 0, "DejaVu Sans", &font);
         }},
        {"MK_ReadJPEG",
         [](void *c) -> int64_t {
             auto &x = *static_cast<Context *>(c);
             return MK_ReadJPEG(x.sources, nullptr, x.width, x.height);
         }},
        {"MK_ProcessFiles",
         [](void *c) -> int64_t {
             auto &x = *static_cast<Context *>(c);
             return MK_ProcessFiles(nullptr, x.sources, x.destinations, OP_STAMP, 0, x.settings,
                                    nullptr, nullptr);
         }},
        {"MK_ProcessFilesEx",
         [](void *c) -> int64_t {
             auto &x = *static_cast<Context *>(c);
             return MK_ProcessFilesEx(nullptr, x.sources, x.destinations, OP_STAMP, 0, x.settings,
                                      nullptr, nullptr, nullptr);
         }},
        {"MK_ApplyOverlay_Init",
         [](void *c) -> int64_t {
             OverlayLayer layer{};
             layer.kind = 1;
             std::strcpy(layer.text, "2024-01-02");
             layer.fontSize = 40;
             std::strcpy(layer.fontFace, "DejaVu Sans");
             layer.fontWeight = 400;
             layer.fontQuality = 4;
             layer.fontOpacity = 100;
             layer.stampPosition = MK_POS_BOTTOM_RIGHT;
             OverlayParams params{};
             params.layers = &layer;
             const int32_t size[2] = {640, 480};
             OverlayHandle *handle = nullptr;
             const int64_t result = MK_ApplyOverlay_Init(&params, size, &handle);
             (void)c;
             // Rendering may fail, but nothing may leak or escape.
             MK_ApplyOverlay_Close(handle);
             return result;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // The first call outside, so that what a call caches for later (the
        // locale module, font catalogues) is in place; then the failing one.
        c.call(&context);
        bool threw = false;
        {
            AllocationsFail failing;
            try {
                c.call(&context);
            } catch (...) {
                threw = true;
            }
        }
        EXPECT_FALSE(threw);
    }
}

}  // namespace
