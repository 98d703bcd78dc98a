// How a vector drawing is painted on a QPainter: an image of any size, a
// screen of finer pixels, SVG or PDF.

#include "drawing/vectorrecord.h"

#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace cleftsim {

namespace {

// Sets the painter's mode, pen, background and brush for an operation. The
// pen: a width-1 pen one device pixel wide or one unit; a wider one as wide
// as its square nib, centred where the nib is.
void setTools(QPainter &p, const VectorOp &op, VectorLines lines, bool raster, double deviceScale)
{
    // Raster operations exist only on raster devices; elsewhere an
    // exclusive-or drawing is drawn in its pen colour.
    p.setCompositionMode(op.exclusiveOr && raster ? QPainter::RasterOp_SourceXorDestination
                                                  : QPainter::CompositionMode_SourceOver);
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
}

// Where the nib of a pen centres on a pixel.
QPointF nibCentre(const VectorOp &op, const QPoint &q)
{
    const double c = op.penWidth % 2 == 0 ? 1.0 : 0.5;
    return QPointF(q.x() + c, q.y() + c);
}

void paintLines(QPainter &p, const VectorOp &op, std::size_t first)
{
    if (op.points.size() < first + 2)
        return;
    std::vector<QPointF> path;
    path.reserve(op.points.size() - first);
    for (std::size_t k = first; k < op.points.size(); ++k)
        path.push_back(nibCentre(op, op.points[k]));
    p.drawPolyline(path.data(), int(path.size()));
}

// Each curve a polyline through its points, from the mark's step on.
void paintTraces(QPainter &p, const VectorOp &op, std::size_t first)
{
    const std::size_t curves = std::size_t(std::max(1, op.curves));
    const std::size_t rows = op.trace.size() / curves;
    if (rows < first + 2)
        return;
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
}

void paintPolygon(QPainter &p, const VectorOp &op)
{
    std::vector<QPointF> corners;
    for (const QPoint &q : op.points)
        corners.push_back(nibCentre(op, q));
    if (corners.size() >= 3)
        p.drawPolygon(corners.data(), int(corners.size()), Qt::OddEvenFill);
    else
        p.drawPolyline(corners.data(), int(corners.size()));
}

// A run of pixels of one colour is one path (a cloud of trials is one
// shape, not thousands), pixels one below the other or side by side joined
// into one rectangle of it.
void paintPixels(QPainter &p, const VectorOp &op, std::size_t first)
{
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
}

void paintText(QPainter &p, const VectorOp &op)
{
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
}

} // namespace

void VectorRecord::paint(QPainter &painter, VectorLines lines, VectorMark from) const
{
    painter.save();
    paintOps(painter, m_ops, lines, from);
    painter.restore();
}

void VectorRecord::paintOps(QPainter &p, const Ops &ops, VectorLines lines, VectorMark from)
{
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
        setTools(p, op, lines, raster, deviceScale);
        const auto box = [&] { return QRectF(nibCentre(op, op.points[0]), nibCentre(op, op.points[1])); };
        switch (op.kind) {
        case VectorOp::Lines: paintLines(p, op, first); break;
        case VectorOp::Traces: paintTraces(p, op, first); break;
        case VectorOp::Rectangle: p.drawRect(box()); break;
        case VectorOp::Fill:
            if (op.filled)
                p.fillRect(QRectF(op.points[0], op.points[1]), QColor::fromRgb(op.brush));
            break;
        case VectorOp::Ellipse: p.drawEllipse(box()); break;
        case VectorOp::Arc: p.drawArc(box(), op.startAngle, op.spanAngle); break;
        case VectorOp::Polygon: paintPolygon(p, op); break;
        case VectorOp::Pixels: paintPixels(p, op, first); break;
        case VectorOp::Text:
        case VectorOp::RotatedText: paintText(p, op); break;
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

} // namespace cleftsim
