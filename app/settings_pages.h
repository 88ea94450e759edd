// The five pages of the settings dialog. Each page is built over the
// dialog's working values, shows them with refresh() and writes the user's
// edits straight into them; `changed` asks for the stamp to be drawn again.
#pragma once

#include <QStringList>
#include <QWidget>

#include <cstdint>

#include "MK_Core.h"
#include "dialog_values.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace mk::app {

class ColorButton;
class NumberSpinBox;

// The unit label next to a geometry field: "%" or "pxs".
QString UnitText(Unit unit);
// A label for the unit, wide enough for either, so that a record in the
// other unit does not move the fields beside it.
QLabel *MakeUnitLabel(QWidget *parent);

// The date and time pictures, "Use Seconds" and the language. The lists
// show `sampleTime` (the dialog's opening time) in each offered picture.
class FormatPage : public QWidget {
    Q_OBJECT

  public:
    FormatPage(DialogValues *values, const MK_SystemTime &sampleTime, QWidget *parent);
    void refresh();

  signals:
    void changed();
    // The chosen language's script wants the stamp's font in `charSet`.
    void charSetChanged(uint8_t charSet);

  private:
    void DateEdited(const QString &text);
    void TimeEdited(const QString &text);
    void UpdateSecondsEnabled();

    DialogValues *values_;
    MK_SystemTime sampleTime_;
    QLineEdit *date_;
    QLineEdit *time_;
    QCheckBox *seconds_;
    QLabel *language_;
};

// The stamp's corner or edge and its offsets.
class PositionPage : public QWidget {
    Q_OBJECT

  public:
    PositionPage(DialogValues *values, QWidget *parent);
    void refresh();
    void finishEditing();

  signals:
    void changed();

  private:
    DialogValues *values_;
    QComboBox *position_;
    NumberSpinBox *horizontal_;
    NumberSpinBox *vertical_;
    QLabel *horizontalUnit_;
    QLabel *verticalUnit_;
};

// Face, style, size, colour, opacity and anti-aliasing of the stamp's text.
class FontPage : public QWidget {
    Q_OBJECT

  public:
    FontPage(DialogValues *values, QWidget *parent);
    void refresh();
    void finishEditing();
    // Another character set chosen for the stamp's font: the face list is
    // made for it and the face becomes the one the stamp would use.
    void changeCharSet(uint8_t charSet);

    ColorButton *colorButton() const { return color_; }

  signals:
    void changed();

  private:
    void FillFaces();
    void SelectFace();
    void FillStyles();
    void FaceChosen(int index);
    void StyleChosen(int index);

    DialogValues *values_;
    QComboBox *face_;
    QComboBox *style_;
    NumberSpinBox *size_;
    QLabel *sizeUnit_;
    ColorButton *color_;
    NumberSpinBox *opacity_;
    QCheckBox *antiAliasing_;
    QStringList families_;
    int familiesCharSet_ = -1;
};

// The box behind the stamp: on or off, margins, shape, colour and opacity.
class BackgroundPage : public QWidget {
    Q_OBJECT

  public:
    BackgroundPage(DialogValues *values, QWidget *parent);
    void refresh();
    void finishEditing();

    ColorButton *colorButton() const { return color_; }

  signals:
    void changed();

  private:
    void ShowFlags();
    void ApplyEnables();

    DialogValues *values_;
    QCheckBox *enable_;
    QLabel *horizontalLabel_;
    NumberSpinBox *horizontal_;
    QLabel *horizontalUnit_;
    QLabel *horizontalOf_;
    QLabel *verticalLabel_;
    NumberSpinBox *vertical_;
    QLabel *verticalUnit_;
    QLabel *verticalOf_;
    QCheckBox *fullWidth_;
    QCheckBox *roundCorners_;
    QLabel *colorLabel_;
    ColorButton *color_;
    NumberSpinBox *opacity_;
    QLabel *opacityLabel_;
};

// How files are written. The flags the dialog does not offer to change
// (date source, units, re-stamping, rotation) have hidden boxes that follow
// the record, and pass from the applied record to the collected one.
class ExtraPage : public QWidget {
    Q_OBJECT

  public:
    ExtraPage(DialogValues *values, QWidget *parent);
    void refresh();

  private:
    DialogValues *values_;
    QCheckBox *reverseMarker_;
    QCheckBox *readOnly_;
    QCheckBox *fromExif_;
    QRadioButton *created_;
    QRadioButton *modified_;
    QRadioButton *pixels_;
    QRadioButton *proportional_;
    QCheckBox *restamp_;
    QCheckBox *rotate_;
};

}  // namespace mk::app
