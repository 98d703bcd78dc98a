#pragma once

#include "drawing/canvas.h"

#include <QWidget>

#include <functional>

class QMenu;

namespace cleftsim {

// Shows a figure raster that keeps its pixels (an image control). Its context
// menu saves the raster as a PNG image or copies it to the clipboard.
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

    // Draws over the figure's pixels what is not part of them (measured
    // points): on the screen, in the saved and the copied image; the canvas
    // keeps the figure alone. None by default.
    void setOverlay(std::function<void(Canvas &)> overlay) { m_overlay = std::move(overlay); }
    // The image shown: the canvas, or a copy of it with the overlay drawn over it.
    QImage shownImage() const;

    // Writes the shown image as PNG; returns false with the reason in *error on failure.
    bool saveImage(const QString &fileName, QString *error) const;
    void copyToClipboard() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    Canvas m_canvas;
    std::function<QString()> m_proposer;
    std::function<void(QMenu &)> m_extender;
    std::function<void(Canvas &)> m_overlay;
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
    QColor m_face;
    std::function<void(Canvas &)> m_painter;
};

} // namespace cleftsim
