// The five pages of the settings dialog. Each page is built over the
// dialog's working values, shows them with refresh() and writes the user's
// edits straight into them; `changed` asks for the stamp to be drawn again.
#pragma once

#include <QFont>
#include <QList>
#include <QPoint>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

#include "MK_Core.h"
#include "dialog_values.h"
#include "locale_lists.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace mk::app {

class ColorButton;
class NumberSpinBox;
class SampleItemDelegate;

// The unit label next to a geometry field: "%" or "pxs".
QString UnitText(Unit unit);
// A label for the unit, wide enough for either, so that a record in the
// other unit does not move the fields beside it.
QLabel *MakeUnitLabel(QWidget *parent);

// The date and time pictures, "Use Seconds" and the language. The picture
// lists offer the language's own pictures and show `sampleTime` (the
// dialog's opening time) in each, in a face that has the language's script;
// any picture may also be typed. The language list holds the languages the
// user has configured, the record's, and "More" for any other.
class FormatPage : public QWidget {
    Q_OBJECT

  public:
    // Asked by "More" for a language, with the corner of the tab control
    // where the choice is to appear (global coordinates): the language
    // picked, or nothing when the choice was cancelled.
    using LanguageChooser =
        std::function<std::optional<uint16_t>(QWidget *parent, const QPoint &topLeft)>;

    FormatPage(DialogValues *values, const MK_SystemTime &sampleTime, QWidget *parent);
    // Shows the working values (a record was applied) and reports the
    // language's character set; writes nothing into them.
    void refresh();
    void setLanguageChooser(LanguageChooser chooser) { chooser_ = std::move(chooser); }

    QComboBox *languageList() const { return language_; }
    QComboBox *dateField() const { return date_; }
    QComboBox *timeField() const { return time_; }
    QCheckBox *secondsBox() const { return seconds_; }
    // The face the lists' items are drawn in.
    QFont dateListFont() const;
    QFont timeListFont() const;
    // The locale the lists are made for, and its character set.
    uint16_t listLocale() const { return locale_; }
    uint8_t charSet() const { return charSet_; }

  signals:
    void changed();
    // The chosen language's script wants the stamp's font in `charSet`.
    void charSetChanged(uint8_t charSet);

  private:
    void FillLanguages(uint16_t recordLocale);
    void SetUpLocale(uint16_t localeId);
    void FillDates(const QString &picture);
    void FillTimes(const QString &picture);
    void LanguageChosen(int index);
    void DateChosen(int index);
    void TimeChosen(int index);
    void DateEdited(const QString &text);
    void TimeEdited(const QString &text);
    void UpdateSecondsEnabled();
    QPoint ChooserCorner() const;

    DialogValues *values_;
    MK_SystemTime sampleTime_;
    QList<LocaleChoice> locales_;
    QList<uint16_t> configured_;
    LanguageChooser chooser_;
    uint16_t locale_ = 0;
    // DEFAULT_CHARSET until a language is known.
    uint8_t charSet_ = 1;
    // The language item selected before "More" was chosen.
    int languageIndex_ = -1;
    QComboBox *language_;
    QComboBox *date_;
    QComboBox *time_;
    QCheckBox *seconds_;
    SampleItemDelegate *dateDelegate_;
    SampleItemDelegate *timeDelegate_;
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
