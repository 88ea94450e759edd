// The settings dialog's working values: what its pages edit, taken from a
// settings record when one is applied and written into a record when the
// dialog is collected, with the background box's flag rules. No widgets.
#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

#include "MK_Core.h"
#include "number_field.h"

namespace mk::app {

struct DialogValues {
    uint32_t flags = 0;
    // The stamp is always one text layer.
    uint8_t overlayKind = 1;
    uint8_t stampPosition = MK_POS_BOTTOM_RIGHT;
    int32_t horizontalOffset = 0;
    int32_t verticalOffset = 0;
    uint16_t horizontalMargin = 0;
    uint16_t verticalMargin = 0;
    uint32_t fontSize = 0;
    std::array<char, 32> fontFace{};
    int32_t fontWeight = 400;
    uint8_t fontItalic = 0;
    // 4 anti-aliased, 1 plain.
    uint8_t fontQuality = 1;
    // The character set the face list is made for; the font's character set
    // when collected.
    uint8_t charSet = 0;
    uint32_t fontColor = 0;
    uint8_t fontOpacity = 100;
    uint32_t backgroundColor = 0;
    uint8_t backgroundOpacity = 100;
    // The Format page's part of the record.
    bool useSeconds = false;
    uint16_t localeId = 0;
    std::array<char, 64> datePicture{};
    std::array<char, 64> timePicture{};

    // The record's unit: FLAG_PIXEL_UNITS cannot be changed in the dialog.
    Unit unit() const {
        return (flags & FLAG_PIXEL_UNITS) != 0 ? Unit::kPixels : Unit::kProportional;
    }
    bool flag(uint32_t bit) const { return (flags & bit) != 0; }
};

// The values a record shows. A record with both rounded corners and full
// width shows full width only.
DialogValues ValuesFromSetts(const Setts &record);

// Writes every field the dialog edits into `record`; its size mark and
// reserved bytes are left as they are.
void CollectValues(const DialogValues &values, Setts *record);

// The check boxes of the Background and Extra pages. Rounded corners and
// full width exclude each other: checking one clears the other.
void SetBackground(DialogValues &values, bool on);
void SetRoundCorners(DialogValues &values, bool on);
void SetFullWidth(DialogValues &values, bool on);
void SetReverseMarker(DialogValues &values, bool on);
void SetAllowReadOnly(DialogValues &values, bool on);

// Which of the Background page's controls are enabled: every control but
// "Enable" follows the box's flag; the horizontal margin is also off with
// full width, where the box spans the picture.
struct BackgroundEnables {
    bool box;
    bool horizontalMargin;
};
BackgroundEnables BackgroundEnablesOf(const DialogValues &values);

// The text of a fixed-size, NUL-terminated UTF-8 field of the record, and
// text written into one: cut to the field's size less its NUL at a whole
// character, the rest zero-filled.
QString FieldText(const char *field, size_t size);
void SetFieldText(char *field, size_t size, const QString &text);
template <size_t N>
QString FieldText(const std::array<char, N> &field) {
    return FieldText(field.data(), N);
}
template <size_t N>
void SetFieldText(std::array<char, N> &field, const QString &text) {
    SetFieldText(field.data(), N, text);
}

// Font styles: number 2 x bold + italic, bold meaning weight 700 exactly.
int StyleNumber(int32_t weight, uint8_t italic);
int32_t WeightOfStyle(int style);
uint8_t ItalicOfStyle(int style);

}  // namespace mk::app
