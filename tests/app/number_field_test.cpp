// Number fields: what typed text is kept as, how it is shown again, and
// where the up-down arrows go, per kind of field and unit; and the same
// through the widget, typed and stepped.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "number_field.h"
#include "number_spin_box.h"

using mk::app::FieldKind;
using mk::app::FormatField;
using mk::app::NumberSpinBox;
using mk::app::ReadField;
using mk::app::StepField;
using mk::app::Unit;

Q_DECLARE_METATYPE(FieldKind)
Q_DECLARE_METATYPE(Unit)

namespace {

QLineEdit *EditOf(NumberSpinBox *box) { return box->findChild<QLineEdit *>(); }

}  // namespace

class NumberFieldTest : public QObject {
    Q_OBJECT

  private slots:
    void typedTextIsKeptClampedAndShownInTheFieldsFormat_data();
    void typedTextIsKeptClampedAndShownInTheFieldsFormat();
    void arrowsMoveToTheNeighbouringMultipleOfTheStep_data();
    void arrowsMoveToTheNeighbouringMultipleOfTheStep();
    void typingIntoTheWidgetKeepsTheValueAndEndingTheEditRewritesIt();
    void theWidgetsArrowsStepFrom260DownTo200();
    void valuesSetFromARecordAreShownAsTheyAre();
};

void NumberFieldTest::typedTextIsKeptClampedAndShownInTheFieldsFormat_data() {
    QTest::addColumn<FieldKind>("kind");
    QTest::addColumn<Unit>("unit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("kept");
    QTest::addColumn<bool>("clamped");
    QTest::addColumn<QString>("shown");

    const Unit pct = Unit::kProportional;
    const Unit px = Unit::kPixels;
    QTest::newRow("offset 150 % is 100.00")
        << FieldKind::kOffset << pct << "150" << 10000 << true << "100.00";
    QTest::newRow("offset -3.456 keeps hundredths")
        << FieldKind::kOffset << pct << "-3.456" << -345 << false << "-3.45";
    QTest::newRow("offset -150 is -100.00")
        << FieldKind::kOffset << pct << "-150" << -10000 << true << "-100.00";
    QTest::newRow("offset 0.29 read exactly")
        << FieldKind::kOffset << pct << "0.29" << 29 << false << "0.29";
    QTest::newRow("offset 1.15 read exactly")
        << FieldKind::kOffset << pct << "1.15" << 115 << false << "1.15";
    QTest::newRow("offset -0.05") << FieldKind::kOffset << pct << "-0.05" << -5 << false << "-0.05";
    QTest::newRow("offset decimal comma")
        << FieldKind::kOffset << pct << "2,5" << 250 << false << "2.50";
    QTest::newRow("offset not a number reads 0")
        << FieldKind::kOffset << pct << "abc" << 0 << false << "0.00";
    QTest::newRow("offset empty reads 0")
        << FieldKind::kOffset << pct << "" << 0 << false << "0.00";
    QTest::newRow("offset digits then junk")
        << FieldKind::kOffset << pct << "12x5" << 1200 << false << "12.00";
    QTest::newRow("offset huge") << FieldKind::kOffset << pct << "99999999999999999999" << 10000
                                 << true << "100.00";
    QTest::newRow("offset pixels 70000")
        << FieldKind::kOffset << px << "70000" << 65535 << true << "65535";
    QTest::newRow("offset pixels -70000")
        << FieldKind::kOffset << px << "-70000" << -65535 << true << "-65535";
    QTest::newRow("offset pixels 12.7 is 12")
        << FieldKind::kOffset << px << "12.7" << 12 << false << "12";
    QTest::newRow("margin negative is 0")
        << FieldKind::kMargin << pct << "-5" << 0 << true << "0.00";
    QTest::newRow("margin 0.5") << FieldKind::kMargin << pct << "0.5" << 50 << false << "0.50";
    QTest::newRow("margin pixels 65536")
        << FieldKind::kMargin << px << "65536" << 65535 << true << "65535";
    QTest::newRow("font size 0.5 is 1.00")
        << FieldKind::kFontSize << pct << "0.5" << 100 << true << "1.00";
    QTest::newRow("font size 150 is 100.00")
        << FieldKind::kFontSize << pct << "150" << 10000 << true << "100.00";
    QTest::newRow("font size negative is 100.00")
        << FieldKind::kFontSize << pct << "-2" << 10000 << true << "100.00";
    QTest::newRow("font size 5") << FieldKind::kFontSize << pct << "5" << 500 << false << "5.00";
    QTest::newRow("font size pixels 3 is 7")
        << FieldKind::kFontSize << px << "3" << 7 << true << "7";
    QTest::newRow("font size pixels 300 is 255")
        << FieldKind::kFontSize << px << "300" << 255 << true << "255";
    QTest::newRow("font size pixels negative is 255")
        << FieldKind::kFontSize << px << "-9" << 255 << true << "255";
    QTest::newRow("opacity 250 is 100")
        << FieldKind::kOpacity << pct << "250" << 100 << true << "100";
    QTest::newRow("opacity 55") << FieldKind::kOpacity << pct << "55" << 55 << false << "55";
    QTest::newRow("opacity signed reads 0")
        << FieldKind::kOpacity << pct << "-5" << 0 << false << "0";
    QTest::newRow("opacity pixels 250 is 100")
        << FieldKind::kOpacity << px << "250" << 100 << true << "100";
}

void NumberFieldTest::typedTextIsKeptClampedAndShownInTheFieldsFormat() {
    QFETCH(FieldKind, kind);
    QFETCH(Unit, unit);
    QFETCH(QString, typed);
    QFETCH(int, kept);
    QFETCH(bool, clamped);
    QFETCH(QString, shown);
    const auto read = ReadField(kind, unit, typed);
    QCOMPARE(read.value, kept);
    QCOMPARE(read.changed, clamped);
    QCOMPARE(FormatField(kind, unit, read.value), shown);
}

void NumberFieldTest::arrowsMoveToTheNeighbouringMultipleOfTheStep_data() {
    QTest::addColumn<FieldKind>("kind");
    QTest::addColumn<Unit>("unit");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("to");

    const Unit pct = Unit::kProportional;
    const Unit px = Unit::kPixels;
    QTest::newRow("260 down to 200") << FieldKind::kOffset << pct << 260 << -1 << 200;
    QTest::newRow("260 up to 300") << FieldKind::kOffset << pct << 260 << +1 << 300;
    QTest::newRow("250 down to 200") << FieldKind::kOffset << pct << 250 << -1 << 200;
    QTest::newRow("250 up to 300") << FieldKind::kOffset << pct << 250 << +1 << 300;
    QTest::newRow("-260 up to -200") << FieldKind::kOffset << pct << -260 << +1 << -200;
    QTest::newRow("-260 down to -300") << FieldKind::kOffset << pct << -260 << -1 << -300;
    QTest::newRow("offset stops at the top") << FieldKind::kOffset << pct << 9990 << +1 << 10000;
    QTest::newRow("offset pixels step 5") << FieldKind::kOffset << px << 12 << +1 << 15;
    QTest::newRow("margin stops at 0") << FieldKind::kMargin << pct << 30 << -1 << 0;
    QTest::newRow("margin pixels step 5 down") << FieldKind::kMargin << px << 12 << -1 << 5;
    QTest::newRow("font size step 50") << FieldKind::kFontSize << pct << 500 << +1 << 550;
    QTest::newRow("font size typed below 1.00 goes up to it")
        << FieldKind::kFontSize << pct << 50 << +1 << 100;
    QTest::newRow("font size stops at 1.00") << FieldKind::kFontSize << pct << 120 << -1 << 100;
    QTest::newRow("font size pixels step 1") << FieldKind::kFontSize << px << 20 << +1 << 21;
    QTest::newRow("font size pixels stops at 7") << FieldKind::kFontSize << px << 7 << -1 << 7;
    QTest::newRow("opacity step 10 up") << FieldKind::kOpacity << pct << 45 << +1 << 50;
    QTest::newRow("opacity step 10 down") << FieldKind::kOpacity << pct << 45 << -1 << 30;
    QTest::newRow("opacity stops at 100") << FieldKind::kOpacity << pct << 100 << +1 << 100;
}

void NumberFieldTest::arrowsMoveToTheNeighbouringMultipleOfTheStep() {
    QFETCH(FieldKind, kind);
    QFETCH(Unit, unit);
    QFETCH(int, from);
    QFETCH(int, direction);
    QFETCH(int, to);
    QCOMPARE(StepField(kind, unit, from, direction), to);
}

void NumberFieldTest::typingIntoTheWidgetKeepsTheValueAndEndingTheEditRewritesIt() {
    NumberSpinBox box(FieldKind::kOffset, nullptr);
    box.setValue(0, Unit::kProportional);
    box.show();
    QSignalSpy edited(&box, &NumberSpinBox::valueEdited);
    QLineEdit *edit = EditOf(&box);
    edit->selectAll();
    QTest::keyClicks(&box, QStringLiteral("150"));
    QCOMPARE(box.value(), 10000);
    QCOMPARE(edited.last().at(0).toInt(), 10000);
    // What is typed stays while typing...
    QCOMPARE(edit->text(), QStringLiteral("150"));
    // ...and shows the kept value once the edit ends.
    QTest::keyClick(&box, Qt::Key_Return);
    QCOMPARE(edit->text(), QStringLiteral("100.00"));

    edit->selectAll();
    QTest::keyClicks(&box, QStringLiteral("-3.456"));
    QCOMPARE(box.value(), -345);

    // Letters cannot be typed at all.
    edit->selectAll();
    QTest::keyClicks(&box, QStringLiteral("7a"));
    QCOMPARE(edit->text(), QStringLiteral("7"));
    QCOMPARE(box.value(), 700);

    NumberSpinBox opacity(FieldKind::kOpacity, nullptr);
    opacity.setValue(50, Unit::kProportional);
    opacity.show();
    EditOf(&opacity)->selectAll();
    QTest::keyClicks(&opacity, QStringLiteral("250"));
    QCOMPARE(opacity.value(), 100);
    opacity.finishEditing();
    QCOMPARE(EditOf(&opacity)->text(), QStringLiteral("100"));
}

void NumberFieldTest::theWidgetsArrowsStepFrom260DownTo200() {
    NumberSpinBox box(FieldKind::kOffset, nullptr);
    box.setValue(0, Unit::kProportional);
    box.show();
    EditOf(&box)->selectAll();
    QTest::keyClicks(&box, QStringLiteral("2.6"));
    QCOMPARE(box.value(), 260);
    QSignalSpy edited(&box, &NumberSpinBox::valueEdited);
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.value(), 200);
    QCOMPARE(EditOf(&box)->text(), QStringLiteral("2.00"));
    QCOMPARE(edited.size(), 1);
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(box.value(), 250);

    // The arrows start from the text as typed, not from the value kept.
    NumberSpinBox small(FieldKind::kFontSize, nullptr);
    small.setValue(500, Unit::kProportional);
    small.show();
    EditOf(&small)->selectAll();
    QTest::keyClicks(&small, QStringLiteral("0.5"));
    QCOMPARE(small.value(), 100);
    QTest::keyClick(&small, Qt::Key_Up);
    QCOMPARE(EditOf(&small)->text(), QStringLiteral("1.00"));

    NumberSpinBox size(FieldKind::kFontSize, nullptr);
    size.setValue(20, Unit::kPixels);
    size.show();
    QTest::keyClick(&size, Qt::Key_Up);
    QCOMPARE(size.value(), 21);
    QCOMPARE(EditOf(&size)->text(), QStringLiteral("21"));
}

void NumberFieldTest::valuesSetFromARecordAreShownAsTheyAre() {
    NumberSpinBox box(FieldKind::kFontSize, nullptr);
    QSignalSpy edited(&box, &NumberSpinBox::valueEdited);
    box.setValue(20000, Unit::kProportional);
    QCOMPARE(box.value(), 20000);
    QCOMPARE(EditOf(&box)->text(), QStringLiteral("200.00"));
    QCOMPARE(edited.size(), 0);
}

QTEST_MAIN(NumberFieldTest)
#include "number_field_test.moc"
