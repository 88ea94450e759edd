// The Format page: the date and time pictures typed as text, "Use Seconds"
// and the language the record names.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "MK_Core.h"
#include "settings_pages.h"

namespace mk::app {

namespace {

// The pictures hold 63 bytes; in characters that is at most 63.
constexpr int kPictureLength = 63;

QString LanguageText(uint16_t localeId) {
    const QString id = QStringLiteral("0x%1").arg(localeId, 4, 16, QLatin1Char('0'));
    const int32_t count = MK_LocaleCount();
    for (int32_t i = 0; i < count; ++i) {
        MK_LocaleInfo info{};
        if (MK_LocaleGet(i, &info) != 0 || info.localeId != localeId) continue;
        info.englishName[sizeof info.englishName - 1] = '\0';
        return FormatPage::tr("%1 (%2)").arg(QString::fromUtf8(info.englishName), id);
    }
    return id;
}

}  // namespace

FormatPage::FormatPage(DialogValues *values, const MK_SystemTime &sampleTime, QWidget *parent)
    : QWidget(parent), values_(values), sampleTime_(sampleTime) {
    auto *date = new QGroupBox(tr("Date"), this);
    date_ = new QLineEdit(date);
    date_->setMaxLength(kPictureLength);
    // Broken by hand rather than wrapped: a wrapping label makes the tab's
    // height follow this page alone, and the window would grow on the others.
    auto *dateNote = new QLabel(tr("You can mix the preformatted stamp string with\nregular "
                                   "text enclosed in single quotation marks."),
                                date);
    auto *dateLayout = new QVBoxLayout(date);
    dateLayout->addWidget(date_);
    dateLayout->addWidget(dateNote);

    auto *time = new QGroupBox(tr("Time"), this);
    time_ = new QLineEdit(time);
    time_->setMaxLength(kPictureLength);
    // An empty time picture stamps no time.
    time_->setPlaceholderText(tr("None"));
    time_->setClearButtonEnabled(true);
    seconds_ = new QCheckBox(tr("Use Seconds"), time);
    auto *timeLayout = new QVBoxLayout(time);
    timeLayout->addWidget(time_);
    timeLayout->addWidget(seconds_);

    auto *language = new QGroupBox(tr("Language"), this);
    language_ = new QLabel(language);
    language_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *languageLayout = new QVBoxLayout(language);
    languageLayout->addWidget(language_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(date);
    layout->addWidget(time);
    layout->addWidget(language);
    layout->addStretch(1);

    connect(date_, &QLineEdit::textEdited, this, &FormatPage::DateEdited);
    connect(time_, &QLineEdit::textEdited, this, &FormatPage::TimeEdited);
    connect(seconds_, &QCheckBox::clicked, this, [this](bool on) {
        values_->useSeconds = on;
        emit changed();
    });
    refresh();
}

void FormatPage::refresh() {
    date_->setText(FieldText(values_->datePicture));
    time_->setText(FieldText(values_->timePicture));
    seconds_->setChecked(values_->useSeconds);
    language_->setText(LanguageText(values_->localeId));
    UpdateSecondsEnabled();
}

void FormatPage::DateEdited(const QString &text) {
    SetFieldText(values_->datePicture, text);
    emit changed();
}

void FormatPage::TimeEdited(const QString &text) {
    // "None" is how the time lists name the empty picture.
    SetFieldText(values_->timePicture, text == QLatin1String("None") ? QString() : text);
    UpdateSecondsEnabled();
    emit changed();
}

void FormatPage::UpdateSecondsEnabled() { seconds_->setEnabled(values_->timePicture[0] != '\0'); }

}  // namespace mk::app
