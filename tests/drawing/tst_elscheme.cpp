#include "drawing/elscheme.h"
#include "drawing/morphoscheme.h"

#include <QtTest>

using namespace cleftsim;

namespace {

const QColor Face(212, 208, 200);
const QRgb FaceRgb = 0xd4d0c8, BlackRgb = 0, GreyRgb = 0x808080;

Canvas scheme(int N)
{
    Canvas c(elscheme::Width, elscheme::Height, Face);
    ElSchemePaint(c, N, Face);
    return c;
}

} // namespace

class TestElScheme : public QObject {
    Q_OBJECT
private slots:
    void branches_data();
    void branches();
    void fixedParts();
    void branchesOnThePicture_data();
    void branchesOnThePicture();
    void cleftLeaderArc_data();
    void cleftLeaderArc();
};

void TestElScheme::branches_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<std::vector<int>>("xs");
    QTest::newRow("1") << 1 << std::vector<int> {100};
    QTest::newRow("2") << 2 << std::vector<int> {90, 110};
    QTest::newRow("10") << 10 << std::vector<int> {10, 30, 50, 70, 90, 110, 130, 150, 170, 190};
    QTest::newRow("11") << 11 << std::vector<int> {10, 28, 46, 64, 82, 100, 118, 136, 154, 172, 190};
    QTest::newRow("17") << 17
                        << std::vector<int> {
                               10, 21, 32, 44, 55, 66, 78, 89, 100, 111, 122, 134, 145, 156, 168, 179, 190};
    QTest::newRow("20") << 20
                        << std::vector<int> {10, 19, 29, 38, 48, 57, 67, 76, 86, 95, 105, 114, 124, 133, 143,
                               152, 162, 171, 181, 190};
}

void TestElScheme::branches()
{
    QFETCH(int, N);
    QFETCH(std::vector<int>, xs);
    QCOMPARE(branchPositions(N), xs);
}

// Junction dots, rail, battery plates, boxes and a few lines of the fixed part.
void TestElScheme::fixedParts()
{
    const Canvas c = scheme(10);
    const QPoint dots[] = {{100, 67}, {204, 67}, {100, 147}, {204, 147}, {100, 247}, {204, 247}};
    for (const QPoint &p : dots)
        for (int dx = -2; dx <= 1; ++dx)
            for (int dy = -2; dy <= 1; ++dy)
                QCOMPARE(c.rgb(p.x() + dx, p.y() + dy), BlackRgb);
    QCOMPARE(c.rgb(204, 100), BlackRgb); // the rail
    QCOMPARE(c.rgb(204, 247 + 3), FaceRgb); // ... which ends at node 2's dot
    QCOMPARE(c.rgb(181, 70), BlackRgb); // thick plate of E1, filled black
    QCOMPARE(c.rgb(186, 50), BlackRgb); // thin plate of E1
    QCOMPARE(c.rgb(186, 86), FaceRgb); // its end is not painted
    QCOMPARE(c.rgb(145, 64), FaceRgb); // inside R1, filled with face
    QCOMPARE(c.rgb(129, 62), BlackRgb); // R1's corner
    QCOMPARE(c.rgb(159, 72), BlackRgb); // R1's opposite corner
    QCOMPARE(c.rgb(160, 73), FaceRgb);
    QCOMPARE(c.rgb(238, 162), BlackRgb); // ground of Rg
    QCOMPARE(c.rgb(239, 162), FaceRgb);
    QCOMPARE(c.rgb(100, 55), BlackRgb); // pulse lead and arrow tip
    QCOMPARE(c.rgb(120, 20), BlackRgb); // the pulse line (100,20)-(204,21)
    QCOMPARE(c.rgb(147, 18), BlackRgb); // pulse glyph, pen width 2
    QCOMPARE(c.rgb(148, 18), BlackRgb);
    QCOMPARE(c.rgb(30, 53), FaceRgb); // inside the bouton bubble
    QCOMPARE(c.rgb(0, 53), GreyRgb); // its grey outline
    QCOMPARE(c.rgb(90, 327), BlackRgb); // the clamp source arrow
    QCOMPARE(c.rgb(100, 300), BlackRgb); // inverting input lead
}

void TestElScheme::branchesOnThePicture_data()
{
    QTest::addColumn<int>("N");
    for (int n : {1, 2, 5, 10})
        QTest::addRow("%d", n) << n;
}

// Each branch's resistor box cuts row 183 at its two sides, and nothing else does.
void TestElScheme::branchesOnThePicture()
{
    QFETCH(int, N);
    const Canvas c = scheme(N);
    int black = 0;
    for (int x = 0; x < elscheme::Width; ++x)
        black += c.rgb(x, 183) == BlackRgb;
    QCOMPARE(black, 2 * N + 1); // plus the rail at x = 204
    for (int x : branchPositions(N)) {
        QCOMPARE(c.rgb(x - 5, 183), BlackRgb);
        QCOMPARE(c.rgb(x + 5, 183), BlackRgb);
        QCOMPARE(c.rgb(x, 215), BlackRgb); // the lead below the box
    }
}

void TestElScheme::cleftLeaderArc_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<QRect>("box"); // (x1, y1)-(x2, y2) as left, top, right, bottom
    QTest::addColumn<QRect>("other");
    const QRect small(QPoint(-254, 107), QPoint(100, 198)), large(QPoint(-677, 72), QPoint(523, 3480));
    QTest::newRow("N=1") << 1 << small << large;
    QTest::newRow("N=10") << 10 << large << small;
}

// The continuation of the cleft leader lies on the ellipse of the expected box
// (the morphological leader's ellipse shifted by the paint box offset).
void TestElScheme::cleftLeaderArc()
{
    QFETCH(int, N);
    QFETCH(QRect, box);
    QFETCH(QRect, other);
    const Canvas c = scheme(N);
    auto arcPixels = [](const QRect &b, int Rh) {
        Canvas a(elscheme::Width, elscheme::Height, colors::White);
        a.arc(b.left(), b.top(), b.right(), b.bottom(), 165, 147, 0, 122 - Rh);
        QVector<QPoint> ps;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.rgb(x, y) != 0xffffff)
                    ps.append(QPoint(x, y));
        return ps;
    };
    const int Rh = spineHeadRadius(N);
    const QVector<QPoint> expected = arcPixels(box, Rh);
    QVERIFY(expected.size() > 50);
    // The bubbles, drawn later, cover part of it.
    const QRect bubble(QPoint(10, 95), QPoint(59, 126));
    int grey = 0, open = 0;
    for (const QPoint &p : expected) {
        if (bubble.contains(p))
            continue;
        ++open;
        grey += c.rgb(p.x(), p.y()) == GreyRgb;
    }
    QVERIFY(open > 30);
    // For large heads it runs on past node 3 across the branches, which cover some more.
    QVERIFY2(grey >= open * 3 / 5, qPrintable(QStringLiteral("%1 of %2").arg(grey).arg(open)));
    // The box of the other head size gives a visibly different curve.
    int matches = 0;
    const QVector<QPoint> wrong = arcPixels(other, spineHeadRadius(N == 1 ? 10 : 1));
    for (const QPoint &p : wrong)
        matches += c.rgb(p.x(), p.y()) == GreyRgb;
    QVERIFY2(
        matches < wrong.size() / 4, qPrintable(QStringLiteral("%1 of %2").arg(matches).arg(wrong.size())));
}

QTEST_MAIN(TestElScheme)
#include "tst_elscheme.moc"
