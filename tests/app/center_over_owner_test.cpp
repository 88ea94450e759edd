// Dialog placement: centred over the owner, at least 30 pixels inside the
// desktop's top-left edges and, where it fits, its bottom-right edges.
#include <QDialog>
#include <QTest>

#include "center_over_owner.h"

using mk::app::CenteredOverOwner;

class CenterOverOwnerTest : public QObject {
    Q_OBJECT

  private slots:
    void placesTheWindow_data();
    void placesTheWindow();
    void movesADialogOverItsOwner();
};

void CenterOverOwnerTest::placesTheWindow_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QRect>("desktop");
    QTest::addColumn<QPoint>("place");

    const QRect desktop(0, 0, 1280, 1024);
    QTest::newRow("centred over the owner")
        << QSize(200, 100) << QRect(100, 100, 400, 300) << desktop << QPoint(200, 200);
    QTest::newRow("odd sizes round down")
        << QSize(201, 101) << QRect(100, 100, 401, 301) << desktop << QPoint(200, 200);
    QTest::newRow("kept 30 pixels from the top-left")
        << QSize(300, 200) << QRect(0, 0, 100, 50) << desktop << QPoint(30, 30);
    QTest::newRow("kept 30 pixels from the bottom-right")
        << QSize(300, 200) << QRect(1200, 1000, 200, 100) << desktop << QPoint(949, 793);
    QTest::newRow("too big: the bottom-right rule wins")
        << QSize(1300, 1100) << QRect(0, 0, 1280, 1024) << desktop << QPoint(-51, -107);
    QTest::newRow("on a second screen") << QSize(200, 100) << QRect(1300, 100, 400, 300)
                                        << QRect(1280, 0, 1920, 1080) << QPoint(1400, 200);
    QTest::newRow("no owner: the screen's middle")
        << QSize(200, 100) << desktop << desktop << QPoint(540, 462);
}

void CenterOverOwnerTest::placesTheWindow() {
    QFETCH(QSize, size);
    QFETCH(QRect, owner);
    QFETCH(QRect, desktop);
    QFETCH(QPoint, place);
    QCOMPARE(CenteredOverOwner(size, owner, desktop), place);
}

void CenterOverOwnerTest::movesADialogOverItsOwner() {
    QWidget owner;
    owner.setGeometry(100, 80, 400, 300);
    owner.show();
    QDialog dialog(&owner);
    dialog.setFixedSize(120, 60);
    mk::app::CenterOverOwner(&dialog);
    const QPoint ownerCentre = owner.frameGeometry().center();
    const QPoint dialogCentre = QRect(dialog.pos(), dialog.frameGeometry().size()).center();
    QVERIFY2((ownerCentre - dialogCentre).manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                            .arg(ownerCentre.x())
                            .arg(ownerCentre.y())
                            .arg(dialogCentre.x())
                            .arg(dialogCentre.y())));
    QCOMPARE(dialog.size(), QSize(120, 60));
}

QTEST_MAIN(CenterOverOwnerTest)
#include "center_over_owner_test.moc"
