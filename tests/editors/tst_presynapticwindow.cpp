#include "app/mainwindow.h"
#include "app/startup.h"
#include "editors/presynapticwindow.h"
#include "model/parameterset.h"
#include "restoreeditors.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"
#include "windowspy.h"

#include <QLabel>
#include <QtTest>

#include <memory>

using namespace cleftsim;
using namespace cleftsim::test;

class TestPresynapticWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsFromTheModel();
    void entriesAreClampedAndWrittenBack_data();
    void entriesAreClampedAndWrittenBack();
    void acceptedEditClearsTheFigures_data();
    void acceptedEditClearsTheFigures();
    void blankMaskPositionIsPutBack();
    void halfTypedSpinEntryWaitsForTheUser();
    void pastedLettersArePutBack();
    void writingTheSameValuesRunsNothing();
    void restoreFromRunsTheHandlers();
    void releaseCurveDefaults();
    void releaseCurveStopsBeforeCertainRelease();
    void spikeWidthFollowsDuration_data();
    void spikeWidthFollowsDuration();
    void pictures_data();
    void pictures();

private:
    PresynapticWindow *form() const { return static_cast<PresynapticWindow *>(windows().forms[2]); }
    std::unique_ptr<MainWindow> m_main;
};

void TestPresynapticWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestPresynapticWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestPresynapticWindow::startsFromTheModel()
{
    QCOMPARE(model().SpikeSteps, 20);
    QCOMPARE(form()->spinEditEmax()->text(), QStringLiteral("20"));
    QCOMPARE(form()->spinEditV1r()->text(), QStringLiteral("-70"));
    QCOMPARE(form()->maskEdit1()->text(), QStringLiteral("1.00"));
    QCOMPARE(form()->maskEdit2()->text(), QStringLiteral("5.00"));
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.1500"));
    QCOMPARE(form()->spinEditEmax()->maxLength(), 3);
    QCOMPARE(form()->spinEditEmax()->minValue(), -40);
    QCOMPARE(form()->spinEditEmax()->maxValue(), 40);
    QCOMPARE(form()->spinEditV1r()->minValue(), -100);
    QCOMPARE(form()->spinEditV1r()->maxValue(), 40);
    QCOMPARE(form()->findChild<QLabel *>(QStringLiteral("Label20"))->text(), QStringLiteral("2"));
    QVERIFY(form()->spinEditV1r()->toolTip().contains(QStringLiteral("in the presynaptic neuron")));
}

// The text an edit is given, the text it shows afterwards, and the model's value.
void TestPresynapticWindow::entriesAreClampedAndWrittenBack_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("spikeSteps");

    const int Emax = int(Param::Emax), V1r = int(Param::V1r), du = int(Param::du), ex = int(Param::ex),
              gf = int(Param::gf);
    QTest::newRow("du below range") << "MaskEdit1"
                                    << "0.05"
                                    << "0.10" << du << 0.10 << 2;
    QTest::newRow("du above range") << "MaskEdit1"
                                    << "3.00"
                                    << "2.00" << du << 2.00 << 40;
    QTest::newRow("du zero") << "MaskEdit1"
                             << "0.00"
                             << "0.10" << du << 0.10 << 2;
    QTest::newRow("du odd steps") << "MaskEdit1"
                                  << "0.12"
                                  << "0.12" << du << 0.12 << 2;
    QTest::newRow("du extra digit cut off") << "MaskEdit1"
                                            << "0.125"
                                            << "0.12" << du << 0.12 << 2;
    QTest::newRow("du 1.55") << "MaskEdit1"
                             << "1.55"
                             << "1.55" << du << 1.55 << 31;
    QTest::newRow("ex below range") << "MaskEdit2"
                                    << "0.50"
                                    << "1.00" << ex << 1.00 << 20;
    QTest::newRow("ex top") << "MaskEdit2"
                            << "9.99"
                            << "9.99" << ex << 9.99 << 20;
    QTest::newRow("gf one") << "MaskEdit3"
                            << "1.0000"
                            << "0.9999" << gf << 0.9999 << 20;
    QTest::newRow("gf above one") << "MaskEdit3"
                                  << "7.2500"
                                  << "0.9999" << gf << 0.9999 << 20;
    QTest::newRow("gf zero") << "MaskEdit3"
                             << "0.0000"
                             << "0.0000" << gf << 0.0 << 20;
    QTest::newRow("Emax above range") << "SpinEditEmax"
                                      << "55"
                                      << "40" << Emax << 40.0 << 20;
    QTest::newRow("Emax below range") << "SpinEditEmax"
                                      << "-41"
                                      << "-40" << Emax << -40.0 << 20;
    QTest::newRow("Emax in range") << "SpinEditEmax"
                                   << "-7"
                                   << "-7" << Emax << -7.0 << 20;
    QTest::newRow("V1r below range") << "SpinEditV1r"
                                     << "-999"
                                     << "-100" << V1r << -100.0 << 20;
    QTest::newRow("V1r above range") << "SpinEditV1r"
                                     << "41"
                                     << "40" << V1r << 40.0 << 20;
    QTest::newRow("V1r in range") << "SpinEditV1r"
                                  << "-55"
                                  << "-55" << V1r << -55.0 << 20;
}

void TestPresynapticWindow::entriesAreClampedAndWrittenBack()
{
    QFETCH(QString, edit);
    QFETCH(QString, entry);
    QFETCH(QString, shown);
    QFETCH(int, field);
    QFETCH(double, value);
    QFETCH(int, spikeSteps);

    auto *e = form()->findChild<QLineEdit *>(edit);
    QVERIFY(e);
    pasteText(e, entry);
    QCOMPARE(e->text(), shown);
    QCOMPARE(fieldValue(model().LPC, Param(field)), value);
    QCOMPARE(model().SpikeSteps, spikeSteps);
}

// Which figures an accepted edit clears and whether the failure rate follows.
void TestPresynapticWindow::acceptedEditClearsTheFigures_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("failureRate");

    QTest::newRow("Emax") << "SpinEditEmax"
                          << "10" << int(Param::Emax) << true;
    QTest::newRow("V1r") << "SpinEditV1r"
                         << "-60" << int(Param::V1r) << false;
    QTest::newRow("du") << "MaskEdit1"
                        << "1.50" << int(Param::du) << false;
    QTest::newRow("ex") << "MaskEdit2"
                        << "4.00" << int(Param::ex) << true;
    QTest::newRow("gf") << "MaskEdit3"
                        << "0.2500" << int(Param::gf) << true;
}

void TestPresynapticWindow::acceptedEditClearsTheFigures()
{
    QFETCH(QString, edit);
    QFETCH(QString, entry);
    QFETCH(int, field);
    QFETCH(bool, failureRate);

    ChangeSpy spy;
    pasteText(form()->findChild<QLineEdit *>(edit), entry);
    QCOMPARE(spy.records, 1);
    QCOMPARE(spy.isv, 1);
    QCOMPARE(spy.histograms, 1);
    QCOMPARE(spy.failureLabel, failureRate ? 1 : 0);
    QCOMPARE(spy.failureChart, failureRate ? 1 : 0);
    QCOMPARE(spy.conductanceLabels, 0);
    QCOMPARE(spy.rows.size(), size_t(1));
    QCOMPARE(spy.rows[Param(field)], 1);
}

void TestPresynapticWindow::blankMaskPositionIsPutBack()
{
    ChangeSpy spy;
    MaskEdit *e = form()->maskEdit1();
    pasteText(e, QStringLiteral("1.50"));
    spy.records = 0;
    e->setCursorPosition(4);
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(e->text(), QStringLiteral("1.50"));
    QCOMPARE(e->cursorPosition(), 3);
    QTest::keyClick(e, Qt::Key_Delete);
    QCOMPARE(e->text(), QStringLiteral("1.50"));
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QCOMPARE(e->text(), QStringLiteral("1.50"));
    QCOMPARE(model().LPC.du, 1.50);
    QCOMPARE(spy.records, 0);

    // Typing over a digit takes the new number at once.
    e->setCursorPosition(0);
    QTest::keyClick(e, Qt::Key_0);
    QCOMPARE(e->text(), QStringLiteral("0.50"));
    QCOMPARE(model().LPC.du, 0.50);
    QCOMPARE(model().SpikeSteps, 10);
    QCOMPARE(spy.records, 1);
}

void TestPresynapticWindow::halfTypedSpinEntryWaitsForTheUser()
{
    ChangeSpy spy;
    SpinEdit *e = form()->spinEditV1r();
    e->setFocus();
    e->selectAll();
    // An emptied box reads as the lower bound, as every spin edit does, but
    // keeps its text so that the user can type on.
    QTest::keyClick(e, Qt::Key_Delete);
    QCOMPARE(e->text(), QString());
    QCOMPARE(model().LPC.V1r, -100.0);
    QTest::keyClick(e, '-');
    QCOMPARE(e->text(), QStringLiteral("-"));
    QCOMPARE(model().LPC.V1r, -100.0);
    QTest::keyClicks(e, QStringLiteral("65"));
    QCOMPARE(model().LPC.V1r, -65.0); // -6, then -65
    QCOMPARE(e->text(), QStringLiteral("-65"));

    // Leaving a half-typed entry shows the value the model holds.
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QCOMPARE(model().LPC.V1r, -100.0);
    QTest::keyClick(e, Qt::Key_Return);
    QCOMPARE(e->text(), QStringLiteral("-100"));
    QCOMPARE(model().LPC.V1r, -100.0);
}

void TestPresynapticWindow::pastedLettersArePutBack()
{
    ChangeSpy spy;
    // A text that is no number reads as the lower bound and is replaced by it.
    pasteText(form()->spinEditEmax(), QStringLiteral("1x"));
    QCOMPARE(form()->spinEditEmax()->text(), QStringLiteral("-40"));
    QCOMPARE(model().LPC.Emax, -40.0);
    pasteText(form()->maskEdit2(), QStringLiteral("abcd"));
    QCOMPARE(form()->maskEdit2()->text(), QStringLiteral("5.00"));
    QCOMPARE(model().LPC.ex, 5.0);
}

void TestPresynapticWindow::writingTheSameValuesRunsNothing()
{
    ChangeSpy spy;
    form()->restoreFrom(ParameterSet(model().LPC));
    QCOMPARE(spy.calls(), 0);
}

void TestPresynapticWindow::restoreFromRunsTheHandlers()
{
    ChangeSpy spy;
    restorePresynaptic(-12, -80, 0.35, 2.5, 0.05);
    const ParameterSet &p = model().LPC;
    QCOMPARE(p.Emax, -12.0);
    QCOMPARE(p.V1r, -80.0);
    QCOMPARE(p.du, 0.35);
    QCOMPARE(p.ex, 2.5);
    QCOMPARE(p.gf, 0.05);
    QCOMPARE(model().SpikeSteps, 7);
    QCOMPARE(spy.records, 5);
    QCOMPARE(spy.failureChart, 3); // Emax, ex, gf
    QCOMPARE(form()->maskEdit3()->text(), QStringLiteral("0.0500"));

    // A restore puts the set into the model before the editors: the handlers
    // still take the values (derived SpikeSteps, previews, figures).
    model().LPC.du = 1.00;
    restorePresynaptic(-12, -80, 1.00, 2.5, 0.05);
    QCOMPARE(model().SpikeSteps, 20);
    QCOMPARE(spy.records, 6);
}

void TestPresynapticWindow::releaseCurveDefaults()
{
    const Canvas &c = form()->paintBox2()->canvas();
    QVERIFY(isNavy(c, 120, 86)); // P = gf = 0.15 at Emax = 20 mV
    QVERIFY(isNavy(c, 139, 1)); // runs to +40 mV, where P is 1
    QVERIFY(isNavy(c, 50, 101) || isNavy(c, 50, 100)); // flat on the axis at -50 mV
    QVERIFY(navyRow(c, 20, 101)); // and on it at -80 mV
    QVERIFY(isGrey(c, 100, 60)); // probability axis
    QVERIFY(isGrey(c, 95, 51)); // long tick at 0.5
    QVERIFY(isGrey(c, 30, 86)); // guide up from V1r to the level gf
    QVERIFY(isGrey(c, 97, 86)); // guide across to the axis
}

void TestPresynapticWindow::releaseCurveStopsBeforeCertainRelease()
{
    pasteText(form()->spinEditEmax(), QStringLiteral("-40"));
    pasteText(form()->maskEdit2(), QStringLiteral("1.00"));
    const Canvas &c = form()->paintBox2()->canvas();
    // The last point drawn is -36 mV (x = 64); at -35 mV the per-step
    // probability exceeds 1.
    QVERIFY(navyInColumn(c, 62));
    for (int x = 66; x < c.width(); ++x)
        QVERIFY2(!navyInColumn(c, x), qPrintable(QString::number(x)));
}

void TestPresynapticWindow::spikeWidthFollowsDuration_data()
{
    QTest::addColumn<QString>("du");
    QTest::addColumn<int>("end");
    QTest::newRow("1.00") << "1.00" << 50;
    QTest::newRow("2.00") << "2.00" << 70;
    QTest::newRow("0.10") << "0.10" << 32;
}

void TestPresynapticWindow::spikeWidthFollowsDuration()
{
    QFETCH(QString, du);
    QFETCH(int, end);
    pasteText(form()->maskEdit1(), du);
    const Canvas &c = form()->paintBox1()->canvas();
    // Rest at y = 110 (-70 mV), the plateau at y = 20 (20 mV) from x = 30 to the end.
    QVERIFY(navyRow(c, 25, 110));
    QVERIFY(isNavy(c, 30, 60) && !isNavy(c, 28, 60)); // the rise
    QVERIFY(isNavy(c, (30 + end) / 2, 20) && !isNavy(c, (30 + end) / 2, 18)); // the plateau
    QVERIFY(isNavy(c, end, 60) && !isNavy(c, end + 2, 60)); // the fall
    QVERIFY(!isNavy(c, end + 3, 60));
    QVERIFY(!isNavy(c, end + 3, 20));
    QVERIFY(navyRow(c, 85, 110));
    QVERIFY(isGrey(c, 10, 100)); // potential axis
    QVERIFY(isGrey(c, 90, 45)); // 4 msec tick
}

void TestPresynapticWindow::pictures_data()
{
    // The axis titles of both editors, drawn in grey straight on the silver face.
    QTest::addColumn<int>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("membrane potential") << 2 << "Image1" << QSize(13, 148);
    QTest::newRow("probability") << 2 << "Image2" << QSize(26, 110);
    QTest::newRow("site conductance") << 3 << "Image1" << QSize(13, 126);
    QTest::newRow("relative amplitude") << 3 << "Image5" << QSize(14, 104);
    QTest::newRow("spine conductance") << 3 << "Image2" << QSize(14, 152);
}

void TestPresynapticWindow::pictures()
{
    QFETCH(int, window);
    QFETCH(QString, name);
    QFETCH(QSize, size);
    auto *image = windows().forms[window]->findChild<QLabel *>(name);
    QVERIFY(image);
    QCOMPARE(image->size(), size);
    const QImage picture = image->pixmap().toImage();
    int grey = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb rgb = picture.pixel(x, y) & 0xffffff;
            grey += rgb == (colors::Grey.rgb() & 0xffffff);
            if (rgb != (colors::Grey.rgb() & 0xffffff) && rgb != (colors::Silver.rgb() & 0xffffff))
                QFAIL(
                    qPrintable(QStringLiteral("pixel (%1, %2) is %3").arg(x).arg(y).arg(QColor(rgb).name())));
        }
    QVERIFY(grey > 50);
}

QTEST_MAIN(TestPresynapticWindow)
#include "tst_presynapticwindow.moc"
