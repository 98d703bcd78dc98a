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
    plot(x, y, c.rgb(), false);
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

template <class Place> void Canvas::plotText(const QFont &font, const QString &text, Place place)
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
}

void Canvas::textOut(int x, int y, const QString &text)
{
    const QFont font = crispFont(m_font);
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(text), h = fm.ascent() + fm.descent();
    if (m_brushStyle == BrushStyle::Solid)
        fillRect(x, y, x + w, y + h);
    if (!text.isEmpty())
        plotText(font, text, [x, y](int u, int v) { return QPoint(x + u, y + v); });
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
    if (!text.isEmpty())
        plotText(font, text, [x, y](int u, int v) { return QPoint(x + v, y - 1 - u); });
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
