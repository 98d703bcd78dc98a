#include "drawing/canvas.h"

#include <QPaintEngine>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

using namespace cleftsim;

namespace {

const QRgb WhiteRgb = 0xffffff;
const QRgb BlackRgb = 0x000000;

// The pixels of a canvas that differ from a colour.
QVector<QPoint> inked(const Canvas &c, QRgb background)
{
    QVector<QPoint> points;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.rgb(x, y) != background)
                points.append(QPoint(x, y));
    return points;
}

// A canvas of random pixels, so that exclusive-or faults cannot hide.
Canvas noisyCanvas(int w, int h, quint32 seed)
{
    Canvas c(w, h);
    QRandomGenerator gen(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.setPixel(x, y, QColor::fromRgb(gen.generate() & 0xffffff));
    return c;
}

using Figure = std::function<void(Canvas &)>;

} // namespace

Q_DECLARE_METATYPE(Figure)

class TestCanvas : public QObject {
    Q_OBJECT
private slots:
    void lineEnds_data();
    void lineEnds();
    void straightLinePixels_data();
    void straightLinePixels();
    void widePenCentredOnPath();
    void dottedPen();
    void rectangleExtent_data();
    void rectangleExtent();
    void ellipseExtent();
    void arcRunsCounterClockwise_data();
    void arcRunsCounterClockwise();
    void exclusiveOrTwiceRestores_data();
    void exclusiveOrTwiceRestores();
    void exclusiveOrPolylinePaintsJointsOnce();
    void brushColourMakesTheBrushSolid();
    void hugeArcIsClippedAndExact();
    void polygonFillAndOutline();
    void textAtTopLeft();
    void textBoxOnSolidBrush();
    void verticalTextRunsUpAndClips();
    void verticalTextRestoresFont();
    void verticalTextInRegularFaceOfTheCanvasHeight_data();
    void verticalTextInRegularFaceOfTheCanvasHeight();
    void verticalTextOnSolidBrush();
    void drawCopiesWithClipping();
    void clippingNeverCrashes();
    void vectorSurfaceDrawsTheSameGeometry_data();
    void vectorSurfaceDrawsTheSameGeometry();
    void vectorSurfaceGoesOnFromAMark();
    void tracesPaintOnePixelPerStep();
    void tracesAreLinesInTheVectorDrawing_data();
    void tracesAreLinesInTheVectorDrawing();
    void pixelRunsAreOnePathEach();
};

void TestCanvas::lineEnds_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    const int ds[][2] = {{10, 0}, {-10, 0}, {0, 10}, {0, -10}, {7, 7}, {-7, 7}, {7, -7}, {-7, -7}, {12, 5},
        {5, 12}, {-12, 5}, {-5, 12}, {12, -5}, {5, -12}, {-12, -5}, {-5, -12}, {1, 0}, {0, 1}, {1, 1}, {2, 1},
        {15, 1}, {1, 15}};
    for (const auto &d : ds)
        QTest::addRow("%d,%d", d[0], d[1]) << d[0] << d[1];
}

// A line paints its start, not its end, leaves the pen at the end and paints
// one pixel per step of its longer axis, 8-connected.
void TestCanvas::lineEnds()
{
    QFETCH(int, dx);
    QFETCH(int, dy);
    Canvas c(40, 40);
    c.moveTo(20, 20);
    c.lineTo(20 + dx, 20 + dy);
    QCOMPARE(c.rgb(20, 20), BlackRgb);
    QCOMPARE(c.rgb(20 + dx, 20 + dy), WhiteRgb);
    QCOMPARE(c.penPos(), QPoint(20 + dx, 20 + dy));
    const QVector<QPoint> ink = inked(c, WhiteRgb);
    QCOMPARE(ink.size(), std::max(std::abs(dx), std::abs(dy)));
    for (const QPoint &p : ink) {
        bool neighbour = p == QPoint(20, 20);
        for (const QPoint &q : ink)
            if (q != p && std::abs(q.x() - p.x()) <= 1 && std::abs(q.y() - p.y()) <= 1)
                neighbour = true;
        QVERIFY2(neighbour, "the line is not connected");
    }
}

void TestCanvas::straightLinePixels_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<QPoint>("step");
    QTest::newRow("right") << QPoint(2, 5) << QPoint(9, 5) << QPoint(1, 0);
    QTest::newRow("left") << QPoint(9, 5) << QPoint(2, 5) << QPoint(-1, 0);
    QTest::newRow("down") << QPoint(4, 1) << QPoint(4, 18) << QPoint(0, 1);
    QTest::newRow("up") << QPoint(4, 18) << QPoint(4, 1) << QPoint(0, -1);
    QTest::newRow("down right") << QPoint(1, 1) << QPoint(15, 15) << QPoint(1, 1);
    QTest::newRow("up right") << QPoint(1, 15) << QPoint(15, 1) << QPoint(1, -1);
    QTest::newRow("down left") << QPoint(15, 1) << QPoint(1, 15) << QPoint(-1, 1);
    QTest::newRow("up left") << QPoint(15, 15) << QPoint(1, 1) << QPoint(-1, -1);
}

// Horizontal, vertical and 45-degree lines hit exactly the pixels between
// their ends, the start included.
void TestCanvas::straightLinePixels()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(QPoint, step);
    Canvas c(20, 20);
    c.moveTo(from.x(), from.y());
    c.lineTo(to.x(), to.y());
    QVector<QPoint> expected;
    for (QPoint p = from; p != to; p += step)
        expected.append(p);
    QVector<QPoint> ink = inked(c, WhiteRgb);
    auto byRow = [](const QPoint &a, const QPoint &b) {
        return std::make_pair(a.y(), a.x()) < std::make_pair(b.y(), b.x());
    };
    std::sort(expected.begin(), expected.end(), byRow);
    QCOMPARE(ink, expected);
}

void TestCanvas::widePenCentredOnPath()
{
    Canvas c(30, 30);
    c.setPenWidth(3);
    c.moveTo(5, 10);
    c.lineTo(20, 10);
    for (int x = 4; x <= 20; ++x)
        for (int y = 9; y <= 11; ++y)
            QCOMPARE(c.rgb(x, y), BlackRgb);
    QCOMPARE(c.rgb(10, 8), WhiteRgb);
    QCOMPARE(c.rgb(10, 12), WhiteRgb);
    QCOMPARE(c.rgb(21, 10), WhiteRgb);
    QCOMPARE(c.rgb(3, 10), WhiteRgb);

    Canvas d(30, 30);
    d.setPenWidth(2);
    d.moveTo(5, 10);
    d.lineTo(5, 20);
    QCOMPARE(inked(d, WhiteRgb).size(), 22); // the nib of the last step reaches one row further
    QCOMPARE(d.rgb(6, 15), BlackRgb);
    QCOMPARE(d.rgb(4, 15), WhiteRgb);
}

// Dotted lines: 3 pixels on, 3 off; the gaps take the brush colour while the
// brush is solid and keep the raster while it is clear.
void TestCanvas::dottedPen()
{
    Canvas c(30, 5, colors::Silver);
    c.setPenColor(colors::Red);
    c.setPenStyle(Canvas::PenStyle::Dot);
    c.setBrushColor(colors::White);
    c.moveTo(0, 1);
    c.lineTo(24, 1);
    for (int x = 0; x < 24; ++x)
        QCOMPARE(c.rgb(x, 1), (x % 6) < 3 ? QRgb(0xff0000) : WhiteRgb);
    QCOMPARE(c.rgb(24, 1), QRgb(0xc0c0c0));

    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.moveTo(0, 3);
    c.lineTo(24, 3);
    for (int x = 0; x < 24; ++x)
        QCOMPARE(c.rgb(x, 3), (x % 6) < 3 ? QRgb(0xff0000) : QRgb(0xc0c0c0));
}

void TestCanvas::rectangleExtent_data()
{
    QTest::addColumn<bool>("solid");
    QTest::newRow("solid brush") << true;
    QTest::newRow("clear brush") << false;
}

// The outline covers x1..x2-1 and y1..y2-1; the inside is the brush's.
void TestCanvas::rectangleExtent()
{
    QFETCH(bool, solid);
    Canvas c(20, 20, colors::Silver);
    c.setBrushColor(colors::Red);
    if (!solid)
        c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.rectangle(2, 3, 10, 8);
    const QRgb silver = 0xc0c0c0;
    for (int x = 2; x <= 9; ++x) {
        QCOMPARE(c.rgb(x, 3), BlackRgb);
        QCOMPARE(c.rgb(x, 7), BlackRgb);
        QCOMPARE(c.rgb(x, 8), silver);
        QCOMPARE(c.rgb(x, 2), silver);
    }
    for (int y = 3; y <= 7; ++y) {
        QCOMPARE(c.rgb(2, y), BlackRgb);
        QCOMPARE(c.rgb(9, y), BlackRgb);
        QCOMPARE(c.rgb(10, y), silver);
        QCOMPARE(c.rgb(1, y), silver);
    }
    for (int x = 3; x <= 8; ++x)
        for (int y = 4; y <= 6; ++y)
            QCOMPARE(c.rgb(x, y), solid ? QRgb(0xff0000) : silver);

    Canvas f(20, 20, colors::Silver);
    f.setBrushColor(colors::Navy);
    f.fillRect(2, 3, 10, 8);
    QCOMPARE(inked(f, silver).size(), 8 * 5);
    QCOMPARE(f.rgb(9, 7), QRgb(0x000080));
}

// The ellipse touches the four sides of its box, never passes them, and is
// filled with a solid brush only.
void TestCanvas::ellipseExtent()
{
    for (bool solid : {true, false}) {
        Canvas c(40, 40);
        c.setBrushColor(colors::Red);
        if (!solid)
            c.setBrushStyle(Canvas::BrushStyle::Clear);
        c.ellipse(10, 10, 30, 20);
        int minX = 99, maxX = -1, minY = 99, maxY = -1;
        for (const QPoint &p : inked(c, WhiteRgb)) {
            minX = std::min(minX, p.x());
            maxX = std::max(maxX, p.x());
            minY = std::min(minY, p.y());
            maxY = std::max(maxY, p.y());
        }
        QCOMPARE(minX, 10);
        QCOMPARE(maxX, 29);
        QCOMPARE(minY, 10);
        QCOMPARE(maxY, 19);
        QCOMPARE(c.rgb(10, 14), BlackRgb);
        QCOMPARE(c.rgb(29, 15), BlackRgb);
        QCOMPARE(c.rgb(20, 10), BlackRgb);
        QCOMPARE(c.rgb(19, 19), BlackRgb);
        QCOMPARE(c.rgb(10, 10), WhiteRgb);
        QCOMPARE(c.rgb(20, 15), solid ? QRgb(0xff0000) : WhiteRgb);
    }
    // A 2 x 2 dot and a 4 x 4 vesicle.
    Canvas d(10, 10);
    d.ellipse(2, 2, 4, 4);
    QCOMPARE(inked(d, WhiteRgb).size(), 4);
    Canvas v(10, 10);
    v.setBrushColor(colors::Red);
    v.ellipse(2, 2, 6, 6);
    QCOMPARE(inked(v, WhiteRgb).size(), 12);
    QCOMPARE(v.rgb(3, 3), QRgb(0xff0000));
    QCOMPARE(v.rgb(2, 2), WhiteRgb);
}

void TestCanvas::arcRunsCounterClockwise_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("end");
    QTest::addColumn<QVector<int>>("quadrants"); // 1 = upper right, counter-clockwise on the screen
    QTest::newRow("right to top") << QPoint(40, 20) << QPoint(20, 0) << QVector<int> {1};
    QTest::newRow("top to left") << QPoint(20, 0) << QPoint(0, 20) << QVector<int> {2};
    QTest::newRow("left to bottom") << QPoint(0, 20) << QPoint(20, 40) << QVector<int> {3};
    QTest::newRow("bottom to right") << QPoint(20, 40) << QPoint(40, 20) << QVector<int> {4};
    QTest::newRow("top to right") << QPoint(20, 0) << QPoint(40, 20) << QVector<int> {2, 3, 4};
    QTest::newRow("points off the ellipse") << QPoint(100, 20) << QPoint(20, 5) << QVector<int> {1};
}

void TestCanvas::arcRunsCounterClockwise()
{
    QFETCH(QPoint, start);
    QFETCH(QPoint, end);
    QFETCH(QVector<int>, quadrants);
    Canvas c(41, 41);
    c.arc(0, 0, 41, 41, start.x(), start.y(), end.x(), end.y());
    QVector<int> seen;
    for (const QPoint &p : inked(c, WhiteRgb)) {
        const int dx = p.x() - 20, dy = p.y() - 20;
        if (dx == 0 || dy == 0)
            continue; // on a ray
        const int q = dx > 0 ? (dy < 0 ? 1 : 4) : (dy < 0 ? 2 : 3);
        if (!seen.contains(q))
            seen.append(q);
    }
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, quadrants);
    // The painted pixels lie on the outline of the ellipse of the same box.
    Canvas e(41, 41);
    e.setBrushStyle(Canvas::BrushStyle::Clear);
    e.ellipse(0, 0, 41, 41);
    for (const QPoint &p : inked(c, WhiteRgb))
        QCOMPARE(e.rgb(p.x(), p.y()), BlackRgb);
}

void TestCanvas::exclusiveOrTwiceRestores_data()
{
    QTest::addColumn<Figure>("figure");
    QTest::newRow("line") << Figure([](Canvas &c) {
        c.moveTo(3, 4);
        c.lineTo(57, 31);
    });
    QTest::newRow("wide line") << Figure([](Canvas &c) {
        c.setPenWidth(3);
        c.moveTo(3, 40);
        c.lineTo(57, 2);
    });
    QTest::newRow("width 2 line") << Figure([](Canvas &c) {
        c.setPenWidth(2);
        c.moveTo(-3, 10);
        c.lineTo(50, 13);
    });
    QTest::newRow("dotted line") << Figure([](Canvas &c) {
        c.setPenStyle(Canvas::PenStyle::Dot);
        c.moveTo(0, 0);
        c.lineTo(59, 44);
    });
    QTest::newRow("arc") << Figure([](Canvas &c) { c.arc(5, 5, 50, 40, 60, 10, 0, 40); });
    QTest::newRow("wide arc") << Figure([](Canvas &c) {
        c.setPenWidth(2);
        c.arc(5, 5, 51, 41, 55, 5, 5, 25);
    });
    QTest::newRow("huge arc") << Figure([](Canvas &c) { c.arc(-560, 10, 640, 3418, 136, 10, 40, 10); });
    QTest::newRow("ellipse") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Aqua);
        c.ellipse(10, 8, 47, 39);
    });
    QTest::newRow("wide ellipse") << Figure([](Canvas &c) {
        c.setPenWidth(3);
        c.setBrushColor(colors::Aqua);
        c.ellipse(-10, 8, 47, 39);
    });
    QTest::newRow("rectangle") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Red);
        c.rectangle(4, 4, 30, 20);
    });
    QTest::newRow("wide rectangle") << Figure([](Canvas &c) {
        c.setPenWidth(3);
        c.rectangle(4, 4, 70, 20);
    });
    QTest::newRow("polygon") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Red);
        c.polygon({{30, 30}, {35, 25}, {25, 25}});
    });
    QTest::newRow("crossed polygon") << Figure([](Canvas &c) {
        c.polygon({{0, 0}, {50, 40}, {50, 0}, {0, 40}});
    });
}

void TestCanvas::exclusiveOrTwiceRestores()
{
    QFETCH(Figure, figure);
    Canvas c = noisyCanvas(60, 45, 7);
    const QImage before = c.image().copy();
    c.setPenColor(QColor(80, 80, 80));
    c.setPenMode(Canvas::PenMode::Xor);
    figure(c);
    QVERIFY(c.image() != before);
    figure(c);
    QCOMPARE(c.image(), before);
}

// Each segment leaves its end to the next one, so in exclusive-or mode the
// joints of a polyline are inverted once, not twice (which would restore them).
void TestCanvas::exclusiveOrPolylinePaintsJointsOnce()
{
    Canvas c(40, 40);
    c.setPenMode(Canvas::PenMode::Xor);
    c.setPenColor(colors::Red);
    const std::vector<QPoint> points {{5, 5}, {20, 5}, {20, 30}, {8, 18}, {30, 18}};
    c.polyline(points);
    const QRgb inverted = 0x00ffff; // white XOR red
    for (size_t i = 0; i + 1 < points.size(); ++i)
        QCOMPARE(c.rgb(points[i].x(), points[i].y()), inverted);
    QCOMPARE(c.rgb(30, 18), WhiteRgb); // the last end is not painted
    QCOMPARE(c.rgb(20, 18), WhiteRgb); // a crossing is inverted by both segments
    for (const QPoint &p : inked(c, WhiteRgb))
        QCOMPARE(c.rgb(p.x(), p.y()), inverted);
    c.polyline(points);
    QVERIFY(inked(c, WhiteRgb).isEmpty());
}

// Setting a colour on a clear brush makes it solid again: shapes are filled
// and text stands on a box of that colour.
void TestCanvas::brushColourMakesTheBrushSolid()
{
    Canvas c(60, 40, colors::Silver);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setBrushColor(colors::Aqua);
    QCOMPARE(c.brushStyle(), Canvas::BrushStyle::Solid);
    c.rectangle(2, 2, 12, 12);
    QCOMPARE(c.rgb(6, 6), QRgb(0x00ffff));
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.ellipse(20, 2, 30, 12);
    QCOMPARE(c.rgb(25, 7), QRgb(0xc0c0c0));
    c.setBrushColor(colors::Red);
    c.ellipse(20, 2, 30, 12);
    QCOMPARE(c.rgb(25, 7), QRgb(0xff0000));
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setBrushColor(colors::White);
    c.textOut(2, 20, QStringLiteral("1"));
    QCOMPARE(c.rgb(2, 20), WhiteRgb);
}

// The leader arc of a large spine head: an ellipse of 1200 x 3408 pixels of
// which only a sliver crosses the raster.
void TestCanvas::hugeArcIsClippedAndExact()
{
    Canvas c(180, 270, colors::Silver);
    c.setPenColor(QColor(80, 80, 80));
    c.arc(-512, 82, 688, 3490, 184, 82, 88, 82);
    const QVector<QPoint> ink = inked(c, 0xc0c0c0);
    QVERIFY(!ink.isEmpty());
    int minY = 999, maxX = -1;
    for (const QPoint &p : ink) {
        minY = std::min(minY, p.y());
        maxX = std::max(maxX, p.x());
        QVERIFY(p.x() >= 88);
    }
    QCOMPARE(minY, 82);
    QCOMPARE(c.rgb(88, 82), QRgb(0x505050));
    QCOMPARE(maxX, 179); // it leaves the picture at its right edge
    // One pixel per column near the flat top: the curve is thin.
    for (int x = 120; x < 180; ++x) {
        int n = 0;
        for (int y = 0; y < 270; ++y)
            n += c.rgb(x, y) != 0xc0c0c0;
        QVERIFY2(n >= 1 && n <= 2, qPrintable(QString::number(x)));
    }
}

void TestCanvas::polygonFillAndOutline()
{
    Canvas c(40, 40);
    c.setBrushColor(colors::Red);
    c.polygon({{20, 24}, {25, 19}, {15, 19}});
    QCOMPARE(c.rgb(20, 24), BlackRgb);
    QCOMPARE(c.rgb(25, 19), BlackRgb);
    QCOMPARE(c.rgb(15, 19), BlackRgb);
    QCOMPARE(c.rgb(20, 20), QRgb(0xff0000));
    QCOMPARE(c.rgb(20, 25), WhiteRgb);
    QCOMPARE(c.rgb(20, 18), WhiteRgb);
    QCOMPARE(c.rgb(26, 19), WhiteRgb);
}

// Text is placed by the top-left corner of its cell.
void TestCanvas::textAtTopLeft()
{
    Canvas c(100, 50);
    c.setFontHeight(13);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(10, 20, QStringLiteral("Hg|"));
    const int h = c.textHeight(), w = c.textWidth(QStringLiteral("Hg|"));
    QVERIFY(h >= 13 && h <= 18);
    const QVector<QPoint> ink = inked(c, WhiteRgb);
    QVERIFY(!ink.isEmpty());
    int minY = 999, maxY = -1, minX = 999;
    for (const QPoint &p : ink) {
        QCOMPARE(c.rgb(p.x(), p.y()), BlackRgb); // crisp: no antialiasing
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
        minX = std::min(minX, p.x());
    }
    QVERIFY(minY >= 20 && minY <= 23);
    QVERIFY(maxY < 20 + h);
    QVERIFY(maxY >= 20 + h - 4); // the descender reaches the bottom of the cell
    QVERIFY(minX >= 10 && minX <= 12);
    QCOMPARE(c.penPos(), QPoint(10 + w, 20));
}

void TestCanvas::textBoxOnSolidBrush()
{
    Canvas c(100, 50);
    c.setBrushColor(colors::Silver);
    c.setFontColor(colors::Grey);
    c.textOut(5, 6, QStringLiteral("0.25"));
    const int h = c.textHeight(), w = c.textWidth(QStringLiteral("0.25"));
    QCOMPARE(c.rgb(5, 6), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(5 + w - 1, 6 + h - 1), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(5 + w, 6), WhiteRgb);
    QCOMPARE(c.rgb(5, 6 + h), WhiteRgb);
    QCOMPARE(c.rgb(4, 6), WhiteRgb);
    bool grey = false;
    for (int x = 5; x < 5 + w; ++x)
        for (int y = 6; y < 6 + h; ++y)
            grey = grey || c.rgb(x, y) == 0x808080;
    QVERIFY(grey);
}

// A vertical title runs up from its anchor within the band of its cell height;
// one longer than the anchor's y runs off the top and is clipped.
void TestCanvas::verticalTextRunsUpAndClips()
{
    Canvas c(60, 60);
    c.setFontHeight(13);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setFontColor(colors::Grey);
    const QString title = QStringLiteral("mmmmmmmmmmmmmmmmmmmm");
    DrawVerticalText(c, 20, 50, title);
    const int h = c.textHeight();
    const QVector<QPoint> ink = inked(c, WhiteRgb);
    QVERIFY(!ink.isEmpty());
    int minY = 999, maxY = -1;
    for (const QPoint &p : ink) {
        QVERIFY(p.x() >= 20 && p.x() < 20 + h);
        QVERIFY(p.y() < 50);
        QCOMPARE(c.rgb(p.x(), p.y()), QRgb(0x808080));
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    QVERIFY(minY <= 1); // runs off the top
    QVERIFY(maxY >= 45); // starts at the anchor

    // The rotated text is the upright text turned counter-clockwise.
    Canvas up(200, 20), rot(20, 200);
    up.setBrushStyle(Canvas::BrushStyle::Clear);
    rot.setBrushStyle(Canvas::BrushStyle::Clear);
    up.setFont(titleFont(11));
    rot.setFont(titleFont(11));
    up.textOut(0, 0, QStringLiteral("Vg"));
    DrawVerticalText(rot, 0, 200, QStringLiteral("Vg"));
    for (int u = 0; u < 200; ++u)
        for (int v = 0; v < 20; ++v)
            QCOMPARE(rot.rgb(v, 199 - u), up.rgb(u, v));
}

void TestCanvas::verticalTextRestoresFont()
{
    Canvas c(60, 60);
    QFont f = uiFont(13, true);
    f.setItalic(true);
    c.setFont(f);
    c.setFontColor(colors::Navy);
    DrawVerticalText(c, 5, 55, QStringLiteral("current (pA)"));
    QCOMPARE(c.font(), f);
    QCOMPARE(c.font().pixelSize(), 13);
    QVERIFY(c.font().bold());
    QVERIFY(c.font().italic());
    QCOMPARE(c.fontColor(), colors::Navy);
}

void TestCanvas::verticalTextInRegularFaceOfTheCanvasHeight_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::newRow("11 regular") << 11 << false << false;
    QTest::newRow("13 bold") << 13 << true << false;
    QTest::newRow("13 bold italic") << 13 << true << true;
    QTest::newRow("17 italic") << 17 << false << true;
}

// The rotated title takes the height of the canvas font but not its weight
// or slant: it is the upright title face of that height, turned.
void TestCanvas::verticalTextInRegularFaceOfTheCanvasHeight()
{
    QFETCH(int, height);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    const QString title = QStringLiteral("current (pA)");
    Canvas rot(30, 160);
    QFont f = uiFont(height, bold);
    f.setItalic(italic);
    rot.setFont(f);
    rot.setBrushStyle(Canvas::BrushStyle::Clear);
    DrawVerticalText(rot, 0, 160, title);

    auto upright = [&title](int h) {
        Canvas up(160, 30);
        up.setFont(titleFont(h));
        up.setBrushStyle(Canvas::BrushStyle::Clear);
        up.textOut(0, 0, title);
        return up;
    };
    const Canvas up = upright(height);
    for (int u = 0; u < 160; ++u)
        for (int v = 0; v < 30; ++v)
            QCOMPARE(rot.rgb(v, 159 - u), up.rgb(u, v));
    // A title of another height would look different.
    const Canvas other = upright(height + 2);
    bool differs = false;
    for (int u = 0; u < 160 && !differs; ++u)
        for (int v = 0; v < 30 && !differs; ++v)
            differs = rot.rgb(v, 159 - u) != other.rgb(u, v);
    QVERIFY(differs);
}

// With a solid brush the rotated title stands on a box of the brush colour
// that covers its turned cell.
void TestCanvas::verticalTextOnSolidBrush()
{
    Canvas c(40, 120, colors::Silver);
    c.setFontHeight(13);
    c.setBrushColor(colors::White);
    c.setFontColor(colors::Grey);
    const QString title = QStringLiteral("rate");
    DrawVerticalText(c, 10, 100, title);
    const int h = c.textHeight(), w = c.textWidth(title);
    QCOMPARE(c.rgb(10, 99), WhiteRgb);
    QCOMPARE(c.rgb(10 + h - 1, 100 - w), WhiteRgb);
    QCOMPARE(c.rgb(9, 99), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(10, 100), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(10 + h, 90), QRgb(0xc0c0c0));
    QCOMPARE(c.rgb(10, 99 - w), QRgb(0xc0c0c0));
    int grey = 0;
    for (int x = 10; x < 10 + h; ++x)
        for (int y = 100 - w; y < 100; ++y)
            grey += c.rgb(x, y) == 0x808080;
    QVERIFY(grey > 10);
}

void TestCanvas::drawCopiesWithClipping()
{
    Canvas src = noisyCanvas(10, 8, 3);
    Canvas dst(20, 20, colors::Silver);
    dst.draw(15, -2, src);
    for (int y = 0; y < 6; ++y)
        for (int x = 15; x < 20; ++x)
            QCOMPARE(dst.rgb(x, y), src.rgb(x - 15, y + 2));
    QCOMPARE(dst.rgb(14, 0), QRgb(0xc0c0c0));
    QCOMPARE(dst.rgb(15, 6), QRgb(0xc0c0c0));
}

void TestCanvas::clippingNeverCrashes()
{
    Canvas c(30, 20);
    const int big = 2000000000;
    for (int w : {1, 2, 3}) {
        c.setPenWidth(w);
        c.moveTo(-big, -big);
        c.lineTo(big, big);
        c.lineTo(-5, 25);
        c.moveTo(-100, 10);
        c.lineTo(100, 10);
        c.rectangle(-50, -50, 50, 50);
        c.ellipse(-1000, -1000, 1000, 1000);
        c.ellipse(-5, -5, 0, 0);
        c.arc(-100000, -3, 100000, 200000, 10, -3, 0, -3);
        c.polygon({{-100, -100}, {200, 5}, {5, 300}});
        c.polygon({});
        c.polygon({{3, 3}});
        c.fillRect(-10, -10, 100, 100);
        c.setBrushColor(colors::Red);
        c.textOut(-7, -5, QStringLiteral("clipped"));
        c.textOut(25, 15, QStringLiteral("clipped"));
        DrawVerticalText(c, -3, 10, QStringLiteral("clipped"));
        DrawVerticalText(c, 28, 100, QStringLiteral("clipped"));
        c.setPixel(-1, 0, colors::Red);
        c.setPixel(30, 20, colors::Red);
        c.draw(-5, 17, Canvas(10, 10));
    }
    QVERIFY(!c.pixel(30, 0).isValid());
    // The same drawing on the vector surface, scaled, neither crashes nor hangs.
    QImage image(120, 80, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.scale(4, 4);
    c.paintVector(painter, Canvas::VectorLines::Hairline);
}

void TestCanvas::vectorSurfaceDrawsTheSameGeometry_data()
{
    QTest::addColumn<Figure>("figure");
    QTest::addColumn<int>("tolerance"); // pixels that may differ
    // Qt's lines step through the same pixels but may round a diagonal's
    // halfway steps the other way (at most one pixel per row of a steep
    // edge, two with the fill beside it) and paint the end pixel the raster
    // leaves; axis-parallel shapes and pixels are exact.
    QTest::newRow("axes") << Figure([](Canvas &c) {
        c.polyline({{5, 5}, {5, 35}, {45, 35}});
        drawTicks(c, 5, 36, 10, 0, 5, 0, 3);
    }) << 6;
    QTest::newRow("diagonal") << Figure([](Canvas &c) { drawSegment(c, 3, 4, 44, 31); }) << 16;
    QTest::newRow("wide pen") << Figure([](Canvas &c) {
        c.setPenWidth(3);
        drawSegment(c, 5, 20, 40, 20);
        c.setPenWidth(2);
        drawSegment(c, 10, 5, 10, 35);
    }) << 10;
    QTest::newRow("rectangles") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Red);
        c.rectangle(4, 4, 20, 30);
        c.fillRect(25, 5, 40, 12);
        c.setBrushStyle(Canvas::BrushStyle::Clear);
        c.rectangle(24, 15, 44, 35);
    }) << 0;
    QTest::newRow("ellipse") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Aqua);
        c.ellipse(5, 5, 41, 33);
    }) << 40;
    QTest::newRow("arc") << Figure([](Canvas &c) { c.arc(5, 5, 41, 33, 40, 5, 5, 20); }) << 20;
    QTest::newRow("polygon") << Figure([](Canvas &c) {
        c.setBrushColor(colors::Navy);
        c.polygon({{5, 5}, {40, 10}, {20, 35}});
    }) << 60;
    QTest::newRow("pixels") << Figure([](Canvas &c) {
        for (int k = 0; k < 40; ++k)
            c.setPixel(k + 3, (k * 7) % 37, k % 2 ? colors::Red : colors::Silver);
    }) << 0;
    QTest::newRow("copy") << Figure([](Canvas &c) {
        Canvas inner(20, 15, colors::Silver);
        inner.setBrushColor(colors::Blue);
        inner.rectangle(2, 2, 30, 10);
        c.draw(10, 12, inner);
    }) << 0;
    // A picture edited in place many times: the vector drawing goes on from
    // the raster, exclusive-or drawing neither lost nor drawn twice.
    QTest::newRow("edited many times") << Figure([](Canvas &c) {
        c.setPenMode(Canvas::PenMode::Xor);
        c.setPenColor(colors::Aqua);
        for (int k = 0; k < 45000; ++k)
            drawSegment(c, k % 7, k % 40, 60, k % 40);
    }) << 0;
    QTest::newRow("wiped") << Figure([](Canvas &c) {
        drawSegment(c, 3, 4, 44, 31);
        ClearFrame(c, colors::Silver, 100, 100);
        drawSegment(c, 5, 30, 40, 30);
    }) << 2;
}

void TestCanvas::vectorSurfaceDrawsTheSameGeometry()
{
    QFETCH(Figure, figure);
    QFETCH(int, tolerance);
    Canvas c(48, 40);
    figure(c);
    QImage vector(c.width(), c.height(), QImage::Format_RGB32);
    vector.fill(Qt::green);
    {
        QPainter painter(&vector);
        c.paintVector(painter, Canvas::VectorLines::Hairline);
    }
    int differ = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            differ += (vector.pixel(x, y) & 0xffffff) != c.rgb(x, y);
    QVERIFY2(differ <= tolerance, qPrintable(QStringLiteral("%1 pixels differ").arg(differ)));
    // The drawing before a wipe is forgotten.
    if (QTest::currentDataTag() == QByteArray("wiped"))
        QCOMPARE(c.vectorRestarts(), 1ULL);
}

void TestCanvas::vectorSurfaceGoesOnFromAMark()
{
    // What is painted from a mark onto the picture of the drawing before it
    // gives the picture of the whole drawing: a window that repaints only
    // what was added shows what it would show painting it all.
    Canvas c(60, 50);
    const auto paint = [&c](QImage &image, Canvas::VectorMark from) {
        QPainter painter(&image);
        painter.scale(2, 2);
        return c.paintVector(painter, Canvas::VectorLines::Hairline, from);
    };
    QImage step(120, 100, QImage::Format_RGB32), whole = step;
    step.fill(Qt::green);
    Canvas::VectorMark mark = paint(step, {});
    c.beginTraces(2, colors::Blue);
    for (int k = 0; k < 30; ++k) {
        c.traceStep(
            {{QPoint(k, 40 - k), QPointF(k + 0.5, 40.2 - k)}, {QPoint(k, 3), QPointF(k + 0.5, 3.5 + k % 2)}});
        if (k % 3 == 0)
            c.lineTo(2 * k, 45 - k);
        else
            c.setPixel(2 * k, k, colors::Red);
        if (k == 15) {
            c.setBrushColor(colors::Navy);
            c.rectangle(40, 5, 55, 20);
            c.setPenMode(Canvas::PenMode::Xor);
            drawSegment(c, 0, 10, 59, 10);
            c.setPenMode(Canvas::PenMode::Copy);
        }
        mark = paint(step, mark);
    }
    whole.fill(Qt::green);
    paint(whole, {});
    QCOMPARE(step, whole);
}

void TestCanvas::tracesPaintOnePixelPerStep()
{
    // The raster of traces is the raster of their pixels set one by one,
    // whatever is drawn between the steps.
    Canvas traced(40, 30), pixels(40, 30);
    traced.beginTraces(2, colors::Navy);
    for (int k = -2; k < 42; ++k) {
        const QPoint a(k, 25 - k / 2), b(k, (k * k) % 31);
        traced.traceStep({{a, QPointF(k + 0.5, 25.3 - 0.5 * k)}, {b, QPointF(k + 0.5, b.y() + 0.5)}});
        pixels.setPixel(a.x(), a.y(), colors::Navy);
        pixels.setPixel(b.x(), b.y(), colors::Navy);
        if (k % 7 == 0) {
            for (Canvas *c : {&traced, &pixels}) {
                c->setPenColor(colors::Red);
                drawSegment(*c, k, 0, k, 4);
            }
        }
    }
    // A step short of points draws nothing; one beyond the curves is ignored.
    traced.traceStep({{QPoint(5, 5), QPointF(5.5, 5.5)}});
    traced.traceStep({{QPoint(6, 6), QPointF(6.5, 6.5)}, {QPoint(7, 7), QPointF(7.5, 7.5)},
        {QPoint(8, 8), QPointF(8.5, 8.5)}});
    pixels.setPixel(6, 6, colors::Navy);
    pixels.setPixel(7, 7, colors::Navy);
    QCOMPARE(traced.image(), pixels.image());
}

void TestCanvas::tracesAreLinesInTheVectorDrawing_data()
{
    QTest::addColumn<double>("jump"); // how far the second point lies below the first
    QTest::addColumn<int>("scale");
    QTest::newRow("steep, 4x") << 30.0 << 4;
    QTest::newRow("steep, 2x") << 30.0 << 2;
    QTest::newRow("steep, 1x") << 30.0 << 1;
    QTest::newRow("far beyond the figure") << 1e12 << 4;
}

void TestCanvas::tracesAreLinesInTheVectorDrawing()
{
    // Two points of a curve one step apart: the raster has two pixels, the
    // vector drawing a line joining them, one device pixel wide, at every
    // device row between them.
    QFETCH(double, jump);
    QFETCH(int, scale);
    Canvas c(20, 40);
    c.beginTraces(1, colors::Black);
    c.traceStep({{QPoint(5, 4), QPointF(5.5, 4.5)}});
    c.traceStep({{QPoint(6, 4 + int(std::min(jump, 1e6))), QPointF(6.5, 4.5 + jump)}});
    // Not finite: the curve stays where it was.
    c.traceStep({{QPoint(7, 4), QPointF(qQNaN(), 4.5)}});
    QCOMPARE(inked(c, WhiteRgb).size(), jump < 35 ? 3 : 2); // the second pixel in the figure or not
    QImage fine(20 * scale, 40 * scale, QImage::Format_RGB32);
    fine.fill(Qt::white);
    {
        QPainter painter(&fine);
        painter.scale(scale, scale);
        c.paintVector(painter, Canvas::VectorLines::Hairline);
    }
    const int lastRow = int(std::min(double(fine.height()), std::ceil((4.5 + jump) * scale))) - 1;
    for (int y = 5 * scale; y < lastRow - 1; ++y) {
        int ink = 0;
        for (int x = 0; x < fine.width(); ++x)
            ink += (fine.pixel(x, y) & 0xffffff) != WhiteRgb;
        QVERIFY2(ink >= 1 && ink <= 2, qPrintable(QStringLiteral("row %1: %2 inked").arg(y).arg(ink)));
    }
    // Nothing outside the columns of the two points' pixels (the third
    // point is nowhere): the line runs from x = 5.5 to 6.5.
    for (int y = 0; y < fine.height(); ++y)
        for (int x = 0; x < fine.width(); ++x)
            if (x < 5 * scale || x >= 7 * scale)
                QCOMPARE(fine.pixel(x, y) & 0xffffff, WhiteRgb);
}

void TestCanvas::pixelRunsAreOnePathEach()
{
    // A column of pixels of one colour and a row of another are drawn in the
    // vector drawing as the same pixels, by a few shapes: the SVG holds no
    // rectangle per pixel.
    Canvas c(60, 60);
    for (int y = 5; y < 55; ++y)
        c.setPixel(10, y, colors::Silver);
    for (int x = 12; x < 50; x += 2)
        c.setPixel(x, 20, colors::Red);
    c.setPixel(11, 20, colors::Red);
    c.setPixel(10, 20, colors::Blue); // over the column
    QImage vector(60, 60, QImage::Format_RGB32);
    vector.fill(Qt::white);
    {
        QPainter painter(&vector);
        c.paintVector(painter, Canvas::VectorLines::Scaled);
    }
    QCOMPARE(vector, c.image());
    int fills = 0;
    struct Counter : QPaintEngine {
        int *fills;
        explicit Counter(int *f)
            : QPaintEngine(QPaintEngine::AllFeatures)
            , fills(f)
        {
        }
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override { }
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { }
        void drawPath(const QPainterPath &) override { ++*fills; }
        void drawRects(const QRectF *, int count) override { *fills += count; }
        void drawRects(const QRect *, int count) override { *fills += count; }
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override { ++*fills; }
        Type type() const override { return QPaintEngine::User; }
    };
    struct Device : QPaintDevice {
        mutable Counter engine;
        explicit Device(int *f)
            : engine(f)
        {
        }
        QPaintEngine *paintEngine() const override { return &engine; }
        int metric(PaintDeviceMetric m) const override
        {
            return m == PdmWidth || m == PdmHeight ? 60
                : m == PdmDepth                    ? 32
                : m == PdmDevicePixelRatioScaled   ? 1 << 16
                                                   : 96;
        }
    } device(&fills);
    {
        QPainter painter(&device);
        c.paintVector(painter, Canvas::VectorLines::Scaled);
    }
    // The background, the column, the red pixels (runs of one where they
    // are apart, so one path) and the blue one.
    QVERIFY2(fills <= 5, qPrintable(QStringLiteral("%1 shapes").arg(fills)));
}

QTEST_MAIN(TestCanvas)
#include "tst_canvas.moc"
