// Text rasterising with FreeType.
#include "overlay/text_raster.h"

#include <algorithm>

#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <limits>
#include <utility>

namespace mk::overlay {

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
            minimum = 0x10000;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(cp);
        i += length;
    }
    return out;
}

std::optional<FtLibrary> FtLibrary::Create() {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) return std::nullopt;
    return FtLibrary(library);
}

FtLibrary::~FtLibrary() {
    if (library_ != nullptr) FT_Done_FreeType(library_);
}

FtLibrary::FtLibrary(FtLibrary &&other) noexcept
    : library_(std::exchange(other.library_, nullptr)) {}

FtLibrary &FtLibrary::operator=(FtLibrary &&other) noexcept {
    if (this != &other) {
        if (library_ != nullptr) FT_Done_FreeType(library_);
        library_ = std::exchange(other.library_, nullptr);
    }
    return *this;
}

FtFace::~FtFace() {
    if (face_ != nullptr) FT_Done_Face(face_);
}

FtFace::FtFace(FtFace &&other) noexcept : face_(std::exchange(other.face_, nullptr)) {}

FtFace &FtFace::operator=(FtFace &&other) noexcept {
    if (this != &other) {
        if (face_ != nullptr) FT_Done_Face(face_);
        face_ = std::exchange(other.face_, nullptr);
    }
    return *this;
}

std::optional<TextFace> TextFace::Open(const FtLibrary &library, const std::string &file,
                                       int32_t index, SyntheticStyle synthetic) {
    if (library.get() == nullptr || index < 0) return std::nullopt;
    FT_Face face = nullptr;
    if (FT_New_Face(library.get(), file.c_str(), index, &face) != 0) return std::nullopt;
    FtFace owner(face);
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return std::nullopt;
    return TextFace(std::move(owner), synthetic);
}

bool TextFace::SetCharHeight(int32_t h) {
    glyphs_.clear();
    charHeight_ = 0;
    ascent_ = descent_ = 0;
    // FreeType takes ppem values up to 0xFFFF.
    if (h < 1 || h > 0xFFFF) return false;
    FT_Face face = face_.get();
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(h)) != 0) return false;

    // The Windows metrics of the OS/2 table; a face without one (version
    // 0xFFFF is FreeType's mark for a missing table) falls back to hhea.
    int64_t winAscent = face->ascender;
    int64_t winDescent = -static_cast<int64_t>(face->descender);
    const auto *os2 = static_cast<const TT_OS2 *>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        winAscent = os2->usWinAscent;
        winDescent = os2->usWinDescent;
    }
    const int64_t upem = face->units_per_EM;
    // Ascent and descent are rounded each on its own, and the cell is their
    // sum, as the Windows text metrics have it.
    auto scaled = [&](int64_t units) { return (units * h * 2 + upem) / (2 * upem); };
    const int64_t ascent = scaled(winAscent);
    const int64_t descent = scaled(winDescent);
    if (ascent + descent <= 0 || ascent + descent > std::numeric_limits<int32_t>::max() / 4)
        return false;
    charHeight_ = h;
    ascent_ = static_cast<int32_t>(ascent);
    descent_ = static_cast<int32_t>(descent);
    return true;
}

bool TextFace::LoadGlyph(uint32_t glyph, FT_Int32 flags) {
    FT_Face face = face_.get();
    if (FT_Load_Glyph(face, glyph, flags) != 0) return false;
    if (synthetic_.italic) FT_GlyphSlot_Oblique(face->glyph);
    if (synthetic_.bold) FT_GlyphSlot_Embolden(face->glyph);
    return true;
}

int32_t TextFace::AdvanceOf(FT_GlyphSlot slot) {
    // Hinted advances are whole pixels already; round what synthesis adds.
    return static_cast<int32_t>((slot->advance.x + 32) >> 6);
}

TextFace::Glyph &TextFace::Measured(uint32_t glyph) {
    // A string has a few distinct glyphs: a linear search is the fastest.
    for (Glyph &g : glyphs_)
        if (g.index == glyph) return g;
    Glyph &g = glyphs_.emplace_back();
    g.index = glyph;
    if (LoadGlyph(glyph, FT_LOAD_DEFAULT)) g.advance = AdvanceOf(face_.get()->glyph);
    return g;
}

std::optional<int32_t> TextFace::TextWidth(const std::u32string &text) {
    if (charHeight_ == 0) return std::nullopt;
    FT_Face face = face_.get();
    int64_t width = 0;
    for (const char32_t cp : text) {
        // A glyph that fails to load takes no room, like a zero-width one.
        const std::optional<int32_t> advance = Measured(FT_Get_Char_Index(face, cp)).advance;
        if (!advance) continue;
        width += *advance;
        if (width > std::numeric_limits<int32_t>::max() / 4) return std::nullopt;
    }
    if (width < 0) width = 0;
    return static_cast<int32_t>(width);
}

namespace {

// The glyph bitmap's coverage at column c of the given memory row.
uint8_t CoverageAt(const FT_Bitmap &bitmap, const unsigned char *row, unsigned c) {
    switch (bitmap.pixel_mode) {
        case FT_PIXEL_MODE_MONO:
            return (row[c >> 3] & (0x80u >> (c & 7))) ? 255 : 0;
        case FT_PIXEL_MODE_GRAY:
            if (bitmap.num_grays == 256 || bitmap.num_grays < 2) return row[c];
            return static_cast<uint8_t>(row[c] * 255u / (bitmap.num_grays - 1u));
        case FT_PIXEL_MODE_BGRA:
            return row[c * 4 + 3];
        default:
            return 0;
    }
}

}  // namespace

const GlyphImage &TextFace::Rendered(Glyph &glyph, bool antialiased) {
    std::optional<GlyphImage> &kept = glyph.images[antialiased ? 1 : 0];
    if (kept) return *kept;
    GlyphImage &image = kept.emplace();
    FT_Face face = face_.get();
    const FT_Render_Mode mode = antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO;
    const FT_Int32 loadFlags = antialiased ? FT_LOAD_DEFAULT : FT_LOAD_TARGET_MONO;
    if (!LoadGlyph(glyph.index, loadFlags)) return image;
    if (face->glyph->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(face->glyph, mode) != 0)
        return image;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap &bitmap = slot->bitmap;
    image.left = slot->bitmap_left;
    image.top = slot->bitmap_top;
    image.width = static_cast<int32_t>(bitmap.width);
    image.rows = static_cast<int32_t>(bitmap.rows);
    image.coverage.resize(static_cast<size_t>(bitmap.width) * bitmap.rows);
    const unsigned stride = static_cast<unsigned>(bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch);
    for (unsigned r = 0; r < bitmap.rows; ++r) {
        // A negative pitch stores the bottom row first.
        const unsigned memoryRow = bitmap.pitch < 0 ? bitmap.rows - 1 - r : r;
        const unsigned char *row = bitmap.buffer + static_cast<size_t>(memoryRow) * stride;
        uint8_t *out = image.coverage.data() + static_cast<size_t>(r) * bitmap.width;
        for (unsigned c = 0; c < bitmap.width; ++c) {
            const uint8_t value = CoverageAt(bitmap, row, c);
            out[c] = antialiased ? value : (value >= 128 ? 255 : 0);
        }
    }
    return image;
}

void TextFace::Draw(const std::u32string &text, CoverageImage &image, int32_t x, int32_t y,
                    bool antialiased) {
    if (charHeight_ == 0) return;
    FT_Face face = face_.get();
    const int64_t baseline = static_cast<int64_t>(y) + ascent_;
    int64_t pen = x;
    for (const char32_t cp : text) {
        Glyph &glyph = Measured(FT_Get_Char_Index(face, cp));
        // The pen moves by the measured advance whatever the rendering mode,
        // so both modes keep the extent of the string.
        if (!glyph.advance) continue;
        const GlyphImage &bitmap = Rendered(glyph, antialiased);
        const int64_t left = pen + bitmap.left;
        const int64_t top = baseline - bitmap.top;
        // Only the glyph's rows and columns that fall on the image.
        const int64_t r0 = std::clamp<int64_t>(-top, 0, bitmap.rows);
        const int64_t r1 = std::clamp<int64_t>(int64_t{image.height} - top, r0, bitmap.rows);
        const int64_t c0 = std::clamp<int64_t>(-left, 0, bitmap.width);
        const int64_t c1 = std::clamp<int64_t>(int64_t{image.width} - left, c0, bitmap.width);
        for (int64_t r = r0; r < r1; ++r) {
            const uint8_t *src = bitmap.coverage.data() + r * bitmap.width + c0;
            uint8_t *dst = image.pixels.data() + (top + r) * image.width + left + c0;
            // Overlapping glyphs keep the stronger coverage.
            for (int64_t c = 0; c < c1 - c0; ++c) dst[c] = std::max(dst[c], src[c]);
        }
        pen += *glyph.advance;
    }
}

}  // namespace mk::overlay
