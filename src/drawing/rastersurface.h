#pragma once

#include "drawing/penandbrush.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <vector>

namespace cleftsim {

// The font text is rasterised in: the given one without antialiasing or
// kerning, so that its glyphs land on whole pixels.
QFont crispFont(const QFont &font);

// The raster of a canvas (Format_RGB32) and how each shape is rasterised on
// it, pixel-exactly: every operation paints each pixel at most once and
// clips to the raster. Boxes are given by their first and last pixels.
class RasterSurface {
public:
    RasterSurface(int width, int height, const QColor &fill);

    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    QRect rect() const { return QRect(0, 0, m_image.width(), m_image.height()); }
    const QImage &image() const { return m_image; }
    QImage &image() { return m_image; }

    // Paints one pixel, copied or exclusive-ored, clipped to the raster.
    void plot(int x, int y, QRgb color, bool exclusiveOr);
    // Fills every pixel with one colour.
    void fillAll(const QColor &c) { m_image.fill(c); }
    // Fills the pixels of box within the raster with a colour, copied;
    // returns the pixels filled.
    QRect fill(const QRect &box, QRgb colour);
    // Draws the line from `from` to `to`, the end unpainted; a dotted pen is
    // `dotPhase` pixels into its pattern at the start. Returns the phase at
    // the end.
    int line(const QPoint &from, const QPoint &to, const PenAndBrush &tools, int dotPhase);
    // Outlines box with the pen and fills its inside with the brush;
    // returns the area the operation may have painted.
    QRect rectangle(const QRect &box, const PenAndBrush &tools);
    // The same for the ellipse inscribed in box.
    QRect ellipse(const QRect &box, const PenAndBrush &tools);
    // The angles of an arc on the screen, counter-clockwise [1/16 degree].
    struct ArcAngles {
        int start = 0;
        int span = 0;
    };
    // Outlines the part of the ellipse inscribed in box from the ray through
    // `start` counter-clockwise to the ray through `end` (equal rays: all of
    // it); returns the area it may have painted and its angles in `angles`.
    QRect arc(const QRect &box, const QPoint &start, const QPoint &end, const PenAndBrush &tools,
        ArcAngles &angles);
    // Fills a closed polygon even-odd over the pixel centres and outlines it;
    // returns the area it may have painted. `points` is not empty.
    QRect polygon(const std::vector<QPoint> &points, const PenAndBrush &tools);
    // Plots the glyphs of text in a crisp font and the ink colour, the
    // cell's top-left corner at `at`, or rotated by 90 degrees
    // counter-clockwise running up from `at`; returns the pixels they cover.
    QRegion text(const QFont &font, const QString &text, const QPoint &at, bool rotated, QRgb ink);
    // Fills the rotated cell (w x h upright) of text written from `at`.
    void fillRotatedCell(const QPoint &at, int w, int h, QRgb brush);
    // Copies a raster with its top-left at `at`; returns the pixels covered.
    QRect copy(const QPoint &at, const QImage &source);

private:
    QImage m_image;
};

} // namespace cleftsim
