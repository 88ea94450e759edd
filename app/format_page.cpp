// The Format page: the language, the date and time pictures it offers (or
// typed ones) and "Use Seconds".
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProcessEnvironment>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "language_dialog.h"
#include "locale_lists.h"
#include "sample_item_delegate.h"
#include "settings_pages.h"

namespace mk::app {

namespace {

// The pictures hold 63 bytes; in characters that is at most 63.
constexpr int kPictureLength = 63;
// The data of the language list's "More" item.
constexpr int kMoreItem = 0xFFFF;
// The picture an item of the date or time list stands for ("None": empty).
constexpr int kPictureRole = Qt::UserRole + 2;

QComboBox *MakePictureField(QWidget *parent) {
    auto *field = new QComboBox(parent);
    // Any picture can be typed, in any script: the text is UTF-8.
    field->setEditable(true);
    // Typed text stays as typed: no completion from the offered pictures
    // (which would turn "HH:mm" into "HH:mm:ss"), and Return adds no item.
    field->setCompleter(nullptr);
    field->setInsertPolicy(QComboBox::NoInsert);
    field->lineEdit()->setMaxLength(kPictureLength);
    field->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    field->setMinimumContentsLength(24);
    return field;
}

// The open list as wide as its widest sample, which may be wider than the
// picture the combo box measures.
void FitListToSamples(QComboBox *field) {
    QAbstractItemView *view = field->view();
    QStyleOptionViewItem option;
    option.initFrom(view);
    int widest = 0;
    for (int row = 0; row < field->count(); ++row) {
        const QModelIndex index = field->model()->index(row, 0);
        widest = std::max(widest, field->itemDelegate()->sizeHint(option, index).width());
    }
    const int scrollBar = field->count() > field->maxVisibleItems()
                              ? view->style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                              : 0;
    view->setMinimumWidth(widest + scrollBar +
                          2 * view->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
}

// A note under a field, broken by hand rather than wrapped: a wrapping
// label makes the tab's height follow this page alone, and the window would
// grow on the others.
QLabel *MakeNote(const QString &text, QWidget *parent) { return new QLabel(text, parent); }

}  // namespace

FormatPage::FormatPage(DialogValues *values, const MK_SystemTime &sampleTime, QWidget *parent)
    : QWidget(parent),
      values_(values),
      sampleTime_(sampleTime),
      locales_(KnownLocales()),
      configured_(ConfiguredLocales(QProcessEnvironment::systemEnvironment(),
                                    QLocale::system().uiLanguages(), locales_)),
      chooser_(ChooseLanguage) {
    auto *date = new QGroupBox(tr("Date"), this);
    date_ = MakePictureField(date);
    auto *dateNote = MakeNote(tr("You can mix the preformatted stamp string with\nregular "
                                 "text enclosed in single quotation marks."),
                              date);
    auto *dateLayout = new QVBoxLayout(date);
    dateLayout->addWidget(date_);
    dateLayout->addWidget(dateNote);

    auto *time = new QGroupBox(tr("Time"), this);
    time_ = MakePictureField(time);
    seconds_ = new QCheckBox(tr("Use Seconds"), time);
    auto *timeLayout = new QVBoxLayout(time);
    timeLayout->addWidget(time_);
    timeLayout->addWidget(seconds_);

    auto *language = new QGroupBox(tr("Language"), this);
    language_ = new QComboBox(language);
    language_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    language_->setMinimumContentsLength(24);
    auto *languageNote = MakeNote(tr("Select a language to get region-specific date/time "
                                     "formats\nand to type in this language."),
                                  language);
    auto *languageLayout = new QVBoxLayout(language);
    languageLayout->addWidget(language_);
    languageLayout->addWidget(languageNote);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(date);
    layout->addWidget(time);
    layout->addWidget(language);
    layout->addStretch(1);

    dateDelegate_ = new SampleItemDelegate(date_->font(), date_);
    timeDelegate_ = new SampleItemDelegate(time_->font(), time_);
    date_->setItemDelegate(dateDelegate_);
    time_->setItemDelegate(timeDelegate_);

    connect(language_, &QComboBox::activated, this, &FormatPage::LanguageChosen);
    connect(date_, &QComboBox::activated, this, &FormatPage::DateChosen);
    connect(time_, &QComboBox::activated, this, &FormatPage::TimeChosen);
    connect(date_->lineEdit(), &QLineEdit::textEdited, this, &FormatPage::DateEdited);
    connect(time_->lineEdit(), &QLineEdit::textEdited, this, &FormatPage::TimeEdited);
    connect(seconds_, &QCheckBox::clicked, this, [this](bool on) {
        values_->useSeconds = on;
        emit changed();
    });
    refresh();
}

QFont FormatPage::dateListFont() const { return dateDelegate_->font(); }

QFont FormatPage::timeListFont() const { return timeDelegate_->font(); }

void FormatPage::refresh() {
    FillLanguages(values_->localeId);
    SetUpLocale(uint16_t(language_->itemData(languageIndex_).toUInt()));
    const QString datePicture = FieldText(values_->datePicture);
    const QString timePicture = FieldText(values_->timePicture);
    FillDates(datePicture);
    FillTimes(timePicture);
    // The record's own pictures, offered or not.
    date_->setEditText(datePicture);
    time_->setEditText(timePicture.isEmpty() ? tr("None") : timePicture);
    seconds_->setChecked(values_->useSeconds);
    UpdateSecondsEnabled();
    emit charSetChanged(charSet_);
}

void FormatPage::FillLanguages(uint16_t recordLocale) {
    const LanguageList list = MakeLanguageList(configured_, recordLocale, locales_);
    language_->clear();
    for (const LanguageItem &item : list.items) language_->addItem(item.text, int(item.localeId));
    language_->addItem(tr("More"), kMoreItem);
    language_->setCurrentIndex(list.selected);
    languageIndex_ = list.selected;
}

void FormatPage::SetUpLocale(uint16_t localeId) {
    locale_ = localeId;
    // A locale the core does not know keeps the stamp's character set.
    const auto locale = FindLocale(locales_, localeId);
    charSet_ = locale ? locale->charSet : values_->charSet;
    QFont font = date_->font();
    const QString face = ListFace(charSet_, QFontInfo(font).family());
    if (!face.isEmpty()) font.setFamilies({face});
    dateDelegate_->setFont(font);
    timeDelegate_->setFont(font);
}

void FormatPage::FillDates(const QString &picture) {
    date_->clear();
    int selected = -1;
    for (const QString &item : DatePictures(locale_)) {
        const int index = date_->count();
        date_->addItem(item);
        date_->setItemData(index, item, kPictureRole);
        // A picture the core makes nothing of is shown as it is.
        const QString sample = DateSample(sampleTime_, locale_, item);
        if (!sample.isEmpty()) date_->setItemData(index, sample, SampleItemDelegate::kSampleRole);
        if (selected < 0 && item == picture) selected = index;
    }
    date_->setCurrentIndex(selected >= 0 || date_->count() == 0 ? selected : 0);
    FitListToSamples(date_);
}

void FormatPage::FillTimes(const QString &picture) {
    time_->clear();
    time_->addItem(tr("None"));
    time_->setItemData(0, QString(), kPictureRole);
    int selected = picture.isEmpty() ? 0 : -1;
    for (const QString &item : TimePictures(locale_)) {
        const int index = time_->count();
        time_->addItem(item);
        time_->setItemData(index, item, kPictureRole);
        const QString sample = TimeSample(sampleTime_, locale_, item);
        if (!sample.isEmpty()) time_->setItemData(index, sample, SampleItemDelegate::kSampleRole);
        if (selected < 0 && item == picture) selected = index;
    }
    if (selected < 0) selected = time_->count() > 1 ? 1 : 0;
    time_->setCurrentIndex(selected);
    FitListToSamples(time_);
}

QPoint FormatPage::ChooserCorner() const {
    for (QWidget *widget = parentWidget(); widget != nullptr; widget = widget->parentWidget()) {
        if (auto *tabs = qobject_cast<QTabWidget *>(widget)) return tabs->mapToGlobal(QPoint(0, 0));
    }
    return mapToGlobal(QPoint(0, 0));
}

void FormatPage::LanguageChosen(int index) {
    // The language shown already: its pictures stay as they are.
    if (index < 0 || index == languageIndex_) return;
    auto localeId = uint16_t(language_->itemData(index).toUInt());
    const int more = language_->count() - 1;
    if (index == more) {
        const std::optional<uint16_t> picked =
            chooser_ ? chooser_(this, ChooserCorner()) : std::nullopt;
        if (!picked) {
            language_->setCurrentIndex(languageIndex_);
            return;
        }
        localeId = *picked;
        // Items are told apart by their locale, not by their names, which
        // two locales could share and which "More" shows differently.
        int found = -1;
        for (int i = 0; i < more && found < 0; ++i) {
            if (language_->itemData(i).toUInt() == localeId) found = i;
        }
        if (found < 0) {
            language_->insertItem(more, LanguageName(locales_, localeId), int(localeId));
            found = more;
        }
        language_->setCurrentIndex(found);
        if (found == languageIndex_) return;
    }
    languageIndex_ = language_->currentIndex();
    values_->localeId = localeId;
    SetUpLocale(localeId);
    // The new language's own pictures: its first date and first time.
    FillDates(QString());
    FillTimes(QString());
    time_->setCurrentIndex(time_->count() > 1 ? 1 : 0);
    if (date_->count() > 0) {
        const QString picture = date_->itemData(0, kPictureRole).toString();
        SetFieldText(values_->datePicture, picture);
    }
    date_->setEditText(FieldText(values_->datePicture));
    const QString timePicture = time_->itemData(time_->currentIndex(), kPictureRole).toString();
    SetFieldText(values_->timePicture, timePicture);
    time_->setEditText(timePicture.isEmpty() ? tr("None") : timePicture);
    UpdateSecondsEnabled();
    // The stamp's face first, so that the sample is never drawn with the
    // new language in the old face.
    emit charSetChanged(charSet_);
    emit changed();
}

void FormatPage::DateChosen(int index) {
    if (index < 0) return;
    SetFieldText(values_->datePicture, date_->itemData(index, kPictureRole).toString());
    emit changed();
}

void FormatPage::TimeChosen(int index) {
    if (index < 0) return;
    SetFieldText(values_->timePicture, time_->itemData(index, kPictureRole).toString());
    UpdateSecondsEnabled();
    emit changed();
}

void FormatPage::DateEdited(const QString &text) {
    SetFieldText(values_->datePicture, text);
    emit changed();
}

void FormatPage::TimeEdited(const QString &text) {
    // "None" is how the time list names the empty picture.
    SetFieldText(values_->timePicture, text == tr("None") ? QString() : text);
    UpdateSecondsEnabled();
    emit changed();
}

void FormatPage::UpdateSecondsEnabled() { seconds_->setEnabled(values_->timePicture[0] != '\0'); }

}  // namespace mk::app
