#include "experiments/histogramsdrawing.h"
#include "experiments/jointfigure.h"
#include "model/rounding.h"
#include "runners/histogramsrun.h"

#include <QtTest>

#include <cmath>

using namespace cleftsim;

namespace {

const QRgb White = 0xffffff;
const QRgb Black = 0x000000;
const QRgb Red = 0xff0000;
const QRgb Aqua = 0x00ffff;

// A run's tables with the given joint counts, N = 10 and 20 spike steps.
HistogramsResult tables(const QList<QList<int>> &cells) // {m, s, count}
{
    HistogramsResult r;
    r.N = 10;
    r.spikeSteps = 20;
    for (const auto &c : cells) {
        r.joint[c[0]][c[1]] += c[2];
        r.trials += c[2];
        r.quanta[c[0]] += c[2];
        r.latency[c[1]] += c[2];
    }
    return r;
}

Canvas framed()
{
    Canvas c(250, 244);
    c.setFontHeight(13);
    frameJointFigure(c, ParameterSet {});
    return c;
}

QList<QPoint> pixelsOf(const Canvas &c, QRgb colour)
{
    QList<QPoint> out;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.rgb(x, y) == colour)
                out << QPoint(x, y);
    return out;
}

// Whether anything but white lies in the place of the "r = " text.
bool rWritten(const Canvas &c)
{
    for (int y = 30; y < 45; ++y)
        for (int x = 150; x < 230; ++x)
            if (c.rgb(x, y) != White)
                return true;
    return false;
}

} // namespace

class TestJointFigure : public QObject {
    Q_OBJECT
private slots:
    void greyLevelsAndFailuresBox();
    void allTrialsAlike();
    void cellsOnAFallingLine();
    void noIncludedCell_data();
    void noIncludedCell();
    void correlationText();
    void framingTwiceIsFramingOnce();
};

void TestJointFigure::greyLevelsAndFailuresBox()
{
    Canvas c = framed();
    // m = 2, s = 3 is the fullest included cell; m = 4, s = 1 has half of it;
    // 50 failures sit in m = 0, s = 20, fuller than any included cell.
    drawJointFigure(c, tables({{2, 3, 10}, {4, 1, 5}, {0, 20, 50}}));
    // Cell of m from x = 38 + 10m over 9 px, of s from y = 209 - 5s up over 4 px.
    QCOMPARE(c.rgb(58, 194), Black);
    QCOMPARE(c.rgb(66, 191), Black);
    QVERIFY(c.rgb(67, 194) != Black);
    QVERIFY(c.rgb(58, 190) != Black);
    QCOMPARE(c.rgb(80, 203), QRgb(0x7f7f7f)); // 255 - Round(127.5) = 127
    // The failures: a white box with a black outline in the top cell of m = 0.
    QCOMPARE(c.rgb(38, 109), Black);
    QCOMPARE(c.rgb(46, 106), Black);
    QCOMPARE(c.rgb(42, 107), White);
    QCOMPARE(c.rgb(42, 105), White);
}

void TestJointFigure::allTrialsAlike()
{
    Canvas c = framed();
    const HistogramsResult r = tables({{3, 5, 40}, {0, 20, 7}});
    drawJointFigure(c, r);
    QVERIFY(!rWritten(c));
    // The ellipse collapses onto the mean point and paints it aqua.
    const QPoint mean = jointPixel(3, 5);
    QCOMPARE(mean, QPoint(38 + 35, 210 - 28));
    QCOMPARE(c.rgb(mean.x(), mean.y()), Aqua);
    QCOMPARE(pixelsOf(c, Aqua), QList<QPoint> {mean});
    QVERIFY(pixelsOf(c, Red).isEmpty());
}

void TestJointFigure::cellsOnAFallingLine()
{
    Canvas c = framed();
    // Equal counts on s = 10 - 2m, m = 1..5.
    const HistogramsResult r = tables({{1, 8, 6}, {2, 6, 6}, {3, 4, 6}, {4, 2, 6}, {5, 0, 6}});
    drawJointFigure(c, r);
    QVERIFY(rWritten(c));
    const QPoint mean = jointPixel(3, 4);
    QCOMPARE(c.rgb(mean.x(), mean.y()), Aqua); // the ellipse passes through the mean as well
    const QList<QPoint> aqua = pixelsOf(c, Aqua);
    QVERIFY(aqua.size() > 10);
    // Every ellipse pixel lies on the line (short axis 0); the long axis
    // reaches two standard deviations, 2 * sqrt(2) quanta, to either side.
    double reach = 0;
    for (const QPoint &p : aqua) {
        const double m = (p.x() - 38) / 10.0 - 0.5;
        const double s = (210 - p.y()) / 5.0 - 0.5;
        QVERIFY2(
            std::abs(s - (10 - 2 * m)) <= 0.25, qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
        reach = std::max(reach, std::abs(m - 3));
    }
    QVERIFY(std::abs(reach - 2 * std::sqrt(2.0)) < 0.1);
}

void TestJointFigure::noIncludedCell_data()
{
    QTest::addColumn<bool>("lateTrials");
    QTest::newRow("failures only") << false;
    QTest::newRow("releases after the spike only") << true;
}

void TestJointFigure::noIncludedCell()
{
    QFETCH(bool, lateTrials);
    Canvas c = framed();
    const QImage before = c.image().copy();
    HistogramsResult r = tables({{0, 20, 30}});
    if (lateTrials)
        r = tables({{4, 20, 30}});
    drawJointFigure(c, r);
    QVERIFY(pixelsOf(c, Aqua).isEmpty());
    QVERIFY(pixelsOf(c, Red).isEmpty());
    QVERIFY(!rWritten(c));
    if (lateTrials)
        QVERIFY(c.image() == before); // no scale: nothing to shade
    else
        QCOMPARE(c.rgb(38, 109), Black);
}

void TestJointFigure::correlationText()
{
    // Two clusters rising together: r is positive and written in "#0.00".
    Canvas c = framed();
    const HistogramsResult r = tables({{2, 2, 10}, {6, 9, 10}, {4, 4, 1}});
    drawJointFigure(c, r);
    const ScatterStats st = scatterStatistics(r);
    QVERIFY(st.hasR);
    Canvas want(250, 244);
    want.setFontHeight(13);
    want.setFontColor(colors::Black);
    want.setBrushStyle(Canvas::BrushStyle::Clear);
    const QString text = QStringLiteral("r = ") + QString::fromStdString(formatPattern(st.r, "#0.00"));
    QVERIFY(st.r > 0.9 && st.r <= 1.0);
    QVERIFY(text.startsWith(QLatin1String("r = 0.9")) || text == QLatin1String("r = 1.00"));
    want.textOut(150, 30, text);
    for (int y = 30; y < 45; ++y)
        for (int x = 150; x < 250; ++x)
            if (c.rgb(x, y) != Aqua)
                QCOMPARE(c.rgb(x, y), want.rgb(x, y));
    const QPoint mean = jointPixel(st.meanM, st.meanS);
    QVERIFY(c.rgb(mean.x(), mean.y()) == Red || c.rgb(mean.x(), mean.y()) == Aqua);
}

void TestJointFigure::framingTwiceIsFramingOnce()
{
    Canvas c = framed();
    drawJointFigure(c, tables({{2, 3, 10}}));
    frameJointFigure(c, ParameterSet {});
    QVERIFY(c.image() == framed().image());
}

QTEST_MAIN(TestJointFigure)
#include "tst_jointfigure.moc"
