#include "experiments/copywindows.h"

#include "drawing/glyphs.h"
#include "experiments/measuredoverlay.h"
#include "model/storedstates.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"
#include "widgets/windowset.h"

#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPixmap>

namespace cleftsim {

namespace {

// The icon the copies share, unlike the application's own icon.
QIcon copyIcon()
{
    return QIcon(QPixmap::fromImage(copyWindowIcon()));
}

// The state name and the experiment of a copy, read back from its caption
// ("3: 2>RgV2 - Histograms").
void splitCaption(const QString &caption, QString *stateName, QString *experiment)
{
    const QString separator = QStringLiteral(" - ");
    const int at = caption.lastIndexOf(separator);
    if (at < 0) {
        *stateName = caption;
        experiment->clear();
    } else {
        *stateName = caption.left(at);
        *experiment = caption.mid(at + separator.size());
    }
}

// Gives each image of a copy the name proposer of its frozen picture.
void nameImages(ChildWindow *copy, const QString &caption, Experiment experiment)
{
    QString state, shown;
    splitCaption(caption, &state, &shown);
    const auto images = copy->findChildren<FigureView *>();
    for (FigureView *image : images) {
        const QString name = figureName(state, experiment, image->objectName());
        image->setNameProposer([name] { return name; });
    }
}

// Puts a new copy into the main frame (or, without a main window, on the
// desktop), destroyed when closed, and shows it with its caption.
void showCopy(ChildWindow *copy, bool maximizeBox, const QString &caption, Experiment experiment)
{
    copy->setClosable(true);
    copy->setWindowIcon(copyIcon());
    QMdiArea *frame = windows().csMainForm ? windows().csMainForm->frame() : nullptr;
    if (frame) {
        QMdiSubWindow *sub = copy->addTo(frame, maximizeBox);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowIcon(copy->windowIcon());
    } else {
        Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
        if (maximizeBox)
            flags |= Qt::WindowMaximizeButtonHint;
        copy->setWindowFlags(flags);
        copy->setAttribute(Qt::WA_DeleteOnClose);
    }
    copy->showAndRaise();
    copy->setWindowTitle(caption);
    if (QMdiSubWindow *sub = copy->subWindow())
        sub->setWindowTitle(caption);
    nameImages(copy, caption, experiment);
}

void copyInto(FigureView *target, const Canvas &source)
{
    target->canvas().draw(0, 0, source);
    target->update();
}

} // namespace

void FigureCopyWindow::keepFigureData(FigureDataPtr data)
{
    m_data = std::move(data);
    // Its data are named after the state of its caption, as its images are.
    const auto stateName = [this] {
        QString state, experiment;
        splitCaption(windowTitle(), &state, &experiment);
        return state;
    };
    const auto images = findChildren<FigureView *>();
    for (FigureView *image : images)
        image->setMenuExtender([this, image, stateName](QMenu &menu) {
            addFigureDataEntries(menu, image, m_data, stateName);
            addMeasuredDataEntries(menu, image, m_measured, false);
        });
}

RecordsCopyWindow::RecordsCopyWindow(QWidget *parent)
    : FigureCopyWindow(QStringLiteral("csChildForm4"), QString(), 381, 388, -1, QPoint(), parent)
{
    setClosable(true);
    m_image3 = new FigureView(QStringLiteral("Image3"), 374, 380, this);
    m_image3->move(4, 4);
}

IsvCopyWindow::IsvCopyWindow(QWidget *parent)
    : FigureCopyWindow(QStringLiteral("csChildForm5"), QString(), 553, 193, -1, QPoint(), parent)
{
    setClosable(true);
    makeIsvFigures(this, m_images);
}

void IsvCopyWindow::keepMeasuredData(std::shared_ptr<const MeasuredData> data, int quantumStep)
{
    m_measured = std::move(data);
    if (!m_measured)
        return;
    const std::shared_ptr<const MeasuredData> measured = m_measured;
    m_images[0]->setOverlay(
        [measured, quantumStep](Canvas &c) { drawMeasuredQuanta(c, *measured, quantumStep); });
    m_images[1]->setOverlay([measured](Canvas &c) { drawMeasuredPeaks(c, *measured); });
    m_images[0]->update();
    m_images[1]->update();
}

void makeIsvFigures(QWidget *parent, FigureView *images[3])
{
    // Later widgets lie above earlier ones, so Image1 comes last.
    images[1] = new FigureView(QStringLiteral("Image2"), 204, 181, parent);
    images[1]->move(200, 4);
    images[2] = new FigureView(QStringLiteral("Image3"), 190, 181, parent);
    images[2]->move(396, 4);
    images[2]->hide();
    images[0] = new FigureView(QStringLiteral("Image1"), 204, 181, parent);
    images[0]->move(4, 4);
}

HistogramsCopyWindow::HistogramsCopyWindow(QWidget *parent)
    : FigureCopyWindow(QStringLiteral("csChildForm6"), QString(), 508, 251, -1, QPoint(), parent)
{
    setClosable(true);
    static const QPoint places[4] = {{4, 4}, {253, 4}, {4, 247}, {253, 247}};
    for (int i = 0; i < 4; ++i) {
        m_images[i] = new FigureView(QStringLiteral("Image%1").arg(i + 1), 250, 244, this);
        m_images[i]->move(places[i]);
    }
    m_images[2]->hide();
    m_images[3]->hide();
}

RecordsCopyWindow *copyRecords(const Canvas &image3, const QString &caption, FigureDataPtr data)
{
    auto *copy = new RecordsCopyWindow;
    copy->keepFigureData(std::move(data));
    showCopy(copy, true, caption, Experiment::Records);
    copyInto(copy->image3(), image3);
    return copy;
}

IsvCopyWindow *copyIsv(const Canvas &image1, const Canvas &image2, const Canvas *image3,
    const QString &caption, FigureDataPtr data)
{
    auto *copy = new IsvCopyWindow;
    copy->keepFigureData(std::move(data));
    showCopy(copy, false, caption, Experiment::Isv);
    copyInto(copy->image(1), image1);
    copyInto(copy->image(2), image2);
    if (image3) {
        copy->setOuterWidth(757);
        copy->image(3)->show();
        copyInto(copy->image(3), *image3);
    }
    return copy;
}

HistogramsCopyWindow *copyHistograms(const Canvas &image1, const Canvas &image2, const Canvas &image3,
    const Canvas &image4, bool quanta, bool latency, const QString &caption, FigureDataPtr data)
{
    auto *copy = new HistogramsCopyWindow;
    copy->keepFigureData(std::move(data));
    showCopy(copy, true, caption, Experiment::Histograms);
    if (quanta) {
        copyInto(copy->image(1), image1);
        copyInto(copy->image(2), image2);
        if (latency) {
            copy->setOuterHeight(522);
            copyInto(copy->image(3), image3);
            copyInto(copy->image(4), image4);
            copy->image(3)->show();
            copy->image(4)->show();
        }
    } else if (latency) {
        copy->setOuterHeight(278);
        copy->image(1)->hide();
        copy->image(2)->hide();
        copy->image(3)->move(4, 4);
        copy->image(4)->move(253, 4);
        copyInto(copy->image(3), image3);
        copyInto(copy->image(4), image4);
        copy->image(3)->show();
        copy->image(4)->show();
    }
    return copy;
}

QString stateFileBase(const QString &stateName)
{
    QString base = stateName;
    const int colon = base.indexOf(QStringLiteral(": "));
    if (colon >= 0)
        base.replace(colon, 2, QStringLiteral("_"));
    const int arrow = base.indexOf(QLatin1Char('>'));
    if (arrow >= 0)
        base.remove(arrow, 1);
    // A name read from a states file may hold anything printable. Only what
    // every desktop system takes in a file name stays (the names the program
    // makes use nothing else): ASCII letters and digits, "_", "-", "+" and
    // "~"; each other character becomes "_", so a name never leads into
    // another folder, hides the file or clashes with the system's rules.
    QString safe;
    for (const QChar c : std::as_const(base)) {
        const bool kept = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_')
            || c == QLatin1Char('-') || c == QLatin1Char('+') || c == QLatin1Char('~');
        if (c.isLowSurrogate())
            continue; // the high half of the pair gave the "_" already
        safe += kept ? c : QLatin1Char('_');
    }
    // Room for what follows ("_histograms_Image4.png") within the 255 bytes
    // a file name may have.
    constexpr int MaxBase = 200;
    return safe.left(MaxBase);
}

QString currentStateName()
{
    return QString::fromStdString(nameForParameters(model(), model().LPC));
}

QString figureName(const QString &stateName, Experiment experiment, const QString &image)
{
    // The experiment spelt as in the names of its data files.
    QString name
        = stateFileBase(stateName) + QLatin1Char('_') + QString::fromLatin1(experimentName(experiment));
    if (!image.isEmpty())
        name += QLatin1Char('_') + image;
    return name;
}

} // namespace cleftsim
