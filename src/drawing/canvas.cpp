#include "drawing/canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTransform>

#include <cmath>
#include <cstdlib>

namespace cleftsim {

QFont uiFont(int pixelHeight, bool bold)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight);
    f.setBold(bold);
    return f;
}

QFont titleFont(int pixelHeight)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelHeight);
    return f;
}

Canvas::Canvas(int width, int height, const QColor &fill)
    : m_image(width, height, QImage::Format_RGB32), m_font(uiFont(11))
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
    m_font.setPixelSize(pixels);
}

void Canvas::clear(const QColor &c)
{
    m_image.fill(c);
}

void Canvas::setPixel(int x, int y, const QColor &c)
{
    if (x >= 0 && y >= 0 && x < width() && y < height())
        m_image.setPixel(x, y, c.rgb());
}

QColor Canvas::pixel(int x, int y) const
{
    return QColor(m_image.pixel(x, y));
}

void Canvas::moveTo(int x, int y)
{
    m_penPos = QPoint(x, y);
}

void Canvas::lineTo(int x, int y)
{
    // Bresenham from the pen position; the end point is not painted.
    int x0 = m_penPos.x(), y0 = m_penPos.y();
    const int dx = std::abs(x - x0), sx = x0 < x ? 1 : -1;
    const int dy = -std::abs(y - y0), sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    const QRgb pen = m_penColor.rgb();
    int n = 0;
    while (!(x0 == x && y0 == y)) {
        const bool on = m_penStyle == PenStyle::Solid || (n % 2) == 0;
        if (on && x0 >= 0 && y0 >= 0 && x0 < width() && y0 < height()) {
            if (m_penMode == PenMode::Xor)
                m_image.setPixel(x0, y0, (m_image.pixel(x0, y0) ^ pen) | 0xff000000);
            else
                m_image.setPixel(x0, y0, pen);
        }
        ++n;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
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
    QPainter p(&m_image);
    p.fillRect(QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1)), m_brushColor);
}

void Canvas::rectangle(int x1, int y1, int x2, int y2)
{
    if (m_brushStyle == BrushStyle::Solid)
        fillRect(x1, y1, x2, y2);
    moveTo(x1, y1);
    lineTo(x2 - 1, y1);
    lineTo(x2 - 1, y2 - 1);
    lineTo(x1, y2 - 1);
    lineTo(x1, y1);
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    QPainter p(&m_image);
    p.setPen(QPen(m_penColor, m_penWidth));
    p.setBrush(m_brushStyle == BrushStyle::Solid ? QBrush(m_brushColor) : QBrush());
    p.drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
}

void Canvas::arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    QPainter p(&m_image);
    if (m_penMode == PenMode::Xor)
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(QPen(m_penColor, m_penWidth));
    const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
    const double a1 = std::atan2(cy - y3, x3 - cx) * 180 / M_PI;
    double a2 = std::atan2(cy - y4, x4 - cx) * 180 / M_PI;
    double span = a2 - a1;
    while (span <= 0)
        span += 360;
    p.drawArc(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1), int(a1 * 16), int(span * 16));
}

void Canvas::polygon(const std::vector<QPoint> &points)
{
    QPainter p(&m_image);
    p.setPen(QPen(m_penColor, m_penWidth));
    p.setBrush(m_brushStyle == BrushStyle::Solid ? QBrush(m_brushColor) : QBrush());
    p.drawPolygon(points.data(), int(points.size()));
}

int Canvas::textWidth(const QString &text) const
{
    return QFontMetrics(m_font).horizontalAdvance(text);
}

int Canvas::textHeight(const QString &) const
{
    return QFontMetrics(m_font).height();
}

void Canvas::textOut(int x, int y, const QString &text)
{
    QPainter p(&m_image);
    p.setFont(m_font);
    QFontMetrics fm(m_font);
    if (m_brushStyle == BrushStyle::Solid)
        p.fillRect(QRect(x, y, fm.horizontalAdvance(text), fm.height()), m_brushColor);
    p.setPen(m_fontColor);
    p.drawText(x, y + fm.ascent(), text);
    m_penPos = QPoint(x + fm.horizontalAdvance(text), y);
}

void Canvas::draw(int x, int y, const Canvas &source)
{
    QPainter p(&m_image);
    p.drawImage(x, y, source.image());
}

void DrawVerticalText(Canvas &canvas, int x, int y, const QString &text)
{
    const QFont saved = canvas.font();
    QFont rotated = titleFont(saved.pixelSize() > 0 ? saved.pixelSize() : 11);
    QPainter p(&canvas.image());
    p.setFont(rotated);
    p.setPen(canvas.fontColor());
    QFontMetrics fm(rotated);
    p.translate(x, y);
    p.rotate(-90);
    p.drawText(0, fm.ascent(), text);
    canvas.setFont(saved);
}

} // namespace cleftsim
