// "Select Language": every locale the core knows by its English and native
// names, for a language the Format page's list does not offer yet.
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>

#include "locale_lists.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace mk::app {

class LanguageDialog : public QDialog {
    Q_OBJECT

  public:
    LanguageDialog(const QList<LocaleChoice> &locales, QWidget *parent);

    // The language picked by "Select" or a double click; nothing before.
    std::optional<uint16_t> chosen() const { return chosen_; }

    QListWidget *list() const { return list_; }
    QPushButton *selectButton() const { return select_; }

    // An item's text: "English name [native name]".
    static QString ItemText(const LocaleChoice &locale);

  private:
    void Pick(QListWidgetItem *item);

    QListWidget *list_;
    QPushButton *select_;
    std::optional<uint16_t> chosen_;
};

// Shows the dialog over `parent` with its top-left corner at `topLeft`
// (global coordinates) and waits: the language picked, or nothing when it
// was cancelled.
std::optional<uint16_t> ChooseLanguage(QWidget *parent, const QPoint &topLeft);

}  // namespace mk::app
