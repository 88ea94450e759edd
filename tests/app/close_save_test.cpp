// Closing the program: the settings are stored when "Save " closes it or
// when the user says Yes to the question, which is asked only when they
// differ from those the program started with. The user's configuration
// folder is a temporary one.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

#include "MK_Core.h"
#include "main_window.h"
#include "number_spin_box.h"
#include "settings_dialog.h"
#include "settings_pages.h"

using mk::app::FontPage;
using mk::app::MainWindow;
using mk::app::NumberSpinBox;
using mk::app::SettingsDialog;

namespace {

QByteArray Bytes(const Setts &record) {
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

Setts Defaults() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    return record;
}

template <typename T>
T *Find(QWidget *root, const QString &text) {
    for (T *widget : root->findChildren<T *>()) {
        if (widget->text() == text) return widget;
    }
    return nullptr;
}

}  // namespace

class CloseSaveTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void unchangedClosesWithoutAskingOrWriting();
    void restoringDefaultsEqualToTheStartAsksNothing();
    void modifiedAsksAndYesStores();
    void modifiedAsksAndNoClosesWithoutWriting();
    void modifiedAsksAndCancelStaysOpen();
    void restoringOtherDefaultsCountsAsAModification();
    void saveButtonStoresWithoutAsking();
    void cancelButtonAsksWhenModified();
    void aStoreThatFailsKeepsTheProgramOpen();

  private:
    QString PreferencesPath() const {
        return config_->path() + QStringLiteral("/Tarvelin/Mirelkanzoar/2.7/Preferences");
    }
    QByteArray Stored() const {
        QFile file(PreferencesPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Store(const Setts &record) {
        QDir().mkpath(QFileInfo(PreferencesPath()).path());
        QFile file(PreferencesPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Bytes(record));
    }
    // A window whose close question is answered with `answer` and counted.
    std::unique_ptr<MainWindow> Window(QMessageBox::StandardButton answer) {
        auto window = std::make_unique<MainWindow>();
        window->settingsDialog()->setCloseQuestion([this, answer](QWidget *) {
            ++asked_;
            return answer;
        });
        window->show();
        return window;
    }
    void TypeFontSize(MainWindow &window, const QString &text) {
        auto *size = window.findChild<FontPage *>()->findChild<NumberSpinBox *>();
        size->findChild<QLineEdit *>()->selectAll();
        QTest::keyClicks(size, text);
    }
    void Trigger(MainWindow &window, const QString &text) {
        for (QAction *action : window.findChildren<QAction *>()) {
            if (action->text() == text) {
                action->trigger();
                return;
            }
        }
        QFAIL(qPrintable(QStringLiteral("no action ") + text));
    }

    std::unique_ptr<QTemporaryDir> config_;
    int asked_ = 0;
};

void CloseSaveTest::init() {
    config_ = std::make_unique<QTemporaryDir>();
    QVERIFY(config_->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
    asked_ = 0;
}

void CloseSaveTest::unchangedClosesWithoutAskingOrWriting() {
    Setts start = Defaults();
    start.fontSize = 1234;
    Store(start);
    auto window = Window(QMessageBox::Yes);
    QVERIFY(window->close());
    QCOMPARE(asked_, 0);
    QCOMPARE(Stored(), Bytes(start));

    // Nothing stored at all: the defaults, and still nothing is written.
    QFile::remove(PreferencesPath());
    auto fresh = Window(QMessageBox::Yes);
    QVERIFY(fresh->close());
    QCOMPARE(asked_, 0);
    QVERIFY(!QFile::exists(PreferencesPath()));
}

void CloseSaveTest::restoringDefaultsEqualToTheStartAsksNothing() {
    auto window = Window(QMessageBox::Yes);
    TypeFontSize(*window, QStringLiteral("20"));
    Trigger(*window, QStringLiteral("&Restore Defaults"));
    QVERIFY(window->close());
    QCOMPARE(asked_, 0);
    QVERIFY(!QFile::exists(PreferencesPath()));
}

void CloseSaveTest::modifiedAsksAndYesStores() {
    auto window = Window(QMessageBox::Yes);
    TypeFontSize(*window, QStringLiteral("20"));
    QVERIFY(window->close());
    QCOMPARE(asked_, 1);
    Setts expected = Defaults();
    expected.fontSize = 2000;
    QCOMPARE(Stored(), Bytes(expected));
}

void CloseSaveTest::modifiedAsksAndNoClosesWithoutWriting() {
    auto window = Window(QMessageBox::No);
    TypeFontSize(*window, QStringLiteral("20"));
    QVERIFY(window->close());
    QCOMPARE(asked_, 1);
    QVERIFY(!QFile::exists(PreferencesPath()));
}

void CloseSaveTest::modifiedAsksAndCancelStaysOpen() {
    auto window = Window(QMessageBox::Cancel);
    TypeFontSize(*window, QStringLiteral("20"));
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QCOMPARE(asked_, 1);
    QVERIFY(!QFile::exists(PreferencesPath()));
    // Asked again on the next close.
    window->settingsDialog()->setCloseQuestion([this](QWidget *) {
        ++asked_;
        return QMessageBox::No;
    });
    QVERIFY(window->close());
    QCOMPARE(asked_, 2);
    QVERIFY(!QFile::exists(PreferencesPath()));
}

void CloseSaveTest::restoringOtherDefaultsCountsAsAModification() {
    Setts start = Defaults();
    start.fontSize = 1234;
    start.flags |= FLAG_ALLOW_READONLY;
    Store(start);
    auto window = Window(QMessageBox::Yes);
    Trigger(*window, QStringLiteral("&Restore Defaults"));
    QVERIFY(window->close());
    QCOMPARE(asked_, 1);
    QCOMPARE(Stored(), Bytes(Defaults()));
}

void CloseSaveTest::saveButtonStoresWithoutAsking() {
    auto window = Window(QMessageBox::Cancel);
    TypeFontSize(*window, QStringLiteral("7.5"));
    QTest::mouseClick(Find<QPushButton>(window.get(), "Save "), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QCOMPARE(asked_, 0);
    Setts expected = Defaults();
    expected.fontSize = 750;
    QCOMPARE(Stored(), Bytes(expected));

    // Unchanged settings are stored too.
    auto again = Window(QMessageBox::Cancel);
    QFile::remove(PreferencesPath());
    QTest::mouseClick(Find<QPushButton>(again.get(), "Save "), Qt::LeftButton);
    QVERIFY(!again->isVisible());
    QCOMPARE(Stored(), Bytes(expected));
}

void CloseSaveTest::cancelButtonAsksWhenModified() {
    auto window = Window(QMessageBox::No);
    QTest::mouseClick(Find<QPushButton>(window.get(), "Cancel"), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QCOMPARE(asked_, 0);

    auto modified = Window(QMessageBox::Cancel);
    TypeFontSize(*modified, QStringLiteral("20"));
    QTest::mouseClick(Find<QPushButton>(modified.get(), "Cancel"), Qt::LeftButton);
    QVERIFY(modified->isVisible());
    QCOMPARE(asked_, 1);
    QVERIFY(!QFile::exists(PreferencesPath()));
}

void CloseSaveTest::aStoreThatFailsKeepsTheProgramOpen() {
    // A file where the configuration folder would have to be made.
    const QString blocker = config_->path() + QStringLiteral("/blocker");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
    auto window = Window(QMessageBox::Yes);
    TypeFontSize(*window, QStringLiteral("20"));
    bool told = false;
    QTimer::singleShot(0, window.get(), [&told] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            told = true;
            box->accept();
        }
    });
    QVERIFY(!window->close());
    QVERIFY(told);
    QVERIFY(window->isVisible());
}

QTEST_MAIN(CloseSaveTest)
#include "close_save_test.moc"
