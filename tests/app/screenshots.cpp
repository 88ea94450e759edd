// Pictures of the desktop program's windows for a person to look at: the
// main window on every tab (and the Background page switched off), the
// strip with several looks, the preview window beside the main window, the
// error list (made up, and after a real run with failures), the folder
// chooser counting a made tree, "Abort folder scan" during a scan, About,
// the close question and the colour dialog, written as PNG files into the
// folder given. Needs a display: run it under xvfb-run.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

#include "abort_scan_dialog.h"
#include "color_button.h"
#include "error_list_window.h"
#include "folder_chooser.h"
#include "locale_lists.h"
#include "main_window.h"
#include "path_list.h"
#include "preview_strip.h"
#include "preview_window.h"
#include "settings_dialog.h"
#include "settings_pages.h"
#include "stamp_commands.h"

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

bool Touch(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// The core's rule, slowed down so that a count or a scan can be caught
// while it runs.
bool SlowPicture(std::string_view name) {
    QThread::msleep(3);
    return MK_IsSupportedFile(name.data()) != 0;
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

    // A made tree of pictures for the folder commands.
    QTemporaryDir tree;
    for (int f = 0; f < 8; ++f) {
        for (int p = 0; p < 60; ++p)
            Touch(tree.filePath(
                QStringLiteral("Holiday %1/IMG_%2.JPG").arg(f + 1).arg(p, 4, 10, QChar('0'))));
    }
    Touch(tree.filePath(QStringLiteral(".thumbnails/skipped.jpg")));
    {
        mk::app::FolderChooserDialog chooser(&window, OP_STAMP, tree.path(), SlowPicture);
        chooser.setReportInterval(std::chrono::milliseconds(50));
        chooser.show();
        Save(&chooser, folder, QStringLiteral("folder-chooser-start"));
        chooser.includeBox()->setChecked(true);
        for (int i = 0; i < 500 && chooser.statusText().section(' ', 0, 0).toInt() < 100; ++i) {
            QApplication::processEvents();
            QThread::msleep(5);
        }
        const QPixmap running = chooser.grab();
        const QString path = folder.filePath(QStringLiteral("folder-chooser-counting.png"));
        std::printf("%s %s\n", running.save(path) ? "wrote" : "FAILED", qPrintable(path));
        for (int i = 0; i < 500 && !chooser.countFinished(); ++i) Settle();
        Save(&chooser, folder, QStringLiteral("folder-chooser-counted"));
        chooser.reject();
    }
    {
        // The scan behind "Abort folder scan", caught with some pictures
        // found and aborted; no batch runs.
        mk::app::StampCommands scan(&window, [](const mk::paths::PathListBuffer &, int32_t) {});
        scan.setPictureFilter(SlowPicture);
        scan.setFolderChooser(
            [&](QWidget *, int32_t, const QString &, const mk::app::PictureFilter &) {
                return std::optional<mk::app::FolderChoice>({tree.path(), true});
            });
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *dialog =
                qobject_cast<mk::app::AbortScanDialog *>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->pictureCount() < 100) return;
            poll.stop();
            if (QScreen *screen = window.screen()) {
                const QString path = folder.filePath(QStringLiteral("abort-scan-screen.png"));
                std::printf("%s %s\n", screen->grabWindow(0).save(path) ? "wrote" : "FAILED",
                            qPrintable(path));
            }
            const QString path = folder.filePath(QStringLiteral("abort-scan.png"));
            std::printf("%s %s\n", dialog->grab().save(path) ? "wrote" : "FAILED",
                        qPrintable(path));
            dialog->abortButton()->click();
        });
        poll.start();
        scan.chooseFolder(OP_STAMP);
    }
    {
        // A real run with failures: a text file and an empty file named as
        // pictures, and a read-only picture, beside one that is stamped.
        QTemporaryDir run;
        const QString good = run.filePath(QStringLiteral("IMG_0001.jpg"));
        const QString readOnly = run.filePath(QStringLiteral("IMG_0002 (read-only).jpg"));
        QFile::copy(QStringLiteral(":/sample.jpg"), good);
        QFile::copy(QStringLiteral(":/sample.jpg"), readOnly);
        QFile::setPermissions(good, QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(readOnly, QFile::ReadOwner);
        QFile notes(run.filePath(QStringLiteral("notes.jpg")));
        if (notes.open(QIODevice::WriteOnly)) notes.write("a shopping list, not a picture\n");
        notes.close();
        Touch(run.filePath(QStringLiteral("empty.jpg")));
        window.stampCommands()->setFolderChooser(
            [&](QWidget *, int32_t, const QString &, const mk::app::PictureFilter &) {
                return std::optional<mk::app::FolderChoice>({run.path(), false});
            });
        Trigger(&window, QStringLiteral("Stamp Fol&der..."));
        Save(errors, folder, QStringLiteral("error-list-run"));
        if (QScreen *screen = window.screen()) {
            const QString path = folder.filePath(QStringLiteral("error-list-run-screen.png"));
            std::printf("%s %s\n", screen->grabWindow(0).save(path) ? "wrote" : "FAILED",
                        qPrintable(path));
        }
        errors->hide();
    }

    SaveModal(folder, QStringLiteral("about"), [&] { Trigger(&window, QStringLiteral("&About")); });
    SaveModal(folder, QStringLiteral("close-question"), [&] { mk::app::AskToSave(&window); });
    tabs->setCurrentIndex(2);
    Settle();
    auto *color = window.findChild<mk::app::FontPage *>()->colorButton();
    SaveModal(folder, QStringLiteral("color-dialog"), [&] { color->click(); });
    return 0;
}
