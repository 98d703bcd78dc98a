#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/copywindows.h"
#include "experiments/isvdrawing.h"
#include "experiments/isvwindow.h"
#include "model/rounding.h"
#include "runners/isvsweep.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using namespace cleftsim;

namespace {

constexpr QRgb Black = 0x000000;
constexpr QRgb White = 0xffffff;
constexpr QRgb Grey = 0x808080;
constexpr QRgb Silver = 0xc0c0c0;

// Stands in for the Model Configuration window's background switch.
struct FakeConfig : ConfigLink {
    bool on = false;
    bool backgroundChecked() const override { return on; }
    void setBackgroundChecked(bool b) override { on = b; }
};

int countColour(const Canvas &c, QRgb colour, QRect area = QRect())
{
    if (area.isNull())
        area = QRect(0, 0, c.width(), c.height());
    area &= QRect(0, 0, c.width(), c.height());
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += c.rgb(x, y) == colour;
    return n;
}

bool anyInk(const Canvas &c, QRect area)
{
    return countColour(c, White, area) < (area & QRect(0, 0, c.width(), c.height())).width()
        * (area & QRect(0, 0, c.width(), c.height())).height();
}

} // namespace

class TestIsvWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startState();
    void emptyFrames();
    void quantaAxis_data();
    void quantaAxis();
    void backgroundTitles();
    void backgroundSwitchRelayouts();
    void editsClearAllButV2();
    void layouts_data();
    void layouts();
    void spinEditClamps_data();
    void spinEditClamps();
    void runningState();
    void breakDuringFirstPoint_data();
    void breakDuringFirstPoint();
    void breakMidSweep_data();
    void breakMidSweep();
    void yieldsByInterval_data();
    void yieldsByInterval();
    void manyTrialsDrawnAsOneByOne_data();
    void manyTrialsDrawnAsOneByOne();
    void singleTrialCurvesThroughTrials_data();
    void singleTrialCurvesThroughTrials();
    void parameterEditDuringSweep_data();
    void parameterEditDuringSweep();
    void noReentrance();
    void enterRunsFromSpinEdit();
    void duplicateFreezesFigures_data();
    void duplicateFreezesFigures();
    void windowsTornDownDuringSweep();
    void quitDuringSweep();

private:
    IsvWindow *form() const { return static_cast<IsvWindow *>(windows().forms[5]); }
    Canvas &canvas(int i) const { return form()->image(i)->canvas(); }
    template <class T> T *child(const char *name) const
    {
        return form()->findChild<T *>(QLatin1String(name));
    }
    void setTrialCount(int n)
    {
        SpinEdit *spin = child<SpinEdit>("SpinEdit1");
        spin->selectAll();
        QTest::keyClicks(spin, QString::number(n));
        QCOMPARE(form()->TrialCount(), n);
    }
    void clickRun() { QTest::mouseClick(child<QPushButton>("RunBtn"), Qt::LeftButton); }
    void verifyIdle()
    {
        QVERIFY(!form()->running());
        QVERIFY(child<QPushButton>("RunBtn")->isEnabled());
        QVERIFY(!child<QPushButton>("BreakBtn")->isEnabled());
        QVERIFY(child<QPushButton>("BreakBtn")->isHidden());
        QVERIFY(child<SpinEdit>("SpinEdit1")->isEnabled());
        QCOMPARE(child<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QVERIFY(!form()->testAttribute(Qt::WA_SetCursor));
    }

    std::unique_ptr<MainWindow> m_main;
    FakeConfig m_config;
};

void TestIsvWindow::init()
{
    m_main = createWindowSet();
    m_main->show();
    form()->showAndRaise();
    form()->setSeedSource([] { return 4242u; });
}

void TestIsvWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
    m_config.on = false;
}

void TestIsvWindow::startState()
{
    QCOMPARE(form()->TrialCount(), 100);
    QCOMPARE(child<SpinEdit>("SpinEdit1")->text(), QStringLiteral("100"));
    QVERIFY(child<QPushButton>("RunBtn")->isEnabled());
    QVERIFY(!child<QToolButton>("DuplicateBtn")->isEnabled());
    QVERIFY(form()->image(3)->isHidden());
    verifyIdle();
    // Image1 lies above Image2, Image3 above Image2.
    const QObjectList order = form()->children();
    QVERIFY(order.indexOf(form()->image(2)) < order.indexOf(form()->image(3)));
    QVERIFY(order.indexOf(form()->image(3)) < order.indexOf(form()->image(1)));
    QCOMPARE(canvas(1).font().pixelSize(), 11);
    QCOMPARE(canvas(2).font().pixelSize(), 13);
    QCOMPARE(canvas(3).font().pixelSize(), 13);
}

void TestIsvWindow::emptyFrames()
{
    canvas(1).setPixel(60, 60, QColor(0, 0, 0));
    canvas(2).setPixel(60, 100, QColor(0, 0, 0));
    form()->EmptyImages();
    const Canvas &q = canvas(1);
    QCOMPARE(form()->QuantumStep(), 14);
    QCOMPARE(q.rgb(60, 60), White);
    QCOMPARE(q.rgb(140, 150), Grey); // quanta axis from y = 150 up to 5
    QCOMPARE(q.rgb(140, 5), Grey);
    QCOMPARE(q.rgb(140, 151), White);
    QCOMPARE(q.rgb(140, 4), White);
    QCOMPARE(q.rgb(143, 131), Grey); // tick of one quantum
    QCOMPARE(q.rgb(144, 131), White);
    QCOMPARE(q.rgb(0, 145), Grey); // potential axis
    QCOMPARE(q.rgb(179, 145), Grey);
    QCOMPARE(q.rgb(170, 148), Grey); // minor tick
    QCOMPARE(q.rgb(170, 149), White);
    QCOMPARE(q.rgb(90, 150), Grey); // major tick at -50 mV
    QCOMPARE(q.rgb(90, 151), White);

    const Canvas &c = canvas(2);
    QCOMPARE(c.rgb(60, 100), White);
    QCOMPARE(c.rgb(140, 0), Grey); // current axis
    QCOMPARE(c.rgb(140, 179), Grey);
    QCOMPARE(c.rgb(137, 10), Grey); // ticks left above the zero line
    QCOMPARE(c.rgb(143, 10), White);
    QCOMPARE(c.rgb(143, 60), Grey); // and right below it
    QCOMPARE(c.rgb(137, 60), White);
    QCOMPARE(c.rgb(145, 90), Grey); // major tick at -50 pA
    QCOMPARE(c.rgb(0, 40), Grey); // zero-current line
    QCOMPARE(c.rgb(179, 40), Grey);
    QCOMPARE(c.rgb(170, 43), Grey); // ticks down right of 0 mV
    QCOMPARE(c.rgb(170, 37), White);
    QCOMPARE(c.rgb(120, 37), Grey); // ticks up left of it
    QCOMPARE(c.rgb(90, 35), Grey);
    QVERIFY(anyInk(c, QRect(148, 82, 20, 13))); // "-50"
    QVERIFY(anyInk(c, QRect(148, 132, 26, 13))); // "-100"
}

void TestIsvWindow::quantaAxis_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("labelled"); // ticks that carry a label
    QTest::newRow("1") << 1 << 140 << QList<int> {1};
    QTest::newRow("5") << 5 << 28 << QList<int> {1, 2, 3, 4, 5};
    QTest::newRow("7") << 7 << 20 << QList<int> {5};
    QTest::newRow("10") << 10 << 14 << QList<int> {5, 10};
    QTest::newRow("12") << 12 << 11 << QList<int> {5, 10};
    QTest::newRow("20") << 20 << 7 << QList<int> {5, 10, 15, 20};
}

void TestIsvWindow::quantaAxis()
{
    QFETCH(int, N);
    QFETCH(int, step);
    QFETCH(QList<int>, labelled);
    model().LPC.N = N;
    form()->EmptyImages();
    QCOMPARE(form()->QuantumStep(), step);
    const Canvas &c = canvas(1);
    for (int i = 1; i <= N; ++i) {
        const int y = 145 - i * step;
        QCOMPARE(c.rgb(141, y), Grey);
        QCOMPARE(c.rgb(144, y), White);
    }
    QCOMPARE(c.rgb(140, 145 - N * step), Grey);
    QCOMPARE(c.rgb(140, 144 - N * step), White);
    // Labels stand right of their ticks, their tops 7 pixels above them.
    // Where the ticks are far enough apart, unlabelled ticks have no text.
    for (int i = 1; i <= N; ++i) {
        const QRect cell(148, 138 - i * step + 2, 14, 9);
        if (labelled.contains(i))
            QVERIFY2(anyInk(c, cell), qPrintable(QStringLiteral("label %1").arg(i)));
        else if (step >= 14)
            QVERIFY2(!anyInk(c, cell), qPrintable(QStringLiteral("no label %1").arg(i)));
    }
}

void TestIsvWindow::backgroundTitles()
{
    // Off: Image2 carries the second title line, Image3 stays untouched.
    const QRect secondTitle(189, 60, 12, 110);
    form()->EmptyImages();
    QVERIFY(anyInk(canvas(2), secondTitle));
    QCOMPARE(countColour(canvas(3), White), 190 * 181);

    windows().csForm0 = &m_config;
    m_config.on = true;
    form()->EmptyImages();
    QVERIFY(!anyInk(canvas(2), secondTitle));
    QCOMPARE(canvas(3).rgb(140, 0), Grey);
    QCOMPARE(canvas(3).rgb(0, 40), Grey);
    QVERIFY(anyInk(canvas(3), QRect(174, 60, 14, 110)));
}

void TestIsvWindow::backgroundSwitchRelayouts()
{
    // The Model Configuration window's switch picks the layout and reframes.
    windows().csForm0->setBackgroundChecked(true);
    QCOMPARE(form()->outerWidth(), 757);
    QVERIFY(!form()->image(3)->isHidden());
    QCOMPARE(canvas(3).rgb(140, 0), Grey);
    windows().csForm0->setBackgroundChecked(false);
    QCOMPARE(form()->outerWidth(), 561);
    QVERIFY(form()->image(3)->isHidden());
}

void TestIsvWindow::editsClearAllButV2()
{
    setTrialCount(1);
    clickRun();
    const QImage swept = canvas(1).image();
    QVERIFY(countColour(canvas(1), Black) > 0);
    auto *scheme = windows().forms[1];
    auto *spinV2 = scheme->findChild<SpinEdit *>(QStringLiteral("SpinEditV2"));
    auto *spinN = scheme->findChild<SpinEdit *>(QStringLiteral("SpinEditN"));
    QVERIFY(spinV2 && spinN);
    spinV2->selectAll();
    QTest::keyClicks(spinV2, QStringLiteral("-40"));
    QCOMPARE(model().LPC.V2, -40.0);
    QCOMPARE(canvas(1).image(), swept);
    spinN->selectAll();
    QTest::keyClicks(spinN, QStringLiteral("7"));
    QCOMPARE(form()->QuantumStep(), 20);
    QCOMPARE(countColour(canvas(1), Black), 0);
    QCOMPARE(countColour(canvas(1), Silver), 0);
}

void TestIsvWindow::layouts_data()
{
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("shift");
    QTest::newRow("background off") << false << 561 << 0;
    QTest::newRow("background on") << true << 757 << 196;
}

void TestIsvWindow::layouts()
{
    QFETCH(bool, on);
    QFETCH(int, width);
    QFETCH(int, shift);
    form()->setBackgroundLayout(!on);
    form()->setBackgroundLayout(on);
    QCOMPARE(form()->outerWidth(), width);
    QCOMPARE(form()->height(), 193);
    QCOMPARE(child<QLabel>("Label1")->pos(), QPoint(385 + shift, 10));
    QCOMPARE(child<SpinEdit>("SpinEdit1")->pos(), QPoint(493 + shift, 8));
    QCOMPARE(child<QPushButton>("RunBtn")->pos(), QPoint(491 + shift, 40));
    QCOMPARE(child<QPushButton>("BreakBtn")->pos(), QPoint(491 + shift, 72));
    QCOMPARE(child<QToolButton>("DuplicateBtn")->pos(), QPoint(525 + shift, 165));
    QCOMPARE(form()->image(3)->isHidden(), !on);
    QCOMPARE(form()->image(1)->geometry(), QRect(4, 4, 204, 181));
    QCOMPARE(form()->image(2)->geometry(), QRect(200, 4, 204, 181));
    QCOMPARE(form()->image(3)->geometry(), QRect(396, 4, 190, 181));
}

void TestIsvWindow::spinEditClamps_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("count");
    QTest::newRow("in range") << "250"
                              << "250" << 250;
    QTest::newRow("zero") << "0"
                          << "1" << 1;
    QTest::newRow("above") << "20000"
                           << "10000" << 10000;
    QTest::newRow("six digits cut to five") << "123456"
                                            << "10000" << 10000;
    QTest::newRow("largest") << "10000"
                             << "10000" << 10000;
}

void TestIsvWindow::spinEditClamps()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, count);
    SpinEdit *spin = child<SpinEdit>("SpinEdit1");
    spin->selectAll();
    QTest::keyClicks(spin, typed);
    QCOMPARE(spin->text(), shown);
    QCOMPARE(form()->TrialCount(), count);
}

void TestIsvWindow::runningState()
{
    setTrialCount(60);
    bool checked = false;
    QTimer::singleShot(0, this, [&] {
        checked = true;
        QVERIFY(form()->running());
        QVERIFY(!child<QPushButton>("RunBtn")->isEnabled());
        QVERIFY(child<QPushButton>("BreakBtn")->isEnabled());
        QVERIFY(!child<QPushButton>("BreakBtn")->isHidden());
        QVERIFY(!child<SpinEdit>("SpinEdit1")->isEnabled());
        QCOMPARE(child<QLabel>("Label1")->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QCOMPARE(form()->cursor().shape(), Qt::WaitCursor);
        QTest::keyClick(form(), Qt::Key_Escape); // Esc presses Break
    });
    clickRun();
    QVERIFY(checked);
    QCOMPARE(form()->pointsDrawn(), 1);
    verifyIdle();
    QVERIFY(child<QToolButton>("DuplicateBtn")->isEnabled());
}

void TestIsvWindow::breakDuringFirstPoint_data()
{
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("delay"); // 0: Break posted before the first yield
    QTest::newRow("posted before the first trial") << 100 << 0;
    QTest::newRow("after 50 trials") << 120 << 1;
}

void TestIsvWindow::breakDuringFirstPoint()
{
    QFETCH(int, trials);
    QFETCH(int, delay);
    setTrialCount(trials);
    form()->setYieldInterval(0); // a yield at every resting place
    int yields = 0;
    // Presses Break at the first yield (delay 0) or at the one after it, the
    // 50th trial of the first point.
    std::function<void()> press = [&] {
        if (yields++ < delay) {
            QTimer::singleShot(0, this, press);
            return;
        }
        QTest::mouseClick(child<QPushButton>("BreakBtn"), Qt::LeftButton);
    };
    QTimer::singleShot(0, this, press);
    clickRun();
    verifyIdle();
    QCOMPARE(form()->pointsDrawn(), 1);
    // Only a move-to: no black pixel anywhere, silver ones at V = +40 only.
    for (int i = 1; i <= 2; ++i) {
        QCOMPARE(countColour(canvas(i), Black), 0);
        QVERIFY(countColour(canvas(i), Silver, QRect(180, 0, 1, 181)) > 0);
        QCOMPARE(countColour(canvas(i), Silver, QRect(0, 0, 180, 181)), 0);
    }
}

void TestIsvWindow::breakMidSweep_data()
{
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("maxPoints"); // points the sweep may finish after the press
    // One trial per point: the sweep yields only after each point and stops
    // at the point it has just drawn.
    QTest::newRow("one trial per point") << 1 << 0;
    // 120 trials: yields after trials 50 and 100 and after the point; a press
    // during a point ends the sweep with that point.
    QTest::newRow("120 trials per point") << 120 << 1;
}

void TestIsvWindow::breakMidSweep()
{
    QFETCH(int, trials);
    QFETCH(int, maxPoints);
    setTrialCount(trials);
    form()->setYieldInterval(0); // a yield at every resting place
    int yields = 0;
    int pointsAtPress = -1;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (++yields != 25 || !form()->running())
            return;
        pointsAtPress = form()->pointsDrawn();
        QTest::mouseClick(child<QPushButton>("BreakBtn"), Qt::LeftButton);
    });
    ticker.start(0);
    clickRun();
    ticker.stop();
    QVERIFY(pointsAtPress > 0);
    QVERIFY(pointsAtPress < 181);
    QVERIFY(form()->pointsDrawn() >= pointsAtPress);
    QVERIFY(form()->pointsDrawn() <= pointsAtPress + maxPoints);
    verifyIdle();
    // Nothing is drawn left of the last point.
    const int lastX = 140 + 40 - (form()->pointsDrawn() - 1);
    QCOMPARE(countColour(canvas(1), Silver, QRect(0, 0, lastX, 145)), 0);
}

void TestIsvWindow::yieldsByInterval_data()
{
    QTest::addColumn<int>("interval"); // [msec]
    QTest::addColumn<int>("yields"); // of a sweep of 120 trials per point
    // Before the first trial, after trials 50 and 100 and after every point.
    QTest::newRow("at every resting place") << 0 << 1 + 181 * 3;
    // Only before the first trial: the sweep is over long before an hour.
    QTest::newRow("an hour") << 3600000 << 1;
}

void TestIsvWindow::yieldsByInterval()
{
    QFETCH(int, interval);
    QFETCH(int, yields);
    setTrialCount(120);
    form()->setYieldInterval(interval);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ticks += form()->running(); });
    ticker.start(0);
    clickRun();
    ticker.stop();
    QCOMPARE(form()->pointsDrawn(), 181);
    QCOMPARE(ticks, yields);
}

void TestIsvWindow::manyTrialsDrawnAsOneByOne_data()
{
    QTest::addColumn<int>("interval"); // [msec]; -1: the window's own
    QTest::newRow("a yield at every resting place") << 0;
    QTest::newRow("yields by time") << -1;
}

void TestIsvWindow::manyTrialsDrawnAsOneByOne()
{
    QFETCH(int, interval);
    windows().csForm0 = &m_config;
    m_config.on = true;
    model().LPC.BackgroundOn = 1;
    model().LPC.Gb = 0.02;
    setTrialCount(60);
    if (interval >= 0)
        form()->setYieldInterval(interval);
    form()->EmptyImages();
    Canvas expected[3] = {canvas(1), canvas(2), canvas(3)};
    clickRun();
    QCOMPARE(form()->pointsDrawn(), 181);

    // The same trials from the same seed, drawn one by one.
    ModelState replay = model();
    Generator rng(4242u);
    for (Canvas &c : expected)
        c.setPenColor(QColor(0, 0, 0));
    for (int V = 40; V >= -140; --V) {
        IsvPoint p;
        p.V = V;
        p.background = sweepBackgroundCurrent(replay.LPC, V);
        for (int t = 0; t < 60; ++t) {
            const IsvTrialResult r = isvTrial(replay, rng, V);
            p.add(r);
            drawIsvTrial(expected[0], expected[1], form()->QuantumStep(), V, r);
        }
        drawIsvPoint(expected[0], expected[1], expected[2], form()->QuantumStep(), p);
    }
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(countColour(canvas(i), Silver) > (i < 3 ? 180 : -1));
        QCOMPARE(canvas(i).image(), expected[i - 1].image());
    }
}

void TestIsvWindow::singleTrialCurvesThroughTrials_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<double>("Gb");
    QTest::newRow("basic") << false << 0.0;
    QTest::newRow("background switched on, no Gb") << true << 0.0;
    QTest::newRow("background conductance") << true << 0.02;
}

void TestIsvWindow::singleTrialCurvesThroughTrials()
{
    QFETCH(bool, background);
    QFETCH(double, Gb);
    if (background) {
        windows().csForm0 = &m_config;
        m_config.on = true;
        model().LPC.BackgroundOn = 1;
        model().LPC.Gb = Gb;
    }
    setTrialCount(1);
    clickRun();
    verifyIdle();
    QCOMPARE(form()->pointsDrawn(), 181);

    // Replay the sweep's trials from the same seed.
    ModelState replay = model();
    Generator rng(4242u);
    const int q = form()->QuantumStep();
    int checkedPoints = 0;
    for (int V = 40; V >= -140; --V) {
        const IsvTrialResult r = isvTrial(replay, rng, V);
        const QPoint p1(140 + V, 145 - r.m * q);
        const QPoint p2(140 + V, 40 - Round(r.peak));
        // Every vertex but the last is painted by the segment that leaves it.
        const QRgb expected = V == -140 ? Silver : Black;
        QCOMPARE(canvas(1).rgb(p1.x(), p1.y()), expected);
        if (p2.y() >= 0 && p2.y() < 181) {
            QCOMPARE(canvas(2).rgb(p2.x(), p2.y()), expected);
            ++checkedPoints;
        }
        // The EPSC amplitude: the peak less the current of the background alone.
        const QPoint p3(140 + V, 40 - Round(r.peak - sweepBackgroundCurrent(replay.LPC, V)));
        if (p3.y() >= 0 && p3.y() < 181 && V != -140)
            QCOMPARE(canvas(3).rgb(p3.x(), p3.y()), Black);
        if (V == 0)
            QCOMPARE(p2.y(), 40);
    }
    QVERIFY(checkedPoints > 150);
    QCOMPARE(canvas(2).rgb(140, 40), Black); // the mean at 0 mV lies on the zero line
    // Without a background conductance the EPSC amplitude is the mean current:
    // the two figures hold the same black curve.
    if (Gb == 0) {
        for (int y = 0; y < 181; ++y)
            for (int x = 0; x < 190; ++x)
                QVERIFY2((canvas(3).rgb(x, y) == Black) == (canvas(2).rgb(x, y) == Black),
                    qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    }
}

void TestIsvWindow::parameterEditDuringSweep_data()
{
    QTest::addColumn<int>("trials");
    // The 30th yield: after a point, or after the 50th trial of the 15th
    // point, whose trials so far are cleared with the rest.
    QTest::newRow("after a point") << 1;
    QTest::newRow("halfway through a point") << 60;
}

void TestIsvWindow::parameterEditDuringSweep()
{
    QFETCH(int, trials);
    setTrialCount(trials);
    form()->setYieldInterval(0); // a yield at every resting place
    int yields = 0;
    int silverBefore = -1;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (++yields != 30)
            return;
        silverBefore = countColour(canvas(1), Silver, QRect(0, 0, 181, 145));
        model().LPC.gf = 0; // no release from the next trial on
        parameterAccepted(Param::gf);
    });
    ticker.start(0);
    clickRun();
    ticker.stop();
    QVERIFY(yields >= 30);
    QVERIFY(silverBefore > 0);
    QCOMPARE(form()->pointsDrawn(), 181);
    // The figures were cleared and every later trial released nothing.
    QCOMPARE(countColour(canvas(1), Silver, QRect(0, 0, 181, 145)), 0);
    // The sweep went on drawing into the cleared figure: the last point's
    // trial (m = 0) is still there, and the frame is intact.
    QCOMPARE(canvas(1).rgb(0, 145), Silver);
    QCOMPARE(canvas(1).rgb(140, 150), Grey);
}

void TestIsvWindow::noReentrance()
{
    setTrialCount(1);
    int seeds = 0;
    form()->setSeedSource([&seeds] { return 100u + seeds++; });
    QTimer::singleShot(0, this, [&] {
        form()->RunBtnClick();
        QTest::keyClick(form(), Qt::Key_Return);
    });
    clickRun();
    QCOMPARE(seeds, 1);
    QCOMPARE(form()->pointsDrawn(), 181);
    verifyIdle();
}

void TestIsvWindow::enterRunsFromSpinEdit()
{
    setTrialCount(1);
    QTest::keyClick(child<SpinEdit>("SpinEdit1"), Qt::Key_Return);
    QCOMPARE(form()->pointsDrawn(), 181);
    verifyIdle();
}

void TestIsvWindow::duplicateFreezesFigures_data()
{
    QTest::addColumn<bool>("background");
    QTest::newRow("background off") << false;
    QTest::newRow("background on") << true;
}

void TestIsvWindow::duplicateFreezesFigures()
{
    QFETCH(bool, background);
    windows().csForm0 = &m_config;
    m_config.on = background;
    form()->setBackgroundLayout(background);
    setTrialCount(1);
    clickRun();
    QToolButton *dup = child<QToolButton>("DuplicateBtn");
    QVERIFY(dup->isEnabled());
    QTest::mouseClick(dup, Qt::LeftButton);
    QVERIFY(!dup->isEnabled());
    const auto copies = m_main->findChildren<IsvCopyWindow *>();
    QCOMPARE(copies.size(), 1);
    IsvCopyWindow *copy = copies.first();
    QCOMPARE(copy->windowTitle(), QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Is vs V2"));
    QCOMPARE(copy->image(1)->canvas().image(), canvas(1).image());
    QCOMPARE(copy->image(2)->canvas().image(), canvas(2).image());
    QCOMPARE(copy->outerWidth(), background ? 757 : 561);
    QCOMPARE(copy->image(3)->isHidden(), !background);
    if (background)
        QCOMPARE(copy->image(3)->canvas().image(), canvas(3).image());
}

void TestIsvWindow::windowsTornDownDuringSweep()
{
    setTrialCount(200);
    QPointer<IsvWindow> watched(form());
    bool tornDown = false;
    QTimer::singleShot(0, this, [&] {
        m_main.reset();
        windows() = WindowSet {};
        tornDown = true;
    });
    watched->RunBtnClick(); // returns without touching the destroyed window
    QVERIFY(tornDown);
    QVERIFY(watched.isNull());
}

void TestIsvWindow::quitDuringSweep()
{
    setTrialCount(10000);
    QTimer::singleShot(0, this, [this] { clickRun(); });
    QTimer::singleShot(0, this, [] { QCoreApplication::quit(); });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
    guard.start(60000);
    const int code = QCoreApplication::exec();
    guard.stop();
    QCOMPARE(code, 0);
    QVERIFY(form());
    QVERIFY(form()->pointsDrawn() < 181);
    verifyIdle();
}

QTEST_MAIN(TestIsvWindow)
#include "tst_isvwindow.moc"
