#include "drawing/glyphs.h"

#include "drawing/canvas.h"
#include "drawing/curves.h"
#include "model/rounding.h"

#include <QPixmap>

#include <cmath>

namespace cleftsim {

namespace {

// The colour that becomes transparent when a drawing is turned into a glyph.
const QColor Key(255, 0, 255);

QImage withTransparentKey(const Canvas &c)
{
    QImage out = c.image().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = Key.rgb() & 0xffffff;
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if ((line[x] & 0xffffff) == key)
                line[x] = 0;
    }
    return out;
}

void line(Canvas &c, int x1, int y1, int x2, int y2)
{
    c.moveTo(x1, y1);
    c.lineTo(x2, y2);
}

// The application icon in a 64-unit design space, drawn at `size` pixels.
QImage iconImage(int size)
{
    // Draw at four times the size and reduce, for smooth small icons.
    const int big = size * 4;
    const double s = big / 64.0;
    auto P = [s](double x, double y) { return QPointF(x * s, y * s); };
    auto R = [s](double v) { return Round(v * s); };
    Canvas c(big, big, Key);
    c.setPenWidth(std::max(1, R(1.5)));

    // Ground: a silver tile with a grey edge.
    c.setPenColor(colors::Grey);
    c.setBrushColor(colors::Silver);
    auto scaled = [&](std::initializer_list<QPointF> points) {
        std::vector<QPoint> out;
        for (const QPointF &p : points)
            out.push_back(QPoint(R(p.x()), R(p.y())));
        return out;
    };
    c.polygon(scaled({{5, 2}, {59, 2}, {62, 5}, {62, 59}, {59, 62}, {5, 62}, {2, 59}, {2, 5}}));

    // The dendrite along the bottom.
    c.setPenColor(colors::Grey);
    c.setBrushColor(QColor(208, 208, 208));
    std::vector<QPoint> dendrite = smoothOpenCurve({P(3, 50), P(32, 47), P(61, 50)}, 8);
    for (const QPoint &p : scaled({{61, 59}, {59, 61}, {5, 61}, {3, 59}}))
        dendrite.push_back(p);
    c.polygon(dendrite);

    // The bouton: the axon from the top widening into a navy dome.
    c.setPenColor(colors::Navy);
    c.setBrushColor(colors::Navy);
    c.polygon(smoothClosedCurve({P(27, 1), P(37, 1), P(38, 8), P(50, 14), P(57, 26), P(56, 38), P(50, 45),
                                    P(32, 45), P(14, 45), P(8, 38), P(7, 26), P(14, 14), P(26, 8)},
        8));
    // The cleft round the spine head.
    c.setPenColor(colors::Silver);
    c.setBrushColor(colors::Silver);
    c.ellipse(R(17), R(19), R(47), R(49));
    c.rectangle(R(24), R(34), R(40), R(50));

    // The spine rising from the dendrite with its head.
    c.setPenColor(colors::Grey);
    c.setBrushColor(QColor(208, 208, 208));
    c.rectangle(R(26), R(34), R(38), R(52));
    c.ellipse(R(20), R(22), R(44), R(46));
    c.setPenColor(QColor(208, 208, 208));
    c.rectangle(R(26) + c.penWidth(), R(40), R(38) - c.penWidth(), R(52) + c.penWidth());

    // Red vesicles above the head and the active zone on it.
    c.setPenColor(colors::Red);
    c.setBrushColor(colors::Red);
    const double cx = 32, cy = 34;
    for (int i = 0; i < 5; ++i) {
        const double phi = M_PI * (0.2 + 0.15 * i);
        const double x = cx - 18.5 * std::cos(phi), y = cy - 18.5 * std::sin(phi);
        c.ellipse(R(x - 2.4), R(y - 2.4), R(x + 2.4), R(y + 2.4));
    }
    c.setPenWidth(std::max(1, R(2.5)));
    c.arc(R(21), R(23), R(43), R(45), R(44), R(26), R(20), R(26));

    const QImage image = withTransparentKey(c);
    return image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QImage duplicateGlyph(bool enabled)
{
    Canvas c(16, 16, Key);
    const QColor outline = enabled ? colors::Black : colors::Grey;
    c.setPenColor(outline);
    c.setBrushColor(enabled ? colors::Aqua : colors::Silver);
    c.rectangle(0, 0, 7, 7);
    c.setBrushColor(enabled ? colors::Red : colors::Silver);
    c.rectangle(9, 9, 16, 16);
    // The arrow from the first square down to the level of the second.
    line(c, 3, 7, 3, 14);
    line(c, 0, 11, 4, 15);
    line(c, 6, 11, 2, 15);
    return withTransparentKey(c);
}

QImage saveGlyph(bool enabled)
{
    Canvas c(16, 16, Key);
    const QColor body = enabled ? colors::Navy : colors::Grey;
    c.setPenColor(enabled ? colors::Black : colors::Grey);
    c.setBrushColor(body);
    c.polygon({{0, 0}, {14, 0}, {15, 1}, {15, 15}, {0, 15}});
    // The label at the bottom and the shutter at the top.
    c.setBrushColor(colors::White);
    c.rectangle(3, 9, 13, 16);
    c.setPenColor(enabled ? colors::Grey : colors::Silver);
    line(c, 5, 11, 11, 11);
    line(c, 5, 13, 11, 13);
    c.setPenColor(enabled ? colors::Black : colors::Grey);
    c.setBrushColor(colors::Silver);
    c.rectangle(4, 0, 12, 6);
    c.setBrushColor(body);
    c.rectangle(9, 1, 11, 5);
    return withTransparentKey(c);
}

QImage copyWindowIcon()
{
    Canvas c(32, 32, colors::Black);
    // A white sheet on the black ground.
    c.setPenColor(colors::White);
    c.setBrushColor(colors::White);
    c.rectangle(3, 3, 29, 29);
    // The frozen figure in red outline: a frame, axes and a trace, with a
    // second sheet behind it.
    c.setPenColor(colors::Red);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.rectangle(9, 5, 27, 21);
    c.setBrushColor(colors::White);
    c.rectangle(5, 9, 23, 27);
    line(c, 8, 12, 8, 24);
    line(c, 8, 24, 21, 24);
    c.polyline({{9, 22}, {11, 21}, {12, 16}, {13, 13}, {14, 16}, {15, 20}, {17, 22}, {21, 23}});
    return c.image().copy();
}

QImage programPicture()
{
    Canvas c(190, 146, colors::White);
    c.setPenColor(colors::Black);
    c.setBrushStyle(Canvas::BrushStyle::Clear);

    // The dendrite: a band along the bottom, from which the spine rises.
    c.setPenWidth(2);
    c.polyline(smoothOpenCurve({{-2, 116}, {40, 112}, {80, 113}}, 8));
    c.polyline(smoothOpenCurve({{108, 113}, {150, 112}, {192, 116}}, 8));
    c.polyline(smoothOpenCurve({{-2, 140}, {60, 138}, {130, 139}, {192, 137}}, 8));

    // The spine: neck and head.
    c.polyline(smoothOpenCurve({{80, 113}, {86, 108}, {87, 92}, {82, 84}, {78, 70}, {84, 56}, {95, 51}}, 6));
    c.polyline(
        smoothOpenCurve({{95, 51}, {106, 56}, {112, 70}, {108, 84}, {103, 92}, {104, 108}, {108, 113}}, 6));

    // The bouton wrapped round the head, a cleft's width away, with the axon.
    c.polyline(smoothOpenCurve(
        {{86, -2}, {86, 10}, {64, 18}, {40, 36}, {32, 62}, {38, 88}, {56, 102}, {74, 104}, {80, 94}, {73, 82},
            {70, 68}, {76, 52}, {95, 45}, {114, 52}, {120, 68}, {117, 82}, {110, 94}, {116, 104}, {134, 102},
            {152, 88}, {158, 62}, {150, 36}, {126, 18}, {104, 10}, {104, -2}},
        8));
    c.setPenWidth(1);

    // The postsynaptic density on the head and the active zone facing it.
    c.setPenWidth(3);
    c.arc(76, 52, 115, 91, 112, 56, 78, 56);
    c.setPenWidth(1);
    c.arc(70, 45, 121, 96, 116, 50, 74, 50);

    // Vesicles, a few of them opening into the cleft.
    c.setBrushColor(colors::White);
    const int vesicles[][2]
        = {{80, 36}, {92, 33}, {104, 35}, {115, 40}, {68, 44}, {122, 52}, {86, 25}, {99, 23}, {60, 56},
            {130, 64}, {56, 72}, {52, 88}, {134, 80}, {72, 28}, {114, 27}, {62, 32}, {124, 34}, {48, 50},
            {140, 48}, {44, 70}, {145, 70}, {66, 92}, {126, 92}, {75, 20}, {138, 88}, {58, 42}};
    for (const auto &v : vesicles)
        c.ellipse(v[0] - 4, v[1] - 4, v[0] + 5, v[1] + 5);
    c.ellipse(89, 42, 97, 47); // a vesicle fusing with the membrane
    return c.image().copy();
}

QImage applicationIconImage(int size)
{
    return iconImage(std::max(8, size));
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(iconImage(size)));
    return icon;
}

} // namespace cleftsim
