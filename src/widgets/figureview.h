#pragma once

#include "drawing/canvas.h"

#include <QImage>
#include <QStringList>
#include <QWidget>

#include <functional>

class QMenu;

namespace cleftsim {

// The forms "Save Image As..." writes: the raster as it is, the figure drawn
// at two or four times its size, and the figure as vector drawing.
enum class ImageFormat { Png, Png2x, Png4x, Svg, Pdf };
// The filters of the save dialog, one per form in the order of ImageFormat.
QStringList imageFilters();
// Where an image save goes and in which form: the form of the extension
// typed when it names one offered (".png", ".svg", ".pdf"; a PNG at the
// scale of the filter when that is a PNG one), else the form of the filter
// chosen, whose extension a name without one gets.
struct ImageTarget {
    QString path;
    ImageFormat format = ImageFormat::Png;
};
ImageTarget imageTarget(const QString &typed, ImageFormat chosen);
// The bytes of a canvas's figure in a form.
QByteArray encodeImage(const Canvas &canvas, ImageFormat format);

// A canvas drawn at a display's device resolution from its vector drawing,
// kept between paints: a paint draws only what the canvas drew since the last.
class FineRaster {
public:
    const QImage &picture(const Canvas &canvas, qreal ratio);

private:
    QImage m_image;
    unsigned long long m_restarts = 0;
    Canvas::VectorMark m_mark;
};

// Shows a figure raster that keeps its pixels (an image control); on a
// display of more than one device pixel per pixel the figure is drawn at the
// device's resolution. Its context menu saves the figure as an image (PNG,
// SVG or PDF) or copies it to the clipboard as shown (at the device's
// resolution where that is finer than the raster).
class FigureView : public QWidget {
    Q_OBJECT
public:
    FigureView(const QString &objectName, int width, int height, QWidget *parent = nullptr,
        const QColor &fill = colors::White);

    Canvas &canvas() { return m_canvas; }
    const Canvas &canvas() const { return m_canvas; }

    // Supplies the proposed file name (without folder) for "Save Image As...".
    void setNameProposer(std::function<QString()> proposer) { m_proposer = std::move(proposer); }
    QString proposedName() const;

    // Adds entries of the figure's owner (what the figure shows, beyond its
    // pixels) to the context menu, after the image entries.
    void setMenuExtender(std::function<void(QMenu &)> extender) { m_extender = std::move(extender); }
    // The context menu: "Save Image As...", "Copy Image" and the owner's entries.
    void fillContextMenu(QMenu &menu);

    // Writes the figure in a form, safely: to a file beside it moved over it
    // only when complete; returns false with a message naming the file and
    // the system's reason in *error, an old file left intact.
    bool saveImage(const QString &fileName, ImageFormat format, QString *error) const;
    // Draws over the figure's pixels what is not part of them (measured
    // points): on the screen, in the saved and the copied image; the canvas
    // keeps the figure alone. None by default; active tells whether there
    // is anything to draw now (always, when not given).
    void setOverlay(std::function<void(Canvas &)> overlay, std::function<bool()> active = {})
    {
        m_overlay = std::move(overlay);
        m_overlayActive = std::move(active);
    }
    // The image shown: the canvas, or a copy of it with the overlay drawn over it.
    QImage shownImage() const;
    // The same on a display of ratio device pixels per pixel: above 1 the
    // figure and its overlay drawn at the device's resolution, the image's
    // devicePixelRatio set; at 1 (or below) shownImage().
    QImage shownImage(qreal ratio) const;
    // The same as a canvas, its vector drawing with it.
    Canvas shownCanvas() const;
    // The same in the form its extension names (a PNG of the raster by default).
    bool saveImage(const QString &fileName, QString *error) const;
    void copyToClipboard() const;
    // Repaints the part of the figure drawn since the last time.
    void showChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void saveWithDialog();

    Canvas m_canvas;
    mutable FineRaster m_fine; // the figure at device resolution, kept between paints
    std::function<QString()> m_proposer;
    std::function<void(QMenu &)> m_extender;
    std::function<void(Canvas &)> m_overlay;
    std::function<bool()> m_overlayActive;
    bool overlaid() const { return m_overlay && (!m_overlayActive || m_overlayActive()); }
};

// A picture on the window face (a paint box): the painter function draws
// into a raster cleared to the face when the owner asks for it, because what
// it shows has changed; a paint shows the raster as last drawn.
class PaintBox : public QWidget {
    Q_OBJECT
public:
    PaintBox(const QString &objectName, int width, int height, QWidget *parent = nullptr,
        const QColor &face = colors::Silver);

    void setPainter(std::function<void(Canvas &)> painter) { m_painter = std::move(painter); }
    // Draws the picture now and returns it (what the next paint shows).
    const Canvas &render();
    // Draws the picture now and shows it: at once while the box is visible,
    // at the next paint otherwise.
    void redraw();
    const Canvas &canvas() const { return m_canvas; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Canvas m_canvas;
    FineRaster m_fine;
    QColor m_face;
    std::function<void(Canvas &)> m_painter;
};

} // namespace cleftsim
