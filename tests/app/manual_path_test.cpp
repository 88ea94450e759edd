// Finding the manual: beside the program in the build folder, or in the
// installed tree's documentation folder, and nothing when neither holds it.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "manual_path.h"

using mk::app::ManualPathFor;

namespace {

void Touch(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

}  // namespace

class ManualPathTest : public QObject {
    Q_OBJECT

  private slots:
    void foundBesideTheProgramInTheBuild();
    void foundInTheInstalledTree();
    void besideTheProgramComesFirst();
    void missingGivesNothing();
};

void ManualPathTest::foundBesideTheProgramInTheBuild() {
    QTemporaryDir dir;
    Touch(dir.filePath("build/app/manual/index.html"));
    QCOMPARE(ManualPathFor(dir.filePath("build/app")),
             QFileInfo(dir.filePath("build/app/manual/index.html")).canonicalFilePath());
}

void ManualPathTest::foundInTheInstalledTree() {
    QTemporaryDir dir;
    Touch(dir.filePath("prefix/share/doc/mirelkanzoar/manual/index.html"));
    QDir().mkpath(dir.filePath("prefix/bin"));
    QCOMPARE(ManualPathFor(dir.filePath("prefix/bin")),
             QFileInfo(dir.filePath("prefix/share/doc/mirelkanzoar/manual/index.html"))
                 .canonicalFilePath());
}

void ManualPathTest::besideTheProgramComesFirst() {
    QTemporaryDir dir;
    Touch(dir.filePath("prefix/bin/manual/index.html"));
    Touch(dir.filePath("prefix/share/doc/mirelkanzoar/manual/index.html"));
    QCOMPARE(ManualPathFor(dir.filePath("prefix/bin")),
             QFileInfo(dir.filePath("prefix/bin/manual/index.html")).canonicalFilePath());
}

void ManualPathTest::missingGivesNothing() {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("prefix/bin/manual"));
    QCOMPARE(ManualPathFor(dir.filePath("prefix/bin")), QString());
}

QTEST_GUILESS_MAIN(ManualPathTest)
#include "manual_path_test.moc"
