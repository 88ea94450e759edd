// The number fields of the settings dialog without their widgets: reading
// the typed text, clamping it to the field's range, writing it back in the
// field's format and the up-down arrows' stepping, per kind of field and
// unit (hundredths of a percent or pixels).
#pragma once

#include <QString>

#include <cstdint>

namespace mk::app {

enum class FieldKind {
    kOffset,    // horizontal and vertical offset
    kMargin,    // horizontal and vertical margin of the background box
    kFontSize,  // font size
    kOpacity,   // font and background opacity, a percentage
};

enum class Unit {
    kProportional,  // hundredths of a percent of a picture side, shown as "5.00"
    kPixels,        // whole pixels
};

struct FieldRange {
    int64_t minimum;
    int64_t maximum;
    // The font size compares unsigned: a negative entry is above the maximum.
    bool unsignedCompare;
    // Step of the up-down arrows.
    int32_t step;
};

FieldRange RangeOf(FieldKind kind, Unit unit);

// The typed text as a value in the field's unit, before clamping: in
// proportional units the decimal number times 100, truncated toward zero
// ("-3.456" is -345); in pixels the whole number typed; for opacities the
// unsigned whole number. Reading stops at the first character that does not
// belong to the number, and text that is no number reads as 0. A decimal
// comma reads as a point.
int64_t ParseField(FieldKind kind, Unit unit, const QString &text);

struct Clamped {
    int32_t value;
    bool changed;  // the value was out of range
};

Clamped ClampField(FieldKind kind, Unit unit, int64_t value);

// ParseField then ClampField.
Clamped ReadField(FieldKind kind, Unit unit, const QString &text);

// "%.2f" of value / 100 in proportional units, the whole number otherwise.
QString FormatField(FieldKind kind, Unit unit, int32_t value);

// The value after one press of an up-down arrow (direction +1 up, -1 down)
// from `value`, the field's text as read before clamping: with d the signed
// step, d x (value / d + 1), the division truncating toward zero, then
// clamped. Up moves to the next multiple of the step above the value; down
// to the multiple below the one under it (260 with step 50 goes down to 200).
int32_t StepField(FieldKind kind, Unit unit, int64_t value, int direction);

}  // namespace mk::app
