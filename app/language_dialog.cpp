// The "Select Language" dialog.
#include "language_dialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace mk::app {

namespace {

constexpr int kLocaleRole = Qt::UserRole;

}  // namespace

QString LanguageDialog::ItemText(const LocaleChoice &locale) {
    // A right-to-left name is isolated, so that it does not take the
    // brackets and the English name along when it is laid out: "Arabic
    // (Egypt) [مصر) العربية)]" otherwise.
    const QString native = locale.nativeName.isRightToLeft()
                               ? QChar(0x2068) + locale.nativeName + QChar(0x2069)
                               : locale.nativeName;
    return tr("%1 [%2]").arg(locale.englishName, native);
}

LanguageDialog::LanguageDialog(const QList<LocaleChoice> &locales, QWidget *parent)
    : QDialog(parent) {
    setWindowTitle(tr("Select Language"));
    list_ = new QListWidget(this);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    QList<std::pair<QString, uint16_t>> items;
    for (const LocaleChoice &locale : NamedLocales(locales))
        items.append({ItemText(locale), locale.localeId});
    // By the texts' characters, so that a name comes before its longer
    // forms: "Serbian (Cyrillic)" before "Serbian (Cyrillic, Serbia)".
    std::sort(items.begin(), items.end());
    for (const auto &[text, localeId] : items) {
        auto *item = new QListWidgetItem(text, list_);
        item->setData(kLocaleRole, localeId);
    }

    select_ = new QPushButton(tr("Select"), this);
    select_->setEnabled(false);
    select_->setDefault(true);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(select_, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);

    connect(list_, &QListWidget::itemSelectionChanged, this,
            [this] { select_->setEnabled(!list_->selectedItems().isEmpty()); });
    connect(list_, &QListWidget::itemDoubleClicked, this, &LanguageDialog::Pick);
    connect(select_, &QPushButton::clicked, this, [this] {
        const QList<QListWidgetItem *> selected = list_->selectedItems();
        if (!selected.isEmpty()) Pick(selected.front());
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    // Wide enough for the longest name, as far as the screen allows.
    const int margins = layout->contentsMargins().left() + layout->contentsMargins().right();
    const int width = list_->sizeHintForColumn(0) + 2 * list_->frameWidth() +
                      list_->verticalScrollBar()->sizeHint().width() + margins;
    const QScreen *screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    const int widest = screen != nullptr ? screen->availableGeometry().width() * 3 / 4 : 800;
    resize(std::clamp(width, 420, std::max(420, widest)), 440);
}

void LanguageDialog::Pick(QListWidgetItem *item) {
    if (item == nullptr) return;
    chosen_ = uint16_t(item->data(kLocaleRole).toUInt());
    accept();
}

std::optional<uint16_t> ChooseLanguage(QWidget *parent, const QPoint &topLeft) {
    LanguageDialog dialog(KnownLocales(), parent);
    dialog.move(topLeft);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosen();
}

}  // namespace mk::app
