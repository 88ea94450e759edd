// Pictures of the desktop program's windows for a person to look at: the
// main window on every tab (and the Background page switched off), the
// strip with several looks, the preview window beside the main window, the
// error list, About, the close question and the colour dialog, written as
// PNG files into the folder given. Needs a display: run it under xvfb-run.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <utility>

#include "color_button.h"
#include "error_list_window.h"
#include "locale_lists.h"
#include "main_window.h"
#include "preview_strip.h"
#include "preview_window.h"
#include "settings_dialog.h"
#include "settings_pages.h"

namespace {

void Settle() {
    for (int i = 0; i < 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
}

bool Save(QWidget *widget, const QDir &folder, const QString &name) {
    Settle();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// Runs `open`, which shows a modal window, and saves that window.
void SaveModal(const QDir &folder, const QString &name, const std::function<void()> &open) {
    QTimer::singleShot(300, [folder, name] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            std::printf("FAILED %s: no window\n", qPrintable(name));
            return;
        }
        Save(modal, folder, name);
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->done(QMessageBox::Cancel);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        }
    });
    open();
}

void Trigger(QWidget *window, const QString &text) {
    for (QAction *action : window->findChildren<QAction *>()) {
        if (action->text() == text) action->trigger();
    }
}

}  // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder for the PNG files>\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    folder.mkpath(QStringLiteral("."));

    mk::app::MainWindow window;
    window.show();
    Settle();
    auto *tabs = window.settingsDialog()->tabs();
    const QStringList names = {"format", "position", "font", "background", "extra"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        Save(&window, folder, QStringLiteral("main-") + names[i]);
    }
    if (QScreen *screen = window.screen()) {
        tabs->setCurrentIndex(0);
        Settle();
        const QString path = folder.filePath(QStringLiteral("screen.png"));
        std::printf("%s %s\n", screen->grabWindow(0).save(path) ? "wrote" : "FAILED",
                    qPrintable(path));
    }

    // The Background page with its box switched off, and in pixel units.
    auto *background = window.findChild<mk::app::BackgroundPage *>();
    tabs->setCurrentWidget(background);
    for (QCheckBox *box : background->findChildren<QCheckBox *>()) {
        if (box->text() == QStringLiteral("Enable")) box->click();
    }
    Save(&window, folder, QStringLiteral("main-background-off"));
    Setts pixels;
    MK_SettsLoadDefaults(&pixels);
    pixels.flags |= FLAG_PIXEL_UNITS | FLAG_FULL_WIDTH;
    pixels.fontSize = 48;
    pixels.horizontalMargin = 10;
    pixels.verticalMargin = 5;
    window.settingsDialog()->apply(pixels);
    Save(&window, folder, QStringLiteral("main-background-pixels"));
    tabs->setCurrentIndex(2);
    Save(&window, folder, QStringLiteral("main-font-pixels"));

    // The strip with three looks, and the preview window beside the main
    // window with the last of them.
    Setts look;
    MK_SettsLoadDefaults(&look);
    window.settingsDialog()->apply(look);
    Save(window.settingsDialog()->strip(), folder, QStringLiteral("strip-defaults"));
    look.flags |= FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
    look.backgroundColor = 0x00402010;
    look.backgroundOpacity = 75;
    look.fontColor = 0x0000FFFF;
    std::snprintf(look.fontFace, sizeof look.fontFace, "DejaVu Serif");
    look.fontWeight = 700;
    look.fontItalic = 1;
    look.horizontalMargin = 300;
    look.verticalMargin = 600;
    window.settingsDialog()->apply(look);
    Save(window.settingsDialog()->strip(), folder, QStringLiteral("strip-serif-box"));
    MK_SettsLoadDefaults(&look);
    look.flags &= ~uint32_t{FLAG_BACKGROUND};
    look.fontColor = 0x00FFFFFF;
    look.useSeconds = 1;
    std::snprintf(look.datePicture, sizeof look.datePicture, "dddd, d MMMM yyyy");
    std::snprintf(look.timePicture, sizeof look.timePicture, "HH:mm:ss");
    window.settingsDialog()->apply(look);
    Save(window.settingsDialog()->strip(), folder, QStringLiteral("strip-long-white"));
    Save(&window, folder, QStringLiteral("main-strip-long-white"));
    MK_SettsLoadDefaults(&look);
    look.fontSize = 900;
    window.settingsDialog()->apply(look);
    window.settingsDialog()->previewBox()->setChecked(true);
    for (int i = 0; i < 100 && !window.previewWindow()->isVisible(); ++i) Settle();
    Save(window.previewWindow(), folder, QStringLiteral("preview-window"));
    if (QScreen *screen = window.screen()) {
        Settle();
        const QString path = folder.filePath(QStringLiteral("screen-preview.png"));
        std::printf("%s %s\n", screen->grabWindow(0).save(path) ? "wrote" : "FAILED",
                    qPrintable(path));
    }
    window.settingsDialog()->previewBox()->setChecked(false);
    MK_SettsLoadDefaults(&look);
    window.settingsDialog()->apply(look);

    // The Format page in English, Russian and Japanese, with a list dropped
    // open (a window of its own, so the screen is taken), and "Select
    // Language".
    auto *format = window.findChild<mk::app::FormatPage *>();
    tabs->setCurrentWidget(format);
    const auto saveOpen = [&](QComboBox *list, const QString &name) {
        list->showPopup();
        Settle();
        const QRect area = window.frameGeometry().united(list->view()->window()->frameGeometry());
        const QString path = folder.filePath(name + QStringLiteral(".png"));
        const bool saved = window.screen() != nullptr &&
                           window.screen()
                               ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                               .save(path);
        std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
        list->hidePopup();
        Settle();
    };
    const std::pair<uint16_t, QString> languages[] = {
        {0x0409, "english"}, {0x0419, "russian"}, {0x0411, "japanese"}};
    for (const auto &[localeId, name] : languages) {
        MK_SettsLoadDefaults(&look);
        look.localeId = localeId;
        // A long date, which spells names in the language's script.
        const QStringList dates = mk::app::DatePictures(localeId);
        if (!dates.isEmpty())
            std::snprintf(look.datePicture, sizeof look.datePicture, "%s",
                          dates.back().toUtf8().constData());
        window.settingsDialog()->apply(look);
        Save(&window, folder, QStringLiteral("main-format-") + name);
        saveOpen(format->dateField(), QStringLiteral("format-dates-") + name);
    }
    saveOpen(format->timeField(), QStringLiteral("format-times-japanese"));
    saveOpen(format->languageList(), QStringLiteral("format-languages"));
    SaveModal(folder, QStringLiteral("select-language"), [&] {
        QComboBox *list = format->languageList();
        list->setCurrentIndex(list->count() - 1);
        emit list->activated(list->count() - 1);
    });
    MK_SettsLoadDefaults(&look);
    window.settingsDialog()->apply(look);

    auto *errors = window.errorList();
    errors->addFile(QStringLiteral("/home/user/Pictures/holiday/IMG_0001.jpg"),
                    QStringLiteral("not a JPEG file"));
    errors->addFile(QStringLiteral("/home/user/Pictures/holiday/a rather long folder name/"
                                   "and an even longer picture name from the camera.jpg"),
                    QStringLiteral("read-only and the settings do not allow changing it"));
    errors->show();
    Save(errors, folder, QStringLiteral("error-list"));
    errors->hide();

    SaveModal(folder, QStringLiteral("about"), [&] { Trigger(&window, QStringLiteral("&About")); });
    SaveModal(folder, QStringLiteral("close-question"), [&] { mk::app::AskToSave(&window); });
    tabs->setCurrentIndex(2);
    Settle();
    auto *color = window.findChild<mk::app::FontPage *>()->colorButton();
    SaveModal(folder, QStringLiteral("color-dialog"), [&] { color->click(); });
    return 0;
}
