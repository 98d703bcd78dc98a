#include "widgets/figureview.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>

#include "widgets/savefile.h"

namespace cleftsim {

FigureView::FigureView(const QString &objectName, int width, int height, QWidget *parent, const QColor &fill)
    : QWidget(parent)
    , m_canvas(width, height, fill)
{
    setObjectName(objectName);
    setFixedSize(width, height);
}

QString FigureView::proposedName() const
{
    QString name = m_proposer ? m_proposer() : QString();
    if (name.isEmpty())
        name = objectName();
    return name + QStringLiteral(".png");
}

QImage FigureView::shownImage() const
{
    if (!m_overlay)
        return m_canvas.image();
    Canvas shown = m_canvas;
    m_overlay(shown);
    return shown.image();
}

bool FigureView::saveImage(const QString &fileName, QString *error) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = saveFailure(fileName, file.errorString());
        return false;
    }
    if (!shownImage().save(&file, "PNG")) {
        if (error)
            *error = saveFailure(fileName,
                file.errorString().isEmpty() ? tr("the image could not be written") : file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = saveFailure(fileName, file.errorString());
        return false;
    }
    return true;
}

void FigureView::copyToClipboard() const
{
    QApplication::clipboard()->setImage(shownImage());
}

void FigureView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_overlay ? shownImage() : m_canvas.image());
}

void FigureView::fillContextMenu(QMenu &menu)
{
    connect(menu.addAction(tr("Save Image As...")), &QAction::triggered, this, [this] {
        const QString fileName
            = QFileDialog::getSaveFileName(this, tr("Save Image"), proposedName(), tr("PNG image (*.png)"));
        if (fileName.isEmpty())
            return;
        QString error;
        if (!saveImage(fileName, &error))
            QMessageBox::critical(this, QApplication::applicationName(), error);
    });
    connect(menu.addAction(tr("Copy Image")), &QAction::triggered, this, [this] { copyToClipboard(); });
    if (m_extender)
        m_extender(menu);
}

void FigureView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    fillContextMenu(menu);
    menu.exec(event->globalPos());
}

PaintBox::PaintBox(const QString &objectName, int width, int height, QWidget *parent, const QColor &face)
    : QWidget(parent)
    , m_canvas(width, height, face)
    , m_face(face)
{
    setObjectName(objectName);
    setFixedSize(width, height);
}

const Canvas &PaintBox::render()
{
    m_canvas.clear(m_face);
    m_canvas.setPenColor(colors::Black);
    m_canvas.setPenWidth(1);
    m_canvas.setPenMode(Canvas::PenMode::Copy);
    m_canvas.setPenStyle(Canvas::PenStyle::Solid);
    m_canvas.setBrushColor(m_face);
    if (m_painter)
        m_painter(m_canvas);
    return m_canvas;
}

void PaintBox::redraw()
{
    render();
    if (isVisible())
        repaint();
    else
        update();
}

void PaintBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_canvas.image());
}

} // namespace cleftsim
