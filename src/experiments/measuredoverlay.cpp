#include "experiments/measuredoverlay.h"

#include "model/rounding.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

#include <cmath>

namespace cleftsim {

namespace {

// Half the side of a marker and of the caps of its error bar [pixels].
constexpr int MarkerHalf = 2;

// A marker with its error bar in the column x: the mean at y, the bar from
// yHigh to yLow (equal: no bar).
void drawMarker(Canvas &c, int x, int y, int yHigh, int yLow)
{
    const QRgb colour = MeasuredColour.rgb();
    if (yHigh != yLow) {
        for (int yy = std::min(yHigh, yLow); yy <= std::max(yHigh, yLow); ++yy)
            c.setPixel(x, yy, colour);
        for (int dx = -MarkerHalf; dx <= MarkerHalf; ++dx) {
            c.setPixel(x + dx, yHigh, colour);
            c.setPixel(x + dx, yLow, colour);
        }
    }
    for (int dy = -MarkerHalf; dy <= MarkerHalf; ++dy)
        for (int dx = -MarkerHalf; dx <= MarkerHalf; ++dx)
            c.setPixel(x + dx, y + dy, colour);
}

// The pixel rows of a mean and its error bar on a scale y = base - value * scale.
void drawValue(Canvas &c, int V, double mean, double sem, int base, double scale)
{
    const int y = base - Round(mean * scale);
    const bool bar = std::isfinite(sem) && sem > 0;
    const int yHigh = bar ? base - Round((mean + sem) * scale) : y;
    const int yLow = bar ? base - Round((mean - sem) * scale) : y;
    drawMarker(c, 140 + V, y, yHigh, yLow);
}

} // namespace

void MeasuredDataStore::setData(MeasuredDataPtr data)
{
    m_data = std::move(data);
    emit changed();
}

MeasuredDataStore &measuredData()
{
    static MeasuredDataStore store;
    return store;
}

void drawMeasuredPeaks(Canvas &current, const MeasuredData &data)
{
    for (const MeasuredPoint &p : data.points)
        drawValue(current, p.V, p.meanPeak, p.semPeak, 40, 1.0);
    // The legend, in the bottom left corner, below the currents of most
    // recordings: a marker with its bar and what it shows.
    drawMarker(
        current, MeasuredLegend.x(), MeasuredLegend.y(), MeasuredLegend.y() - 4, MeasuredLegend.y() + 4);
    const QFont font = current.font();
    const QColor colour = current.fontColor();
    const Canvas::BrushStyle brush = current.brushStyle();
    current.setFont(uiFont(11));
    current.setFontColor(MeasuredColour);
    current.setBrushStyle(Canvas::BrushStyle::Clear);
    current.textOut(MeasuredLegend.x() + 6, MeasuredLegend.y() - current.textHeight() / 2,
        QObject::tr("measured, mean +- s.e.m."));
    current.setFont(font);
    current.setFontColor(colour);
    current.setBrushStyle(brush);
}

void drawMeasuredQuanta(Canvas &quanta, const MeasuredData &data, int quantumStep)
{
    for (const MeasuredPoint &p : data.points)
        if (p.hasQuanta)
            drawValue(quanta, p.V, p.meanQuanta, p.semQuanta, 145, quantumStep);
}

QString measuredFileName(const MeasuredData &data)
{
    return QFileInfo(QString::fromStdString(data.name)).fileName();
}

QString measuredDataText(const MeasuredData &data)
{
    const int n = static_cast<int>(data.points.size());
    return QObject::tr("Measured data: %1, %2 %3")
        .arg(measuredFileName(data))
        .arg(n)
        .arg(n == 1 ? QObject::tr("point") : QObject::tr("points"));
}

MeasuredDataPtr askMeasuredData(QWidget *parent)
{
    // The folder is the last one read from.
    static QString folder = QDir::currentPath();
    QFileDialog dialog(parent, QObject::tr("Load Measured Data"), folder,
        QObject::tr("Measured data (*.csv *.json);;All files (*)"));
    dialog.setObjectName(QStringLiteral("MeasuredDataDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return nullptr;
    const QString path = dialog.selectedFiles().constFirst();
    folder = QFileInfo(path).absolutePath();
    auto data = std::make_shared<MeasuredData>();
    RunProblem problem;
    if (!readMeasuredData(path.toStdString(), *data, &problem)) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationName(),
            QObject::tr("The measured data cannot be loaded.\n%1")
                .arg(QString::fromStdString(problem.text())),
            QMessageBox::Ok, parent);
        box.setObjectName(QStringLiteral("MeasuredDataRefused"));
        box.exec();
        return nullptr;
    }
    return data;
}

bool loadMeasuredData(QWidget *parent)
{
    MeasuredDataPtr data = askMeasuredData(parent);
    if (!data)
        return false;
    measuredData().setData(std::move(data));
    return true;
}

void addMeasuredDataEntries(QMenu &menu, QWidget *parent, const MeasuredDataPtr &data, bool live,
    const std::function<void()> &openFit)
{
    if (!data && !live)
        return;
    menu.addSeparator();
    if (data)
        menu.addAction(measuredDataText(*data))->setEnabled(false);
    if (!live)
        return;
    QObject::connect(menu.addAction(QObject::tr("Load Measured Data...")), &QAction::triggered, parent,
        [parent] { loadMeasuredData(parent); });
    if (!data)
        return;
    QObject::connect(menu.addAction(QObject::tr("Clear Measured Data")), &QAction::triggered, parent,
        [] { measuredData().setData(nullptr); });
    if (openFit)
        QObject::connect(menu.addAction(QObject::tr("Fit to Measured Data...")), &QAction::triggered, parent,
            [openFit] { openFit(); });
}

} // namespace cleftsim
