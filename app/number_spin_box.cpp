// The number field widget.
#include "number_spin_box.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionSpinBox>

namespace mk::app {

NumberSpinBox::NumberSpinBox(FieldKind kind, QWidget *parent)
    : QAbstractSpinBox(parent), kind_(kind) {
    // The text is read on every change by TextChanged, not by the base class.
    setKeyboardTracking(false);
    connect(lineEdit(), &QLineEdit::textChanged, this, &NumberSpinBox::TextChanged);
    connect(this, &QAbstractSpinBox::editingFinished, this, &NumberSpinBox::EditingFinished);
    Show(0);
}

void NumberSpinBox::setValue(int32_t value, Unit unit) {
    unit_ = unit;
    value_ = value;
    Show(value);
    updateGeometry();
}

void NumberSpinBox::Show(int32_t value) {
    showing_ = true;
    lineEdit()->setText(FormatField(kind_, unit_, value));
    showing_ = false;
}

void NumberSpinBox::TextChanged(const QString &text) {
    if (showing_) return;
    const int32_t value = ReadField(kind_, unit_, text).value;
    if (value == value_) return;
    value_ = value;
    emit valueEdited(value);
}

void NumberSpinBox::finishEditing() { EditingFinished(); }

void NumberSpinBox::EditingFinished() {
    const QString shown = FormatField(kind_, unit_, value_);
    if (lineEdit()->text() != shown) Show(value_);
}

QValidator::State NumberSpinBox::validate(QString &input, int &) const {
    // Digits with a sign (not for opacities) and, in proportional units, a
    // decimal point or comma; anything else cannot be typed.
    static const QRegularExpression proportional(QStringLiteral("^\\s*[-+]?\\d*([.,]\\d*)?\\s*$"));
    static const QRegularExpression pixels(QStringLiteral("^\\s*[-+]?\\d*\\s*$"));
    static const QRegularExpression opacity(QStringLiteral("^\\s*\\d*\\s*$"));
    const QRegularExpression &pattern = kind_ == FieldKind::kOpacity ? opacity
                                        : unit_ == Unit::kPixels     ? pixels
                                                                     : proportional;
    return pattern.match(input).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
}

void NumberSpinBox::stepBy(int steps) {
    int64_t value = ParseField(kind_, unit_, lineEdit()->text());
    for (int i = 0; i < std::abs(steps); ++i) value = StepField(kind_, unit_, value, steps);
    lineEdit()->setText(FormatField(kind_, unit_, int32_t(value)));
    lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled NumberSpinBox::stepEnabled() const {
    if (isReadOnly()) return StepNone;
    const FieldRange range = RangeOf(kind_, unit_);
    StepEnabled enabled = StepNone;
    if (value_ < range.maximum) enabled |= StepUpEnabled;
    if (value_ > range.minimum) enabled |= StepDownEnabled;
    return enabled;
}

QSize NumberSpinBox::sizeHint() const {
    ensurePolished();
    // Room for the widest value of the field's range in either unit, so the
    // field keeps its size when a record in the other unit is shown.
    const QFontMetrics metrics = fontMetrics();
    int width = 0;
    for (Unit unit : {Unit::kProportional, Unit::kPixels}) {
        const FieldRange range = RangeOf(kind_, unit);
        for (int64_t value : {range.minimum, range.maximum}) {
            const QString text = FormatField(kind_, unit, int32_t(value)) + QLatin1Char(' ');
            width = std::max(width, metrics.horizontalAdvance(text));
        }
    }
    width += 2;  // the cursor
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize content(width, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this);
}

QSize NumberSpinBox::minimumSizeHint() const { return sizeHint(); }

}  // namespace mk::app
