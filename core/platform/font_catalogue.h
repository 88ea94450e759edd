// The catalogue of installed scalable fonts, read from fontconfig: one entry
// per TrueType or CFF (OpenType) face with its Windows family name, weight,
// slant, file and the Windows character sets it covers, in a stable order.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct _FcConfig;

namespace mk::platform {

struct FontFace {
    // The family the Windows font enumeration lists the face under (the
    // legacy family name: "DejaVu Sans Condensed", not "DejaVu Sans").
    std::string family;
    // Every other family name fontconfig knows for the face.
    std::vector<std::string> otherFamilies;
    std::string style;
    int32_t weight = 400;  // 100..900 like the OS/2 weight class
    bool italic = false;   // italic or oblique
    bool fixedPitch = false;
    std::string file;
    int32_t index = 0;  // face index inside the file
    // Bit n set: the face covers the Windows character set with code n.
    std::bitset<256> charSets;

    bool Supports(uint8_t charSet) const { return charSets.test(charSet); }
};

// The fontconfig languages that stand for a Windows character-set code; a
// face covers the character set when it covers all of them. Codes without
// languages of their own (77 Mac, 255 OEM and unknown codes) are taken as
// Western European; 2 (symbol) has no languages: every face covers it.
std::vector<std::string> CharSetLanguages(uint8_t charSet);

// The catalogue owns the fontconfig configuration it was read with, so
// nothing of fontconfig's process-wide default configuration is used. Its
// calls may come from several threads at once: the configuration is asked
// one call at a time.
class FontCatalogue {
  public:
    FontCatalogue();
    // A catalogue of the given faces, sorted into the catalogue order, with
    // no configuration behind it (no substitutes, no best match).
    explicit FontCatalogue(std::vector<FontFace> faces);
    ~FontCatalogue();
    FontCatalogue(FontCatalogue &&) noexcept;
    FontCatalogue &operator=(FontCatalogue &&) noexcept;
    FontCatalogue(const FontCatalogue &) = delete;
    FontCatalogue &operator=(const FontCatalogue &) = delete;

    // Every scalable face installed, or nullopt when fontconfig's
    // configuration cannot be loaded.
    static std::optional<FontCatalogue> Installed();

    const std::vector<FontFace> &faces() const { return faces_; }

    // The families the configuration binds strongly to the name (its
    // metric-compatible aliases such as "Liberation Sans" for "Arial"), in
    // the configuration's order, without the name itself. The weak
    // fallbacks that fontconfig appends to every name are not substitutes.
    std::vector<std::string> StrongSubstitutes(const std::string &family) const;

    // The installed scalable face fontconfig prefers for the wish, whatever
    // its family; nullopt when there is none.
    std::optional<FontFace> BestMatch(const std::string &family, int32_t weight, bool italic) const;

  private:
    struct ConfigFree {
        void operator()(_FcConfig *config) const noexcept;
    };
    std::vector<FontFace> faces_;
    std::unique_ptr<_FcConfig, ConfigFree> config_;
    std::unique_ptr<std::mutex> configLock_;
};

// Sorting key of the catalogue: family (ASCII case folded), weight, upright
// before italic, file, face index.
bool CatalogueOrder(const FontFace &a, const FontFace &b);

// ASCII case-insensitive equality of family names, the way the Windows font
// mapper compares face names.
bool SameFamily(const std::string &a, const std::string &b);

}  // namespace mk::platform
