// The main window: its title, menus with their accelerators, About, and
// settings files loaded into the dialog.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>

#include "MK_Core.h"
#include "main_window.h"
#include "settings_dialog.h"

using mk::app::MainWindow;

namespace {

struct Item {
    QString text;
    QKeySequence key;
    bool enabled;
};

QByteArray Bytes(const Setts &record) {
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void theWindowIsTitledAndItsMenusHoldTheCommands();
    void aboutNamesTheProductVersionAndMaker();
    void aSettingsFileIsShownAndCountsAsAModification();
    void aFileThatIsNoSettingsFileChangesNothing();

  private:
    QTemporaryDir config_;
};

void MainWindowTest::init() {
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

void MainWindowTest::theWindowIsTitledAndItsMenusHoldTheCommands() {
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Mirelkanzoar settings"));
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Settings"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&Help"));

    const QList<QList<Item>> expected = {
        {{"Stamp &Files...", QKeySequence(Qt::Key_F5), true},
         {"Stamp Fol&der...", QKeySequence(Qt::CTRL | Qt::Key_F5), true},
         {"", {}, true},
         {"Undo Stamp Files...", QKeySequence(Qt::Key_F6), true},
         {"Undo Stamp Folders...", QKeySequence(Qt::CTRL | Qt::Key_F6), true},
         {"", {}, true},
         {"E&xit", {}, true}},
        {{"&Restore Defaults", {}, true},
         {"Save &As...", QKeySequence(Qt::CTRL | Qt::Key_S), true},
         {"&Load...", QKeySequence(Qt::CTRL | Qt::Key_O), true}},
        {{"&Contents", QKeySequence(Qt::Key_F1), true}, {"", {}, true}, {"&About", {}, true}},
    };
    for (int m = 0; m < 3; ++m) {
        const QList<QAction *> items = menus[m]->menu()->actions();
        QCOMPARE(items.size(), expected[m].size());
        for (int i = 0; i < items.size(); ++i) {
            QCOMPARE(items[i]->isSeparator(), expected[m][i].text.isEmpty());
            QCOMPARE(items[i]->text(), expected[m][i].text);
            QCOMPARE(items[i]->shortcut(), expected[m][i].key);
            QCOMPARE(items[i]->isEnabled(), expected[m][i].enabled);
        }
    }
}

void MainWindowTest::aboutNamesTheProductVersionAndMaker() {
    MainWindow window;
    window.show();
    QString caption;
    QString text;
    QTimer::singleShot(0, &window, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            caption = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("&About")) action->trigger();
    }
    QCOMPARE(caption, QStringLiteral("About"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QVERIFY(lines.size() >= 3);
    QCOMPARE(lines[0], QStringLiteral("Tovu Mirelkanzoar"));
    QCOMPARE(lines[1], QStringLiteral("v.2.7.1"));
    QVERIFY(lines[2].contains(QStringLiteral("Tarvelin")));
}

void MainWindowTest::aSettingsFileIsShownAndCountsAsAModification() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    record.fontSize = 4321;
    record.stampPosition = MK_POS_TOP_LEFT;
    const QString path = config_.filePath(QStringLiteral("mine.mks"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Bytes(record));
    file.close();

    MainWindow window;
    QVERIFY(window.loadSettingsFile(path, false));
    QCOMPARE(Bytes(window.settings()), Bytes(record));
    Setts collected{};
    window.settingsDialog()->collect(&collected);
    QCOMPARE(int32_t{collected.fontSize}, 4321);
    QCOMPARE(collected.stampPosition, MK_POS_TOP_LEFT);
    int asked = 0;
    window.settingsDialog()->setCloseQuestion([&asked](QWidget *) {
        ++asked;
        return QMessageBox::No;
    });
    window.show();
    QVERIFY(window.close());
    QCOMPARE(asked, 1);
}

void MainWindowTest::aFileThatIsNoSettingsFileChangesNothing() {
    const QString path = config_.filePath(QStringLiteral("not.mks"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(721, 'x'));
    file.close();
    MainWindow window;
    const QByteArray before = Bytes(window.settings());
    QVERIFY(!window.loadSettingsFile(path, false));
    QVERIFY(!window.loadSettingsFile(config_.filePath(QStringLiteral("missing.mks")), false));
    QCOMPARE(Bytes(window.settings()), before);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
