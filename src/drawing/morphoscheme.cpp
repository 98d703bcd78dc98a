#include "drawing/morphoscheme.h"

#include "drawing/curves.h"
#include "model/rounding.h"

#include <QFontMetrics>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace cleftsim {

namespace {

// A yes/no map over the picture.
struct Region {
    int w, h;
    std::vector<uint8_t> bits;
    Region(int width, int height)
        : w(width)
        , h(height)
        , bits(size_t(width) * size_t(height), 0)
    {
    }
    bool at(int x, int y) const { return bits[size_t(y) * size_t(w) + size_t(x)] != 0; }
    void set(int x, int y, bool v = true) { bits[size_t(y) * size_t(w) + size_t(x)] = v ? 1 : 0; }
};

// Which sides of the picture a cell runs on beyond (no membrane there).
struct OpenSides {
    bool left = false, right = false, top = false, bottom = false;
};

// The pixels of a polygon filled by the canvas rules.
Region polygonRegion(const std::vector<QPoint> &points, int w, int h)
{
    Canvas scratch(w, h, colors::Black);
    scratch.setPenColor(colors::White);
    scratch.setBrushColor(colors::White);
    scratch.polygon(points);
    Region r(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.set(x, y, scratch.rgb(x, y) != 0);
    return r;
}

// Paints a cell: its outline black, a membrane band 4 pixels wide inside it,
// a second black outline and the interior. Depth is measured by a 3-4
// chamfer distance to the nearest pixel outside `body` (which may be larger
// than the painted `cell`, so that a neighbour lying inside the cell's body
// gets no membrane of this cell).
void paintCell(Canvas &c, const Region &cell, const Region &body, OpenSides open)
{
    const int w = cell.w, h = cell.h, W = w + 2, H = h + 2;
    const int Far = 1 << 20;
    std::vector<int> d(size_t(W) * size_t(H), Far);
    auto D = [&](int x, int y) -> int & { return d[size_t(y + 1) * size_t(W) + size_t(x + 1)]; };
    for (int y = -1; y <= h; ++y)
        for (int x = -1; x <= w; ++x) {
            bool inside;
            if (x >= 0 && y >= 0 && x < w && y < h)
                inside = body.at(x, y);
            else
                inside = (x < 0 && open.left) || (x >= w && open.right) || (y < 0 && open.top)
                    || (y >= h && open.bottom);
            D(x, y) = inside ? Far : 0;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int &v = D(x, y);
            v = std::min({v, D(x - 1, y) + 3, D(x, y - 1) + 3, D(x - 1, y - 1) + 4, D(x + 1, y - 1) + 4});
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            int &v = D(x, y);
            v = std::min({v, D(x + 1, y) + 3, D(x, y + 1) + 3, D(x + 1, y + 1) + 4, D(x - 1, y + 1) + 4});
        }
    const int band = 3 + 4 * 3; // the outline and four membrane pixels
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!cell.at(x, y))
                continue;
            const int v = D(x, y);
            QColor col = morpho::Interior;
            if (v <= 3)
                col = colors::Black;
            else if (v <= band)
                col = morpho::Membrane;
            else if (D(x - 1, y) <= band || D(x + 1, y) <= band || D(x, y - 1) <= band || D(x, y + 1) <= band)
                col = colors::Black;
            c.setPixel(x, y, col);
        }
}

QFont labelFont()
{
    QFont f = uiFont(11);
    f.setItalic(true);
    return f;
}

// Angle convention of the spine head: phi from straight down towards the right.
QPoint headPoint(double r, double phi)
{
    return QPoint(morpho::HeadX + Round(r * std::sin(phi)), morpho::HeadY + Round(r * std::cos(phi)));
}

void drawLeaderArc(Canvas &c, int Rh)
{
    const Box b = leaderArcBox(Rh);
    c.setPenColor(morpho::Leader);
    c.setPenWidth(1);
    c.setPenStyle(Canvas::PenStyle::Solid);
    c.setPenMode(Canvas::PenMode::Xor);
    c.arc(b.x1, b.y1, b.x2, b.y2, 184, 132 - Rh, 88, 132 - Rh);
}

} // namespace

int spineHeadRadius(int N)
{
    if (N <= 2)
        return 15;
    if (N <= 10)
        return 5 * N;
    return 50;
}

double leaderRho(int Rh)
{
    const double s = 0.2 * double(Rh) * double(Rh);
    return 0.5 * (s * s / (Rh + 25.0) + 25.0 + Rh);
}

int leaderHalfWidth(int Rh)
{
    return Round(880.0 * leaderRho(Rh) / (double(Rh) * double(Rh)));
}

Box spineHeadBox(int Rh)
{
    return {morpho::HeadX - Rh, morpho::HeadY - Rh, morpho::HeadX + Rh, morpho::HeadY + Rh};
}

Box leaderArcBox(int Rh)
{
    const int a = leaderHalfWidth(Rh);
    return {88 - a, 132 - Rh, 88 + a, 132 - Rh + Round(2.0 * leaderRho(Rh))};
}

void drawMorphoBase(Canvas &c)
{
    using morpho::Height;
    using morpho::Width;
    c.clear(colors::Silver);

    // The dendrite band and the spine rising from it with a small head.
    Region dendrite(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const bool band = y >= 230 && y <= 266;
            const bool neck = x >= 75 && x <= 100 && y >= 129 && y < 230;
            const double dx = x - morpho::HeadX, dy = y - morpho::HeadY;
            const bool head = dx * dx + dy * dy <= 15.5 * 15.5;
            dendrite.set(x, y, band || neck || head);
        }

    // The axon and the pear-shaped bouton.
    const std::vector<QPointF> outline = {
        {101, -30},
        {101, 0},
        {101, 20},
        {103, 40},
        {112, 50},
        {129, 60},
        {158, 100},
        {172, 140},
        {175, 160},
        {169, 200},
        {162, 220},
        {142, 227},
        {112, 228},
        {64, 228},
        {34, 227},
        {13, 220},
        {6, 200},
        {0, 160},
        {3, 140},
        {17, 100},
        {46, 60},
        {63, 50},
        {72, 40},
        {74, 20},
        {74, 0},
        {74, -30},
    };
    const Region bouton = polygonRegion(smoothClosedCurve(outline, 12), Width, Height);
    Region boutonBody = bouton;
    for (size_t i = 0; i < boutonBody.bits.size(); ++i)
        boutonBody.bits[i] |= dendrite.bits[i];
    OpenSides axonUp;
    axonUp.top = true;
    paintCell(c, bouton, boutonBody, axonUp);

    OpenSides across;
    across.left = across.right = across.bottom = true;
    paintCell(c, dendrite, dendrite, across);
    c.setPenColor(colors::Black);
    c.setPenWidth(1);
    c.moveTo(0, 266);
    c.lineTo(Width, 266);

    // Labels.
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setFontColor(morpho::Label);
    const QFont font = labelFont();
    c.setFont(font);
    c.textOutRotated(81, 38, QStringLiteral("axon"), font);
    c.textOutRotated(16, 214, QStringLiteral("axonal"), font);
    c.textOutRotated(29, 214, QStringLiteral("bouton"), font);
    c.textOut(122, 193, QStringLiteral("synaptic"));
    c.textOut(131, 205, QStringLiteral("cleft"));
    c.textOut(16, 244, QStringLiteral("dendrite"));

    // Leader lines: the pointer to the cleft, the bouton leader and the
    // spine-interior leader that runs down to the lower right corner.
    c.setPenColor(morpho::Label);
    c.moveTo(129, 212);
    c.lineTo(101, 222);
    c.setBrushColor(morpho::Label);
    c.ellipse(87, 64, 89, 66);
    c.moveTo(88, 65);
    c.lineTo(Width, 65);
    c.moveTo(88, 129);
    c.lineTo(108, 193);
    const QPointF p0(108, 193), p1(118, 232), p2(Width, 258);
    for (int i = 1; i <= 24; ++i) {
        const double t = i / 24.0;
        const QPointF q = (1 - t) * (1 - t) * p0 + 2 * (1 - t) * t * p1 + t * t * p2;
        c.lineTo(Round(q.x()), Round(q.y()));
    }
    c.setBrushStyle(Canvas::BrushStyle::Clear);
}

void drawSpineWord(Canvas &c)
{
    c.clear(morpho::Interior);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.setFontColor(morpho::Label);
    const QFont font = labelFont();
    const QFontMetrics fm(font);
    const int length = fm.horizontalAdvance(QStringLiteral("spine"));
    const int cell = fm.ascent() + fm.descent();
    // Centred in the picture, reading upwards.
    c.textOutRotated(
        (c.width() - cell) / 2, c.height() - (c.height() - length) / 2, QStringLiteral("spine"), font);
}

SpineHead SpineHeadPaint(Canvas &c, int N)
{
    const int cx = morpho::HeadX, cy = morpho::HeadY;
    c.setPenWidth(1);
    c.setPenStyle(Canvas::PenStyle::Solid);
    c.setPenMode(Canvas::PenMode::Copy);

    // 1. Wipe the disc of radius 60 around the head centre.
    c.setPenColor(morpho::Interior);
    c.setBrushColor(morpho::Interior);
    c.ellipse(28, 69, 148, 189);
    // 2.-4. The head radius and the depth at which the outer neck walls meet it.
    c.setPenColor(colors::Black);
    const int Rh = spineHeadRadius(N);
    const int ho = Round(Rh * std::cos(std::asin(12.0 / Rh)));
    // 5. The head with its membrane.
    c.setBrushColor(morpho::Membrane);
    c.ellipse(cx - Rh, cy - Rh, cx + Rh, cy + Rh);
    // 6.-7. The head interior.
    const int Rm = Rh - 5;
    const int hi = Round(Rm * std::cos(std::asin(7.0 / Rm)));
    c.setBrushColor(morpho::Interior);
    c.ellipse(cx - Rm, cy - Rm, cx + Rm, cy + Rm);
    // 8. Active zones, evenly round the head with a gap at the neck.
    const double spacing = 2 * M_PI / (N + 1);
    const double zone = N <= 10 ? spacing : 2 * M_PI / 11;
    const int Ra = Rh - 6;
    c.setPenWidth(2);
    for (int i = 1; i <= N; ++i) {
        const double theta = i * spacing;
        const QPoint from = headPoint(Ra, theta - zone / 4), to = headPoint(Ra, theta + zone / 4);
        c.arc(cx - Ra, cy - Ra, cx + Ra + 1, cy + Ra + 1, from.x(), from.y(), to.x(), to.y());
    }
    // 9. Five vesicles by each zone.
    c.setPenWidth(1);
    for (int i = 1; i <= N; ++i) {
        const double theta = i * spacing;
        c.setBrushColor(morpho::Membrane);
        const QPoint centres[] = {headPoint(Ra + 13, theta - zone / 12),
            headPoint(Ra + 13, theta + zone / 12), headPoint(Ra + 9, theta),
            headPoint(Ra + 9, theta - zone / 6), headPoint(Ra + 9, theta + zone / 6)};
        for (const QPoint &p : centres)
            c.ellipse(p.x() - 2, p.y() - 2, p.x() + 2, p.y() + 2);
        c.setBrushColor(morpho::Interior);
    }
    // 10. The neck joint.
    c.setPenColor(colors::Black);
    c.polyline({{80, 128 + hi}, {80, 189}});
    c.polyline({{95, 128 + hi}, {95, 189}});
    c.polyline({{75, 128 + ho}, {75, 189}});
    c.polyline({{100, 128 + ho}, {100, 189}});
    c.setPenColor(morpho::Interior);
    c.rectangle(81, 128 + hi, 95, 189);
    c.setPenColor(morpho::Membrane);
    c.setBrushColor(morpho::Membrane);
    c.rectangle(76, 128 + ho, 80, 189);
    c.rectangle(96, 128 + ho, 100, 189);
    // 11. The dot on top of the head where the cleft leader starts.
    c.setPenColor(morpho::Mark);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.ellipse(87, 131 - Rh, 89, 133 - Rh);
    // 12. The cleft leader, exclusive-or so that it can be taken away again.
    const SpineHead head {Rh, leaderRho(Rh)};
    drawLeaderArc(c, Rh);
    // 13. The dot at the head centre and the start of the spine-interior leader.
    c.setPenMode(Canvas::PenMode::Copy);
    c.setPenColor(morpho::Mark);
    c.ellipse(87, 128, 89, 130);
    c.moveTo(88, 129);
    c.lineTo(108, 193);
    return head;
}

void eraseCleftLeader(Canvas &c, int Rh)
{
    drawLeaderArc(c, Rh);
    c.setPenMode(Canvas::PenMode::Copy);
}

} // namespace cleftsim
