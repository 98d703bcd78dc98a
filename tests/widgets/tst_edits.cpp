#include "widgets/edits.h"

#include <QtTest>

#include <QToolButton>

#include <climits>

using namespace cleftsim;

class TestEdits : public QObject {
    Q_OBJECT
private slots:
    void spinValueReadsText_data();
    void spinValueReadsText();
    void spinSetValueClamps_data();
    void spinSetValueClamps();
    void spinChangedOnlyOnNewText();
    void spinArrowsStepWithinBounds();
    void spinRefusesLetters_data();
    void spinRefusesLetters();
    void handlerRuleReadsEntry_data();
    void handlerRuleReadsEntry();
    void handlerRuleFinishesHalfTypedText();
    void maskReadsNumber_data();
    void maskReadsNumber();
    void maskTypingFillsPositions();
    void maskSetNumberWritesDecimals_data();
    void maskSetNumberWritesDecimals();
    void maskIgnoresCommaLocale();
};

void TestEdits::spinValueReadsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "12" << 12;
    QTest::newRow("negative") << "-63" << -63;
    QTest::newRow("plus sign") << "+5" << 5;
    QTest::newRow("blanks around") << " 7 " << 7;
    QTest::newRow("empty reads the lower bound") << "" << -140;
    QTest::newRow("lone minus") << "-" << -140;
    QTest::newRow("letters") << "1a" << -140;
    QTest::newRow("beyond int") << "99999999999" << INT_MAX;
    QTest::newRow("below int") << "-99999999999" << INT_MIN;
    QTest::newRow("too long to be a number") << "9999999999999999999" << -140;
    QTest::newRow("out of bounds is read as typed") << "70" << 70;
}

void TestEdits::spinValueReadsText()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    SpinEdit edit(QStringLiteral("SpinEditV2"), -140, 40, -63, 4);
    edit.setMaxLength(32767);
    edit.setText(text);
    QCOMPARE(edit.value(), expected);
}

void TestEdits::spinSetValueClamps_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("inside") << 7 << "7";
    QTest::newRow("lower bound") << 1 << "1";
    QTest::newRow("below") << 0 << "1";
    QTest::newRow("above") << 25 << "20";
    QTest::newRow("extreme") << INT_MIN << "1";
}

void TestEdits::spinSetValueClamps()
{
    QFETCH(int, v);
    QFETCH(QString, text);
    SpinEdit edit(QStringLiteral("SpinEditN"), 1, 20, 10, 2);
    edit.setValue(v);
    QCOMPARE(edit.text(), text);
}

void TestEdits::spinChangedOnlyOnNewText()
{
    SpinEdit edit(QStringLiteral("SpinEditN"), 1, 20, 10, 2);
    QSignalSpy spy(&edit, &SpinEdit::changed);
    edit.setValue(10);
    QCOMPARE(spy.count(), 0);
    edit.setValue(12);
    QCOMPARE(spy.count(), 1);
    edit.setText(QStringLiteral("12"));
    QCOMPARE(spy.count(), 1);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(edit.text(), QStringLiteral("1"));
}

void TestEdits::spinArrowsStepWithinBounds()
{
    SpinEdit edit(QStringLiteral("SpinEditN"), 1, 20, 19, 2);
    edit.resize(50, 21);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QStringLiteral("20"));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QStringLiteral("20"));
    auto *down = edit.findChild<QToolButton *>(QStringLiteral("SpinEditNDown"));
    auto *up = edit.findChild<QToolButton *>(QStringLiteral("SpinEditNUp"));
    QVERIFY(down && up);
    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(edit.text(), QStringLiteral("19"));
    edit.setText(QStringLiteral("1"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QStringLiteral("1"));
    // A text that is no number steps from the lower bound.
    edit.setText(QString());
    QTest::mouseClick(up, Qt::LeftButton);
    QCOMPARE(edit.text(), QStringLiteral("2"));
    // A value typed beyond the bound is pulled in by the first step.
    edit.setText(QStringLiteral("70"));
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(edit.text(), QStringLiteral("20"));
    edit.setReadOnly(true);
    QTest::mouseClick(down, Qt::LeftButton);
    QCOMPARE(edit.text(), QStringLiteral("20"));
}

void TestEdits::spinRefusesLetters_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("plain") << int(Qt::NoModifier);
    QTest::newRow("shift") << int(Qt::ShiftModifier);
}

void TestEdits::spinRefusesLetters()
{
    QFETCH(int, modifiers);
    SpinEdit edit(QStringLiteral("SpinEditEmax"), -100, 100, 0, 4);
    edit.clear();
    const auto mods = Qt::KeyboardModifiers(modifiers);
    QTest::keyClick(&edit, Qt::Key_Minus, mods & ~Qt::ShiftModifier);
    QTest::keyClick(&edit, Qt::Key_X, mods);
    QTest::keyClick(&edit, Qt::Key_4, mods & ~Qt::ShiftModifier);
    QTest::keyClick(&edit, Qt::Key_Period, mods);
    QTest::keyClick(&edit, Qt::Key_E, mods);
    QTest::keyClick(&edit, Qt::Key_2, mods & ~Qt::ShiftModifier);
    QCOMPARE(edit.text(), QStringLiteral("-42"));
    QCOMPARE(edit.value(), -42);
}

void TestEdits::handlerRuleReadsEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown");
    // Bounds -150..40, as the clamp potential's edit.
    QTest::newRow("inside") << "-63" << true << -63 << "-63";
    QTest::newRow("upper bound") << "40" << true << 40 << "40";
    QTest::newRow("above") << "55" << false << 0 << "40";
    QTest::newRow("below") << "-999" << false << 0 << "-150";
    QTest::newRow("empty") << "" << true << -150 << "";
    QTest::newRow("lone minus") << "-" << true << -150 << "-";
    QTest::newRow("letters") << "4898a" << false << 0 << "-150";
    QTest::newRow("trailing sign") << "74-" << false << 0 << "-150";
    QTest::newRow("plus sign") << "+7" << true << 7 << "+7";
}

void TestEdits::handlerRuleReadsEntry()
{
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QFETCH(int, value);
    QFETCH(QString, shown);
    SpinEdit edit(QStringLiteral("SpinEditV2"), -150, 40, -63, 4);
    edit.setMaxLength(10);
    edit.setText(text);
    int v = 12345;
    QCOMPARE(readSpinValue(&edit, &v), taken);
    if (taken)
        QCOMPARE(v, value);
    QCOMPARE(edit.text(), shown);
}

void TestEdits::handlerRuleFinishesHalfTypedText()
{
    SpinEdit edit(QStringLiteral("SpinEdit1"), 1, 10000, 100, 5);
    edit.setText(QStringLiteral("-"));
    finishSpinText(&edit, 1);
    QCOMPARE(edit.text(), QStringLiteral("1"));
    edit.setText(QStringLiteral("0250"));
    finishSpinText(&edit, 250);
    QCOMPARE(edit.text(), QStringLiteral("250"));
}

void TestEdits::maskReadsNumber_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("blank");
    QTest::addColumn<double>("number");
    QTest::newRow("Rg") << 2 << "0.50"
                        << "0.50" << false << 0.5;
    QTest::newRow("Gb") << 3 << "0.125"
                        << "0.125" << false << 0.125;
    QTest::newRow("gf") << 4 << "0.1500"
                        << "0.1500" << false << 0.15;
    QTest::newRow("empty") << 2 << ""
                           << " .  " << true << 0.0;
    QTest::newRow("half filled") << 2 << "1.5"
                                 << "1.5 " << true << 1.5;
    QTest::newRow("integer part only") << 3 << "2"
                                       << "2.   " << true << 2.0;
}

void TestEdits::maskReadsNumber()
{
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(bool, blank);
    QFETCH(double, number);
    MaskEdit edit(QStringLiteral("MaskEdit1"), decimals, text);
    QCOMPARE(edit.maskText(), shown);
    QCOMPARE(edit.hasBlank(), blank);
    QCOMPARE(edit.number(), number);
}

void TestEdits::maskTypingFillsPositions()
{
    MaskEdit edit(QStringLiteral("MaskEdit1"), 2, QStringLiteral("0.50"));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QSignalSpy spy(&edit, &MaskEdit::changed);
    edit.setFocus();
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Delete);
    QVERIFY(edit.hasBlank());
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, QStringLiteral("075"));
    QCOMPARE(edit.maskText(), QStringLiteral("0.75"));
    QVERIFY(!edit.hasBlank());
    QCOMPARE(edit.number(), 0.75);
    QVERIFY(spy.count() >= 2);
    // Letters do not enter a digit position.
    edit.setCursorPosition(0);
    QTest::keyClicks(&edit, QStringLiteral("a"));
    QCOMPARE(edit.maskText(), QStringLiteral("0.75"));
}

void TestEdits::maskSetNumberWritesDecimals_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("x");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two") << 2 << 1.0 << "1.00";
    QTest::newRow("three") << 3 << 0.5 << "0.500";
    QTest::newRow("four") << 4 << 0.0001 << "0.0001";
    QTest::newRow("rounded") << 2 << 2.499999 << "2.50";
}

void TestEdits::maskSetNumberWritesDecimals()
{
    QFETCH(int, decimals);
    QFETCH(double, x);
    QFETCH(QString, shown);
    MaskEdit edit(QStringLiteral("MaskEdit2"), decimals, QString());
    QSignalSpy spy(&edit, &MaskEdit::changed);
    edit.setNumber(x);
    QCOMPARE(edit.maskText(), shown);
    QCOMPARE(spy.count(), 1);
    edit.setNumber(x); // the same text again: no change
    QCOMPARE(spy.count(), 1);
}

void TestEdits::maskIgnoresCommaLocale()
{
    const QLocale old;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    MaskEdit edit(QStringLiteral("MaskEdit1"), 2, QStringLiteral("0.50"));
    QCOMPARE(edit.maskText(), QStringLiteral("0.50"));
    QCOMPARE(edit.number(), 0.5);
    edit.setNumber(2.25);
    QCOMPARE(edit.maskText(), QStringLiteral("2.25"));
    QLocale::setDefault(old);
}

QTEST_MAIN(TestEdits)
#include "tst_edits.moc"
