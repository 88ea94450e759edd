// The "Select Language" dialog.
#include "language_dialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace mk::app {

namespace {

constexpr int kLocaleRole = Qt::UserRole;

}  // namespace

QString LanguageDialog::ItemText(const LocaleChoice &locale) {
    return tr("%1 [%2]").arg(locale.englishName, locale.nativeName);
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
    resize(420, 440);
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
