#include "drawing/morphoscheme.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

using namespace cleftsim;

Q_DECLARE_METATYPE(Box)

namespace {

const QRgb InteriorRgb = 0xd0d0d0, MembraneRgb = 0xf0f0f0, BlackRgb = 0;

// The base picture, drawn once.
Canvas basePicture()
{
    static const Canvas base = [] {
        Canvas c(morpho::Width, morpho::Height);
        drawMorphoBase(c);
        return c;
    }();
    Canvas copy(morpho::Width, morpho::Height);
    copy.draw(0, 0, base);
    return copy;
}

} // namespace

class TestMorphoScheme : public QObject {
    Q_OBJECT
private slots:
    void headValues_data();
    void headValues();
    void zonesAndLeaderOnThePicture_data();
    void zonesAndLeaderOnThePicture();
    void neckWallsMatchTheBase();
    void wipedDiscMatchesTheBase();
    void changingNLeavesNoTrace_data();
    void changingNLeavesNoTrace();
    void eraseRestoresThePixelsUnderTheLeader();
    void spineWord();
};

void TestMorphoScheme::headValues_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<int>("Rh");
    QTest::addColumn<double>("rho");
    QTest::addColumn<int>("a");
    QTest::addColumn<Box>("head");
    QTest::addColumn<Box>("arc");
    const Box head15 {73, 114, 103, 144}, arc15 {-89, 117, 265, 208};
    const Box head50 {38, 79, 138, 179}, arc50 {-512, 82, 688, 3490};
    QTest::newRow("N=1") << 1 << 15 << 45.3125 << 177 << head15 << arc15;
    QTest::newRow("N=2") << 2 << 15 << 45.3125 << 177 << head15 << arc15;
    QTest::newRow("N=3") << 3 << 15 << 45.3125 << 177 << head15 << arc15;
    QTest::newRow("N=5") << 5 << 25 << 181.25 << 255 << Box {63, 104, 113, 154} << Box {-167, 107, 343, 469};
    QTest::newRow("N=10") << 10 << 50 << 1704.17 << 600 << head50 << arc50;
    QTest::newRow("N=11") << 11 << 50 << 1704.17 << 600 << head50 << arc50;
    QTest::newRow("N=20") << 20 << 50 << 1704.17 << 600 << head50 << arc50;
}

void TestMorphoScheme::headValues()
{
    QFETCH(int, N);
    QFETCH(int, Rh);
    QFETCH(double, rho);
    QFETCH(int, a);
    QFETCH(Box, head);
    QFETCH(Box, arc);
    QCOMPARE(spineHeadRadius(N), Rh);
    QVERIFY(std::fabs(leaderRho(Rh) - rho) < 0.005);
    QCOMPARE(leaderHalfWidth(Rh), a);
    QCOMPARE(spineHeadBox(Rh), head);
    QCOMPARE(leaderArcBox(Rh), arc);

    Canvas c = basePicture();
    const SpineHead drawn = SpineHeadPaint(c, N);
    QCOMPARE(drawn.Rh, Rh);
    QCOMPARE(drawn.rho, leaderRho(Rh));
}

void TestMorphoScheme::zonesAndLeaderOnThePicture_data()
{
    QTest::addColumn<int>("N");
    for (int n : {1, 3, 5, 10, 11, 20})
        QTest::addRow("N=%d", n) << n;
}

// Five vesicles per site: the near-white insides of the vesicles just outside
// the head form 5 N separate spots while the groups do not overlap (N <= 10).
void TestMorphoScheme::zonesAndLeaderOnThePicture()
{
    QFETCH(int, N);
    Canvas c = basePicture();
    SpineHeadPaint(c, N);
    const int Rh = spineHeadRadius(N);
    const int Ra = Rh - 6;
    auto inRing = [&](int x, int y) {
        const double dx = x - 88, dy = y - 129, d = std::sqrt(dx * dx + dy * dy);
        const bool neck = x >= 74 && x <= 101 && y > 129;
        return d > Rh + 0.5 && d < Rh + 11 && !neck && c.rgb(x, y) == MembraneRgb;
    };
    QVector<QVector<bool>> seen(180, QVector<bool>(270, false));
    int spots = 0;
    for (int y = 0; y < 270; ++y)
        for (int x = 0; x < 180; ++x) {
            if (seen[x][y] || !inRing(x, y))
                continue;
            ++spots;
            QVector<QPoint> stack {QPoint(x, y)};
            seen[x][y] = true;
            while (!stack.isEmpty()) {
                const QPoint p = stack.takeLast();
                for (const QPoint &d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (q.x() >= 0 && q.y() >= 0 && q.x() < 180 && q.y() < 270 && !seen[q.x()][q.y()]
                        && inRing(q.x(), q.y())) {
                        seen[q.x()][q.y()] = true;
                        stack.append(q);
                    }
                }
            }
        }
    if (N <= 10)
        QCOMPARE(spots, 5 * N);
    else
        QVERIFY2(spots >= N && spots <= 5 * N, qPrintable(QString::number(spots)));
    if (N == 20)
        QVERIFY(spots < 5 * N); // neighbouring groups overlap
    // Straight down into the neck there is no zone.
    QCOMPARE(c.rgb(88, 129 + Ra), InteriorRgb);
    // The head's outer outline and membrane on its right.
    QCOMPARE(c.rgb(88 + Rh - 1, 129), BlackRgb);
    QCOMPARE(c.rgb(88 + Rh - 3, 129), MembraneRgb);
    // The centre dot and the cleft-leader arc at the top of the head.
    QCOMPARE(c.rgb(88, 129), QRgb(0x808080));
    QVERIFY(c.rgb(89, 132 - Rh) != InteriorRgb);
}

// Below the wiped disc the base continues the neck that SpineHeadPaint draws.
void TestMorphoScheme::neckWallsMatchTheBase()
{
    Canvas c = basePicture();
    for (int y : {189, 200, 215, 225}) {
        QCOMPARE(c.rgb(75, y), BlackRgb);
        QCOMPARE(c.rgb(80, y), BlackRgb);
        QCOMPARE(c.rgb(95, y), BlackRgb);
        QCOMPARE(c.rgb(100, y), BlackRgb);
        for (int x : {76, 77, 78, 79, 96, 97, 98, 99})
            QCOMPARE(c.rgb(x, y), MembraneRgb);
        for (int x = 81; x <= 94; ++x)
            if (x != 88 || y < 195)
                QVERIFY(c.rgb(x, y) == InteriorRgb || c.rgb(x, y) == 0x7f7f7f);
    }
    // The widest span of the bouton and the dendrite's bottom line.
    QCOMPARE(c.rgb(0, 160), BlackRgb);
    QCOMPARE(c.rgb(175, 160), BlackRgb);
    QCOMPARE(c.rgb(176, 160), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(46, 60), BlackRgb);
    QCOMPARE(c.rgb(129, 60), BlackRgb);
    QCOMPARE(c.rgb(74, 10), BlackRgb);
    QCOMPARE(c.rgb(101, 10), BlackRgb);
    for (int x = 0; x < 180; x += 7)
        QCOMPARE(c.rgb(x, 266), BlackRgb);
}

// The disc that SpineHeadPaint wipes holds nothing in the base picture but
// interior, the spine and the leader from the head centre.
void TestMorphoScheme::wipedDiscMatchesTheBase()
{
    const Canvas base = basePicture();
    Canvas wiped = basePicture();
    wiped.setPenColor(morpho::Interior);
    wiped.setBrushColor(morpho::Interior);
    wiped.ellipse(28, 69, 148, 189);
    for (int y = 69; y < 189; ++y)
        for (int x = 28; x < 148; ++x) {
            if (wiped.rgb(x, y) == base.rgb(x, y))
                continue;
            const double dx = x - 88, dy = y - 129;
            const bool spine = (x >= 75 && x <= 100 && y >= 110) || dx * dx + dy * dy <= 17 * 17;
            const bool leader = base.rgb(x, y) == 0x7f7f7f && y > 129;
            QVERIFY2(spine || leader, qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
}

void TestMorphoScheme::changingNLeavesNoTrace_data()
{
    QTest::addColumn<QVector<int>>("sequence");
    QTest::newRow("10, 3, 10") << QVector<int> {10, 3, 10};
    QTest::newRow("1, 20, 5, 11, 2, 1") << QVector<int> {1, 20, 5, 11, 2, 1};
    QRandomGenerator gen(2024);
    for (int r = 0; r < 12; ++r) {
        QVector<int> s;
        const int first = gen.bounded(1, 21);
        s.append(first);
        for (int i = 0; i < 6; ++i)
            s.append(gen.bounded(1, 21));
        s.append(first);
        QTest::addRow("random %d", r) << s;
    }
}

// Erase and redraw for each new N, as the N editor does; coming back to the
// first N gives the first picture again, pixel for pixel.
void TestMorphoScheme::changingNLeavesNoTrace()
{
    QFETCH(QVector<int>, sequence);
    Canvas c = basePicture();
    SpineHead head = SpineHeadPaint(c, sequence.first());
    const QImage first = c.image().copy();
    for (int i = 1; i < sequence.size(); ++i) {
        eraseCleftLeader(c, head.Rh);
        QCOMPARE(c.penMode(), Canvas::PenMode::Copy);
        head = SpineHeadPaint(c, sequence[i]);
    }
    QCOMPARE(c.image(), first);
}

// The erase step alone puts back every pixel the leader arc changed.
void TestMorphoScheme::eraseRestoresThePixelsUnderTheLeader()
{
    for (int N : {1, 5, 10}) {
        Canvas c = basePicture();
        const SpineHead head = SpineHeadPaint(c, N);
        Canvas withoutLeader = c;
        eraseCleftLeader(withoutLeader, head.Rh);
        QVERIFY(withoutLeader.image() != c.image());
        // Drawing the arc once more over the erased picture gives the painted one.
        Canvas again = withoutLeader;
        again.setPenColor(morpho::Leader);
        again.setPenMode(Canvas::PenMode::Xor);
        const Box b = leaderArcBox(head.Rh);
        again.arc(b.x1, b.y1, b.x2, b.y2, 184, 132 - head.Rh, 88, 132 - head.Rh);
        QCOMPARE(again.image(), c.image());
        // The leader reaches far to the right of the head.
        int maxX = 0;
        for (int y = 0; y < 270; ++y)
            for (int x = 0; x < 180; ++x)
                if (c.rgb(x, y) != withoutLeader.rgb(x, y))
                    maxX = std::max(maxX, x);
        QVERIFY2(maxX >= 165, qPrintable(QString::number(maxX)));
    }
}

void TestMorphoScheme::spineWord()
{
    Canvas c(14, 36, colors::White);
    drawSpineWord(c);
    int grey = 0, other = 0;
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 14; ++x) {
            if (c.rgb(x, y) == 0x7f7f7f)
                ++grey;
            else if (c.rgb(x, y) != InteriorRgb)
                ++other;
        }
    QVERIFY(grey > 20);
    QCOMPARE(other, 0);
}

QTEST_MAIN(TestMorphoScheme)
#include "tst_morphoscheme.moc"
