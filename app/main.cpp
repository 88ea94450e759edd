// The desktop program's entry: one running program per user, then the main
// window with the stored preferences until it is closed.
#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include "main_window.h"
#include "single_instance.h"

namespace {

// The status of a start that found the program running (-1 as a byte).
constexpr int kAlreadyRunning = 255;

}  // namespace

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mirelkanzoar"));
    QApplication::setOrganizationName(QStringLiteral("Tarvelin"));
    QGuiApplication::setDesktopFileName(QStringLiteral("Mirelkanzoar"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("mirelkanzoar")));

    // Started with nothing (by the user, or by the other programs to edit
    // the settings) or with a settings file to open, as a file manager does.
    const QStringList arguments = QCoreApplication::arguments();
    const QString settingsFile =
        arguments.size() > 1 ? QFileInfo(arguments[1]).absoluteFilePath() : QString();

    mk::app::SingleInstance instance;
    if (!instance.claim()) {
        instance.notifyRunning(settingsFile);
        return kAlreadyRunning;
    }

    mk::app::MainWindow window;
    QObject::connect(&instance, &mk::app::SingleInstance::raiseRequested, &window,
                     [&window](const QString &file) {
                         window.bringForward();
                         if (!file.isEmpty()) window.loadSettingsFile(file, true);
                     });
    window.show();
    if (!settingsFile.isEmpty()) window.loadSettingsFile(settingsFile, true);
    return QApplication::exec();
}
