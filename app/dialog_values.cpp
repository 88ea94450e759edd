// The working values of the settings dialog and their flag rules.
#include "dialog_values.h"

#include <algorithm>
#include <cstring>

#include <QByteArray>

namespace mk::app {

namespace {

void SetFlag(DialogValues &values, uint32_t bit, bool on) {
    values.flags = on ? (values.flags | bit) : (values.flags & ~bit);
}

template <size_t N>
std::array<char, N> CopyChars(const char (&from)[N]) {
    std::array<char, N> to{};
    std::memcpy(to.data(), from, N);
    return to;
}

template <size_t N>
void CopyChars(const std::array<char, N> &from, char (&to)[N]) {
    std::memcpy(to, from.data(), N);
}

}  // namespace

DialogValues ValuesFromSetts(const Setts &record) {
    DialogValues values;
    values.flags = record.flags;
    if (values.flag(FLAG_ROUND_CORNERS) && values.flag(FLAG_FULL_WIDTH)) {
        values.flags &= ~FLAG_ROUND_CORNERS;
    }
    values.stampPosition = record.stampPosition;
    values.horizontalOffset = record.horizontalOffset;
    values.verticalOffset = record.verticalOffset;
    values.horizontalMargin = record.horizontalMargin;
    values.verticalMargin = record.verticalMargin;
    values.fontSize = static_cast<uint32_t>(record.fontSize);
    values.fontFace = CopyChars(record.fontFace);
    values.fontWeight = record.fontWeight;
    values.fontItalic = record.fontItalic;
    values.fontQuality = record.fontQuality;
    values.charSet = record.fontCharSet;
    values.fontColor = record.fontColor;
    values.fontOpacity = record.fontOpacity;
    values.backgroundColor = record.backgroundColor;
    values.backgroundOpacity = record.backgroundOpacity;
    values.useSeconds = (record.useSeconds & 1u) != 0;
    values.localeId = record.localeId;
    values.datePicture = CopyChars(record.datePicture);
    values.timePicture = CopyChars(record.timePicture);
    return values;
}

void CollectValues(const DialogValues &values, Setts *record) {
    record->flags = values.flags;
    record->overlayKind = values.overlayKind;
    record->stampPosition = values.stampPosition;
    record->fontSize = static_cast<int32_t>(values.fontSize);
    record->fontWeight = values.fontWeight;
    record->fontItalic = values.fontItalic;
    record->fontQuality = values.fontQuality;
    record->fontCharSet = values.charSet;
    CopyChars(values.fontFace, record->fontFace);
    record->fontColor = values.fontColor;
    record->fontOpacity = values.fontOpacity;
    record->horizontalOffset = values.horizontalOffset;
    record->verticalOffset = values.verticalOffset;
    record->backgroundColor = values.backgroundColor;
    record->backgroundOpacity = values.backgroundOpacity;
    record->horizontalMargin = values.horizontalMargin;
    record->verticalMargin = values.verticalMargin;
    record->useSeconds = values.useSeconds ? 1 : 0;
    record->localeId = values.localeId;
    CopyChars(values.datePicture, record->datePicture);
    CopyChars(values.timePicture, record->timePicture);
}

void SetBackground(DialogValues &values, bool on) { SetFlag(values, FLAG_BACKGROUND, on); }

void SetRoundCorners(DialogValues &values, bool on) {
    SetFlag(values, FLAG_ROUND_CORNERS, on);
    if (on) SetFlag(values, FLAG_FULL_WIDTH, false);
}

void SetFullWidth(DialogValues &values, bool on) {
    SetFlag(values, FLAG_FULL_WIDTH, on);
    if (on) SetFlag(values, FLAG_ROUND_CORNERS, false);
}

void SetReverseMarker(DialogValues &values, bool on) { SetFlag(values, FLAG_REVERSE_MARKER, on); }

void SetAllowReadOnly(DialogValues &values, bool on) { SetFlag(values, FLAG_ALLOW_READONLY, on); }

BackgroundEnables BackgroundEnablesOf(const DialogValues &values) {
    const bool box = values.flag(FLAG_BACKGROUND);
    return BackgroundEnables{box, box && !values.flag(FLAG_FULL_WIDTH)};
}

QString FieldText(const char *field, size_t size) {
    const auto length = static_cast<qsizetype>(::strnlen(field, size));
    return QString::fromUtf8(field, length);
}

void SetFieldText(char *field, size_t size, const QString &text) {
    QByteArray bytes = text.toUtf8();
    const auto room = static_cast<qsizetype>(size - 1);
    if (bytes.size() > room) {
        qsizetype cut = room;
        // Back up over continuation bytes to the start of the cut character.
        while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) --cut;
        bytes.truncate(cut);
    }
    std::memset(field, 0, size);
    std::memcpy(field, bytes.constData(), static_cast<size_t>(bytes.size()));
}

int StyleNumber(int32_t weight, uint8_t italic) {
    return (weight == 700 ? 2 : 0) + (italic != 0 ? 1 : 0);
}

int32_t WeightOfStyle(int style) { return (style & 2) != 0 ? 700 : 400; }

uint8_t ItalicOfStyle(int style) { return (style & 1) != 0 ? 1 : 0; }

}  // namespace mk::app
