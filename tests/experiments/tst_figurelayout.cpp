#include "drawing/canvas.h"
#include "drawing/ticklabels.h"
#include "experiments/histogramsdrawing.h"
#include "experiments/isvdrawing.h"
#include "experiments/jointfigure.h"
#include "experiments/recordsdrawing.h"
#include "model/parameterset.h"
#include "model/random.h"
#include "runners/histogramsrun.h"

#include <QtTest>

#include <functional>

using namespace cleftsim;

namespace {

// A figure by name, drawn for parameters and a trial count.
struct Figure {
    const char *name;
    QSize size;
    int fontHeight; // as the window sets it
    std::function<void(Canvas &, const ParameterSet &, int)> draw;
};

HistogramsResult histograms(const ParameterSet &p, int trials)
{
    ModelState state;
    state.reset();
    state.setCurrent(p);
    Generator rng(20261208);
    return runHistograms(state, rng, trials);
}

// A run whose trials all released m quanta in step s.
HistogramsResult allAlike(const ParameterSet &p, int trials, int m, int s)
{
    HistogramsResult r = histograms(p, 1);
    r.trials = trials;
    r.quanta = {};
    r.latency = {};
    r.joint = {};
    r.current = {};
    r.quanta[std::size_t(m)] = trials;
    r.sumQuanta = (long long)m * trials;
    r.sumLatency = m > 0 ? (long long)s * trials : 0;
    const int last = r.spikeSteps;
    r.latency[std::size_t(m > 0 ? s : last)] = trials;
    r.joint[std::size_t(m)][std::size_t(m > 0 ? s : last)] = trials;
    r.sumPeak = m * r.maxCurrent / std::max(1, r.N) * trials;
    r.current[std::size_t(std::clamp(currentBin(r.N, r.sumPeak / trials, r.maxCurrent), 0, 200))] = trials;
    return r;
}

// The figures with their results: trials > 0 runs the engine, trials < 0
// draws -trials trials that all released every quantum at once.
const std::vector<Figure> &figures()
{
    static const std::vector<Figure> all = {
        {"Records", QSize(374, 380), 13, [](Canvas &c, const ParameterSet &p, int) { frameRecords(c, p); }},
        {"Is vs V2 quanta", QSize(204, 181), 11,
            [](Canvas &c, const ParameterSet &p, int) {
                Canvas current(204, 181), epsc(190, 181);
                current.setFontHeight(13);
                epsc.setFontHeight(13);
                frameIsvFigures(c, current, epsc, p.N, p.BackgroundOn != 0);
            }},
        {"Is vs V2 current", QSize(204, 181), 13,
            [](Canvas &c, const ParameterSet &p, int) {
                Canvas quanta(204, 181), epsc(190, 181);
                epsc.setFontHeight(13);
                frameIsvFigures(quanta, c, epsc, p.N, p.BackgroundOn != 0);
            }},
        {"Is vs V2 EPSC", QSize(190, 181), 13,
            [](Canvas &c, const ParameterSet &p, int) {
                Canvas quanta(204, 181), current(204, 181);
                current.setFontHeight(13);
                frameIsvFigures(quanta, current, c, p.N, true);
            }},
        {"Histograms quanta", QSize(250, 244), 13,
            [](Canvas &c, const ParameterSet &p, int trials) {
                const HistogramsResult r = trials > 0 ? histograms(p, trials) : allAlike(p, -trials, p.N, 0);
                frameQuantaHistogram(c, p, r.trials);
                drawQuantaHistogram(c, r);
            }},
        {"Histograms current", QSize(250, 244), 13,
            [](Canvas &c, const ParameterSet &p, int trials) {
                const HistogramsResult r = trials > 0 ? histograms(p, trials) : allAlike(p, -trials, p.N, 0);
                frameCurrentHistogram(c, p, r.trials);
                drawCurrentHistogram(c, r, p);
            }},
        {"Histograms latency", QSize(250, 244), 13,
            [](Canvas &c, const ParameterSet &p, int trials) {
                const HistogramsResult r = trials > 0 ? histograms(p, trials) : allAlike(p, -trials, p.N, 0);
                frameLatencyHistogram(c, p, r.trials);
                drawLatencyHistogram(c, r);
            }},
        {"Histograms joint", QSize(250, 244), 13,
            [](Canvas &c, const ParameterSet &p, int trials) {
                const HistogramsResult r = trials > 0 ? histograms(p, trials) : allAlike(p, -trials, p.N, 0);
                frameJointFigure(c, p);
                drawJointFigure(c, r);
            }},
    };
    return all;
}

ParameterSet with(std::function<void(ParameterSet &)> change)
{
    ParameterSet p = DefaultParameterSet;
    change(p);
    return p;
}

QString describe(const QRect &r)
{
    return QStringLiteral("(%1, %2) %3 x %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

Q_DECLARE_METATYPE(ParameterSet)

class TestFigureLayout : public QObject {
    Q_OBJECT
private slots:
    void nothingOverprinted_data();
    void nothingOverprinted();
    void labelsThinnedByRank_data();
    void labelsThinnedByRank();
    void labelsMoveIntoTheFigure_data();
    void labelsMoveIntoTheFigure();
    void labelWiderThanItsFigureStays_data();
    void labelWiderThanItsFigureStays();
    void titleMovesClearOfLabels();
    void labelClearOfText_data();
    void labelClearOfText();
    void jointEllipseStaysOffTheText();
    void labelsAsLaidOutWhereNothingCollides();
};

void TestFigureLayout::nothingOverprinted_data()
{
    QTest::addColumn<int>("figure");
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<int>("trials");
    // Typical data, and the widest ranges the parameters and the trial
    // count allow.
    struct Data {
        const char *name;
        ParameterSet p;
        int trials;
    };
    const Data data[] = {
        {"default", DefaultParameterSet, 2000},
        {"one site", with([](ParameterSet &p) { p.N = 1; }), 500},
        {"nine sites", with([](ParameterSet &p) { p.N = 9; }), 500},
        {"twenty sites", with([](ParameterSet &p) { p.N = 20; }), 500},
        {"twenty sites, all release, many trials", with([](ParameterSet &p) { p.N = 20; }), -10000},
        {"one trial", DefaultParameterSet, 1},
        {"all release", DefaultParameterSet, -2000},
        {"shortest spike", with([](ParameterSet &p) { p.du = 0.1; }), 500},
        {"longest spike, strong release", with([](ParameterSet &p) {
             p.du = 2.0;
             p.gf = 0.9999;
             p.N = 20;
         }),
            500},
        {"background, deep clamp", with([](ParameterSet &p) {
             p.BackgroundOn = 1;
             p.Gb = 0.1;
             p.V2 = -150;
         }),
            500},
        {"background as large as a quantum", with([](ParameterSet &p) {
             p.BackgroundOn = 1;
             p.Gb = 0.2;
             p.N = 20;
         }),
            500},
        {"outward current", with([](ParameterSet &p) { p.V2 = 40; }), 500},
        {"saturation near the top", with([](ParameterSet &p) {
             p.V2 = 40;
             p.Rg = 0.215; // the line at y = 2
         }),
            200},
        {"saturation near the bottom", with([](ParameterSet &p) {
             p.V2 = -150;
             p.Rg = 0.79; // the line at y = 378
         }),
            200},
        {"largest gap resistance", with([](ParameterSet &p) { p.Rg = 9.99; }), 200},
        {"no gap resistance", with([](ParameterSet &p) { p.Rg = 0; }), 200},
        {"strong quanta", with([](ParameterSet &p) {
             p.Gmax = 9.99;
             p.Rg = 0.01;
             p.V2 = -150;
         }),
            200},
    };
    for (int f = 0; f < int(figures().size()); ++f)
        for (const Data &d : data)
            QTest::addRow("%s, %s", figures()[std::size_t(f)].name, d.name) << f << d.p << d.trials;
}

void TestFigureLayout::nothingOverprinted()
{
    // The ink of every text written in a figure stays inside the figure and
    // apart from the ink of every other text.
    QFETCH(int, figure);
    QFETCH(ParameterSet, p);
    QFETCH(int, trials);
    const Figure &f = figures()[std::size_t(figure)];
    Canvas c(f.size.width(), f.size.height());
    c.setFontHeight(f.fontHeight);
    f.draw(c, p, trials);
    const std::vector<QRegion> ink = c.textInk();
    const QRect inside(0, 0, c.width(), c.height());
    QStringList faults;
    for (std::size_t i = 0; i < ink.size(); ++i) {
        if (!inside.contains(ink[i].boundingRect()))
            faults << QStringLiteral("text %1 at %2 leaves the figure")
                          .arg(i)
                          .arg(describe(ink[i].boundingRect()));
        for (std::size_t j = i + 1; j < ink.size(); ++j) {
            if (ink[i].intersects(ink[j]))
                faults << QStringLiteral("texts %1 at %2 and %3 at %4 overprint")
                              .arg(i)
                              .arg(describe(ink[i].boundingRect()))
                              .arg(j)
                              .arg(describe(ink[j].boundingRect()));
        }
    }
    QVERIFY2(ink.size() >= 3, "the figure has its labels");
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
}

void TestFigureLayout::labelsThinnedByRank_data()
{
    QTest::addColumn<int>("spacing"); // pixels from one label to the next
    QTest::addColumn<QString>("written"); // the labels left, in order
    // Labels 0..10 of one or two digits, 13 pixels high (digits about 6
    // pixels wide, kept a space's width apart): far enough apart all stay; closer, the multiples of 10
    // and 5 are kept first, then the even ones that still fit between them.
    QTest::newRow("apart") << 24 << "0 1 2 3 4 5 6 7 8 9 10";
    QTest::newRow("just apart") << 10 << "0 1 2 3 4 5 6 7 8 9 10";
    QTest::newRow("crowded") << 8 << "0 2 5 8 10";
    QTest::newRow("overlapping") << 4 << "0 5 10";
}

void TestFigureLayout::labelsThinnedByRank()
{
    QFETCH(int, spacing);
    QFETCH(QString, written);
    Canvas c(400, 40);
    c.setFontHeight(13);
    std::vector<TickLabel> labels;
    for (int k = 0; k <= 10; ++k)
        labels.push_back(tickLabel(5 + spacing * k, 10, QString::number(k), tickRank(k)));
    writeTickLabels(c, labels);
    QStringList shown;
    const std::vector<QRegion> ink = c.textInk();
    for (const QRegion &label : ink)
        shown << QString::number((label.boundingRect().left() - 5 + spacing / 2) / spacing);
    QCOMPARE(shown.join(QLatin1Char(' ')), written);
    // The labels kept keep their gap.
    for (std::size_t i = 1; i < ink.size(); ++i)
        QVERIFY(ink[i].boundingRect().left() - ink[i - 1].boundingRect().right() > LabelGap);
}

void TestFigureLayout::labelsMoveIntoTheFigure_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QPoint>("shift"); // how far the label moved
    QTest::newRow("inside") << QPoint(20, 10) << QPoint(0, 0);
    QTest::newRow("over the top") << QPoint(20, -6) << QPoint(0, 1);
    QTest::newRow("below the bottom") << QPoint(20, 32) << QPoint(0, -1);
    QTest::newRow("off the left") << QPoint(-5, 10) << QPoint(1, 0);
    QTest::newRow("off the right") << QPoint(50, 10) << QPoint(-1, 0);
}

void TestFigureLayout::labelWiderThanItsFigureStays_data()
{
    QTest::addColumn<int>("spare"); // figure width less the label's ink width
    QTest::addColumn<bool>("moved");
    QTest::newRow("just fits") << 0 << true;
    QTest::newRow("one pixel too wide") << -1 << false;
    QTest::newRow("two pixels too wide") << -2 << false;
}

void TestFigureLayout::labelWiderThanItsFigureStays()
{
    // A label off the left edge is moved in where its ink fits the figure's
    // width; one wider than the figure stays where it was laid out.
    QFETCH(int, spare);
    QFETCH(bool, moved);
    const QString text = QStringLiteral("-1000");
    const QRect ink = textInk(uiFont(13), -3, 10, text).boundingRect();
    Canvas c(ink.width() + spare, 40);
    c.setFontHeight(13);
    writeTickLabels(c, {tickLabel(-3, 10, text, 0)});
    const QRect written = c.textInk().front().boundingRect();
    QCOMPARE(written.left() != ink.left(), moved);
    if (moved)
        QCOMPARE(written.left(), 0);
}

void TestFigureLayout::labelsMoveIntoTheFigure()
{
    // A label whose ink would leave the figure is moved into it, by as
    // little as it takes: its ink then touches the edge it crossed.
    QFETCH(QPoint, at);
    QFETCH(QPoint, shift);
    Canvas c(60, 40);
    c.setFontHeight(13);
    const QString text = QStringLiteral("-50");
    const QRect laid = textInk(c.font(), at.x(), at.y(), text).boundingRect();
    writeTickLabels(c, {tickLabel(at.x(), at.y(), text, 0)});
    const QRect written = c.textInk().front().boundingRect();
    QVERIFY(QRect(0, 0, 60, 40).contains(written));
    QCOMPARE(written.size(), laid.size());
    const QPoint moved = written.topLeft() - laid.topLeft();
    QCOMPARE(moved.x() > 0, shift.x() > 0);
    QCOMPARE(moved.x() < 0, shift.x() < 0);
    QCOMPARE(moved.y() > 0, shift.y() > 0);
    QCOMPARE(moved.y() < 0, shift.y() < 0);
    if (shift.y() > 0)
        QCOMPARE(written.top(), 0);
    if (shift.y() < 0)
        QCOMPARE(written.bottom(), 39);
    if (shift.x() > 0)
        QCOMPARE(written.left(), 0);
    if (shift.x() < 0)
        QCOMPARE(written.right(), 59);
}

void TestFigureLayout::titleMovesClearOfLabels()
{
    // A vertical title that would run into a label is moved up just past
    // it, clear by TitleGap; one that meets nothing stays where it was.
    Canvas c(60, 200);
    c.setFontHeight(13);
    const QString title = QStringLiteral("current (pA)");
    QCOMPARE(writeVerticalTitle(c, 0, 150, title), 150);
    Canvas labelled(60, 200);
    labelled.setFontHeight(13);
    labelled.textOut(2, 160, QStringLiteral("-100"));
    const QRegion label = labelled.textInk().front();
    const int y = writeVerticalTitle(labelled, 0, 172, title);
    QVERIFY(y < 172);
    QVERIFY(inkClear(verticalTitleInk(labelled, 0, y, title), label, TitleGap));
    QVERIFY(!inkClear(verticalTitleInk(labelled, 0, y + 1, title), label, TitleGap));
    // Past the bottom of the figure: moved up into it, to its last row.
    Canvas low(60, 100);
    low.setFontHeight(13);
    const int yLow = writeVerticalTitle(low, 0, 110, QStringLiteral("quanta"));
    QCOMPARE(verticalTitleInk(low, 0, yLow, QStringLiteral("quanta")).boundingRect().bottom(), 99);
}

void TestFigureLayout::labelClearOfText_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("written"); // where it went
    // A caption meant over "-100" moves right to the nearest clear place;
    // one already clear stays.
    QTest::newRow("clear") << 70 << 70;
    QTest::newRow("over the label") << 12 << -1;
}

void TestFigureLayout::labelClearOfText()
{
    QFETCH(int, x);
    QFETCH(int, written);
    Canvas c(120, 40);
    c.setFontHeight(13);
    c.textOut(10, 10, QStringLiteral("-100"));
    const QRegion label = c.textInk().front();
    const int at = writeLabelClear(c, x, 10, QStringLiteral("0.0"));
    const QRegion caption = textInk(c.font(), at, 10, QStringLiteral("0.0"));
    if (written >= 0) {
        QCOMPARE(at, written);
    } else {
        QVERIFY(at > x);
        QVERIFY(inkClear(caption, label, TitleGap));
        QVERIFY(!inkClear(textInk(c.font(), at - 1, 10, QStringLiteral("0.0")), label, TitleGap));
    }
}

void TestFigureLayout::jointEllipseStaysOffTheText()
{
    // The default run's ellipse reaches below the m axis and over the
    // latency labels: none of its pixels lies on the text or outside the
    // plane of the cells.
    const ParameterSet p = DefaultParameterSet;
    const HistogramsResult r = histograms(p, 2000);
    Canvas c(250, 244);
    c.setFontHeight(13);
    frameJointFigure(c, p);
    drawJointFigure(c, r);
    const std::vector<QRegion> ink = c.textInk();
    int aqua = 0, onText = 0, outside = 0;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < c.width(); ++x) {
            if (c.rgb(x, y) != (colors::Aqua.rgb() & 0xffffff))
                continue;
            ++aqua;
            outside += x < histo::X0 || y >= histo::Base;
            for (const QRegion &text : ink)
                onText += text.boundingRect().contains(x, y);
        }
    }
    QVERIFY(aqua > 100);
    QCOMPARE(onText, 0);
    QCOMPARE(outside, 0);
}

void TestFigureLayout::labelsAsLaidOutWhereNothingCollides()
{
    // The rule changes nothing where labels stand apart: the labels are
    // the pixels textOut writes at their places.
    Canvas ruled(120, 40), plain(120, 40);
    const std::vector<TickLabel> labels = {tickLabel(3, 5, QStringLiteral("0"), 3),
        tickLabel(40, 5, QStringLiteral("-50"), 2), tickLabel(80, 5, QStringLiteral("-100"), 3)};
    writeTickLabels(ruled, labels);
    for (const TickLabel &l : labels)
        plain.textOut(l.pieces[0].at.x(), l.pieces[0].at.y(), l.pieces[0].text);
    QCOMPARE(ruled.image(), plain.image());
    QVERIFY(ruled.image() != Canvas(120, 40).image());
}

QTEST_MAIN(TestFigureLayout)
#include "tst_figurelayout.moc"
