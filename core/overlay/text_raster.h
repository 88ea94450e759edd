// Text rasterising with FreeType under the extent rules of the Windows text
// functions for TrueType fonts: a character height h is an em of h pixels,
// the cell is the OS/2 Windows ascent plus descent scaled to h (each rounded
// on its own), and the width of a string is the sum of its glyphs' hinted
// advances in whole pixels, without kerning.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mk::overlay {

// The code points of UTF-8 text; every byte that does not start a valid
// sequence becomes U+FFFD.
std::u32string DecodeUtf8(std::string_view text);

// A FreeType library instance: one per rendering, so nothing is shared
// between threads.
class FtLibrary {
  public:
    static std::optional<FtLibrary> Create();
    ~FtLibrary();
    FtLibrary(FtLibrary &&other) noexcept;
    FtLibrary &operator=(FtLibrary &&other) noexcept;
    FtLibrary(const FtLibrary &) = delete;
    FtLibrary &operator=(const FtLibrary &) = delete;

    FT_Library get() const { return library_; }

  private:
    explicit FtLibrary(FT_Library library) : library_(library) {}
    FT_Library library_ = nullptr;
};

class FtFace {
  public:
    FtFace() = default;
    explicit FtFace(FT_Face face) : face_(face) {}
    ~FtFace();
    FtFace(FtFace &&other) noexcept;
    FtFace &operator=(FtFace &&other) noexcept;
    FtFace(const FtFace &) = delete;
    FtFace &operator=(const FtFace &) = delete;

    FT_Face get() const { return face_; }

  private:
    FT_Face face_ = nullptr;
};

// An 8-bit coverage image, rows top-down: 0 black, 255 white.
struct CoverageImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;

    CoverageImage(int32_t w, int32_t h)
        : width(w), height(h), pixels(static_cast<size_t>(w) * static_cast<size_t>(h), 0) {}
    // All black, in the memory of `storage`.
    CoverageImage(int32_t w, int32_t h, std::vector<uint8_t> storage)
        : width(w), height(h), pixels(std::move(storage)) {
        pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    }
    uint8_t &at(int32_t x, int32_t y) {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

// Styles made up from a face that lacks them, as the Windows font mapper
// does: a thicker outline for bold, a slanted one for italic.
struct SyntheticStyle {
    bool bold = false;
    bool italic = false;
};

// A rendered glyph's coverage 0-255, rows top-down, placed from the pen on
// the baseline; empty when the glyph does not render.
struct GlyphImage {
    int32_t left = 0, top = 0, width = 0, rows = 0;
    std::vector<uint8_t> coverage;
};

// One face at one character height. The library must outlive it.
class TextFace {
  public:
    static std::optional<TextFace> Open(const FtLibrary &library, const std::string &file,
                                        int32_t index, SyntheticStyle synthetic = {});

    // Sets the em to h pixels; false when the face cannot be scaled to it.
    bool SetCharHeight(int32_t h);
    int32_t charHeight() const { return charHeight_; }
    // Rounded Windows ascent and descent at the character height.
    int32_t ascent() const { return ascent_; }
    int32_t descent() const { return descent_; }
    int32_t cellHeight() const { return ascent_ + descent_; }

    // Sum of the glyphs' advances in whole pixels; nullopt when the height
    // is not set or the sum does not fit.
    std::optional<int32_t> TextWidth(const std::u32string &text);

    // Draws the text white into the image with the top-left corner of its
    // cell at (x, y); antialiased 8-bit coverage or aliased (monochrome).
    // Whatever falls outside the image is cut off.
    void Draw(const std::u32string &text, CoverageImage &image, int32_t x, int32_t y,
              bool antialiased);

  private:
    // What loading and rendering one glyph at the current height gave. A
    // date repeats its digits and is measured before it is drawn, so each
    // glyph is loaded and rendered once per height and mode.
    struct Glyph {
        uint32_t index = 0;
        std::optional<int32_t> advance;       // none: the glyph does not load
        std::optional<GlyphImage> images[2];  // monochrome, antialiased; once rendered
    };

    explicit TextFace(FtFace face, SyntheticStyle synthetic)
        : face_(std::move(face)), synthetic_(synthetic) {}
    // Loads and, where needed, emboldens or slants the glyph; false on error.
    bool LoadGlyph(uint32_t glyph, FT_Int32 flags);
    static int32_t AdvanceOf(FT_GlyphSlot slot);
    // The record of the glyph, with its advance measured.
    Glyph &Measured(uint32_t glyph);
    // The glyph's image in the mode, rendered on first use.
    const GlyphImage &Rendered(Glyph &glyph, bool antialiased);

    FtFace face_;
    SyntheticStyle synthetic_;
    int32_t charHeight_ = 0;
    int32_t ascent_ = 0;
    int32_t descent_ = 0;
    std::vector<Glyph> glyphs_;  // of the current height
};

}  // namespace mk::overlay
