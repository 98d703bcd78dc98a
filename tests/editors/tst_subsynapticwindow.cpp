#include "app/mainwindow.h"
#include "app/startup.h"
#include "editors/presynapticwindow.h"
#include "editors/subsynapticwindow.h"
#include "model/parameterset.h"
#include "model/rounding.h"
#include "restoreeditors.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "windowspy.h"

#include <QLabel>
#include <QMdiSubWindow>
#include <QtTest>

#include <memory>

using namespace cleftsim;
using namespace cleftsim::test;

class TestSubsynapticWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsFromTheModel();
    void standsBesidePresynapticSettings();
    void entriesAreClampedAndWrittenBack_data();
    void entriesAreClampedAndWrittenBack();
    void gmaxRaisedToATwoDecimalValueAboveGb();
    void acceptedEditClearsTheFigures_data();
    void acceptedEditClearsTheFigures();
    void switchShowsTheBackgroundEditor();
    void gbRefusedWhileSwitchedOff();
    void restoreFromArrivesUnchanged();
    void blankPositionIsPutBack();
    void conductanceDefaults();
    void conductanceTicks_data();
    void conductanceTicks();
    void conductanceWithBackground();
    void quantaDefaults();
    void quantaSingleSite();
    void quantaTwentySites();
    void quantaMinorTicks();

private:
    SubsynapticWindow *form() const { return static_cast<SubsynapticWindow *>(windows().forms[3]); }
    QWidget *child(const char *name) const { return form()->findChild<QWidget *>(QString::fromLatin1(name)); }
    // Switches the background conductance by Model Configuration's box.
    void switchBackground(bool on);
    std::unique_ptr<MainWindow> m_main;
};

void TestSubsynapticWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestSubsynapticWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestSubsynapticWindow::switchBackground(bool on)
{
    ConfigLink *config = windows().csForm0;
    QVERIFY(config);
    config->setBackgroundChecked(on);
    QCOMPARE(int(model().LPC.BackgroundOn), on ? 1 : 0);
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(form()->maskEdit3()->isVisibleTo(form()), on);
}

void TestSubsynapticWindow::startsFromTheModel()
{
    QCOMPARE(form()->maskEdit1()->text(), QStringLiteral("2.50"));
    QCOMPARE(form()->maskEdit2()->text(), QStringLiteral("0.20"));
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.000"));
    QVERIFY(!form()->maskEdit3()->isVisibleTo(form()));
    QCOMPARE(form()->findChild<QLabel *>(QStringLiteral("Label20"))->text(), QStringLiteral("3"));
    QCOMPARE(form()->paintBox1()->size(), QSize(121, 90));
    QCOMPARE(form()->paintBox2()->size(), QSize(244, 164));
}

void TestSubsynapticWindow::standsBesidePresynapticSettings()
{
    ChildWindow *presyn = windows().forms[2];
    QCOMPARE(form()->outerPos(), presyn->outerPos() + QPoint(presyn->outerWidth(), 0));
    QCOMPARE(presyn->outerWidth(), 276 + ChildWindow::FrameWidth);

    // Each time it is shown again it follows Presynaptic Settings.
    presyn->moveOuter(QPoint(40, 30));
    form()->showMinimizedInFrame();
    form()->showAndRaise();
    QCOMPARE(form()->outerPos(), QPoint(40 + presyn->outerWidth(), 30));
}

void TestSubsynapticWindow::entriesAreClampedAndWrittenBack_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<QString>("Gb");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("field");
    QTest::addColumn<double>("value");

    const int tc = int(Param::tc), Gmax = int(Param::Gmax), Gb = int(Param::Gb);
    QTest::newRow("tc below range") << false << ""
                                    << "MaskEdit1"
                                    << "0.30"
                                    << "0.50" << tc << 0.50;
    QTest::newRow("tc zero") << false << ""
                             << "MaskEdit1"
                             << "0.00"
                             << "0.50" << tc << 0.50;
    QTest::newRow("tc top") << false << ""
                            << "MaskEdit1"
                            << "9.99"
                            << "9.99" << tc << 9.99;
    QTest::newRow("Gmax zero") << false << ""
                               << "MaskEdit2"
                               << "0.00"
                               << "0.01" << Gmax << 0.01;
    QTest::newRow("Gmax top") << false << ""
                              << "MaskEdit2"
                              << "9.99"
                              << "9.99" << Gmax << 9.99;
    QTest::newRow("Gmax below Gb") << true << "0.150"
                                   << "MaskEdit2"
                                   << "0.10"
                                   << "0.15" << Gmax << 0.15;
    QTest::newRow("Gmax zero with Gb") << true << "0.150"
                                       << "MaskEdit2"
                                       << "0.00"
                                       << "0.15" << Gmax << 0.15;
    QTest::newRow("Gmax equal to Gb") << true << "0.150"
                                      << "MaskEdit2"
                                      << "0.15"
                                      << "0.15" << Gmax << 0.15;
    QTest::newRow("Gb above Gmax") << true << ""
                                   << "MaskEdit3"
                                   << "0.900"
                                   << "0.200" << Gb << 0.20;
    QTest::newRow("Gb equal to Gmax") << true << ""
                                      << "MaskEdit3"
                                      << "0.200"
                                      << "0.200" << Gb << 0.20;
    QTest::newRow("Gb in range") << true << ""
                                 << "MaskEdit3"
                                 << "0.055"
                                 << "0.055" << Gb << 0.055;
}

void TestSubsynapticWindow::entriesAreClampedAndWrittenBack()
{
    QFETCH(bool, background);
    QFETCH(QString, Gb);
    QFETCH(QString, edit);
    QFETCH(QString, entry);
    QFETCH(QString, shown);
    QFETCH(int, field);
    QFETCH(double, value);

    if (background)
        switchBackground(true);
    if (!Gb.isEmpty())
        pasteText(form()->maskEdit3(), Gb);
    auto *e = form()->findChild<MaskEdit *>(edit);
    pasteText(e, entry);
    QCOMPARE(e->text(), shown);
    QCOMPARE(fieldValue(model().LPC, Param(field)), value);
    QVERIFY(model().LPC.Gb <= model().LPC.Gmax);
}

void TestSubsynapticWindow::gmaxRaisedToATwoDecimalValueAboveGb()
{
    switchBackground(true);
    pasteText(form()->maskEdit2(), QStringLiteral("1.00"));
    pasteText(form()->maskEdit3(), QStringLiteral("0.125"));
    QCOMPARE(model().LPC.Gb, 0.125);
    pasteText(form()->maskEdit2(), QStringLiteral("0.10"));
    QCOMPARE(form()->maskEdit2()->text(), QStringLiteral("0.13"));
    QCOMPARE(model().LPC.Gmax, 0.13);
    pasteText(form()->maskEdit3(), QStringLiteral("0.999"));
    QCOMPARE(model().LPC.Gb, 0.13);
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.130"));
}

void TestSubsynapticWindow::acceptedEditClearsTheFigures_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("failureRate");
    QTest::addColumn<bool>("conductanceLabels");

    QTest::newRow("tc") << "MaskEdit1"
                        << "3.00" << int(Param::tc) << false << false;
    QTest::newRow("Gmax") << "MaskEdit2"
                          << "0.40" << int(Param::Gmax) << false << true;
    QTest::newRow("Gb") << "MaskEdit3"
                        << "0.010" << int(Param::Gb) << true << false;
}

void TestSubsynapticWindow::acceptedEditClearsTheFigures()
{
    QFETCH(QString, edit);
    QFETCH(QString, entry);
    QFETCH(int, field);
    QFETCH(bool, failureRate);
    QFETCH(bool, conductanceLabels);

    switchBackground(true);
    ChangeSpy spy;
    pasteText(form()->findChild<MaskEdit *>(edit), entry);
    QCOMPARE(spy.records, 1);
    QCOMPARE(spy.isv, 1);
    QCOMPARE(spy.histograms, 1);
    QCOMPARE(spy.failureLabel, failureRate ? 1 : 0);
    QCOMPARE(spy.failureChart, failureRate ? 1 : 0);
    QCOMPARE(spy.conductanceLabels, conductanceLabels ? 1 : 0);
    QCOMPARE(spy.rows.size(), size_t(1));
    QCOMPARE(spy.rows[Param(field)], 1);
}

void TestSubsynapticWindow::switchShowsTheBackgroundEditor()
{
    const char *gbControls[] = {"MaskEdit3", "Label14", "Label15", "Label16", "Label18", "Label21"};
    for (const char *name : gbControls)
        QVERIFY2(!child(name)->isVisible(), name);
    QVERIFY(child("Image3")->isVisible());
    QVERIFY(!child("Image4")->isVisible());

    switchBackground(true);
    for (const char *name : gbControls)
        QVERIFY2(child(name)->isVisible(), name);
    QVERIFY(!child("Image3")->isVisible());
    QVERIFY(child("Image4")->isVisible());

    pasteText(form()->maskEdit3(), QStringLiteral("0.050"));
    QCOMPARE(model().LPC.Gb, 0.05);
    ChangeSpy spy;
    switchBackground(false);
    for (const char *name : gbControls)
        QVERIFY2(!child(name)->isVisible(), name);
    QVERIFY(child("Image3")->isVisible());
    QVERIFY(!child("Image4")->isVisible());
    // The editor and the main window show the Gb the switch set; the switch
    // leaves the Records and Histograms figures.
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.000"));
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(spy.records, 0);
    QCOMPARE(spy.histograms, 0);
    QVERIFY(spy.rows[Param::Gb] >= 1);
}

void TestSubsynapticWindow::gbRefusedWhileSwitchedOff()
{
    ChangeSpy spy;
    pasteText(form()->maskEdit3(), QStringLiteral("0.100"));
    QCOMPARE(model().LPC.Gb, 0.0);
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.000"));
    QCOMPARE(spy.calls(), 0);
}

void TestSubsynapticWindow::restoreFromArrivesUnchanged()
{
    switchBackground(true);
    restoreSubsynaptic(1.00, 2.50, 0.500);
    QCOMPARE(model().LPC.Gb, 0.5);
    // A Gmax below the Gb in force, and a Gb above the Gmax in force.
    restoreSubsynaptic(0.20, 3.00, 0.100);
    QCOMPARE(model().LPC.Gmax, 0.20);
    QCOMPARE(model().LPC.Gb, 0.10);
    QCOMPARE(model().LPC.tc, 3.00);
    restoreSubsynaptic(2.00, 3.00, 1.500);
    QCOMPARE(model().LPC.Gmax, 2.00);
    QCOMPARE(model().LPC.Gb, 1.50);

    ChangeSpy spy;
    restoreSubsynaptic(2.00, 3.00, 1.500);
    QCOMPARE(spy.calls(), 0);
}

void TestSubsynapticWindow::blankPositionIsPutBack()
{
    ChangeSpy spy;
    MaskEdit *e = form()->maskEdit1();
    e->setFocus();
    e->setCursorPosition(2);
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), QStringLiteral("2.50"));
    e->selectAll();
    QTest::keyClick(e, Qt::Key_7); // replaces the selection: the rest is blank
    QCOMPARE(e->text(), QStringLiteral("2.50"));
    QCOMPARE(model().LPC.tc, 2.5);
    QCOMPARE(spy.calls(), 0);
}

void TestSubsynapticWindow::conductanceDefaults()
{
    const Canvas &c = form()->paintBox1()->canvas();
    QVERIFY(isNavy(c, 70, 4)); // peak at tc = 2.5 msec
    QVERIFY(navyRow(c, 15, 84)); // no background before the release
    QVERIFY(isGrey(c, 90, 4)); // peak guide
    QVERIFY(isGrey(c, 120, 4));
    QVERIFY(isGrey(c, 17, 44)); // tick 0.1 nS
    QVERIFY(isGrey(c, 17, 4)); // tick 0.2 nS
    QVERIFY(!isGrey(c, 17, 24)); // nothing between
    QVERIFY(!isGrey(c, 17, 64));
    QVERIFY(inkIn(c, 0, 37, 15, 47)); // label 0.1
    QVERIFY(inkIn(c, 0, 0, 15, 7)); // label 0.2, its top cut off
    QVERIFY(!inkIn(c, 0, 12, 15, 34)); // no other label
    QVERIFY(isGrey(c, 60, 87)); // 2 msec tick
    QVERIFY(!isGrey(c, 121 - 1, 66)); // no Gb leader while switched off
}

void TestSubsynapticWindow::conductanceTicks_data()
{
    QTest::addColumn<QString>("Gmax");
    QTest::addColumn<QList<int>>("ticks");
    QTest::addColumn<bool>("onlyFive");
    QTest::newRow("0.20") << "0.20" << QList<int> {44, 4} << false;
    QTest::newRow("0.45") << "0.45" << QList<int> {66, 48, 31, 13} << false;
    QTest::newRow("0.60") << "0.60" << QList<int> {71, 57, 44, 31, 17, 4} << true;
    QTest::newRow("1.00") << "1.00" << QList<int> {4} << false;
    QTest::newRow("2.50") << "2.50" << QList<int> {52, 20} << false;
    QTest::newRow("5.00") << "5.00" << QList<int> {68, 52, 36, 20, 4} << true;
    QTest::newRow("0.05") << "0.05" << QList<int> {} << false;
}

void TestSubsynapticWindow::conductanceTicks()
{
    QFETCH(QString, Gmax);
    QFETCH(QList<int>, ticks);
    QFETCH(bool, onlyFive);
    pasteText(form()->maskEdit2(), Gmax);
    const Canvas &c = form()->paintBox1()->canvas();
    int found = 0;
    for (int y = 0; y < 84; ++y) {
        if (isGrey(c, 17, y)) {
            QVERIFY2(ticks.contains(y), qPrintable(QString::number(y)));
            ++found;
        }
    }
    QCOMPARE(found, int(ticks.size()));
    for (int i = 0; i < ticks.size(); ++i) {
        const bool labelled = !onlyFive || i == 4;
        QCOMPARE(inkIn(c, -1, ticks[i] - 7 + 2, 15, ticks[i] - 7 + 8), labelled);
    }
}

void TestSubsynapticWindow::conductanceWithBackground()
{
    switchBackground(true);
    pasteText(form()->maskEdit2(), QStringLiteral("0.40"));
    pasteText(form()->maskEdit3(), QStringLiteral("0.100"));
    const Canvas &c = form()->paintBox1()->canvas();
    // Background at a quarter of Gmax: y = 84 - 20 = 64, before and long after the release.
    QVERIFY(navyRow(c, 15, 64));
    QVERIFY(isNavy(c, 70, 4));
    // Leader from the background level towards the Gb caption.
    QVERIFY(isGrey(c, 100, 65) || isGrey(c, 100, 66));
}

void TestSubsynapticWindow::quantaDefaults()
{
    const Canvas &c = form()->paintBox2()->canvas();
    const int XR = 132;
    QVERIFY(isGrey(c, XR, 120)); // right axis
    QVERIFY(isGrey(c, XR + 2, 80));
    QVERIFY(isGrey(c, XR + 2, 10));
    for (int y = 11; y < 150; ++y)
        if (y != 80)
            QVERIFY2(!isGrey(c, XR + 2, y), qPrintable(QString::number(y))); // no minor ticks
    QVERIFY(!isGrey(c, 60, 10)); // no limit line: Rg is not above 1/(Gmax N)
    QVERIFY(navyRow(c, 27, 150)); // m = 0: nothing
    QVERIFY(navyRow(c, 127, 80)); // m = 10: 1.0 nS
    QVERIFY(navyRow(c, 37, 30)); // first quantum: relative amplitude 1
    QVERIFY(navyRow(c, 127, 115)); // tenth: 0.2895
    QVERIFY(isGrey(c, 42, 148)); // column ticks
    QVERIFY(inkIn(c, XR + 6, 73, XR + 14, 83)); // label 1
    QVERIFY(inkIn(c, XR + 6, 3, XR + 14, 13)); // label 2
    QCOMPARE(child("Image2")->x(), 165);
    QLabel *caption = form()->findChild<QLabel *>(QStringLiteral("Label13"));
    QCOMPARE(caption->x(), 5 * 10 + 53 - Round(caption->width() / 2.0));
}

void TestSubsynapticWindow::quantaSingleSite()
{
    model().LPC.N = 1;
    form()->repaintQuantaPreview();
    const Canvas &c = form()->paintBox2()->canvas();
    const int XR = 42;
    QVERIFY(isGrey(c, XR, 120));
    QVERIFY(navyRow(c, 37, 80)); // one quantum: half the full scale
    QVERIFY(navyRow(c, 37, 30)); // its relative amplitude
    for (int x = XR + 2; x < c.width(); ++x)
        QVERIFY2(!navyInColumn(c, x), qPrintable(QString::number(x)));
    // Full scale 0.36 nS: ticks every 0.1 nS.
    QVERIFY(isGrey(c, XR + 2, 112));
    QVERIFY(isGrey(c, XR + 2, 73));
    QVERIFY(isGrey(c, XR + 2, 34));
    QCOMPARE(child("Image2")->x(), XR + 41);
    QLabel *caption = form()->findChild<QLabel *>(QStringLiteral("Label13"));
    QCOMPARE(caption->x(), 98 - Round(caption->width() / 2.0));
}

void TestSubsynapticWindow::quantaTwentySites()
{
    model().LPC.N = 20;
    form()->repaintQuantaPreview();
    const Canvas &c = form()->paintBox2()->canvas();
    const int XR = 232;
    QVERIFY(isGrey(c, XR, 120));
    // Rg = 0.5 lies above 1/(Gmax N) = 0.25: the scale ends at 1/Rg with a limit line.
    QVERIFY(isGrey(c, 100, 10));
    QVERIFY(isGrey(c, XR + 5, 10));
    QVERIFY(navyRow(c, 227, 57)); // 20 quanta: 1.333 nS of 2
    // Column labels 10 to 20 as two digits each, within their columns.
    QVERIFY(inkIn(c, 221, 152, 223, 162));
    QVERIFY(inkIn(c, 225, 152, 231, 162));
    QLabel *caption = form()->findChild<QLabel *>(QStringLiteral("Label13"));
    QCOMPARE(caption->x(), 5 * 20 + 53 - Round(caption->width() / 2.0));
}

void TestSubsynapticWindow::quantaMinorTicks()
{
    // Gmax 0.06 nS, N 1, Rg 0.5: full scale 0.1165 nS, 120 pixels per tick.
    model().LPC.N = 1;
    pasteText(form()->maskEdit2(), QStringLiteral("0.06"));
    const Canvas &c = form()->paintBox2()->canvas();
    const int XR = 42;
    QVERIFY(isGrey(c, XR + 3, 30)); // the one tick, 0.1 nS
    int minor = 0;
    for (int y = 0; y < 150; ++y)
        minor += isGrey(c, XR + 2, y) && !isGrey(c, XR + 3, y); // minor ticks are one pixel shorter
    QCOMPARE(minor, 10); // 11 of 0.01 nS, one under the tick of 0.1 nS
    QVERIFY(isGrey(c, XR + 2, 138));
    QVERIFY(isGrey(c, XR + 2, 126));
    QVERIFY(isGrey(c, XR + 2, 18));
}

QTEST_MAIN(TestSubsynapticWindow)
#include "tst_subsynapticwindow.moc"
