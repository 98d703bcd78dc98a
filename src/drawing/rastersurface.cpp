#include "drawing/rastersurface.h"

#include "drawing/canvas.h"

#include <QFontMetrics>
#include <QPainter>

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

// Where pixel (u, v) of an upright text cell lands: the cell's top-left
// corner at `at`, or the cell turned by 90 degrees counter-clockwise so that
// the text runs up from `at`.
struct GlyphPlace {
    QPoint at;
    bool rotated = false;
    QPoint operator()(int u, int v) const
    {
        return rotated ? QPoint(at.x() + v, at.y() - 1 - u) : QPoint(at.x() + u, at.y() + v);
    }
};

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
QRegion maskInk(const QImage &mask, int margin, const GlyphPlace &place)
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

QFont crispFont(const QFont &font)
{
    QFont f = font;
    f.setStyleStrategy(QFont::NoAntialias);
    f.setKerning(false);
    return f;
}

RasterSurface::RasterSurface(int width, int height, const QColor &fill)
    : m_image(std::max(0, width), std::max(0, height), QImage::Format_RGB32)
{
    m_image.fill(fill);
}

void RasterSurface::plot(int x, int y, QRgb color, bool exclusiveOr)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
    if (exclusiveOr)
        line[x] = ((line[x] ^ color) & 0xffffff) | 0xff000000;
    else
        line[x] = color | 0xff000000;
}

QRect RasterSurface::fill(const QRect &box, QRgb colour)
{
    const QRect r = box & rect();
    const QRgb c = colour | 0xff000000;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(m_image.scanLine(y));
        std::fill(line + r.left(), line + r.right() + 1, c);
    }
    return r;
}

int RasterSurface::line(const QPoint &from, const QPoint &to, const PenAndBrush &tools, int dotPhase)
{
    const int x = to.x(), y = to.y();
    const int w = tools.penWidth;
    const QRect raster = rect();
    if (w == 1) {
        const long long steps
            = std::max(std::llabs((long long)x - from.x()), std::llabs((long long)y - from.y()));
        const bool opaqueGaps = tools.dotted && tools.filled && !tools.exclusiveOr;
        walkLine(from.x(), from.y(), x, y, raster, [&](int px, int py, long long i) {
            if (!tools.dotted || (dotPhase + i) % (DotOn + DotOff) < DotOn)
                plot(px, py, tools.pen, tools.exclusiveOr);
            else if (opaqueGaps)
                plot(px, py, tools.brush, false);
        });
        return int((dotPhase + steps) % (DotOn + DotOff));
    }
    // A wide line: the nib stamped along the width-1 path, each pixel once.
    const QRect bounds = raster.adjusted(-nibHigh(w), -nibHigh(w), -nibLow(w), -nibLow(w));
    QRect box = QRect(QPoint(std::min(from.x(), x), std::min(from.y(), y)),
        QPoint(std::max(from.x(), x), std::max(from.y(), y)))
                    .adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w));
    PixelMask mask(box & raster);
    walkLine(from.x(), from.y(), x, y, bounds, [&](int px, int py, long long) { mask.addNib(px, py, w); });
    mask.forEach([&](int px, int py) { plot(px, py, tools.pen, tools.exclusiveOr); });
    return dotPhase;
}

QRect RasterSurface::rectangle(const QRect &box, const PenAndBrush &tools)
{
    const int l = box.left(), r = box.right(), t = box.top(), b = box.bottom();
    const int w = tools.penWidth;
    const QRect raster = rect();
    PixelMask pen(box.adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & raster);
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
    if (tools.filled) {
        const QRect inside = QRect(QPoint(l + 1, t + 1), QPoint(r - 1, b - 1)) & raster;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                if (!pen.has(x, y))
                    plot(x, y, tools.brush, tools.exclusiveOr);
    }
    pen.forEach([&](int x, int y) { plot(x, y, tools.pen, tools.exclusiveOr); });
    return pen.area();
}

QRect RasterSurface::ellipse(const QRect &box, const PenAndBrush &tools)
{
    const EllipseRaster e(box.left(), box.top(), box.right() + 1, box.bottom() + 1);
    const int w = tools.penWidth;
    const int yFirst = std::max(e.top(), -w), yLast = std::min(e.bottom(), height() + w);
    PixelMask pen(box.adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & rect());
    for (int y = yFirst; y <= yLast; ++y)
        e.outlineRow(y, [&](int xl, int xr, int yy) {
            if (w == 1) {
                pen.addSpan(xl, xr, yy);
                return;
            }
            for (int x = std::max(xl, -w); x <= std::min(xr, width() + w); ++x)
                pen.addNib(x, yy, w);
        });
    if (tools.filled) {
        for (int y = std::max(e.top(), 0); y <= std::min(e.bottom(), height() - 1); ++y) {
            int xl, xr;
            if (!e.row(y, xl, xr))
                continue;
            for (int x = std::max(xl, 0); x <= std::min(xr, width() - 1); ++x)
                if (!pen.has(x, y))
                    plot(x, y, tools.brush, tools.exclusiveOr);
        }
    }
    pen.forEach([&](int x, int y) { plot(x, y, tools.pen, tools.exclusiveOr); });
    return pen.area();
}

QRect RasterSurface::arc(
    const QRect &box, const QPoint &from, const QPoint &to, const PenAndBrush &tools, ArcAngles &angles)
{
    const EllipseRaster e(box.left(), box.top(), box.right() + 1, box.bottom() + 1);
    const double start = screenAngle(from.x(), from.y(), e.cx(), e.cy());
    const double end = screenAngle(to.x(), to.y(), e.cx(), e.cy());
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
    const int w = tools.penWidth;
    const QRect raster = rect();
    const QRect reach = raster.adjusted(-nibHigh(w), -nibHigh(w), -nibLow(w), -nibLow(w));
    PixelMask pen(box.adjusted(nibLow(w), nibLow(w), nibHigh(w), nibHigh(w)) & raster);
    const int yFirst = std::max(e.top(), reach.top()), yLast = std::min(e.bottom(), reach.bottom());
    for (int y = yFirst; y <= yLast; ++y)
        e.outlineRow(y, [&](int xl, int xr, int yy) {
            for (int x = std::max(xl, reach.left()); x <= std::min(xr, reach.right()); ++x)
                if (inside(x, yy))
                    pen.addNib(x, yy, w);
        });
    pen.forEach([&](int x, int y) { plot(x, y, tools.pen, tools.exclusiveOr); });
    angles.start = int(std::lround(start * 180.0 / M_PI * 16.0));
    angles.span = whole ? 360 * 16 : int(std::lround(span * 180.0 / M_PI * 16.0));
    return pen.area();
}

QRect RasterSurface::polygon(const std::vector<QPoint> &points, const PenAndBrush &tools)
{
    const int w = tools.penWidth;
    const QRect raster = rect();
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
    if (tools.filled && n >= 3) {
        // Even-odd fill over pixel centres, crossings counted on half-open edges.
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
                        plot(x, y, tools.brush, tools.exclusiveOr);
            }
        }
    }
    pen.forEach([&](int x, int y) { plot(x, y, tools.pen, tools.exclusiveOr); });
    return pen.area();
}

QRegion RasterSurface::text(const QFont &font, const QString &text, const QPoint &at, bool rotated, QRgb ink)
{
    int margin = 0;
    const QImage mask = textMask(font, text, margin);
    const GlyphPlace place {at, rotated};
    for (int v = 0; v < mask.height(); ++v) {
        const QRgb *line = reinterpret_cast<const QRgb *>(mask.constScanLine(v));
        for (int u = 0; u < mask.width(); ++u) {
            if (line[u] & 0xffffff) {
                const QPoint p = place(u - margin, v - margin);
                plot(p.x(), p.y(), ink, false);
            }
        }
    }
    return maskInk(mask, margin, place);
}

void RasterSurface::fillRotatedCell(const QPoint &at, int w, int h, QRgb brush)
{
    // Upright pixel (u, v) of the cell lands on (x + v, y - 1 - u).
    for (int u = 0; u < w; ++u)
        for (int v = 0; v < h; ++v)
            plot(at.x() + v, at.y() - 1 - u, brush, false);
}

QRect RasterSurface::copy(const QPoint &at, const QImage &source)
{
    const int x = at.x(), y = at.y();
    const QRect target = QRect(x, y, source.width(), source.height()) & rect();
    for (int ty = target.top(); ty <= target.bottom(); ++ty) {
        const QRgb *from = reinterpret_cast<const QRgb *>(source.constScanLine(ty - y));
        QRgb *to = reinterpret_cast<QRgb *>(m_image.scanLine(ty));
        for (int tx = target.left(); tx <= target.right(); ++tx)
            to[tx] = from[tx - x] | 0xff000000;
    }
    return target;
}

QRegion textInk(const QFont &font, int x, int y, const QString &text, bool rotated)
{
    if (text.isEmpty())
        return {};
    int margin = 0;
    const QImage mask = textMask(crispFont(font), text, margin);
    return maskInk(mask, margin, GlyphPlace {QPoint(x, y), rotated});
}

} // namespace cleftsim
