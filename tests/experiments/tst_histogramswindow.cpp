#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/copywindows.h"
#include "experiments/histogramswindow.h"
#include "model/parameterset.h"
#include "model/rounding.h"
#include "runners/histogramsrun.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <string>
#include <vector>

using namespace cleftsim;

namespace {

// Colours as Canvas::rgb reads them.
const QRgb White = 0xffffff;
const QRgb Black = 0x000000;
const QRgb Grey = 0x808080;
const QRgb Red = 0xff0000;
const QRgb Aqua = 0x00ffff;

// An empty figure with the window's label font, grey and on a clear brush,
// into which a test draws what it expects.
Canvas expected(const std::function<void(Canvas &)> &draw)
{
    Canvas c(250, 244);
    c.setFontHeight(13);
    c.setPenColor(colors::Grey);
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    draw(c);
    return c;
}

// The first pixel in which the region of the two figures differs, as text;
// empty when they agree.
QString differs(const Canvas &actual, const Canvas &wanted, const QRect &region)
{
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            if (actual.rgb(x, y) != wanted.rgb(x, y))
                return QStringLiteral("pixel (%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(actual.rgb(x, y), 6, 16, QLatin1Char('0'))
                    .arg(wanted.rgb(x, y), 6, 16, QLatin1Char('0'));
    return QString();
}

int countColour(const Canvas &c, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            n += c.rgb(x, y) == colour;
    return n;
}

} // namespace

class TestHistogramsWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startState();
    void countAxisFollowsTrialCount_data();
    void countAxisFollowsTrialCount();
    void trialCountIsClamped_data();
    void trialCountIsClamped();
    void mAxisLabelsAndTitle_data();
    void mAxisLabelsAndTitle();
    void latencyAxes_data();
    void latencyAxes();
    void currentAxis_data();
    void currentAxis();
    void runIsReproducibleWithItsSeed();
    void runDrawsHistograms();
    void barsAreClippedAndAllFailuresHaveNoMeanLatency();
    void positivePotentialPutsTrialsIntoBinZero();
    void failuresFallUnderTheBackgroundMarker();
    void zeroPotentialLeavesCurrentFigureBlank();
    void runShowsHourglassAndDrawsFigureByFigure();
    void layouts();
    void duplicate_data();
    void duplicate();
    void fullTableStopsTheCopy();
    void largeRun();

private:
    HistogramsWindow *form() const { return static_cast<HistogramsWindow *>(windows().forms[6]); }
    template <class T> T *child(const char *name) const
    {
        return form()->findChild<T *>(QLatin1String(name));
    }
    void setTrials(const QString &typed);
    void setParameters(const std::function<void(ParameterSet &)> &change);
    void run(std::uint32_t seed = 12345);

    std::unique_ptr<MainWindow> m_main;
};

void TestHistogramsWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
}

void TestHistogramsWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

void TestHistogramsWindow::setTrials(const QString &typed)
{
    SpinEdit *spin = child<SpinEdit>("SpinEdit1");
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, typed);
}

void TestHistogramsWindow::setParameters(const std::function<void(ParameterSet &)> &change)
{
    change(model().LPC);
    model().SpikeSteps = spikeStepsFor(model().LPC.du);
    form()->EmptyImages();
}

void TestHistogramsWindow::run(std::uint32_t seed)
{
    form()->setSeedSource([seed] { return seed; });
    QTest::mouseClick(child<QPushButton>("RunBtn"), Qt::LeftButton);
}

void TestHistogramsWindow::startState()
{
    QVERIFY(form());
    QVERIFY(qobject_cast<HistogramsWindow *>(windows().forms[6]));
    QCOMPARE(form()->objectName(), QStringLiteral("csForm6"));
    QVERIFY(form()->isMinimizedInFrame());
    QMdiSubWindow *sub = form()->subWindow();
    QVERIFY(sub);
    QCOMPARE(sub->windowTitle(), QStringLiteral("Histograms"));
    QVERIFY(!(sub->windowFlags() & Qt::WindowMaximizeButtonHint));
    form()->showAndRaise();
    QCOMPARE(form()->outerPos().y(), 393);
    QCOMPARE(form()->size(), QSize(508, 251));
    QCOMPARE(form()->palette().color(QPalette::Window), QColor(255, 255, 255));
    QCOMPARE(form()->trialCount(), 100);
    QCOMPARE(child<SpinEdit>("SpinEdit1")->text(), QStringLiteral("100"));
    QCOMPARE(child<SpinEdit>("SpinEdit1")->maxLength(), 5);
    QVERIFY(child<QCheckBox>("CheckBoxQuanta")->isChecked());
    QVERIFY(!child<QCheckBox>("CheckBoxLatency")->isChecked());
    QVERIFY(child<QPushButton>("RunBtn")->isEnabled());
    QVERIFY(!child<QToolButton>("DuplicateBtn")->isEnabled());
    QCOMPARE(child<QToolButton>("DuplicateBtn")->geometry(), QRect(480, 223, 26, 26));
    QCOMPARE(form()->numberLabel()->text(), QStringLiteral("6"));
    QCOMPARE(form()->numberLabel()->pos(), QPoint(0, 236));
    for (int i = 1; i <= 4; ++i) {
        QCOMPARE(form()->image(i)->canvas().font().pixelSize(), 13);
        QCOMPARE(form()->image(i)->proposedName(), QStringLiteral("0_default_histograms_Image%1.png").arg(i));
    }
    QVERIFY(form()->image(1)->isVisible());
    QVERIFY(!form()->image(3)->isVisible());
    // Enter anywhere in the window runs.
    form()->setSeedSource([] { return 1u; });
    QTest::keyClick(child<SpinEdit>("SpinEdit1"), Qt::Key_Return);
    QVERIFY(child<QToolButton>("DuplicateBtn")->isEnabled());
}

void TestHistogramsWindow::countAxisFollowsTrialCount_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("tickStep");
    QTest::addColumn<QList<int>>("ys");
    QList<int> ys19;
    for (int g = 1; g <= 9; ++g)
        ys19 << 210 - Round(400.0 / 19 * g);
    QTest::newRow("19") << "19" << 1 << ys19;
    QTest::newRow("20") << "20" << 10 << QList<int> {10};
    QTest::newRow("100") << "100" << 10 << QList<int> {170, 130, 90, 50, 10};
    QTest::newRow("10000") << "10000" << 1000 << QList<int> {170, 130, 90, 50, 10};
}

void TestHistogramsWindow::countAxisFollowsTrialCount()
{
    QFETCH(QString, typed);
    QFETCH(int, tickStep);
    QFETCH(QList<int>, ys);
    setTrials(QStringLiteral("7")); // something else first, so the count really changes
    setTrials(typed);
    QCOMPARE(form()->trialCount(), typed.toInt());
    QCOMPARE(TickStep(typed.toInt()), tickStep);
    const Canvas want = expected([&](Canvas &c) {
        for (int g = 1; g <= ys.size(); ++g) {
            const int y = ys[g - 1];
            c.moveTo(36, y);
            c.lineTo(32, y);
            const QString label = QString::number(g * tickStep);
            c.textOut(32 - c.textWidth(label), y - 7, label);
        }
    });
    // Image1, Image2 and Image4 carry the same count axis.
    for (int i : {1, 2, 4}) {
        const QString diff = differs(form()->image(i)->canvas(), want, QRect(0, 0, 37, 200));
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("Image%1 %2").arg(i).arg(diff)));
    }
}

void TestHistogramsWindow::trialCountIsClamped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("zero") << "0"
                          << "1";
    QTest::newRow("above") << "20000"
                           << "10000";
    QTest::newRow("negative") << "-5"
                              << "1";
    QTest::newRow("inside") << "250"
                            << "250";
}

void TestHistogramsWindow::trialCountIsClamped()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    setTrials(typed);
    QCOMPARE(child<SpinEdit>("SpinEdit1")->text(), shown);
    QCOMPARE(form()->trialCount(), shown.toInt());
}

void TestHistogramsWindow::mAxisLabelsAndTitle_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<int>("titleCentre");
    QTest::addColumn<QList<int>>("labels");
    // Numbers of two digits are one text from 2 pixels left of their bar;
    // where neighbours would run together (9 into 10, 11 into 10 and 12,
    // less than a space apart) the rounder is kept: multiples of 10, then
    // of 5, then even ones.
    QTest::newRow("9") << 9 << 108 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("10") << 10 << 108 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 10};
    QTest::newRow("12") << 12 << 108 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12};
    QTest::newRow("13") << 13 << 108 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12};
    QTest::newRow("20") << 20 << 143 << QList<int> {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 15, 18, 20};
}

void TestHistogramsWindow::mAxisLabelsAndTitle()
{
    QFETCH(int, N);
    QFETCH(int, titleCentre);
    QFETCH(QList<int>, labels);
    setParameters([N](ParameterSet &p) { p.N = N; });
    const Canvas want = expected([&](Canvas &c) {
        for (int m : labels)
            c.textOut(m < 10 ? 39 + 10 * m : 36 + 10 * m, 210, QString::number(m));
        const QString title = QStringLiteral("number of quanta released, m");
        c.textOut(titleCentre - Round(0.5 * c.textWidth(title)), 223, title);
    });
    // The quanta histogram and the joint figure share the m axis.
    for (int i : {1, 3}) {
        const QString diff = differs(form()->image(i)->canvas(), want, QRect(39, 210, 211, 34));
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("Image%1 %2").arg(i).arg(diff)));
    }
}

void TestHistogramsWindow::latencyAxes_data()
{
    QTest::addColumn<double>("du");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("titleX"); // horizontal title of Image4
    QTest::addColumn<int>("titleY"); // vertical title of Image3
    QTest::newRow("1.0") << 1.0 << QStringList {"0", "0.5", "1.0"} << 43 << 200;
    QTest::newRow("0.5") << 0.5 << QStringList {"0", "0.5"} << 28 << 215;
    QTest::newRow("0.3") << 0.3 << QStringList {"0"} << 28 << 215;
    QTest::newRow("2.0") << 2.0 << QStringList {"0", "0.5", "1.0", "1.5", "2.0"} << 93 << 150;
}

void TestHistogramsWindow::latencyAxes()
{
    QFETCH(double, du);
    QFETCH(QStringList, labels);
    QFETCH(int, titleX);
    QFETCH(int, titleY);
    setParameters([du](ParameterSet &p) { p.du = du; });
    const int minor = Round(0.5 * du / TimeStep);
    const Canvas want4 = expected([&](Canvas &c) {
        for (int j = 0; j <= minor; ++j) {
            c.moveTo(37 + 10 * j, 211);
            c.lineTo(37 + 10 * j, 214);
        }
        for (int j = 0; j < labels.size(); ++j) {
            c.moveTo(37 + 50 * j, 211);
            c.lineTo(37 + 50 * j, 216);
            c.textOut(j == 0 ? 36 : 31 + 50 * j, 215, labels[j]);
        }
        c.textOut(titleX, 227, QStringLiteral("latency (msec)"));
    });
    QString diff = differs(form()->image(4)->canvas(), want4, QRect(0, 211, 250, 33));
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("Image4 ") + diff));

    const Canvas want3 = expected([&](Canvas &c) {
        for (int j = 0; j <= minor; ++j) {
            c.moveTo(36, 210 - 10 * j);
            c.lineTo(33, 210 - 10 * j);
        }
        for (int j = 0; j < labels.size(); ++j) {
            c.moveTo(36, 210 - 50 * j);
            c.lineTo(31, 210 - 50 * j);
            if (j == 0)
                c.textOut(24, 200, labels[j]);
            else
                c.textOut(14, 200 - 50 * j, labels[j]);
        }
        DrawVerticalText(c, -2, titleY, QStringLiteral("latency (msec)"));
    });
    diff = differs(form()->image(3)->canvas(), want3, QRect(0, 0, 38, 223));
    QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("Image3 ") + diff));
}

void TestHistogramsWindow::currentAxis_data()
{
    QTest::addColumn<double>("V2");
    QTest::addColumn<int>("ticks"); // -1: no tick at all
    QTest::newRow("default -63") << -63.0 << 6;
    QTest::newRow("-30: labelled ticks") << -30.0 << 3;
    QTest::newRow("+5: one tick") << 5.0 << 0;
    QTest::newRow("+20: none") << 20.0 << -1;
}

void TestHistogramsWindow::currentAxis()
{
    QFETCH(double, V2);
    QFETCH(int, ticks);
    setParameters([V2](ParameterSet &p) { p.V2 = V2; });
    const ParameterSet &p = model().LPC;
    const double maxCurrent = MaxCurrent(p);
    // The last tick's index; below zero there is no tick at all.
    if (ticks < 0)
        QVERIFY(Trunc(-0.1 * maxCurrent) < 0);
    else
        QCOMPARE(Trunc(-0.1 * maxCurrent), ticks);
    const double w = -100.0 * p.N / maxCurrent;
    const Canvas want = expected([&](Canvas &c) {
        c.moveTo(38, 210);
        c.lineTo(38 + 10 * p.N, 210);
        for (int j = 0; j <= ticks; ++j) {
            c.moveTo(38 + Round(w * j), 210);
            c.lineTo(38 + Round(w * j), 214);
        }
        if (ticks > 4) {
            c.textOut(34, 214, QStringLiteral("0"));
            c.textOut(38 + Round(5 * w) - 7, 214, QStringLiteral("50"));
        } else {
            for (int j = 0; j <= ticks; ++j) {
                const QString label = QString::number(10 * j);
                c.textOut(38 + Round(w * j - 0.5 * c.textWidth(label)), 214, label);
            }
        }
        const QString title = QStringLiteral("synaptic current (pA)");
        c.textOut(38 + 5 * p.N - Round(0.5 * c.textWidth(title)), 227, title);
    });
    const QString diff = differs(form()->image(2)->canvas(), want, QRect(0, 210, 250, 34));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestHistogramsWindow::runIsReproducibleWithItsSeed()
{
    run(777);
    QImage first[4];
    for (int i = 0; i < 4; ++i)
        first[i] = form()->image(i + 1)->canvas().image().copy();
    run(777);
    for (int i = 0; i < 4; ++i)
        QVERIFY(form()->image(i + 1)->canvas().image() == first[i]);
    run(778);
    bool changed = false;
    for (int i = 0; i < 4; ++i)
        changed |= form()->image(i + 1)->canvas().image() != first[i];
    QVERIFY(changed);
}

void TestHistogramsWindow::runDrawsHistograms()
{
    std::vector<Canvas> framed;
    for (int i = 1; i <= 4; ++i)
        framed.push_back(form()->image(i)->canvas());
    run();
    const HistogramsResult &r = form()->lastResult();
    QCOMPARE(r.trials, 100);
    const Canvas &img1 = form()->image(1)->canvas();
    // Each quanta bar is as high as its share of the trials, black and 9 px wide.
    for (int m = 1; m <= r.N; ++m) {
        const int h = Round(400.0 * r.quanta[m] / r.trials);
        if (h == 0)
            continue;
        QCOMPARE(img1.rgb(38 + 10 * m + 4, 210 - h), Black);
        QCOMPARE(img1.rgb(38 + 10 * m + 4, 209), Black);
        QCOMPARE(img1.rgb(38 + 10 * m + 9, 209), White);
        if (h < 200)
            QVERIFY(img1.rgb(38 + 10 * m + 4, 209 - h) != Black);
    }
    // The mean marker: the triangle's top edge around x = 38 + Round(10 * mean + 4).
    const int a = Round(10.0 * r.sumQuanta / r.trials + 4);
    QCOMPARE(img1.rgb(38 + a, 19), Black);
    QCOMPARE(img1.rgb(38 + a, 21), White);
    // The three mean markers on the framed figures: a red dotted line up to
    // y = 30, a white triangle outlined black pointing down onto it, and the
    // mean centred above; the latency is taken at the middle of its step.
    QVERIFY(r.releasingTrials() > 0);
    const double meanStep = double(r.sumLatency) / r.releasingTrials();
    const struct {
        int image;
        int x;
        std::string text;
    } markers[] = {
        {1, 38 + Round(10.0 * r.sumQuanta / r.trials + 4), formatFixed(double(r.sumQuanta) / r.trials, 1)},
        {2, 38 + Round(r.sumPeak / r.trials / r.maxCurrent * r.N * 10),
            formatFixed(r.sumPeak / r.trials, 1) + " pA"},
        {4, 38 + Round(5 * meanStep + 2), formatFixed(meanStep * 0.05 + 0.025, 2) + " msec"},
    };
    for (const auto &m : markers) {
        Canvas want = framed[m.image - 1];
        want.setPenColor(colors::Red);
        want.setBrushColor(colors::White);
        want.setPenStyle(Canvas::PenStyle::Dot);
        want.moveTo(m.x, 210);
        want.lineTo(m.x, 30);
        want.setPenStyle(Canvas::PenStyle::Solid);
        want.setPenColor(colors::Black);
        want.polygon({QPoint(m.x, 24), QPoint(m.x + 5, 19), QPoint(m.x - 5, 19)});
        want.setFontColor(colors::Black);
        const QString text = QString::fromStdString(m.text);
        want.textOut(m.x - Round(0.5 * want.textWidth(text)), 3, text);
        // Above the bars, which stay below y = 41 in this run.
        const QString diff = differs(form()->image(m.image)->canvas(), want, QRect(0, 0, 250, 41));
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("Image%1 %2").arg(m.image).arg(diff)));
    }
    // Image4's bars stand at 5 px per step.
    const Canvas &img4 = form()->image(4)->canvas();
    for (int s = 0; s <= r.spikeSteps; ++s) {
        const int h = Round(400.0 * r.latency[s] / r.trials);
        if (h > 1)
            QCOMPARE(img4.rgb(38 + 5 * s, 209), Black);
    }
    // The joint figure shows grey cells, a red mean point or aqua over it, and no figure is left empty.
    const Canvas &img3 = form()->image(3)->canvas();
    QVERIFY(countColour(img3, Aqua) > 0);
    QVERIFY(countColour(form()->image(2)->canvas(), Black) > 0);
}

void TestHistogramsWindow::barsAreClippedAndAllFailuresHaveNoMeanLatency()
{
    // gf = 0: no site ever releases; every trial is a failure.
    setParameters([](ParameterSet &p) { p.gf = 0; });
    run();
    const HistogramsResult &r = form()->lastResult();
    QCOMPARE(r.quanta[0], 100);
    const Canvas &img1 = form()->image(1)->canvas();
    // The failures' bar runs off the top: white inside, black sides to the top row.
    for (int y : {0, 1, 100, 208}) {
        QCOMPARE(img1.rgb(38, y), Black);
        QCOMPARE(img1.rgb(46, y), Black);
        QCOMPARE(img1.rgb(42, y), White);
    }
    QCOMPARE(img1.rgb(42, 209), Black);
    QCOMPARE(img1.rgb(47, 100), White);
    // No release: the latency figure has its white bar of failures but no mean marker.
    const Canvas &img4 = form()->image(4)->canvas();
    QCOMPARE(countColour(img4, Red), 0);
    const int x = 38 + 5 * r.spikeSteps;
    QCOMPARE(img4.rgb(x, 0), Black);
    QCOMPARE(img4.rgb(x + 2, 0), White);
    QCOMPARE(img4.rgb(x + 3, 100), Black);
    // The joint figure: the failures' box only, no statistics.
    const Canvas &img3 = form()->image(3)->canvas();
    QCOMPARE(countColour(img3, Red), 0);
    QCOMPARE(countColour(img3, Aqua), 0);
    const int top = 210 - 5 * r.spikeSteps;
    QCOMPARE(img3.rgb(38, top - 1), Black);
    QCOMPARE(img3.rgb(42, top - 2), White);
    QCOMPARE(img3.rgb(46, top - 4), Black);
}

void TestHistogramsWindow::positivePotentialPutsTrialsIntoBinZero()
{
    setParameters([](ParameterSet &p) { p.V2 = 30; });
    run();
    const HistogramsResult &r = form()->lastResult();
    QCOMPARE(r.current[0], r.trials);
    const Canvas &img2 = form()->image(2)->canvas();
    // The mean marker at x = 38: its triangle spans 33..43 at y = 19.
    QCOMPARE(img2.rgb(33, 19), Black);
    QCOMPARE(img2.rgb(43, 19), Black);
    QCOMPARE(img2.rgb(44, 19), White);
    QCOMPARE(img2.rgb(32, 19), White);
    // The bar of bin 0 is clipped at the top; no other bar.
    QCOMPARE(img2.rgb(38, 0), Black);
    QCOMPARE(img2.rgb(38, 209), Black);
    QCOMPARE(img2.rgb(39, 209), White);
    // MaxCurrent = 30 pA: no tick under the bar.
    QCOMPARE(img2.rgb(38, 212), White);
}

void TestHistogramsWindow::failuresFallUnderTheBackgroundMarker()
{
    setParameters([](ParameterSet &p) {
        p.BackgroundOn = 1;
        p.Gb = 0.1;
        p.gf = 0.001;
    });
    run();
    const HistogramsResult &r = form()->lastResult();
    QVERIFY(r.quanta[0] > 0);
    const ParameterSet &p = model().LPC;
    const int bx = Round(HistogramsBackgroundCurrent(p) / r.maxCurrent * p.N * 10);
    QVERIFY(bx > 10);
    QVERIFY(r.current[bx] >= r.quanta[0]);
    const Canvas &img2 = form()->image(2)->canvas();
    // The grey triangle of the marker over the bar of the failures.
    QCOMPARE(img2.rgb(38 + bx - 5, 41), Grey);
    QCOMPARE(img2.rgb(38 + bx + 5, 41), Grey);
    QCOMPARE(img2.rgb(38 + bx, 209), Black);
    // A line bar paints 210 up to, not including, its end.
    const int top = 211 - Round(400.0 * r.current[bx] / r.trials);
    QCOMPARE(img2.rgb(38 + bx, std::max(0, top)), Black);
    if (top > 0)
        QVERIFY(img2.rgb(38 + bx, top - 1) != Black);
}

void TestHistogramsWindow::zeroPotentialLeavesCurrentFigureBlank()
{
    setParameters([](ParameterSet &p) { p.V2 = 0; });
    QCOMPARE(countColour(form()->image(2)->canvas(), White), 250 * 244);
    run();
    QVERIFY(!form()->lastResult().currentCollected);
    QCOMPARE(countColour(form()->image(2)->canvas(), White), 250 * 244);
    QVERIFY(countColour(form()->image(1)->canvas(), Black) > 0);
    QVERIFY(child<QToolButton>("DuplicateBtn")->isEnabled());
}

void TestHistogramsWindow::runShowsHourglassAndDrawsFigureByFigure()
{
    // A timer fires in the first pause between figures.
    bool fired = false, hourglass = false, runDisabled = false, firstDrawn = false, lastFramed = false;
    QTimer::singleShot(0, this, [&] {
        fired = true;
        hourglass
            = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        runDisabled = !child<QPushButton>("RunBtn")->isEnabled();
        firstDrawn = countColour(form()->image(1)->canvas(), Black) > 0;
        lastFramed = countColour(form()->image(4)->canvas(), Black) == 0;
    });
    run();
    QVERIFY(fired);
    QVERIFY(hourglass);
    QVERIFY(runDisabled);
    QVERIFY(firstDrawn);
    QVERIFY(lastFramed);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(child<QPushButton>("RunBtn")->isEnabled());
}

void TestHistogramsWindow::layouts()
{
    form()->showAndRaise();
    auto *quanta = child<QCheckBox>("CheckBoxQuanta");
    auto *latency = child<QCheckBox>("CheckBoxLatency");
    const int top = form()->outerPos().y();
    struct Step {
        QCheckBox *box;
        int height, top;
        bool row1, row2;
        int imageTop, shift;
    };
    const Step steps[] = {
        {latency, 522, top - 244, true, true, 247, 244}, // both rows: grows at the top
        {quanta, 278, top, false, true, 4, 0}, // latency only
        {latency, 80, top, false, false, 4, 0}, // none: the window stays
        {latency, 278, top, false, true, 4, 0}, // latency only again
        {quanta, 522, top - 244, true, true, 247, 244}, // both
        {latency, 278, top, true, false, 247, 0}, // quanta only
        {quanta, 80, top, false, false, 247, 0}, // none
        {quanta, 278, top, true, false, 247, 0}, // back to the start
    };
    int i = 0;
    for (const Step &s : steps) {
        const QByteArray at = QByteArray::number(i++);
        // Draw a mark that a layout switch must keep.
        form()->image(3)->canvas().setPixel(100, 100, colors::Red);
        QTest::mouseClick(s.box, Qt::LeftButton, {}, QPoint(5, 8));
        QVERIFY2(form()->outerHeight() == s.height, at);
        QVERIFY2(form()->outerPos().y() == s.top, at);
        QVERIFY2(form()->image(1)->isVisible() == s.row1 && form()->image(2)->isVisible() == s.row1, at);
        QVERIFY2(form()->image(3)->isVisible() == s.row2 && form()->image(4)->isVisible() == s.row2, at);
        if (s.row2) {
            QVERIFY2(form()->image(3)->pos() == QPoint(4, s.imageTop), at);
            QVERIFY2(form()->image(4)->pos() == QPoint(253, s.imageTop), at);
        }
        QVERIFY2(quanta->pos() == QPoint(436, 8 + s.shift), at);
        QVERIFY2(latency->pos() == QPoint(436, 34 + s.shift), at);
        QVERIFY2(child<SpinEdit>("SpinEdit1")->pos() == QPoint(448, 58 + s.shift), at);
        QVERIFY2(child<QLabel>("Label1")->pos() == QPoint(340, 60 + s.shift), at);
        QVERIFY2(child<QPushButton>("RunBtn")->pos() == QPoint(446, 90 + s.shift), at);
        QVERIFY2(child<QToolButton>("DuplicateBtn")->pos() == QPoint(480, 223 + s.shift), at);
        QVERIFY2(form()->numberLabel()->pos() == QPoint(0, 236 + s.shift), at);
        QVERIFY2(form()->image(3)->canvas().rgb(100, 100) == Red, at);
    }
}

void TestHistogramsWindow::duplicate_data()
{
    QTest::addColumn<bool>("quanta");
    QTest::addColumn<bool>("latency");
    QTest::newRow("quanta") << true << false;
    QTest::newRow("both") << true << true;
    QTest::newRow("latency") << false << true;
    QTest::newRow("neither") << false << false;
}

void TestHistogramsWindow::duplicate()
{
    QFETCH(bool, quanta);
    QFETCH(bool, latency);
    form()->showAndRaise();
    run();
    auto *button = child<QToolButton>("DuplicateBtn");
    QVERIFY(button->isEnabled());
    if (!quanta)
        QTest::mouseClick(child<QCheckBox>("CheckBoxQuanta"), Qt::LeftButton, {}, QPoint(5, 8));
    if (latency)
        QTest::mouseClick(child<QCheckBox>("CheckBoxLatency"), Qt::LeftButton, {}, QPoint(5, 8));
    // A parameter edit after the run clears the figures; the copy takes them as they are.
    model().LPC.Rg = 0.75;
    form()->EmptyImages();
    const int before = m_main->frame()->subWindowList().size();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled());
    const auto subs = m_main->frame()->subWindowList();
    QCOMPARE(subs.size(), before + 1);
    auto *copy = qobject_cast<HistogramsCopyWindow *>(subs.last()->widget());
    QVERIFY(copy);
    QVERIFY(subs.last()->windowTitle().endsWith(QLatin1String(" - Histograms")));
    QCOMPARE(subs.last()->windowTitle(),
        QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Histograms"));
    QCOMPARE(copy->outerHeight(), quanta && latency ? 522 : 278);
    for (int i = 1; i <= 4; ++i) {
        const bool copied = i <= 2 ? quanta : latency;
        const QImage want = copied ? form()->image(i)->canvas().image() : Canvas(250, 244).image();
        QVERIFY2(copy->image(i)->canvas().image() == want, qPrintable(QString::number(i)));
    }
    // A second press does nothing: the button is disabled.
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_main->frame()->subWindowList().size(), before + 1);
}

void TestHistogramsWindow::fullTableStopsTheCopy()
{
    QStringList errors;
    m_main->setErrorPresenter([&errors](const QString &message) { errors << message; });
    for (int i = 1; i <= 15; ++i) {
        model().LPC.Rg = 0.5 + 0.01 * i;
        QVERIFY(m_main->Store());
    }
    QCOMPARE(model().StoredCount, 15);
    form()->showAndRaise();
    setParameters([](ParameterSet &p) { p.Rg = 0.25; });
    run();
    auto *button = child<QToolButton>("DuplicateBtn");
    const int before = m_main->frame()->subWindowList().size();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(errors, QStringList {QStringLiteral("Range check error")});
    QCOMPARE(m_main->frame()->subWindowList().size(), before);
    QVERIFY(button->isEnabled());
    QCOMPARE(model().StoredCount, 15);
    // With nothing to store, the copy is made under the current state's name.
    setParameters([](ParameterSet &p) { p.Rg = 0.65; });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_main->frame()->subWindowList().size(), before + 1);
    QCOMPARE(
        m_main->frame()->subWindowList().last()->windowTitle(), QStringLiteral("15: 14>Rg - Histograms"));
    QVERIFY(!button->isEnabled());
}

void TestHistogramsWindow::largeRun()
{
    setParameters([](ParameterSet &p) {
        p.N = 20;
        p.du = 2.0;
    });
    setTrials(QStringLiteral("10000"));
    run(4242);
    const HistogramsResult &r = form()->lastResult();
    QCOMPARE(r.trials, 10000);
    int total = 0;
    for (int m = 0; m <= 20; ++m)
        total += r.quanta[m];
    QCOMPARE(total, 10000);
    QCOMPARE(r.spikeSteps, 40);
    for (int i : {1, 2, 4})
        QVERIFY2(countColour(form()->image(i)->canvas(), Black) > 100, qPrintable(QString::number(i)));
    // The joint map: grey cells (the fullest black), the ellipse.
    const Canvas &img3 = form()->image(3)->canvas();
    QVERIFY(countColour(img3, Black) >= 36);
    QVERIFY(countColour(img3, Aqua) > 0);
    int greys = 0;
    for (int y = 0; y < 210; ++y)
        for (int x = 48; x < 250; ++x) {
            const QRgb c = img3.rgb(x, y);
            greys += c != White && c != Black && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
        }
    QVERIFY(greys > 100);
}

QTEST_MAIN(TestHistogramsWindow)
#include "tst_histogramswindow.moc"
