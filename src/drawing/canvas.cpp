#include "drawing/canvas.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace cleftsim {

namespace {

// The first and last pixels of the box with corners (x1, y1) and (x2, y2),
// the second corner outside it; empty when the corners share a row or column.
QRect boxOf(int x1, int y1, int x2, int y2)
{
    return QRect(
        QPoint(std::min(x1, x2), std::min(y1, y2)), QPoint(std::max(x1, x2) - 1, std::max(y1, y2) - 1));
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
    : m_raster(width, height, fill)
    , m_font(uiFont(11))
{
    VectorOp &op = record(VectorOp::Fill);
    op.filled = true;
    op.brush = fill.rgb();
    op.points = {QPoint(0, 0), QPoint(width, height)};
}

PenAndBrush Canvas::tools() const
{
    PenAndBrush t;
    t.pen = m_penColor.rgb();
    t.penWidth = std::max(1, m_penWidth);
    t.dotted = m_penStyle == PenStyle::Dot && m_penWidth <= 1;
    t.exclusiveOr = m_penMode == PenMode::Xor;
    t.filled = m_brushStyle == BrushStyle::Solid;
    t.brush = m_brushColor.rgb();
    return t;
}

VectorOp &Canvas::record(VectorOp::Kind kind)
{
    return m_vector.add(kind, tools(), m_raster.image());
}

void Canvas::restartIfCovered(const QRect &covered)
{
    m_vector.restartIfCovered(covered, m_raster.rect());
}

void Canvas::changed(const QRect &r)
{
    m_changed |= r & m_raster.rect();
}

QRect Canvas::takeChanged()
{
    const QRect r = m_changed;
    m_changed = QRect();
    return r;
}

Canvas::VectorMark Canvas::paintVector(QPainter &painter, VectorLines lines, VectorMark from) const
{
    m_vector.paint(painter, lines, from);
    return vectorEnd();
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
    m_raster.fillAll(c);
    restartIfCovered(m_raster.rect());
    VectorOp &op = record(VectorOp::Fill);
    op.filled = true;
    op.brush = c.rgb();
    op.points = {QPoint(0, 0), QPoint(width(), height())};
    changed(m_raster.rect());
}

void Canvas::setPixel(int x, int y, const QColor &c)
{
    setPixel(x, y, c.rgb());
}

void Canvas::setPixel(int x, int y, QRgb c)
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return;
    m_raster.plot(x, y, c, false);
    m_vector.addPixel(QPoint(x, y), c, tools(), m_raster.image());
    changed(QRect(x, y, 1, 1));
}

QColor Canvas::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return QColor();
    return QColor(m_raster.image().pixel(x, y));
}

void Canvas::beginTraces(int curves, const QColor &colour)
{
    m_traceColour = colour.rgb();
    m_traceLast.assign(std::size_t(std::max(0, curves)), QPointF());
    m_traceStarted = false;
    m_vector.closeTraces();
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
            m_raster.plot(pixel.x(), pixel.y(), m_traceColour, false);
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
    VectorOp &op = m_vector.traceOp(m_traceColour, m_traceLast, m_traceStarted, tools(), m_raster.image());
    if (op.kind == VectorOp::Traces)
        op.trace.insert(op.trace.end(), m_traceLast.begin(), m_traceLast.end());
    m_traceStarted = true;
}

void Canvas::moveTo(int x, int y)
{
    m_penPos = QPoint(x, y);
    m_dotPhase = 0;
}

void Canvas::lineTo(int x, int y)
{
    const QPoint from = m_penPos, to(x, y);
    m_dotPhase = m_raster.line(from, to, tools(), m_dotPhase);
    m_vector.addLine(from, to, tools(), m_raster.image());
    changed(QRect(from, to).normalized().adjusted(-m_penWidth, -m_penWidth, m_penWidth, m_penWidth));
    m_penPos = to;
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
    const QRect r = m_raster.fill(boxOf(x1, y1, x2, y2), m_brushColor.rgb());
    if (r.isEmpty())
        return;
    restartIfCovered(r);
    VectorOp &op = record(VectorOp::Fill);
    op.exclusiveOr = false;
    op.points = {r.topLeft(), r.bottomRight() + QPoint(1, 1)};
    changed(r);
}

void Canvas::rectangle(int x1, int y1, int x2, int y2)
{
    const QRect box = boxOf(x1, y1, x2, y2);
    if (box.isEmpty())
        return;
    const QRect area = m_raster.rectangle(box, tools());
    if (m_brushStyle == BrushStyle::Solid && m_penMode != PenMode::Xor)
        restartIfCovered(box);
    record(VectorOp::Rectangle).points = {box.topLeft(), box.bottomRight()};
    changed(area);
}

void Canvas::ellipse(int x1, int y1, int x2, int y2)
{
    const QRect box = boxOf(x1, y1, x2, y2);
    if (box.isEmpty())
        return;
    const QRect area = m_raster.ellipse(box, tools());
    record(VectorOp::Ellipse).points = {box.topLeft(), box.bottomRight()};
    changed(area);
}

void Canvas::arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    const QRect box = boxOf(x1, y1, x2, y2);
    if (box.isEmpty())
        return;
    RasterSurface::ArcAngles angles;
    const QRect area = m_raster.arc(box, QPoint(x3, y3), QPoint(x4, y4), tools(), angles);
    VectorOp &op = record(VectorOp::Arc);
    op.points = {box.topLeft(), box.bottomRight()};
    op.startAngle = angles.start;
    op.spanAngle = angles.span;
    changed(area);
}

void Canvas::polygon(const std::vector<QPoint> &points)
{
    if (points.empty())
        return;
    const QRect area = m_raster.polygon(points, tools());
    record(VectorOp::Polygon).points = points;
    changed(area);
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

void Canvas::textOut(int x, int y, const QString &text)
{
    const QFont font = crispFont(m_font);
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(text), h = fm.ascent() + fm.descent();
    if (m_brushStyle == BrushStyle::Solid)
        fillRect(x, y, x + w, y + h);
    if (!text.isEmpty()) {
        const QRegion ink = m_raster.text(font, text, QPoint(x, y), false, m_fontColor.rgb());
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
    if (m_brushStyle == BrushStyle::Solid)
        m_raster.fillRotatedCell(QPoint(x, y), w, h, m_brushColor.rgb());
    QRegion ink;
    if (!text.isEmpty())
        ink = m_raster.text(font, text, QPoint(x, y), true, m_fontColor.rgb());
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
    const QRect target = m_raster.copy(QPoint(x, y), source.image());
    if (target.isEmpty())
        return;
    restartIfCovered(target);
    m_vector.addCopy(
        QPoint(x, y), QSize(source.width(), source.height()), source.m_vector, tools(), m_raster.image());
    changed(target);
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
