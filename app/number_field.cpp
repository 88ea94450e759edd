// The number fields' parsing, clamping, formatting and stepping.
#include "number_field.h"

#include <algorithm>
#include <cstdlib>

namespace mk::app {

namespace {

// Far beyond every range, small enough that no sum below overflows.
constexpr int64_t kSaturation = int64_t{1} << 40;

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

}  // namespace

FieldRange RangeOf(FieldKind kind, Unit unit) {
    const bool pixels = unit == Unit::kPixels;
    switch (kind) {
        case FieldKind::kOffset:
            return pixels ? FieldRange{-65535, 65535, false, 5}
                          : FieldRange{-10000, 10000, false, 50};
        case FieldKind::kMargin:
            return pixels ? FieldRange{0, 65535, false, 5} : FieldRange{0, 10000, false, 50};
        case FieldKind::kFontSize:
            return pixels ? FieldRange{7, 255, true, 1} : FieldRange{100, 10000, true, 50};
        case FieldKind::kOpacity:
            return FieldRange{0, 100, false, 10};
    }
    return FieldRange{0, 0, false, 1};
}

int64_t ParseField(FieldKind kind, Unit unit, const QString &text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace()) ++i;
    bool negative = false;
    if (kind != FieldKind::kOpacity && i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int64_t whole = 0;
    for (; i < n && IsDigit(text[i]); ++i) {
        whole = std::min(whole * 10 + (text[i].unicode() - u'0'), kSaturation);
    }
    int64_t value = whole;
    // Only hundredths count in proportional units; the rest is cut off, so
    // the number is read exactly, without a binary fraction's rounding.
    if (kind != FieldKind::kOpacity && unit == Unit::kProportional) {
        int64_t hundredths = 0;
        if (i < n && (text[i] == u'.' || text[i] == u',')) {
            ++i;
            for (int place = 0; place < 2; ++place) {
                hundredths *= 10;
                if (i < n && IsDigit(text[i])) hundredths += text[i++].unicode() - u'0';
            }
        }
        value = std::min(whole * 100 + hundredths, kSaturation);
    }
    return negative ? -value : value;
}

Clamped ClampField(FieldKind kind, Unit unit, int64_t value) {
    const FieldRange range = RangeOf(kind, unit);
    int64_t clamped = value;
    if (range.unsignedCompare && value < 0) {
        clamped = range.maximum;
    } else {
        clamped = std::clamp(value, range.minimum, range.maximum);
    }
    return Clamped{static_cast<int32_t>(clamped), clamped != value};
}

Clamped ReadField(FieldKind kind, Unit unit, const QString &text) {
    return ClampField(kind, unit, ParseField(kind, unit, text));
}

QString FormatField(FieldKind kind, Unit unit, int32_t value) {
    if (kind == FieldKind::kOpacity || unit == Unit::kPixels) return QString::number(value);
    const int64_t magnitude = std::llabs(int64_t{value});
    return QStringLiteral("%1%2.%3")
        .arg(value < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 100)
        .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

int32_t StepField(FieldKind kind, Unit unit, int64_t value, int direction) {
    const int64_t d = direction < 0 ? -RangeOf(kind, unit).step : RangeOf(kind, unit).step;
    return ClampField(kind, unit, d * (value / d + 1)).value;
}

}  // namespace mk::app
