// A number field of the settings dialog: an edit with up-down arrows whose
// reading, clamping, formatting and stepping are those of number_field.h.
#pragma once

#include <QAbstractSpinBox>

#include <cstdint>

#include "number_field.h"

namespace mk::app {

class NumberSpinBox : public QAbstractSpinBox {
    Q_OBJECT

  public:
    NumberSpinBox(FieldKind kind, QWidget *parent);

    FieldKind kind() const { return kind_; }
    Unit unit() const { return unit_; }
    int32_t value() const { return value_; }

    // Shows `value` in the unit's format as it is, without clamping: a
    // record's values pass through the dialog unchanged until edited.
    void setValue(int32_t value, Unit unit);

    // Shows the value kept in the field's format (as when editing ends).
    void finishEditing();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QValidator::State validate(QString &input, int &pos) const override;
    void stepBy(int steps) override;

  signals:
    // The value read from the text changed by typing or stepping.
    void valueEdited(int32_t value);

  protected:
    StepEnabled stepEnabled() const override;

  private:
    void TextChanged(const QString &text);
    // Rewrites the text in the field's format once editing ends, so what is
    // shown is what is kept (out-of-range entries show the clamped value).
    void EditingFinished();
    void Show(int32_t value);

    FieldKind kind_;
    Unit unit_ = Unit::kProportional;
    int32_t value_ = 0;
    bool showing_ = false;
};

}  // namespace mk::app
