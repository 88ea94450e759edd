// One program per user: a second start brings the first forward and exits
// with 255, the first keeps running; the lock goes with the process that
// held it.
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "single_instance.h"

using mk::app::SingleInstance;

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void aSecondClaimLosesAndItsMessageReachesTheFirst();
    void aSecondStartExitsWith255AndLeavesTheFirstRunning();

  private:
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_->path());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("mirelkanzoar.instance.debug=true"));
        return environment;
    }
    void Start(QProcess &process) {
        process.setProcessEnvironment(Environment());
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(QStringLiteral(MK_PROGRAM), {});
        QVERIFY(process.waitForStarted());
    }

    std::unique_ptr<QTemporaryDir> runtime_;
    std::unique_ptr<QTemporaryDir> config_;
};

void SingleInstanceTest::init() {
    runtime_ = std::make_unique<QTemporaryDir>();
    config_ = std::make_unique<QTemporaryDir>();
    QVERIFY(runtime_->isValid());
    QVERIFY(config_->isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_->path()));
}

void SingleInstanceTest::cleanup() {
    runtime_.reset();
    config_.reset();
}

void SingleInstanceTest::aSecondClaimLosesAndItsMessageReachesTheFirst() {
    auto first = std::make_unique<SingleInstance>();
    QVERIFY(first->claim());
    QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);
    {
        SingleInstance second;
        QVERIFY(!second.claim());
        QVERIFY(second.notifyRunning(QStringLiteral("/some where/my\nfile.mks")));
    }
    QVERIFY(raised.wait(5000) || raised.size() == 1);
    QCOMPARE(raised.size(), 1);
    QCOMPARE(raised.at(0).at(0).toString(), QStringLiteral("/some where/my\nfile.mks"));

    // Once the first is gone the next one wins.
    first.reset();
    SingleInstance next;
    QVERIFY(next.claim());
}

void SingleInstanceTest::aSecondStartExitsWith255AndLeavesTheFirstRunning() {
    QProcess first;
    Start(first);
    QByteArray firstLog;
    QTRY_VERIFY_WITH_TIMEOUT((firstLog += first.readAllStandardError()).contains("Listening"),
                             30000);

    QProcess second;
    Start(second);
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 255);

    QTRY_VERIFY_WITH_TIMEOUT(
        (firstLog += first.readAllStandardError()).contains("Asked to come forward"), 10000);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(30000));
}

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
