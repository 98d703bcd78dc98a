#pragma once

#include "drawing/penandbrush.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

class QPainter;

namespace cleftsim {

// A place in a vector drawing: drawing that continues after a mark is
// painted from it.
struct VectorMark {
    std::size_t op = 0;
    std::size_t item = 0;
};

// How width-1 pens are painted: as lines one unit wide (an image of its own
// size, SVG, PDF) or one device pixel wide (a screen or image of finer
// pixels, as the window frames are drawn).
enum class VectorLines { Scaled, Hairline };

// One operation of a vector drawing, with the pen and brush it drew with.
struct VectorOp {
    enum Kind : unsigned char {
        Lines,
        Rectangle,
        Fill,
        Ellipse,
        Arc,
        Polygon,
        Pixels,
        Traces,
        Text,
        RotatedText,
        Copy,
        Raster
    };
    Kind kind = Lines;
    bool exclusiveOr = false;
    bool dotted = false;
    bool filled = false; // a solid brush
    int penWidth = 1;
    QRgb pen = 0;
    QRgb brush = 0;
    // Lines: the polyline; Rectangle, Fill, Ellipse, Arc: the corners of
    // the box; Polygon: the corners; Pixels: the pixels; Text: the cell's
    // corner (rotated: the start) and size; Copy: place and size; Raster:
    // the raster as it was when the drawing grew too long to keep.
    std::vector<QPoint> points;
    std::vector<QRgb> colors; // Pixels: the colour of each
    // Traces: the points of its curves step by step, `curves` per step.
    std::vector<QPointF> trace;
    int curves = 0;
    int startAngle = 0; // Arc: in 1/16 degree, counter-clockwise on the screen
    int spanAngle = 0;
    QString text;
    QFont font;
    QRegion ink; // Text, RotatedText: the pixels of its glyphs
    std::shared_ptr<const std::vector<VectorOp>> source; // Copy: what the source canvas drew
    QImage raster;
};

// The vector drawing of a canvas: its operations in the order drawn, in a
// plane of one unit per raster pixel. An operation that covers the whole
// raster opaquely starts the drawing anew; a drawing that grows beyond
// MaxOps operations (a picture edited in place again and again) goes on
// from its raster. Each adding call takes the raster as it is after the
// operation, for that case.
class VectorRecord {
public:
    static constexpr std::size_t MaxOps = 20000;

    // Adds an operation of a kind drawn with tools and returns it for its
    // geometry; in a drawing that went on from its raster just now, it is a
    // fill that paints nothing.
    VectorOp &add(VectorOp::Kind kind, const PenAndBrush &tools, const QImage &raster);
    // Adds a line; one that goes on from the end of the last, drawn alike,
    // extends its polyline (a dotted one keeps its phase).
    void addLine(const QPoint &from, const QPoint &to, const PenAndBrush &tools, const QImage &raster);
    // Adds a pixel of a colour to the run of pixels drawn last.
    void addPixel(const QPoint &at, QRgb colour, const PenAndBrush &tools, const QImage &raster);
    // Adds a copy of another drawing of a size with its top-left at `at`.
    void addCopy(const QPoint &at, const QSize &size, const VectorRecord &source, const PenAndBrush &tools,
        const QImage &raster);
    // Starts the drawing anew when `covered` holds the whole of `area`.
    void restartIfCovered(const QRect &covered, const QRect &area);

    // Closes the operation that traces went on in: the next step of new
    // traces starts one of its own.
    void closeTraces() { m_traceOpen = false; }
    // The operation that traces of a colour, with these last points, go on
    // in, made anew (from their last points when `started`) when other
    // drawing came after it; a fill that paints nothing when the drawing
    // went on from its raster.
    VectorOp &traceOp(QRgb colour, const std::vector<QPointF> &last, bool started, const PenAndBrush &tools,
        const QImage &raster);

    // The mark of the drawing's end.
    VectorMark end() const;
    // Paints the drawing from a mark on onto a painter whose coordinates are
    // the raster's pixels.
    void paint(QPainter &painter, VectorLines lines, VectorMark from) const;
    // The ink of each text in the drawing, in the order written (text of a
    // copy included, clipped to the copy).
    std::vector<QRegion> textInk() const;
    // How often the drawing started anew.
    unsigned long long restarts() const { return m_restarts; }

private:
    using Ops = std::vector<VectorOp>;
    static void paintOps(QPainter &painter, const Ops &ops, VectorLines lines, VectorMark from);
    static void collectTextInk(const Ops &ops, QPoint offset, const QRect &clip, std::vector<QRegion> &ink);

    Ops m_ops;
    unsigned long long m_restarts = 0;
    // The operation the traces begun last go on in, and the restart count
    // when it was made.
    std::size_t m_traceOp = 0;
    unsigned long long m_traceRestarts = 0;
    bool m_traceOpen = false; // m_traceOp holds the traces and is the last
};

} // namespace cleftsim
