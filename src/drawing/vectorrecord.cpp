#include "drawing/vectorrecord.h"

namespace cleftsim {

VectorOp &VectorRecord::add(VectorOp::Kind kind, const PenAndBrush &tools, const QImage &raster)
{
    if (m_ops.size() >= MaxOps) {
        // The raster holds this operation already: it goes on from there.
        m_ops.clear();
        ++m_restarts;
        VectorOp &base = m_ops.emplace_back();
        base.kind = VectorOp::Raster;
        base.raster = raster;
        base.points = {QPoint(0, 0), QPoint(raster.width(), raster.height())};
        VectorOp &done = m_ops.emplace_back();
        done.kind = VectorOp::Fill; // paints nothing: not filled
        return done;
    }
    VectorOp &op = m_ops.emplace_back();
    op.kind = kind;
    op.exclusiveOr = tools.exclusiveOr;
    op.dotted = tools.dotted;
    op.filled = tools.filled;
    op.penWidth = tools.penWidth;
    op.pen = tools.pen;
    op.brush = tools.brush;
    return op;
}

void VectorRecord::addLine(
    const QPoint &from, const QPoint &to, const PenAndBrush &tools, const QImage &raster)
{
    if (!m_ops.empty()) {
        VectorOp &last = m_ops.back();
        if (last.kind == VectorOp::Lines && last.points.back() == from && last.pen == tools.pen
            && last.penWidth == tools.penWidth && last.dotted == tools.dotted
            && last.exclusiveOr == tools.exclusiveOr && last.filled == tools.filled
            && last.brush == tools.brush) {
            last.points.push_back(to);
            return;
        }
    }
    add(VectorOp::Lines, tools, raster).points = {from, to};
}

void VectorRecord::addPixel(const QPoint &at, QRgb colour, const PenAndBrush &tools, const QImage &raster)
{
    if (m_ops.empty() || m_ops.back().kind != VectorOp::Pixels)
        add(VectorOp::Pixels, tools, raster).exclusiveOr = false;
    VectorOp &op = m_ops.back();
    op.points.push_back(at);
    op.colors.push_back(colour);
}

void VectorRecord::addCopy(const QPoint &at, const QSize &size, const VectorRecord &source,
    const PenAndBrush &tools, const QImage &raster)
{
    VectorOp &op = add(VectorOp::Copy, tools, raster);
    op.points = {at, QPoint(size.width(), size.height())};
    op.source = std::make_shared<const Ops>(source.m_ops);
}

void VectorRecord::restartIfCovered(const QRect &covered, const QRect &area)
{
    if (covered.contains(area)) {
        m_ops.clear();
        ++m_restarts;
    }
}

VectorOp &VectorRecord::traceOp(QRgb colour, const std::vector<QPointF> &last, bool started,
    const PenAndBrush &tools, const QImage &raster)
{
    if (m_traceOpen && m_traceRestarts == m_restarts && m_traceOp + 1 == m_ops.size()
        && m_ops.back().kind == VectorOp::Traces)
        return m_ops.back();
    VectorOp &op = add(VectorOp::Traces, tools, raster);
    m_traceOpen = op.kind == VectorOp::Traces; // not when the record went on from its raster
    if (!m_traceOpen)
        return op;
    op.exclusiveOr = false;
    op.dotted = false;
    op.filled = false;
    op.penWidth = 1;
    op.pen = colour;
    op.curves = int(last.size());
    if (started)
        op.trace = last; // the curves go on from where they were
    m_traceOp = m_ops.size() - 1;
    m_traceRestarts = m_restarts;
    return op;
}

VectorMark VectorRecord::end() const
{
    if (m_ops.empty())
        return {};
    // The last polyline and the last run of pixels may still grow.
    const VectorOp &last = m_ops.back();
    if (last.kind == VectorOp::Lines)
        return {m_ops.size() - 1, last.points.size() - 1};
    if (last.kind == VectorOp::Traces && last.curves > 0 && last.trace.size() >= std::size_t(last.curves))
        return {m_ops.size() - 1, last.trace.size() / std::size_t(last.curves) - 1};
    if (last.kind == VectorOp::Pixels)
        return {m_ops.size() - 1, last.points.size()};
    return {m_ops.size(), 0};
}

std::vector<QRegion> VectorRecord::textInk() const
{
    std::vector<QRegion> ink;
    collectTextInk(m_ops, QPoint(0, 0), QRect(), ink);
    return ink;
}

void VectorRecord::collectTextInk(const Ops &ops, QPoint offset, const QRect &clip, std::vector<QRegion> &ink)
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

} // namespace cleftsim
