#include "drawing/canvas.h"

#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace cleftsim {

namespace {

constexpr int DotOn = 3; // pixels painted by a dotted pen
constexpr int DotOff = 3; // pixels skipped (or painted with the background)

// Floor of a / b for b > 0, without overflow for any int coordinates.
long long floorDiv(__int128 a, __int128 b)
{
    __int128 q = a / b;
    if ((a % b != 0) && (a < 0))
        --q;
    return static_cast<long long>(q);
}

int clampToInt(long long v)
{
    return static_cast<int>(
        std::clamp<long long>(v, std::numeric_limits<int>::min() / 2, std::numeric_limits<int>::max() / 2));
}

// Offsets of the square nib of a pen of width w.
int nibLow(int w)
{
    return -((w - 1) / 2);
}
int nibHigh(int w)
{
    return w / 2;
}

// The pixels of one drawing operation inside an area of the raster, each at
// most once, so that exclusive-or drawing paints every pixel exactly once.
class PixelMask {
public:
    explicit PixelMask(const QRect &area)
        : m_area(area)
        , m_bits(area.isEmpty() ? 0 : size_t(area.width()) * size_t(area.height()), 0)
    {
    }

    const QRect &area() const { return m_area; }

    void add(int x, int y)
    {
        if (m_area.contains(x, y))
            m_bits[index(x, y)] = 1;
    }

    // Adds the pixels x1..x2 of row y.
    void addSpan(int x1, int x2, int y)
    {
        if (y < m_area.top() || y > m_area.bottom())
            return;
        x1 = std::max(x1, m_area.left());
        x2 = std::min(x2, m_area.right());
        for (int x = x1; x <= x2; ++x)
            m_bits[index(x, y)] = 1;
    }

    // Adds the nib of a pen of width w centred on (x, y).
    void addNib(int x, int y, int w)
    {
        for (int dy = nibLow(w); dy <= nibHigh(w); ++dy)
            addSpan(x + nibLow(w), x + nibHigh(w), y + dy);
    }

    bool has(int x, int y) const { return m_area.contains(x, y) && m_bits[index(x, y)] != 0; }

    template <typename F> void forEach(F f) const
    {
        for (int y = m_area.top(); y <= m_area.bottom(); ++y)
            for (int x = m_area.left(); x <= m_area.right(); ++x)
                if (m_bits[index(x, y)])
                    f(x, y);
    }

private:
    size_t index(int x, int y) const
    {
        return size_t(y - m_area.top()) * size_t(m_area.width()) + size_t(x - m_area.left());
    }

    QRect m_area;
    std::vector<uint8_t> m_bits;
};

// Calls f(x, y, i) for the pixels of the width-1 line from (x0, y0) towards
// (x1, y1), the start painted and the end not, i the step from the start.
// Only steps whose pixel can lie within `bounds` are visited.
template <typename F> void walkLine(int x0, int y0, int x1, int y1, const QRect &bounds, F f)
{
    const long long dx = (long long)x1 - x0, dy = (long long)y1 - y0;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const long long n = xMajor ? std::llabs(dx) : std::llabs(dy);
    if (n == 0)
        return;
    const long long dMajor = xMajor ? dx : dy, dMinor = xMajor ? dy : dx;
    const int sMajor = dMajor > 0 ? 1 : -1, sMinor = dMinor >= 0 ? 1 : -1;
    const long long m = std::llabs(dMinor);
    const long long start = xMajor ? x0 : y0, minor0 = xMajor ? y0 : x0;
    const long long lo = xMajor ? bounds.left() : bounds.top();
    const long long hi = xMajor ? bounds.right() : bounds.bottom();
    // Steps whose major coordinate lies in lo..hi.
    long long iFirst, iLast;
    if (sMajor > 0) {
        iFirst = lo - start;
        iLast = hi - start;
    } else {
        iFirst = start - hi;
        iLast = start - lo;
    }
    iFirst = std::max(iFirst, 0LL);
    iLast = std::min(iLast, n - 1);
    for (long long i = iFirst; i <= iLast; ++i) {
        const long long off = floorDiv(__int128(2) * m * i + n, __int128(2) * n);
        const long long major = start + sMajor * i, minor = minor0 + sMinor * off;
        const int px = clampToInt(xMajor ? major : minor), py = clampToInt(xMajor ? minor : major);
        f(px, py, i);
    }
}

// The ellipse inscribed in a box: pixel rows and their outline spans.
class EllipseRaster {
public:
    EllipseRaster(int x1, int y1, int x2, int y2)
    {
        m_left = std::min(x1, x2);
        m_right = std::max(x1, x2) - 1;
        m_top = std::min(y1, y2);
        m_bottom = std::max(y1, y2) - 1;
        m_cx = 0.5 * (double(m_left) + double(m_right));
        m_cy = 0.5 * (double(m_top) + double(m_bottom));
        m_a = 0.5 * (double(m_right) - double(m_left) + 1.0);
        m_b = 0.5 * (double(m_bottom) - double(m_top) + 1.0);
    }

    bool empty() const { return m_right < m_left || m_bottom < m_top; }
    int top() const { return m_top; }
    int bottom() const { return m_bottom; }
    double cx() const { return m_cx; }
    double cy() const { return m_cy; }

    // The pixels xl..xr of row y inside the ellipse; false if none.
    bool row(int y, int &xl, int &xr) const
    {
        if (empty() || y < m_top || y > m_bottom)
            return false;
        const double dy = double(y) - m_cy;
        if (std::fabs(dy) <= 0.5) {
            // The middle row(s) reach the sides of the box.
            xl = m_left;
            xr = m_right;
            return true;
        }
        const double t = 1.0 - (dy / m_b) * (dy / m_b);
        const double hx = t > 0 ? m_a * std::sqrt(t) : 0.0;
        const double eps = 1e-9;
        double l = std::ceil(m_cx - hx - eps), r = std::floor(m_cx + hx + eps);
        if (l > r) {
            // Every row of the box holds at least the middle pixel(s).
            l = std::floor(m_cx);
            r = std::ceil(m_cx);
        }
        xl = int(std::max(l, double(m_left)));
        xr = int(std::min(r, double(m_right)));
        return true;
    }

    // Calls f(xl, xr, y) for the outline spans of row y (at most two, disjoint):
    // the pixels of the row that have a 4-neighbour outside the ellipse.
    template <typename F> void outlineRow(int y, F f) const
    {
        int xl, xr;
        if (!row(y, xl, xr))
            return;
        int al, ar, bl, br;
        const bool above = row(y - 1, al, ar), below = row(y + 1, bl, br);
        if (!above || !below) {
            f(xl, xr, y);
            return;
        }
        const int il = std::max({xl + 1, al, bl}), ir = std::min({xr - 1, ar, br});
        if (il > ir) {
            f(xl, xr, y);
            return;
        }
        f(xl, il - 1, y);
        f(ir + 1, xr, y);
    }

private:
    int m_left, m_right, m_top, m_bottom;
    double m_cx, m_cy, m_a, m_b;
};

// Angle of (x, y) around (cx, cy), counter-clockwise on the screen, in [0, 2pi).
double screenAngle(double x, double y, double cx, double cy)
{
    double a = std::atan2(cy - y, x - cx);
    if (a < 0)
        a += 2 * M_PI;
    return a;
}

QRect rasterRect(const QImage &image)
{
    return QRect(0, 0, image.width(), image.height());
}

// Renders text upright in a font, without antialiasing, into a mask image:
// ink pixels are non-black. The cell's top-left corner is at (margin, margin).
QImage textMask(const QFont &font, const QString &text, int &margin)
{
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(text), h = fm.ascent() + fm.descent();
    margin = h; // room for overhanging glyphs (italics, bearings)
    QImage mask(w + 2 * margin, h + 2 * margin, QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter p(&mask);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(margin, margin + fm.ascent(), text);
    return mask;
}

// The ink of a text mask, pixel (u, v) of the upright cell at place(u, v).
template <class Place> QRegion maskInk(const QImage &mask, int margin, Place place)
{
    QRegion ink;
    for (int v = 0; v < mask.height(); ++v) {
        const QRgb *line = reinterpret_cast<const QRgb *>(mask.constScanLine(v));
        for (int u = 0; u < mask.width();) {
            if (!(line[u] & 0xffffff)) {
                ++u;
                continue;
            }
            int end = u;
            while (end < mask.width() && (line[end] & 0xffffff))
                ++end;
            // The run's two ends, wherever place puts them.
            ink += QRect(place(u - margin, v - margin), place(end - 1 - margin, v - margin)).normalized();
            u = end;
        }
    }
    return ink;
}

} // namespace

QFont uiFont(int pixelHeight, bool bold)
{
    // DejaVu Sans Condensed keeps its digits apart when drawn without
    // antialiasing at the small heights of the figures; Liberation Sans runs
    // neighbouring zeros together there.
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
        QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, pixelHeight));
    f.setBold(bold);
    return f;
}

QFont titleFont(int pixelHeight)
{
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
        QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, pixelHeight));
    f.setWeight(QFont::Normal);
    return f;
}

QFont condensedFont(int pixelHeight)
{
    QFont f(QStringLiteral("Nimbus Sans Narrow"));
    f.setFamilies({QStringLiteral("Nimbus Sans Narrow"), QStringLiteral("Liberation Sans Narrow"),
        QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, pixelHeight));
    return f;
}

Canvas::Canvas(int width, int height, const QColor &fill)
    : m_image(std::max(0, width), std::max(0, height), QImage::Format_RGB32)
    , m_font(uiFont(11))
{
    m_image.fill(fill);
    VectorOp &op = record(VectorOp::Fill);
    op.filled = true;
    op.brush = fill.rgb();
    op.points = {QPoint(0, 0), QPoint(width, height)};
}

void Canvas::setBrushColor(const QColor &c)
{
    m_brushColor = c;
    m_brushStyle = BrushStyle::Solid;
}

void Canvas::setFontHeight(int pixels)
{
    m_font.setPixelSize(std::max(1, pixels));
}

void Canvas::clear(const QColor &c)
{
    m_image.fill(c);
    restartIfCovered(rasterRect(m_image));
    VectorOp &op = record(VectorOp::Fill);
    op.filled = true;
    op.brush = c.rgb();
    op.points = {QPoint(0, 0), QPoint(width(), height())};
    changed(rasterRect(m_image));
}

void Canvas::plot(int x, int y, QRgb color, bool exclusiveOr)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
    if (exclusiveOr)
        line[x] = ((line[x] ^ color) & 0xffffff) | 0xff000000;
    else
        line[x] = color | 0xff000000;
}

void Canvas::setPixel(int x, int y, const QColor &c)
{
    setPixel(x, y, c.rgb());
}

void Canvas::setPixel(int x, int y, QRgb c)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    plot(x, y, c, false);
    recordPixel(x, y, c);
}

void Canvas::beginTraces(int curves, const QColor &colour)
{
    m_traceColour = colour.rgb();
    m_traceLast.assign(std::size_t(std::max(0, curves)), QPointF());
    m_traceStarted = false;
    m_traceOpen = false;
}

Canvas::VectorOp &Canvas::traceOp()
{
    if (m_traceOpen && m_traceRestarts == m_restarts && m_traceOp + 1 == m_record.size()
        && m_record.back().kind == VectorOp::Traces)
        return m_record.back();
    VectorOp &op = record(VectorOp::Traces);
    m_traceOpen = op.kind == VectorOp::Traces; // not when the record went on from its raster
    if (!m_traceOpen)
        return op;
    op.exclusiveOr = false;
    op.dotted = false;
    op.filled = false;
    op.penWidth = 1;
    op.pen = m_traceColour;
    op.curves = int(m_traceLast.size());
    if (m_traceStarted)
        op.trace = m_traceLast; // the curves go on from where they were
    m_traceOp = m_record.size() - 1;
    m_traceRestarts = m_restarts;
    return op;
}

void Canvas::traceStep(std::initializer_list<TracePoint> step)
{
    const std::size_t n = m_traceLast.size();
    if (n == 0 || step.size() < n)
        return;
    // Far beyond the figure a point only gives its line's direction; kept
    // within reach of a painter's coordinates.
    constexpr double Reach = 1 << 20;
    const auto within = [](double v, double size) { return std::clamp(v, -Reach, size + Reach); };
    auto it = step.begin();
    for (std::size_t i = 0; i < n; ++i, ++it) {
        const QPoint pixel = it->pixel;
        if (pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < width() && pixel.y() < height())
            plot(pixel.x(), pixel.y(), m_traceColour, false);
        changed(QRect(pixel, QSize(1, 1)));
        QPointF at = it->at;
        if (!std::isfinite(at.x()) || !std::isfinite(at.y())) {
            // A point nowhere: the curve stays where it was, or starts at its pixel.
            if (m_traceStarted)
                continue;
            at = QPointF(pixel) + QPointF(0.5, 0.5);
        }
        // A quarter of a pixel is finer than any picture drawn from it
        // shows, and keeps the points of a drawing short.
        at = QPointF(
            std::round(4 * within(at.x(), width())) / 4, std::round(4 * within(at.y(), height())) / 4);
        if (m_traceStarted)
            changed(QRectF(m_traceLast[i], at).normalized().toAlignedRect().adjusted(-1, -1, 1, 1));
        m_traceLast[i] = at;
    }
    VectorOp &op = traceOp();
    if (op.kind == VectorOp::Traces)
        op.trace.insert(op.trace.end(), m_traceLast.begin(), m_traceLast.end());
    m_traceStarted = true;
}

QColor Canvas::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return QColor();
    return QColor(m_image.pixel(x, y));
}

void Canvas::moveTo(int x, int y)
{
    m_penPos = QPoint(x, y);
    m_dotPhase = 0;
}

void Canvas::lineTo(int x, int y)
{
    const QPoint from = m_penPos;
    const QRgb pen = m_penColor.rgb();
    const bool exclusiveOr = m_penMode == PenMode::Xor;
    const int w = std::max(1, m_penWidth);
    const QRect raster = rasterRect(m_image);
    const long long steps
        = std::max(std::llabs((long long)x - from.x()), std::llabs((long long)y - from.y()));
    if (w == 1) {
        const bool dotted = m_penStyle == PenStyle::Dot;
        const bool opaqueGaps = dotted && m_brushStyle == BrushStyle::Solid && !exclusiveOr;
        const QRgb gap = m_brushColor.rgb();
        const int phase = m_dotPhase;
        walkLine(from.x(), from.y(), x, y, raster, [&](int px, int py, long long i) {
            if (!dotted || (phase + i) % (DotOn + DotOff) < DotOn)
                plot(px, py, pen, exclusiveOr);
            else if (opaqueGaps)
                plot(px, py, gap, false);
        });
        m_dotPhase = int((phase + steps) % (DotOn + DotOff));
    } else {
        // A wide line: the nib stamped along the width-1 path, each pixel once.
        const QRect bounds = raster.adjusted(-nibHigh(w), -nibHigh(w), -nibLow(w), -nibLow(w));
        QRect box = QRect(QPoint(std::min(from.x(), x), std::min(from.y(), y)),
            QPoint(std::max(from.x(), x), std::max(from.y(), y)))
                        .adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w));
        PixelMask mask(box & raster);
        walkLine(
            from.x(), from.y(), x, y, bounds, [&](int px, int py, long long) { mask.addNib(px, py, w); });
        mask.forEach([&](int px, int py) { plot(px, py, pen, exclusiveOr); });
    }
    recordLine(from, QPoint(x, y));
    m_penPos = QPoint(x, y);
}

void Canvas::polyline(const std::vector<QPoint> &points)
{
    if (points.empty())
        return;
    moveTo(points[0].x(), points[0].y());
    for (size_t i = 1; i < points.size(); ++i)
        lineTo(points[i].x(), points[i].y());
}

void Canvas::fillRect(int x1, int y1, int x2, int y2)
{
    if (m_brushStyle == BrushStyle::Clear)
        return;
    const QRect r = QRect(QPoint(std::min(x1, x2), std::min(y1, y2)),
                        QPoint(std::max(x1, x2) - 1, std::max(y1, y2) - 1))
        & rasterRect(m_image);
    if (r.isEmpty())
        return;
    const QRgb c = m_brushColor.rgb() | 0xff000000;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
        std::fill(line + r.left(), line + r.right() + 1, c);
    }
    restartIfCovered(r);
    VectorOp &op = record(VectorOp::Fill);
    op.exclusiveOr = false;
    op.points = {r.topLeft(), r.bottomRight() + QPoint(1, 1)};
    changed(r);
}

void Canvas::rectangle(int x1, int y1, int x2, int y2)
{
    const int l = std::min(x1, x2), r = std::max(x1, x2) - 1, t = std::min(y1, y2), b = std::max(y1, y2) - 1;
    if (r < l || b < t)
        return;
    const int w = std::max(1, m_penWidth);
    const QRect raster = rasterRect(m_image);
    PixelMask pen(
        QRect(QPoint(l, t), QPoint(r, b)).adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & raster);
    auto addBorder = [&](int x, int y) { pen.addNib(x, y, w); };
    // The border pixels within reach of the raster.
    const int cl = std::max(l, -w), cr = std::min(r, width() + w), ct = std::max(t, -w),
              cb = std::min(b, height() + w);
    for (int x = cl; x <= cr; ++x) {
        addBorder(x, t);
        addBorder(x, b);
    }
    for (int y = ct; y <= cb; ++y) {
        addBorder(l, y);
        addBorder(r, y);
    }
    const bool exclusiveOr = m_penMode == PenMode::Xor;
    if (m_brushStyle == BrushStyle::Solid) {
        const QRect inside = QRect(QPoint(l + 1, t + 1), QPoint(r - 1, b - 1)) & raster;
        const QRgb brush = m_brushColor.rgb();
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                if (!pen.has(x, y))
                    plot(x, y, brush, exclusiveOr);
    }
    const QRgb c = m_penColor.rgb();
    pen.forEach([&](int x, int y) { plot(x, y, c, exclusiveOr); });
    if (m_brushStyle == BrushStyle::Solid && !exclusiveOr)
        restartIfCovered(QRect(QPoint(l, t), QPoint(r, b)));
    record(VectorOp::Rectangle).points = {QPoint(l, t), QPoint(r, b)};
    changed(pen.area());
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    const EllipseRaster e(x1, y1, x2, y2);
    if (e.empty())
        return;
    const int w = std::max(1, m_penWidth);
    const QRect raster = rasterRect(m_image);
    const int yFirst = std::max(e.top(), -w), yLast = std::min(e.bottom(), height() + w);
    QRect box(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2) - 1, std::max(y1, y2) - 1));
    PixelMask pen(box.adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & raster);
    for (int y = yFirst; y <= yLast; ++y)
        e.outlineRow(y, [&](int xl, int xr, int yy) {
            if (w == 1) {
                pen.addSpan(xl, xr, yy);
                return;
            }
            for (int x = std::max(xl, -w); x <= std::min(xr, width() + w); ++x)
                pen.addNib(x, yy, w);
        });
    const bool exclusiveOr = m_penMode == PenMode::Xor;
    if (m_brushStyle == BrushStyle::Solid) {
        const QRgb brush = m_brushColor.rgb();
        for (int y = std::max(e.top(), 0); y <= std::min(e.bottom(), height() - 1); ++y) {
            int xl, xr;
            if (!e.row(y, xl, xr))
                continue;
            for (int x = std::max(xl, 0); x <= std::min(xr, width() - 1); ++x)
                if (!pen.has(x, y))
                    plot(x, y, brush, exclusiveOr);
        }
    }
    const QRgb c = m_penColor.rgb();
    pen.forEach([&](int x, int y) { plot(x, y, c, exclusiveOr); });
    record(VectorOp::Ellipse).points = {box.topLeft(), box.bottomRight()};
    changed(pen.area());
}

void Canvas::arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    const EllipseRaster e(x1, y1, x2, y2);
    if (e.empty())
        return;
    const double start = screenAngle(x3, y3, e.cx(), e.cy());
    const double end = screenAngle(x4, y4, e.cx(), e.cy());
    double span = end - start;
    if (span <= 0)
        span += 2 * M_PI;
    const bool whole = start == end; // the same ray: the whole ellipse
    auto inside = [&](int x, int y) {
        if (whole)
            return true;
        double d = screenAngle(x, y, e.cx(), e.cy()) - start;
        if (d < 0)
            d += 2 * M_PI;
        return d <= span;
    };
    const int w = std::max(1, m_penWidth);
    const QRect raster = rasterRect(m_image);
    const QRect reach = raster.adjusted(-nibHigh(w), -nibHigh(w), -nibLow(w), -nibLow(w));
    QRect box(QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2) - 1, std::max(y1, y2) - 1));
    PixelMask pen(box.adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & raster);
    const int yFirst = std::max(e.top(), reach.top()), yLast = std::min(e.bottom(), reach.bottom());
    for (int y = yFirst; y <= yLast; ++y)
        e.outlineRow(y, [&](int xl, int xr, int yy) {
            for (int x = std::max(xl, reach.left()); x <= std::min(xr, reach.right()); ++x)
                if (inside(x, yy))
                    pen.addNib(x, yy, w);
        });
    const QRgb c = m_penColor.rgb();
    const bool exclusiveOr = m_penMode == PenMode::Xor;
    pen.forEach([&](int x, int y) { plot(x, y, c, exclusiveOr); });
    VectorOp &op = record(VectorOp::Arc);
    op.points = {box.topLeft(), box.bottomRight()};
    op.startAngle = int(std::lround(start * 180.0 / M_PI * 16.0));
    op.spanAngle = whole ? 360 * 16 : int(std::lround(span * 180.0 / M_PI * 16.0));
    changed(pen.area());
}

void Canvas::polygon(const std::vector<QPoint> &points)
{
    if (points.empty())
        return;
    const int w = std::max(1, m_penWidth);
    const QRect raster = rasterRect(m_image);
    int minX = points[0].x(), maxX = minX, minY = points[0].y(), maxY = minY;
    for (const QPoint &p : points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    const QRect box = QRect(QPoint(minX, minY), QPoint(maxX, maxY))
                          .adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w));
    PixelMask pen(box & raster);
    const QRect reach = raster.adjusted(-nibHigh(w), -nibHigh(w), -nibLow(w), -nibLow(w));
    const size_t n = points.size();
    for (size_t i = 0; i < n; ++i) {
        const QPoint a = points[i], b = points[(i + 1) % n];
        walkLine(a.x(), a.y(), b.x(), b.y(), reach, [&](int x, int y, long long) { pen.addNib(x, y, w); });
    }
    if (n == 1)
        pen.addNib(points[0].x(), points[0].y(), w);
    const bool exclusiveOr = m_penMode == PenMode::Xor;
    if (m_brushStyle == BrushStyle::Solid && n >= 3) {
        // Even-odd fill over pixel centres, crossings counted on half-open edges.
        const QRgb brush = m_brushColor.rgb();
        std::vector<double> xs;
        for (int y = std::max(minY, 0); y <= std::min(maxY, height() - 1); ++y) {
            xs.clear();
            for (size_t i = 0; i < n; ++i) {
                const QPoint a = points[i], b = points[(i + 1) % n];
                if (a.y() == b.y())
                    continue;
                const QPoint lo = a.y() < b.y() ? a : b, hi = a.y() < b.y() ? b : a;
                if (y < lo.y() || y >= hi.y())
                    continue;
                xs.push_back(lo.x() + double(y - lo.y()) * (hi.x() - lo.x()) / double(hi.y() - lo.y()));
            }
            std::sort(xs.begin(), xs.end());
            for (size_t k = 0; k + 1 < xs.size(); k += 2) {
                const int xl = std::max(0, int(std::ceil(xs[k]))),
                          xr = std::min(width() - 1, int(std::floor(xs[k + 1])));
                for (int x = xl; x <= xr; ++x)
                    if (!pen.has(x, y))
                        plot(x, y, brush, exclusiveOr);
            }
        }
    }
    const QRgb c = m_penColor.rgb();
    pen.forEach([&](int x, int y) { plot(x, y, c, exclusiveOr); });
    record(VectorOp::Polygon).points = points;
    changed(pen.area());
}

QFont Canvas::crispFont(const QFont &f) const
{
    QFont crisp = f;
    crisp.setStyleStrategy(QFont::NoAntialias);
    crisp.setKerning(false);
    return crisp;
}

int Canvas::textWidth(const QString &text) const
{
    return QFontMetrics(crispFont(m_font)).horizontalAdvance(text);
}

int Canvas::textHeight(const QString &) const
{
    const QFontMetrics fm(crispFont(m_font));
    return fm.ascent() + fm.descent();
}

template <class Place> QRegion Canvas::plotText(const QFont &font, const QString &text, Place place)
{
    int margin = 0;
    const QImage mask = textMask(font, text, margin);
    const QRgb ink = m_fontColor.rgb();
    for (int v = 0; v < mask.height(); ++v) {
        const QRgb *line = reinterpret_cast<const QRgb *>(mask.constScanLine(v));
        for (int u = 0; u < mask.width(); ++u) {
            if (line[u] & 0xffffff) {
                const QPoint at = place(u - margin, v - margin);
                plot(at.x(), at.y(), ink, false);
            }
        }
    }
    return maskInk(mask, margin, place);
}

void Canvas::textOut(int x, int y, const QString &text)
{
    const QFont font = crispFont(m_font);
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(text), h = fm.ascent() + fm.descent();
    if (m_brushStyle == BrushStyle::Solid)
        fillRect(x, y, x + w, y + h);
    if (!text.isEmpty()) {
        const QRegion ink = plotText(font, text, [x, y](int u, int v) { return QPoint(x + u, y + v); });
        VectorOp &op = record(VectorOp::Text);
        op.ink = ink;
        op.filled = false; // the box is a fill of its own
        op.points = {QPoint(x, y), QPoint(w, h)};
        op.text = text;
        op.font = font;
        op.pen = m_fontColor.rgb();
        changed(QRect(x - h, y - h, w + 2 * h, 3 * h));
    }
    m_penPos = QPoint(x + w, y);
}

void Canvas::textOutRotated(int x, int y, const QString &text, const QFont &f)
{
    const QFont font = crispFont(f);
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(text), h = fm.ascent() + fm.descent();
    // Upright pixel (u, v) of the cell lands on (x + v, y - 1 - u).
    if (m_brushStyle == BrushStyle::Solid) {
        const QRgb brush = m_brushColor.rgb();
        for (int u = 0; u < w; ++u)
            for (int v = 0; v < h; ++v)
                plot(x + v, y - 1 - u, brush, false);
    }
    QRegion ink;
    if (!text.isEmpty())
        ink = plotText(font, text, [x, y](int u, int v) { return QPoint(x + v, y - 1 - u); });
    VectorOp &op = record(VectorOp::RotatedText);
    op.ink = ink;
    op.points = {QPoint(x, y), QPoint(w, h)};
    op.text = text;
    op.font = font;
    op.pen = m_fontColor.rgb();
    changed(QRect(x - h, y - w - h, 3 * h, w + 2 * h));
}

void Canvas::draw(int x, int y, const Canvas &source)
{
    const QRect target = QRect(x, y, source.width(), source.height()) & rasterRect(m_image);
    for (int ty = target.top(); ty <= target.bottom(); ++ty) {
        const QRgb *from = reinterpret_cast<const QRgb *>(source.image().constScanLine(ty - y));
        QRgb *to = reinterpret_cast<QRgb *>(m_image.scanLine(ty));
        for (int tx = target.left(); tx <= target.right(); ++tx)
            to[tx] = from[tx - x] | 0xff000000;
    }
    if (target.isEmpty())
        return;
    restartIfCovered(target);
    VectorOp &op = record(VectorOp::Copy);
    op.points = {QPoint(x, y), QPoint(source.width(), source.height())};
    op.source = std::make_shared<const VectorOps>(source.m_record);
    changed(target);
}

Canvas::VectorOp &Canvas::record(VectorOp::Kind kind)
{
    if (m_record.size() >= MaxVectorOps) {
        // The raster holds this operation already: it goes on from there.
        m_record.clear();
        ++m_restarts;
        VectorOp &base = m_record.emplace_back();
        base.kind = VectorOp::Raster;
        base.raster = m_image;
        base.points = {QPoint(0, 0), QPoint(width(), height())};
        VectorOp &done = m_record.emplace_back();
        done.kind = VectorOp::Fill; // paints nothing: not filled
        return done;
    }
    VectorOp &op = m_record.emplace_back();
    op.kind = kind;
    op.exclusiveOr = m_penMode == PenMode::Xor;
    op.dotted = m_penStyle == PenStyle::Dot && m_penWidth <= 1;
    op.filled = m_brushStyle == BrushStyle::Solid;
    op.penWidth = std::max(1, m_penWidth);
    op.pen = m_penColor.rgb();
    op.brush = m_brushColor.rgb();
    return op;
}

void Canvas::recordLine(const QPoint &from, const QPoint &to)
{
    const QRgb pen = m_penColor.rgb(), brush = m_brushColor.rgb();
    if (!m_record.empty()) {
        // A line that goes on from the end of the last one, drawn alike,
        // extends its polyline (a dotted one keeps its phase, as here).
        VectorOp &last = m_record.back();
        if (last.kind == VectorOp::Lines && last.points.back() == from && last.pen == pen
            && last.penWidth == std::max(1, m_penWidth)
            && last.dotted == (m_penStyle == PenStyle::Dot && m_penWidth <= 1)
            && last.exclusiveOr == (m_penMode == PenMode::Xor)
            && last.filled == (m_brushStyle == BrushStyle::Solid) && last.brush == brush) {
            last.points.push_back(to);
            changed(QRect(from, to).normalized().adjusted(-m_penWidth, -m_penWidth, m_penWidth, m_penWidth));
            return;
        }
    }
    record(VectorOp::Lines).points = {from, to};
    changed(QRect(from, to).normalized().adjusted(-m_penWidth, -m_penWidth, m_penWidth, m_penWidth));
}

void Canvas::recordPixel(int x, int y, QRgb c)
{
    if (m_record.empty() || m_record.back().kind != VectorOp::Pixels)
        record(VectorOp::Pixels).exclusiveOr = false;
    VectorOp &op = m_record.back();
    op.points.emplace_back(x, y);
    op.colors.push_back(c);
    changed(QRect(x, y, 1, 1));
}

void Canvas::restartIfCovered(const QRect &covered)
{
    if (covered.contains(rasterRect(m_image))) {
        m_record.clear();
        ++m_restarts;
    }
}

void Canvas::changed(const QRect &r)
{
    m_changed |= r & rasterRect(m_image);
}

QRect Canvas::takeChanged()
{
    const QRect r = m_changed;
    m_changed = QRect();
    return r;
}

Canvas::VectorMark Canvas::vectorEnd() const
{
    if (m_record.empty())
        return {};
    // The last polyline and the last run of pixels may still grow.
    const VectorOp &last = m_record.back();
    if (last.kind == VectorOp::Lines)
        return {m_record.size() - 1, last.points.size() - 1};
    if (last.kind == VectorOp::Traces && last.curves > 0 && last.trace.size() >= std::size_t(last.curves))
        return {m_record.size() - 1, last.trace.size() / std::size_t(last.curves) - 1};
    if (last.kind == VectorOp::Pixels)
        return {m_record.size() - 1, last.points.size()};
    return {m_record.size(), 0};
}

Canvas::VectorMark Canvas::paintVector(QPainter &painter, VectorLines lines, VectorMark from) const
{
    painter.save();
    paintOps(painter, m_record, lines, from);
    painter.restore();
    return vectorEnd();
}

void Canvas::paintOps(QPainter &p, const VectorOps &ops, VectorLines lines, VectorMark from)
{
    // Raster operations exist only on raster devices; elsewhere an
    // exclusive-or drawing is drawn in its pen colour.
    const bool raster = p.paintEngine() && p.paintEngine()->type() == QPaintEngine::Raster;
    const double deviceScale = std::max(1e-9, std::sqrt(std::fabs(p.deviceTransform().determinant())));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    for (std::size_t i = from.op; i < ops.size(); ++i) {
        const VectorOp &op = ops[i];
        const std::size_t first = i == from.op ? from.item : 0;
        if (first > 0 && op.kind != VectorOp::Lines && op.kind != VectorOp::Pixels
            && op.kind != VectorOp::Traces)
            continue;
        p.setCompositionMode(op.exclusiveOr && raster ? QPainter::RasterOp_SourceXorDestination
                                                      : QPainter::CompositionMode_SourceOver);
        // The pen: a width-1 pen one device pixel wide or one unit; a wider
        // one as wide as its square nib, centred where the nib is.
        const bool hairline = lines == VectorLines::Hairline && op.penWidth == 1;
        QPen pen(QColor::fromRgb(op.pen), hairline ? 0.0 : double(op.penWidth), Qt::SolidLine, Qt::SquareCap,
            Qt::MiterJoin);
        if (op.dotted) {
            const double unit = hairline ? deviceScale : 1.0;
            pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern({3.0 * unit, 3.0 * unit});
        }
        p.setPen(pen);
        p.setBackgroundMode(op.dotted && op.filled && !op.exclusiveOr ? Qt::OpaqueMode : Qt::TransparentMode);
        p.setBackground(QColor::fromRgb(op.brush));
        p.setBrush(op.filled ? QBrush(QColor::fromRgb(op.brush)) : QBrush(Qt::NoBrush));
        const double c = op.penWidth % 2 == 0 ? 1.0 : 0.5; // the nib's centre within its pixel
        const auto centre = [c](const QPoint &q) { return QPointF(q.x() + c, q.y() + c); };
        const auto box = [&] { return QRectF(centre(op.points[0]), centre(op.points[1])); };
        switch (op.kind) {
        case VectorOp::Lines: {
            if (op.points.size() < first + 2)
                break;
            std::vector<QPointF> path;
            path.reserve(op.points.size() - first);
            for (std::size_t k = first; k < op.points.size(); ++k)
                path.push_back(centre(op.points[k]));
            p.drawPolyline(path.data(), int(path.size()));
            break;
        }
        case VectorOp::Traces: {
            // Each curve a polyline through its points, from the mark's step on.
            const std::size_t curves = std::size_t(std::max(1, op.curves));
            const std::size_t rows = op.trace.size() / curves;
            if (rows < first + 2)
                break;
            // A point on the straight line between its neighbours (a flat
            // stretch) adds nothing to the curve and is left out.
            std::vector<QPointF> path;
            for (std::size_t k = 0; k < curves; ++k) {
                path.clear();
                for (std::size_t r = first; r < rows; ++r) {
                    const QPointF q = op.trace[r * curves + k];
                    if (path.size() >= 2) {
                        const QPointF a = path[path.size() - 2], b = path.back();
                        const QPointF ab = b - a, bq = q - b;
                        if (ab.x() * bq.y() == ab.y() * bq.x() && QPointF::dotProduct(ab, bq) > 0)
                            path.back() = q;
                        else
                            path.push_back(q);
                    } else {
                        path.push_back(q);
                    }
                }
                p.drawPolyline(path.data(), int(path.size()));
            }
            break;
        }
        case VectorOp::Rectangle: p.drawRect(box()); break;
        case VectorOp::Fill:
            if (op.filled)
                p.fillRect(QRectF(op.points[0], op.points[1]), QColor::fromRgb(op.brush));
            break;
        case VectorOp::Ellipse: p.drawEllipse(box()); break;
        case VectorOp::Arc: p.drawArc(box(), op.startAngle, op.spanAngle); break;
        case VectorOp::Polygon: {
            std::vector<QPointF> corners;
            for (const QPoint &q : op.points)
                corners.push_back(centre(q));
            if (corners.size() >= 3)
                p.drawPolygon(corners.data(), int(corners.size()), Qt::OddEvenFill);
            else
                p.drawPolyline(corners.data(), int(corners.size()));
            break;
        }
        case VectorOp::Pixels: {
            // A run of pixels of one colour is one path (a cloud of trials
            // is one shape, not thousands), pixels one below the other or
            // side by side joined into one rectangle of it.
            std::size_t k = first;
            while (k < op.points.size()) {
                const QRgb colour = op.colors[k];
                QPainterPath path;
                path.setFillRule(Qt::WindingFill);
                QRect run(op.points[k], QSize(1, 1));
                for (++k; k < op.points.size() && op.colors[k] == colour; ++k) {
                    const QPoint q = op.points[k];
                    if (run.width() == 1 && q == run.bottomLeft() + QPoint(0, 1)) {
                        run.setBottom(q.y());
                    } else if (run.height() == 1 && q == run.topRight() + QPoint(1, 0)) {
                        run.setRight(q.x());
                    } else {
                        path.addRect(run);
                        run = QRect(q, QSize(1, 1));
                    }
                }
                path.addRect(run);
                p.fillPath(path, QColor::fromRgb(colour));
            }
            break;
        }
        case VectorOp::Text:
        case VectorOp::RotatedText: {
            p.save();
            p.translate(op.points[0]);
            if (op.kind == VectorOp::RotatedText)
                p.rotate(-90);
            const QSize cell(op.points[1].x(), op.points[1].y());
            if (op.filled)
                p.fillRect(QRect(QPoint(0, 0), cell), QColor::fromRgb(op.brush));
            // The face and size of the figure's font, drawn smooth.
            QFont font = op.font;
            font.setStyleStrategy(QFont::PreferDefault);
            p.setFont(font);
            p.setPen(QColor::fromRgb(op.pen));
            p.drawText(QPointF(0, QFontMetrics(op.font).ascent()), op.text);
            p.restore();
            break;
        }
        case VectorOp::Raster:
            p.drawImage(QRect(op.points[0], QSize(op.points[1].x(), op.points[1].y())), op.raster);
            break;
        case VectorOp::Copy:
            if (op.source) {
                p.save();
                p.translate(op.points[0]);
                p.setClipRect(
                    QRect(QPoint(0, 0), QSize(op.points[1].x(), op.points[1].y())), Qt::IntersectClip);
                paintOps(p, *op.source, lines, {});
                p.restore();
            }
            break;
        }
    }
}

QRegion textInk(const QFont &font, int x, int y, const QString &text, bool rotated)
{
    if (text.isEmpty())
        return {};
    QFont crisp = font;
    crisp.setStyleStrategy(QFont::NoAntialias);
    crisp.setKerning(false);
    int margin = 0;
    const QImage mask = textMask(crisp, text, margin);
    if (rotated)
        return maskInk(mask, margin, [x, y](int u, int v) { return QPoint(x + v, y - 1 - u); });
    return maskInk(mask, margin, [x, y](int u, int v) { return QPoint(x + u, y + v); });
}

std::vector<QRegion> Canvas::textInk() const
{
    std::vector<QRegion> ink;
    collectTextInk(m_record, QPoint(0, 0), QRect(), ink);
    return ink;
}

void Canvas::collectTextInk(const VectorOps &ops, QPoint offset, const QRect &clip, std::vector<QRegion> &ink)
{
    for (const VectorOp &op : ops) {
        if ((op.kind == VectorOp::Text || op.kind == VectorOp::RotatedText) && !op.ink.isEmpty()) {
            const QRegion moved = op.ink.translated(offset);
            if (clip.isNull())
                ink.push_back(moved);
            else if (moved.intersects(clip))
                ink.push_back(moved & clip);
        }
        if (op.kind == VectorOp::Copy && op.source) {
            const QPoint at = offset + op.points[0];
            QRect area(at, QSize(op.points[1].x(), op.points[1].y()));
            if (!clip.isNull())
                area &= clip;
            if (!area.isEmpty())
                collectTextInk(*op.source, at, area, ink);
        }
    }
}

void drawSegment(Canvas &canvas, int x1, int y1, int x2, int y2)
{
    canvas.moveTo(x1, y1);
    canvas.lineTo(x2, y2);
}

void drawTicks(Canvas &canvas, int x, int y, int dx, int dy, int count, int tx, int ty)
{
    for (int k = 0; k < count; ++k)
        drawSegment(canvas, x + k * dx, y + k * dy, x + k * dx + tx, y + k * dy + ty);
}

void ClearFrame(Canvas &canvas, const QColor &background, int width, int height)
{
    canvas.setPenStyle(Canvas::PenStyle::Solid);
    canvas.setPenMode(Canvas::PenMode::Copy);
    canvas.setPenWidth(1);
    canvas.setPenColor(background);
    canvas.setBrushColor(background);
    canvas.rectangle(0, 0, width, height);
    canvas.setPenColor(colors::Grey);
    canvas.setFontColor(colors::Grey);
    canvas.setBrushStyle(Canvas::BrushStyle::Clear);
}

void DrawVerticalText(Canvas &canvas, int x, int y, const QString &text)
{
    // The rotated face has the height of the canvas font; the canvas font
    // itself (face, height, style, colour) is left as it is.
    const QFont saved = canvas.font();
    const QColor savedColor = canvas.fontColor();
    int height = saved.pixelSize();
    if (height <= 0)
        height = qRound(saved.pointSizeF() * 96.0 / 72.0);
    canvas.textOutRotated(x, y, text, titleFont(height));
    canvas.setFont(saved);
    canvas.setFontColor(savedColor);
}

} // namespace cleftsim
