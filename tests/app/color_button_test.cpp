// Colour buttons: the swatch colours, the colour conversions, the colour
// dialog a click opens, and the eyedropper's press-drag-release picking with
// screen pixels fed by the test.
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "center_over_owner.h"
#include "color_button.h"
#include "eyedropper.h"

using mk::app::AddEyedropper;
using mk::app::ColorButton;
using mk::app::ColorFromRef;
using mk::app::EyedropperButton;
using mk::app::EyedropperDrag;
using mk::app::RefFromColor;
using mk::app::ScreenSampler;
using mk::app::SwatchColor;

namespace {

// A screen of two known pixels; every other position can't be read.
ScreenSampler FakeScreen(std::map<std::pair<int, int>, QColor> pixels) {
    return [pixels = std::move(pixels)](const QPoint &at) -> std::optional<QColor> {
        const auto found = pixels.find({at.x(), at.y()});
        if (found == pixels.end()) return std::nullopt;
        return found->second;
    };
}

void Send(QWidget *widget, QEvent::Type type, const QPoint &local, Qt::MouseButtons held) {
    const QPointF global = widget->mapToGlobal(QPointF(local));
    QMouseEvent event(type, QPointF(local), global, Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}
void Press(QWidget *w, const QPoint &at) { Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton); }
void Move(QWidget *w, const QPoint &at) { Send(w, QEvent::MouseMove, at, Qt::LeftButton); }
void Release(QWidget *w, const QPoint &at) {
    Send(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

// Runs `inDialog` on the colour dialog once the button's click opened it;
// returns whether a dialog opened at all.
bool ClickAndHandleDialog(ColorButton *button, std::function<void(QColorDialog *)> inDialog) {
    bool opened = false;
    QTimer::singleShot(0, button, [&] {
        auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        opened = true;
        inDialog(dialog);
    });
    QTest::mouseClick(button, Qt::LeftButton);
    // A click that opened nothing leaves the timer for the event loop.
    QCoreApplication::processEvents();
    return opened;
}

}  // namespace

class ColorButtonTest : public QObject {
    Q_OBJECT

  private slots:
    void swatchColor_data();
    void swatchColor();
    void colorRefConversions();
    void dragRules();
    void eyedropperSitsRightOfTheButtonsWithItsTip();
    void eyedropperPressAndReleaseKeepsTheColor();
    void eyedropperDragFollowsTheScreenAndComesBack();
    void disabledButtonShowsWashedOutSwatchAndOpensNothing();
    void clickOpensTheDialogAndReportsTheChoice();
    void cancelReportsTheColorFromBefore();
};

void ColorButtonTest::swatchColor_data() {
    QTest::addColumn<uint>("ref");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("enabled red") << 0x000000FFu << true << QColor(255, 0, 0);
    QTest::newRow("enabled mixed") << 0x00123456u << true << QColor(0x56, 0x34, 0x12);
    // 128 + (255 - 128) / 5 = 153; 128 + (0 - 128) / 5 = 128 - 25 = 103.
    QTest::newRow("disabled red") << 0x000000FFu << false << QColor(153, 103, 103);
    QTest::newRow("disabled white") << 0x00FFFFFFu << false << QColor(153, 153, 153);
    QTest::newRow("disabled black") << 0x00000000u << false << QColor(103, 103, 103);
    // Truncation toward zero, not down: -2/5 and -1/5 are 0, -6/5 is -1.
    QTest::newRow("disabled near grey") << 0x00817F7Eu << false << QColor(128, 128, 128);
    QTest::newRow("disabled below grey") << 0x00797A7Bu << false << QColor(127, 127, 127);
    QTest::newRow("disabled just above") << 0x008A8685u << false << QColor(129, 129, 130);
}

void ColorButtonTest::swatchColor() {
    QFETCH(uint, ref);
    QFETCH(bool, enabled);
    QFETCH(QColor, expected);
    QCOMPARE(SwatchColor(ref, enabled), expected);
}

void ColorButtonTest::colorRefConversions() {
    // 0x00BBGGRR: red in the lowest byte.
    QCOMPARE(ColorFromRef(0x00336699u), QColor(0x99, 0x66, 0x33));
    QCOMPARE(RefFromColor(QColor(1, 2, 3)), 0x00030201u);
    QCOMPARE(RefFromColor(QColor(1, 2, 3, 4)), 0x00030201u);
    for (uint32_t ref : {0x00000000u, 0x00FFFFFFu, 0x000000FFu, 0x00FF0000u, 0x00ABCDEFu})
        QCOMPARE(RefFromColor(ColorFromRef(ref)), ref);
    // The unused top byte is no colour.
    QCOMPARE(ColorFromRef(0xFF102030u), ColorFromRef(0x00102030u));
}

void ColorButtonTest::dragRules() {
    EyedropperDrag drag;
    QVERIFY(!drag.Move(false, QColor(1, 2, 3)).has_value());
    drag.Press(QColor(10, 20, 30));
    QCOMPARE(drag.Move(false, QColor(1, 2, 3)), std::optional<QColor>(QColor(1, 2, 3)));
    QCOMPARE(drag.Move(false, std::nullopt), std::optional<QColor>(QColor(255, 255, 255)));
    QCOMPARE(drag.Move(true, QColor(1, 2, 3)), std::optional<QColor>(QColor(10, 20, 30)));
    drag.Release();
    QVERIFY(!drag.picking());
    QVERIFY(!drag.Move(false, QColor(1, 2, 3)).has_value());
}

void ColorButtonTest::eyedropperSitsRightOfTheButtonsWithItsTip() {
    QColorDialog dialog(QColor(10, 20, 30));
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    EyedropperButton *eyedropper = AddEyedropper(&dialog, FakeScreen({}));
    QVERIFY(eyedropper != nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(eyedropper->toolTip(), QStringLiteral("Pick color"));
    QVERIFY(eyedropper->isVisible());
    QPushButton *cancel = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel);
    QVERIFY(cancel != nullptr);
    const QRect cancelRect(cancel->mapTo(&dialog, QPoint(0, 0)), cancel->size());
    const QRect eyeRect(eyedropper->mapTo(&dialog, QPoint(0, 0)), eyedropper->size());
    QVERIFY2(eyeRect.left() > cancelRect.right(), "the eyedropper lies right of Cancel");
    QVERIFY(eyeRect.top() < cancelRect.bottom() && eyeRect.bottom() > cancelRect.top());
    QVERIFY(eyeRect.width() > eyeRect.height());
    QCOMPARE(eyeRect.height(), cancel->height());
}

void ColorButtonTest::eyedropperPressAndReleaseKeepsTheColor() {
    QColorDialog dialog(QColor(10, 20, 30));
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    EyedropperButton *eyedropper = AddEyedropper(&dialog, FakeScreen({}));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint middle = eyedropper->rect().center();
    Press(eyedropper, middle);
    QVERIFY(eyedropper->picking());
    Release(eyedropper, middle);
    QVERIFY(!eyedropper->picking());
    QCOMPARE(dialog.currentColor(), QColor(10, 20, 30));
}

void ColorButtonTest::eyedropperDragFollowsTheScreenAndComesBack() {
    QColorDialog dialog(QColor(10, 20, 30));
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Positions relative to the button, turned into the screen's pixels.
    const QPoint far(-200, -150), farther(-260, -150), unreadable(-300, -10);
    // The button is needed to know where the fake pixels lie, so it is made
    // first with a placeholder and the real screen handed over after.
    std::map<std::pair<int, int>, QColor> pixels;
    ScreenSampler screen = [&pixels](const QPoint &at) -> std::optional<QColor> {
        const auto found = pixels.find({at.x(), at.y()});
        if (found == pixels.end()) return std::nullopt;
        return found->second;
    };
    EyedropperButton *eyedropper = AddEyedropper(&dialog, screen);
    QVERIFY(eyedropper != nullptr);
    dialog.adjustSize();
    const QPoint g1 = eyedropper->mapToGlobal(far), g2 = eyedropper->mapToGlobal(farther);
    pixels[{g1.x(), g1.y()}] = QColor(200, 100, 50);
    pixels[{g2.x(), g2.y()}] = QColor(0, 255, 1);

    const QPoint middle = eyedropper->rect().center();
    Press(eyedropper, middle);
    Move(eyedropper, far);
    QCOMPARE(dialog.currentColor(), QColor(200, 100, 50));
    Move(eyedropper, farther);
    QCOMPARE(dialog.currentColor(), QColor(0, 255, 1));
    Move(eyedropper, unreadable);
    QCOMPARE(dialog.currentColor(), QColor(255, 255, 255));
    // Back over the button: the colour from before the drag.
    Move(eyedropper, middle);
    QCOMPARE(dialog.currentColor(), QColor(10, 20, 30));
    // The button's edge counts as outside.
    Move(eyedropper, QPoint(0, middle.y()));
    QCOMPARE(dialog.currentColor(), QColor(255, 255, 255));
    Move(eyedropper, far);
    Release(eyedropper, far);
    QCOMPARE(dialog.currentColor(), QColor(200, 100, 50));
    // Released: moving no longer picks.
    Send(eyedropper, QEvent::MouseMove, farther, Qt::NoButton);
    QCOMPARE(dialog.currentColor(), QColor(200, 100, 50));
    QCOMPARE(dialog.selectedColor(), QColor());
}

void ColorButtonTest::disabledButtonShowsWashedOutSwatchAndOpensNothing() {
    QWidget page;
    ColorButton button(QStringLiteral("Overlay background color"), &page);
    button.setColor(0x000000FF);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    const QPoint middle = button.rect().center();
    QCOMPARE(button.grab().toImage().pixelColor(middle * button.devicePixelRatio()),
             QColor(255, 0, 0));

    button.setEnabled(false);
    QCOMPARE(button.grab().toImage().pixelColor(middle * button.devicePixelRatio()),
             QColor(153, 103, 103));
    QSignalSpy chosen(&button, &ColorButton::colorChosen);
    const bool opened =
        ClickAndHandleDialog(&button, [](QColorDialog *dialog) { dialog->reject(); });
    QVERIFY(!opened);
    QCOMPARE(chosen.count(), 0);

    // Enabled again, the colour comes back.
    button.setEnabled(true);
    QCOMPARE(button.grab().toImage().pixelColor(middle * button.devicePixelRatio()),
             QColor(255, 0, 0));
}

void ColorButtonTest::clickOpensTheDialogAndReportsTheChoice() {
    QWidget page;
    ColorButton button(QStringLiteral("Overlay font color"), &page);
    button.setColor(0x00336699);
    // In the corner, where centring alone would push the dialog off the desktop.
    page.move(0, 0);
    // A pixel of the fake screen, at a place found once the dialog is open.
    std::optional<QPoint> pixelAt;
    button.setScreenSampler([&pixelAt](const QPoint &at) -> std::optional<QColor> {
        if (pixelAt && at == *pixelAt) return QColor(7, 8, 9);
        return std::nullopt;
    });
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy chosen(&button, &ColorButton::colorChosen);

    QString title;
    QColor initial;
    QPoint placedAt, ruleSays;
    bool hadEyedropper = false;
    const bool opened = ClickAndHandleDialog(&button, [&](QColorDialog *dialog) {
        title = dialog->windowTitle();
        initial = dialog->currentColor();
        placedAt = dialog->pos();
        ruleSays = mk::app::CenteredOverOwner(dialog->frameGeometry().size(), page.frameGeometry(),
                                              page.screen()->availableGeometry());
        auto *eyedropper = dialog->findChild<EyedropperButton *>();
        hadEyedropper = eyedropper != nullptr;
        if (eyedropper != nullptr) {
            const QPoint away(-100, 40);
            pixelAt = eyedropper->mapToGlobal(away);
            Press(eyedropper, eyedropper->rect().center());
            Move(eyedropper, away);
            Release(eyedropper, away);
        }
        dialog->accept();
    });
    QVERIFY(opened);
    QCOMPARE(title, QStringLiteral("Overlay font color"));
    QCOMPARE(initial, QColor(0x99, 0x66, 0x33));
    // Over its owner, kept inside the desktop.
    QCOMPARE(placedAt, ruleSays);
    QVERIFY(hadEyedropper);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).value<uint32_t>(), 0x00090807u);
    QCOMPARE(button.color(), 0x00090807u);
    QCOMPARE(button.grab().toImage().pixelColor(button.rect().center() * button.devicePixelRatio()),
             QColor(7, 8, 9));
}

void ColorButtonTest::cancelReportsTheColorFromBefore() {
    QWidget page;
    ColorButton button(QStringLiteral("Overlay background color"), &page);
    button.setColor(0x00102030);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy chosen(&button, &ColorButton::colorChosen);
    const bool opened = ClickAndHandleDialog(&button, [](QColorDialog *dialog) {
        dialog->setCurrentColor(QColor(1, 2, 3));
        dialog->reject();
    });
    QVERIFY(opened);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).value<uint32_t>(), 0x00102030u);
    QCOMPARE(button.color(), 0x00102030u);
}

QTEST_MAIN(ColorButtonTest)
#include "color_button_test.moc"
