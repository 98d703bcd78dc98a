#include "widgets/figureview.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <cmath>

#include "widgets/reproduciblepdf.h"
#include "widgets/savefile.h"

namespace cleftsim {

namespace {

QString extensionOf(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Svg: return QStringLiteral("svg");
    case ImageFormat::Pdf: return QStringLiteral("pdf");
    default: return QStringLiteral("png");
    }
}

bool isPng(ImageFormat format)
{
    return format == ImageFormat::Png || format == ImageFormat::Png2x || format == ImageFormat::Png4x;
}

// The figure drawn from its vector drawing at a scale, lines one pixel wide
// as on a display of that many device pixels per pixel.
QImage fineImage(const Canvas &canvas, qreal scale)
{
    QImage image(int(std::ceil(canvas.width() * scale)), int(std::ceil(canvas.height() * scale)),
        QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(scale, scale);
    canvas.paintVector(painter, Canvas::VectorLines::Hairline);
    return image;
}

} // namespace

QStringList imageFilters()
{
    return {QObject::tr("PNG image (*.png)"), QObject::tr("PNG image, twice the size (*.png)"),
        QObject::tr("PNG image, four times the size (*.png)"), QObject::tr("SVG drawing (*.svg)"),
        QObject::tr("PDF document (*.pdf)")};
}

ImageTarget imageTarget(const QString &typed, ImageFormat chosen)
{
    ImageTarget target {typed, chosen};
    const QString suffix = QFileInfo(typed).suffix().toLower();
    if (suffix.isEmpty()) {
        if (!typed.endsWith(QLatin1Char('.')))
            target.path += QLatin1Char('.');
        target.path += extensionOf(chosen);
    } else if (suffix == extensionOf(ImageFormat::Svg)) {
        target.format = ImageFormat::Svg;
    } else if (suffix == extensionOf(ImageFormat::Pdf)) {
        target.format = ImageFormat::Pdf;
    } else if (suffix == extensionOf(ImageFormat::Png) && !isPng(chosen)) {
        target.format = ImageFormat::Png;
    }
    return target;
}

QByteArray encodeImage(const Canvas &canvas, ImageFormat format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    switch (format) {
    case ImageFormat::Png: canvas.image().save(&buffer, "PNG"); break;
    case ImageFormat::Png2x: fineImage(canvas, 2).save(&buffer, "PNG"); break;
    case ImageFormat::Png4x: fineImage(canvas, 4).save(&buffer, "PNG"); break;
    case ImageFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(canvas.image().size());
        svg.setViewBox(QRect(QPoint(0, 0), canvas.image().size()));
        svg.setResolution(96);
        QPainter painter(&svg);
        canvas.paintVector(painter, Canvas::VectorLines::Scaled);
        break;
    }
    case ImageFormat::Pdf: {
        // A page of the figure's size, one point per pixel.
        QPdfWriter pdf(&buffer);
        pdf.setResolution(72);
        pdf.setPageSize(QPageSize(QSizeF(canvas.width(), canvas.height()), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&pdf);
        canvas.paintVector(painter, Canvas::VectorLines::Scaled);
        break;
    }
    }
    // Without the PDF writer's time stamp and random identifiers: the same
    // figure gives the same bytes (the writer has finished its document).
    if (format == ImageFormat::Pdf)
        makePdfReproducible(bytes, sourceDateEpoch());
    return bytes;
}

const QImage &FineRaster::picture(const Canvas &canvas, qreal ratio)
{
    const QSize size(int(std::ceil(canvas.width() * ratio)), int(std::ceil(canvas.height() * ratio)));
    if (m_image.size() != size || m_image.devicePixelRatio() != ratio
        || m_restarts != canvas.vectorRestarts()) {
        m_image = QImage(size, QImage::Format_RGB32);
        m_image.fill(Qt::white);
        m_image.setDevicePixelRatio(ratio);
        m_restarts = canvas.vectorRestarts();
        m_mark = {};
    }
    QPainter painter(&m_image);
    m_mark = canvas.paintVector(painter, Canvas::VectorLines::Hairline, m_mark);
    return m_image;
}

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

bool FigureView::saveImage(const QString &fileName, ImageFormat format, QString *error) const
{
    const QByteArray bytes = encodeImage(overlaid() ? shownCanvas() : m_canvas, format);
    if (bytes.isEmpty()) {
        if (error)
            *error = saveFailure(fileName, tr("the image could not be made"));
        return false;
    }
    return saveFileAtomically(fileName, bytes, error);
}

Canvas FigureView::shownCanvas() const
{
    Canvas shown = m_canvas;
    if (overlaid())
        m_overlay(shown);
    return shown;
}

QImage FigureView::shownImage() const
{
    if (!overlaid())
        return m_canvas.image();
    return shownCanvas().image();
}

QImage FigureView::shownImage(qreal ratio) const
{
    if (ratio <= 1)
        return shownImage();
    const QImage &figure = m_fine.picture(m_canvas, ratio);
    if (!overlaid())
        return figure;
    // The overlay is drawn on a copy of the canvas; what it drew there is
    // painted over the figure at device resolution (all of the copy when
    // the overlay started its drawing anew).
    Canvas shown = m_canvas;
    const Canvas::VectorMark end = shown.vectorEnd();
    m_overlay(shown);
    if (shown.vectorRestarts() != m_canvas.vectorRestarts()) {
        FineRaster whole;
        return whole.picture(shown, ratio);
    }
    QImage picture = figure;
    QPainter painter(&picture);
    shown.paintVector(painter, Canvas::VectorLines::Hairline, end);
    return picture;
}

bool FigureView::saveImage(const QString &fileName, QString *error) const
{
    return saveImage(fileName, imageTarget(fileName, ImageFormat::Png).format, error);
}

void FigureView::showChanged()
{
    const QRect changed = m_canvas.takeChanged();
    if (!changed.isEmpty())
        update(changed);
}

void FigureView::copyToClipboard() const
{
    // As the figure is shown: at the display's resolution where that is finer.
    QApplication::clipboard()->setImage(shownImage(devicePixelRatioF()));
}

void FigureView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, shownImage(devicePixelRatioF()));
}

void FigureView::saveWithDialog()
{
    // The name follows the form chosen; the folder is the last one saved into.
    static QString folder = QDir::currentPath();
    const QStringList filters = imageFilters();
    QFileDialog dialog(this, tr("Save Image"), folder, filters.join(QStringLiteral(";;")));
    dialog.setObjectName(QStringLiteral("SaveImageDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString base = QFileInfo(proposedName()).completeBaseName();
    const auto nameFor = [&](const QString &filter) {
        const int chosen = std::max(0, int(filters.indexOf(filter)));
        return base + QLatin1Char('.') + extensionOf(ImageFormat(chosen));
    };
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.selectFile(nameFor(filters.constFirst()));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString &filter) {
        const QString name = nameFor(filter);
        dialog.setDefaultSuffix(QFileInfo(name).suffix());
        dialog.selectFile(name);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    folder = QFileInfo(path).absolutePath();
    const ImageTarget target
        = imageTarget(path, ImageFormat(std::max(0, int(filters.indexOf(dialog.selectedNameFilter())))));
    QString error;
    if (saveImage(target.path, target.format, &error))
        return;
    QMessageBox::critical(this, QApplication::applicationDisplayName(), error);
}

void FigureView::fillContextMenu(QMenu &menu)
{
    connect(menu.addAction(tr("Save Image As...")), &QAction::triggered, this, [this] { saveWithDialog(); });
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
    const qreal ratio = devicePixelRatioF();
    if (ratio > 1)
        painter.drawImage(0, 0, m_fine.picture(m_canvas, ratio));
    else
        painter.drawImage(0, 0, m_canvas.image());
}

} // namespace cleftsim
