#pragma once

#include "drawing/penandbrush.h"
#include "drawing/rastersurface.h"
#include "drawing/vectorrecord.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <vector>

class QPainter;

namespace cleftsim {

// Colours of the figures.
namespace colors {
inline const QColor Black(0, 0, 0);
inline const QColor White(255, 255, 255);
inline const QColor Grey(128, 128, 128);
inline const QColor Silver(192, 192, 192);
inline const QColor Red(255, 0, 0);
inline const QColor Navy(0, 0, 128);
inline const QColor Aqua(0, 255, 255);
inline const QColor Blue(0, 0, 255);
} // namespace colors

// A raster figure with a pen, a brush and a font, drawn pixel-exactly:
// - a line from a to b paints a but not b, and leaves the pen at b;
// - a rectangle or ellipse (x1, y1)-(x2, y2) covers x1..x2-1 and y1..y2-1,
//   outlined with the pen and filled with the brush unless the brush is clear;
// - an arc runs counter-clockwise on the screen from the ray through its start
//   point to the ray through its end point, on the ellipse inscribed in its box;
// - in exclusive-or mode every painted pixel becomes old XOR pen colour, so
//   drawing a figure twice restores the raster;
// - text is placed by the top-left corner of its cell, on a box of the brush
//   colour unless the brush is clear.
// Everything outside the raster is clipped. The raster is Format_RGB32.
//
// Beside the raster the canvas keeps a second surface: the same operations as
// vector drawing (lines as lines, shapes as shapes, text as text in the
// canvas font), for images of any size and for screens of more than one
// device pixel per pixel. Its plane has one unit per pixel, pixel (x, y)
// being the unit square at (x, y); a line runs through the centres of its
// end pixels, a shape's outline through the centres of its border pixels. An
// operation that covers the whole raster opaquely starts the drawing anew; a
// drawing that grows beyond VectorRecord::MaxOps operations without (a picture edited
// in place again and again) goes on from its raster.
//
// Details of the rasterisation:
// - A width-1 line steps along its major axis; at major step i of n the minor
//   offset is round(i * d / n), halves away from the start, so horizontal,
//   vertical and 45-degree lines hit exactly the pixels between their ends.
// - A dotted pen paints 3 pixels on, 3 off, counted from the last moveTo (the
//   phase goes on over consecutive lineTo calls). While the brush is solid the
//   gaps are painted with the brush colour (an opaque background, as in the
//   classic window canvas), with a clear brush they are left untouched. Pens
//   wider than 1 always draw solid.
// - A pen of width w stamps a w x w square nib on every pixel of the width-1
//   path, covering offsets -(w-1)/2 .. w/2 (width 2 thickens to the right and
//   down, width 3 symmetrically).
// - An ellipse in the box covers the pixels whose centres lie inside the ellipse
//   with half-axes of half the box's outer size, widened so that it touches all
//   four sides of the box; its outline is the set of those pixels that have a
//   4-neighbour outside it. An arc is the part of that outline whose pixel
//   centres lie in the angle from the start ray counter-clockwise to the end
//   ray, both rays included; equal rays give the whole ellipse.
// - Boxes with swapped corners are normalised first; a box without width or
//   height draws nothing. fillRect paints nothing while the brush is clear.
// - A polygon is filled even-odd over the pixel centres and outlined by its
//   closed chain of lines.
// - Every operation paints each pixel at most once. In exclusive-or mode pen
//   pixels become old XOR pen colour and fill pixels old XOR brush colour;
//   fillRect, setPixel and text always copy. textOut leaves the pen position
//   at the end of the text, (x + text width, y).
class Canvas {
public:
    enum class PenStyle { Solid, Dot };
    enum class PenMode { Copy, Xor };
    enum class BrushStyle { Solid, Clear };

    Canvas(int width, int height, const QColor &fill = colors::White);

    int width() const { return m_raster.width(); }
    int height() const { return m_raster.height(); }
    const QImage &image() const { return m_raster.image(); }
    QImage &image() { return m_raster.image(); }

    // Pen.
    void setPenColor(const QColor &c) { m_penColor = c; }
    QColor penColor() const { return m_penColor; }
    void setPenWidth(int w) { m_penWidth = w; }
    int penWidth() const { return m_penWidth; }
    void setPenStyle(PenStyle s) { m_penStyle = s; }
    PenStyle penStyle() const { return m_penStyle; }
    void setPenMode(PenMode m) { m_penMode = m; }
    PenMode penMode() const { return m_penMode; }

    // Brush. Setting a colour also makes the brush solid.
    void setBrushColor(const QColor &c);
    QColor brushColor() const { return m_brushColor; }
    void setBrushStyle(BrushStyle s) { m_brushStyle = s; }
    BrushStyle brushStyle() const { return m_brushStyle; }

    // Font: face, pixel height, weight; its colour is kept apart.
    void setFont(const QFont &f) { m_font = f; }
    QFont font() const { return m_font; }
    void setFontColor(const QColor &c) { m_fontColor = c; }
    QColor fontColor() const { return m_fontColor; }
    // Sets the character height of the font in pixels.
    void setFontHeight(int pixels);

    // Lines.
    void moveTo(int x, int y);
    void lineTo(int x, int y);
    QPoint penPos() const { return m_penPos; }
    // Draws a polyline through the points with lineTo semantics (the last point unpainted).
    void polyline(const std::vector<QPoint> &points);

    // Shapes.
    void rectangle(int x1, int y1, int x2, int y2);
    // Fills x1..x2-1, y1..y2-1 with the brush colour, without outline.
    void fillRect(int x1, int y1, int x2, int y2);
    void ellipse(int x1, int y1, int x2, int y2);
    void arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    // A closed polygon outlined with the pen and filled with the brush.
    void polygon(const std::vector<QPoint> &points);

    // Traces: curves drawn a step at a time, several side by side (the
    // potentials and the current of one trial). In the raster a step paints
    // one pixel per curve, as setPixel does; in the vector drawing each curve
    // is a line one pen unit wide through its points, given in the plane's
    // units (pixel (x, y) has its centre at (x + 0.5, y + 0.5)), so that an
    // image of finer pixels, SVG and PDF draw the curve, not its pixels.
    // beginTraces starts `curves` new curves in a colour; each traceStep
    // gives the next pixel and point of every curve, in the order of
    // beginTraces (points beyond them are ignored, a step short of points
    // draws nothing; a point not finite leaves its curve where it was).
    // Other drawing between the steps does not break the curves. Points
    // are kept to a quarter of a pixel.
    struct TracePoint {
        QPoint pixel; // painted in the raster
        QPointF at; // where the vector line goes on to
    };
    void beginTraces(int curves, const QColor &colour);
    void traceStep(std::initializer_list<TracePoint> step);

    // Pixels.
    void setPixel(int x, int y, const QColor &c);
    // The same for a colour already packed, for the many pixels of a sweep.
    void setPixel(int x, int y, QRgb c);
    QColor pixel(int x, int y) const;
    QRgb rgb(int x, int y) const { return m_raster.image().pixel(x, y) & 0xffffff; }

    // Text.
    void textOut(int x, int y, const QString &text);
    int textWidth(const QString &text) const;
    int textHeight(const QString &text = QStringLiteral("Ag")) const;

    // Copies the whole of another canvas onto this one with its top-left at (x, y).
    void draw(int x, int y, const Canvas &source);

    // Fills the whole raster with one colour.
    void clear(const QColor &c);

    // Writes text rotated by 90 degrees counter-clockwise in the given font and
    // the canvas font colour; the top-left corner of the upright cell lands on
    // (x, y), the text runs up from y and the cell occupies x .. x + cell - 1.
    // A solid brush paints the rotated cell first.
    void textOutRotated(int x, int y, const QString &text, const QFont &font);

    // The vector surface. A mark is a place in the drawing: drawing that
    // continues after a mark is painted from it; the restart count grows
    // whenever the drawing starts anew (the marks before are then void).
    using VectorMark = ::cleftsim::VectorMark;
    using VectorLines = ::cleftsim::VectorLines;
    // Paints the drawing from a mark on (by default all of it) onto a painter
    // whose coordinates are the canvas's pixels; returns the mark of its end.
    VectorMark paintVector(QPainter &painter, VectorLines lines, VectorMark from) const;
    VectorMark paintVector(QPainter &painter, VectorLines lines) const
    {
        return paintVector(painter, lines, VectorMark());
    }
    VectorMark vectorEnd() const { return m_vector.end(); }
    // The ink of each text in the drawing, upright and rotated: the pixels
    // its glyphs paint, in the canvas's pixels and not clipped to it, in the
    // order written (text of a canvas copied in included, clipped to the
    // copy); text drawn before the drawing went on from its raster is not
    // among them.
    std::vector<QRegion> textInk() const { return m_vector.textInk(); }
    unsigned long long vectorRestarts() const { return m_vector.restarts(); }
    // The part of the raster drawn since the last call (empty when nothing was).
    QRect takeChanged();

private:
    // The pen and brush an operation paints with now.
    PenAndBrush tools() const;
    // Adds an operation to the vector drawing, after the raster has it.
    VectorOp &record(VectorOp::Kind kind);
    // Starts the vector drawing anew when an operation covers the whole raster.
    void restartIfCovered(const QRect &covered);
    void changed(const QRect &r);

    RasterSurface m_raster;
    QColor m_penColor = colors::Black;
    int m_penWidth = 1;
    PenStyle m_penStyle = PenStyle::Solid;
    PenMode m_penMode = PenMode::Copy;
    QColor m_brushColor = colors::White;
    BrushStyle m_brushStyle = BrushStyle::Solid;
    QFont m_font;
    QColor m_fontColor = colors::Black;
    QPoint m_penPos;
    int m_dotPhase = 0; // pixels of dotted line drawn since the last moveTo
    VectorRecord m_vector;
    // The traces begun last: their colour and the last point of each curve.
    QRgb m_traceColour = 0;
    std::vector<QPointF> m_traceLast;
    bool m_traceStarted = false; // the curves have points
    QRect m_changed;
};

// Wipes a figure before its frame is drawn: pen and brush in the background
// colour over (0, 0)-(width, height) (a size larger than the raster is
// clipped), then pen and font grey, brush clear, pen solid, width 1, copy mode:
// the drawing state every frame of the program starts from.
void ClearFrame(Canvas &canvas, const QColor &background, int width, int height);

// The pixels the glyphs of text in a font paint, written by textOut with
// its cell's top-left corner at (x, y), or rotated as textOutRotated writes
// it from (x, y).
QRegion textInk(const QFont &font, int x, int y, const QString &text, bool rotated = false);

// Writes text rotated by 90 degrees counter-clockwise (reading upwards) from
// (x, y): the text runs up from y and occupies x .. x + cell height. Uses a
// rotated sans-serif face of the canvas font's height and leaves the canvas
// font exactly as it found it.
void DrawVerticalText(Canvas &canvas, int x, int y, const QString &text);

// A line from (x1, y1) to (x2, y2), its end point not painted; the pen stays
// at the end point.
void drawSegment(Canvas &canvas, int x1, int y1, int x2, int y2);
// The ticks of an axis: count lines, the k-th (k = 0..count-1) from
// (x + k dx, y + k dy) by (tx, ty).
void drawTicks(Canvas &canvas, int x, int y, int dx, int dy, int count, int tx, int ty);

// Returns the font of figure labels and windows ("MS Sans Serif" or its
// nearest sans-serif face) with the given character height in pixels.
QFont uiFont(int pixelHeight, bool bold = false);

// Returns the face that stands in for "Arial" in rotated titles.
QFont titleFont(int pixelHeight);

// Returns the condensed sans-serif face that stands in for "Abadi MT Condensed
// Light" in the overlay labels of the circuit picture.
QFont condensedFont(int pixelHeight);

} // namespace cleftsim
