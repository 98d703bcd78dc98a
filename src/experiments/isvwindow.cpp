#include "experiments/isvwindow.h"

#include "experiments/copywindows.h"
#include "experiments/experimentbuttons.h"
#include "experiments/fitwindow.h"
#include "experiments/isvdrawing.h"
#include "experiments/measuredoverlay.h"
#include "runners/isvsweep.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

namespace cleftsim {

namespace {

// Watches, while a sweep yields, for the application being asked to quit.
class QuitWatch : public QObject {
public:
    QuitWatch()
    {
        if (QCoreApplication *app = QCoreApplication::instance())
            app->installEventFilter(this);
    }
    bool quitting() const { return m_quit || QCoreApplication::closingDown(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit)
            m_quit = true;
        return false;
    }

private:
    bool m_quit = false;
};

} // namespace

IsvWindow::IsvWindow(QWidget *parent)
    : ChildWindow(QStringLiteral("csForm5"), QStringLiteral("Is vs V2"), 553, 193, 5, QPoint(0, 177), parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::White);
    setPalette(pal);

    makeIsvFigures(this, m_images);
    m_images[1]->canvas().setFontHeight(13);
    m_images[2]->canvas().setFontHeight(13);
    for (FigureView *view : m_images) {
        const QString name = view->objectName();
        view->setNameProposer([name] { return figureName(currentStateName(), Experiment::Isv, name); });
        view->setMenuExtender([this, view](QMenu &menu) {
            addFigureDataEntries(menu, view, shownFigureData());
            addMeasuredDataEntries(menu, view, measuredData().data(), true, [] { showFitWindow(); });
        });
    }
    // The recording loaded is drawn over the figures of the mean quanta and
    // of the mean peak current, whatever the Runs and edits do to them.
    m_images[0]->setOverlay(
        [this](Canvas &c) {
            if (const MeasuredDataPtr data = measuredData().data())
                drawMeasuredQuanta(c, *data, m_quantumStep);
        },
        [] { return bool(measuredData().data()); });
    m_images[1]->setOverlay(
        [](Canvas &c) {
            if (const MeasuredDataPtr data = measuredData().data())
                drawMeasuredPeaks(c, *data);
        },
        [] { return bool(measuredData().data()); });
    connect(&measuredData(), &MeasuredDataStore::changed, this, [this] {
        m_images[0]->update();
        m_images[1]->update();
    });

    m_label1 = new QLabel(QStringLiteral("number of trials"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setFont(uiFont(13, true));
    m_label1->move(385, 10);
    m_label1->adjustSize();
    setLabel1Colour(colors::Black);
    m_spinEdit1 = new SpinEdit(QStringLiteral("SpinEdit1"), 1, 10000, 100, 5, this);
    m_spinEdit1->setGeometry(493, 8, 60, 26);
    m_runBtn = makeTextButton(QStringLiteral("RunBtn"), QStringLiteral("Run"), 491, 40, this);
    m_runBtn->setDefault(true);
    m_breakBtn = makeTextButton(QStringLiteral("BreakBtn"), QStringLiteral("Break"), 491, 72, this);
    m_breakBtn->setEnabled(false);
    m_breakBtn->hide();
    m_duplicateBtn = makePictureButton(
        QStringLiteral("DuplicateBtn"), ButtonPicture::Duplicate, 525, 165, QString(), this);
    if (QLabel *number = numberLabel()) {
        number->setObjectName(QStringLiteral("Label2"));
        number->raise();
    }

    connect(m_spinEdit1, &SpinEdit::changed, this, &IsvWindow::SpinEdit1Change);
    connect(
        m_spinEdit1, &SpinEdit::editingFinished, this, [this] { finishSpinText(m_spinEdit1, m_trialCount); });
    connect(m_runBtn, &QPushButton::clicked, this, &IsvWindow::RunBtnClick);
    connect(m_breakBtn, &QPushButton::clicked, this, &IsvWindow::BreakBtnClick);
    connect(m_duplicateBtn, &QToolButton::clicked, this, &IsvWindow::DuplicateBtnClick);
    // No figure shows results of other parameters than the current ones; the
    // switch also frames the figures anew.
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param f) {
        if (f == Param::BackgroundOn)
            setBackgroundLayout(model().LPC.BackgroundOn != 0);
        if (clearsIsv(f))
            EmptyImages();
    });

    m_trialCount = m_spinEdit1->value();
    EmptyImages();
    m_breakRequested = false;
}

void IsvWindow::setLabel1Colour(const QColor &colour)
{
    QPalette pal = m_label1->palette();
    pal.setColor(QPalette::WindowText, colour);
    m_label1->setPalette(pal);
}

void IsvWindow::setBackgroundLayout(bool on)
{
    const int shift = on ? 196 : 0;
    setOuterWidth(561 + shift);
    m_label1->move(385 + shift, 10);
    m_spinEdit1->move(493 + shift, 8);
    m_runBtn->move(491 + shift, 40);
    m_breakBtn->move(491 + shift, 72);
    m_duplicateBtn->move(525 + shift, 165);
    m_images[2]->setVisible(on);
}

void IsvWindow::EmptyImages()
{
    m_data.reset();
    if (m_running) {
        m_sweepPoints.clear();
        m_changedDuringSweep = true;
        ++m_sweepEdits;
    }
    const ConfigLink *config = windows().csForm0;
    const bool background = config && config->backgroundChecked();
    m_quantumStep = frameIsvFigures(
        m_images[0]->canvas(), m_images[1]->canvas(), m_images[2]->canvas(), model().LPC.N, background);
    for (FigureView *view : m_images)
        view->update();
}

// Draws the sweep as it comes and lets pending messages through at
// its resting places, where Break answers: at the first one at least
// the yield interval after the last time, so that a sweep of fast
// trials does not spend its time asking for messages.
class IsvWindow::SweepDrawer : public IsvSweepObserver {
public:
    IsvWindow &w;
    const std::function<SweepYield()> &yield;
    bool gone = false;
    QElapsedTimer shown; // since the figures were last repainted
    bool unshown = false; // points drawn since then
    QElapsedTimer yielded; // since pending messages were last let through
    bool pointUnderWay = false; // a trial of the next point has run
    int pointEdits = 0; // the window's edit count at the first trial of that point
    // The silver pixels of the trials not yet drawn, all at one
    // potential: drawn before every yield and every point.
    IsvTrialColumn column;
    int columnV = 0;
    const qint64 RepaintInterval = 40; // [msec]

    SweepDrawer(IsvWindow &window, const std::function<SweepYield()> &y)
        : w(window)
        , yield(y)
    {
        yielded.start(); // the sweep has just yielded once
    }
    void trial(int V, const IsvTrialResult &r) override
    {
        if (!pointUnderWay) {
            pointUnderWay = true;
            pointEdits = w.m_sweepEdits;
        }
        if (V != columnV)
            drawColumn();
        columnV = V;
        column.add(w.m_quantumStep, r);
    }
    void drawColumn()
    {
        if (!column.empty())
            column.draw(w.m_images[0]->canvas(), w.m_images[1]->canvas(), columnV);
    }
    void point(const IsvPoint &p) override
    {
        drawColumn();
        drawIsvPoint(
            w.m_images[0]->canvas(), w.m_images[1]->canvas(), w.m_images[2]->canvas(), w.m_quantumStep, p);
        ++w.m_pointsDrawn;
        // Kept only when no edit came between its first trial and now.
        if (pointEdits == w.m_sweepEdits)
            w.m_sweepPoints.push_back(p);
        pointUnderWay = false;
        // A few dozen repaints a second are all the screen shows;
        // the points between them appear with the next one.
        if (shown.isValid() && shown.elapsed() < RepaintInterval) {
            unshown = true;
            return;
        }
        show();
    }
    void show()
    {
        // Only what was drawn since the last repaint.
        for (FigureView *view : w.m_images)
            view->showChanged();
        shown.start();
        unshown = false;
    }
    bool pause() override
    {
        if (w.m_yieldInterval > 0 && yielded.elapsed() < w.m_yieldInterval)
            return true;
        drawColumn();
        const SweepYield state = yield();
        gone = state == SweepYield::Gone;
        if (gone)
            return false;
        yielded.start();
        return state == SweepYield::Go;
    }
    bool stopRequested() override { return w.m_breakRequested; }
};

void IsvWindow::RunBtnClick()
{
    if (m_running)
        return;
    startRun();

    // Pending messages may close the application or tear the windows down;
    // the sweep then stops, and touches nothing of a destroyed window.
    QPointer<IsvWindow> alive(this);
    QWidget *frame = window();
    const bool frameShown = frame->isVisible();
    QuitWatch quit;
    const std::function<SweepYield()> yield = [&] {
        QCoreApplication::processEvents();
        if (!alive)
            return SweepYield::Gone;
        if (quit.quitting() || (frameShown && !frame->isVisible()))
            return SweepYield::Stop;
        return SweepYield::Go;
    };

    const SweepYield state = yield();
    if (state == SweepYield::Gone)
        return;
    if (state == SweepYield::Go && !sweep(yield))
        return;
    finishRun();
}

void IsvWindow::startRun()
{
    m_running = true;
    m_pointsDrawn = 0;

    m_runBtn->setEnabled(false);
    m_breakBtn->setEnabled(true);
    m_breakBtn->show();
    m_breakRequested = false;
    setLabel1Colour(colors::Grey);
    m_spinEdit1->setEnabled(false);
    setCursor(Qt::WaitCursor);
    EmptyImages();
    m_sweepPoints.clear();
    m_changedDuringSweep = false;
    m_sweepEdits = 0;
}

bool IsvWindow::sweep(const std::function<SweepYield()> &yield)
{
    for (FigureView *view : m_images)
        view->canvas().setPenColor(colors::Black);
    Generator &rng = randomGenerator();
    const std::uint32_t seed = m_seedSource ? m_seedSource() : runSeed();
    const ParameterSet sweepParameters = model().LPC;
    rng.setSeed(seed);
    SweepDrawer drawer(*this, yield);
    runIsvSweep(model(), rng, m_trialCount, drawer);
    if (drawer.gone)
        return false;
    if (drawer.unshown)
        drawer.show();
    keepSweep(seed, sweepParameters);
    return true;
}

void IsvWindow::finishRun()
{
    unsetCursor();
    setLabel1Colour(colors::Black);
    m_spinEdit1->setEnabled(true);
    m_runBtn->setEnabled(true);
    m_breakRequested = false;
    m_breakBtn->setEnabled(false);
    m_breakBtn->hide();
    m_duplicateBtn->setEnabled(true);
    m_running = false;
}

void IsvWindow::keepSweep(std::uint32_t seed, const ParameterSet &parameters)
{
    auto data = std::make_shared<FigureData>();
    RunDescription &run = data->result.run;
    run.experiment = Experiment::Isv;
    run.seeds = {seed};
    run.trials = m_trialCount;
    run.params = m_changedDuringSweep ? model().LPC : parameters;
    IsvRunResult &sweep = data->result.outcome.emplace<IsvRunResult>();
    sweep.points = std::move(m_sweepPoints);
    m_sweepPoints.clear();
    const std::vector<IsvPoint> &points = sweep.points;
    if (m_changedDuringSweep) {
        data->changedMidway = true;
        // The points kept are those run wholly with the parameters named.
        data->note = points.empty()
            ? tr("The parameters changed during this sweep: it holds no point run wholly with these "
                 "parameters; no command repeats it.")
            : tr("The parameters changed during this sweep: it holds the points from V2 = %1 mV on, run "
                 "wholly with these parameters; no command repeats it.")
                  .arg(points.front().V);
    } else if (!sweep.complete(m_trialCount)) {
        const int V = points.empty() ? SweepFirstV : points.back().V;
        data->note = (m_breakRequested ? tr("Stopped by Break at V2 = %1 mV: no command repeats this sweep.")
                                       : tr("Broken off at V2 = %1 mV: no command repeats this sweep."))
                         .arg(V);
    }
    m_data = std::move(data);
}

FigureDataPtr IsvWindow::shownFigureData() const
{
    const MeasuredDataPtr measured = measuredData().data();
    if (!m_data || !measured)
        return m_data;
    auto data = std::make_shared<FigureData>(*m_data);
    data->measured = measured;
    return data;
}

void IsvWindow::BreakBtnClick()
{
    m_breakRequested = true;
}

void IsvWindow::SpinEdit1Change()
{
    int v = 0;
    if (!readSpinValue(m_spinEdit1, &v))
        return; // the text written back has run this handler already
    m_trialCount = v;
}

void IsvWindow::DuplicateBtnClick()
{
    if (MainWindowLink *main = windows().csMainForm; main && !main->Store())
        return;
    const ConfigLink *config = windows().csForm0;
    const bool background = config && config->backgroundChecked();
    IsvCopyWindow *copy
        = copyIsv(m_images[0]->canvas(), m_images[1]->canvas(), background ? &m_images[2]->canvas() : nullptr,
            QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Is vs V2"), shownFigureData());
    if (const MeasuredDataPtr data = measuredData().data())
        copy->keepMeasuredData(data, m_quantumStep);
    m_duplicateBtn->setEnabled(false);
}

void IsvWindow::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        if (m_runBtn->isEnabled())
            m_runBtn->click();
        return;
    }
    if (event->key() == Qt::Key_Escape && plain) {
        if (m_breakBtn->isEnabled())
            m_breakBtn->click();
        return;
    }
    ChildWindow::keyPressEvent(event);
}

} // namespace cleftsim
