#include "experiments/isvwindow.h"

#include "experiments/copywindows.h"
#include "experiments/engine/isvsweep.h"
#include "experiments/picturebutton.h"
#include "model/rounding.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

namespace cleftsim {

namespace {

QPushButton *makeButton(const QString &objectName, const QString &text, int x, int y, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setFont(uiFont(13, true));
    button->setGeometry(x, y, 60, 26);
    return button;
}

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
    , m_seedSource(seedFromClock)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::White);
    setPalette(pal);

    makeIsvFigures(this, m_images);
    m_images[1]->canvas().setFontHeight(13);
    m_images[2]->canvas().setFontHeight(13);
    for (FigureView *view : m_images) {
        const QString name = view->objectName();
        view->setNameProposer([name] {
            return figureName(QString::fromStdString(model().LPC.Name), QStringLiteral("Is vs V2"), name);
        });
    }

    m_label1 = new QLabel(QStringLiteral("number of trials"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setFont(uiFont(13, true));
    m_label1->move(385, 10);
    m_label1->adjustSize();
    setLabel1Colour(colors::Black);
    m_spinEdit1 = new SpinEdit(QStringLiteral("SpinEdit1"), 1, 10000, 100, 5, this);
    m_spinEdit1->setGeometry(493, 8, 60, 26);
    m_runBtn = makeButton(QStringLiteral("RunBtn"), QStringLiteral("Run"), 491, 40, this);
    m_runBtn->setDefault(true);
    m_breakBtn = makeButton(QStringLiteral("BreakBtn"), QStringLiteral("Break"), 491, 72, this);
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

void IsvWindow::QuantaFrame()
{
    Canvas &c = m_images[0]->canvas();
    ClearFrame(c, colors::White, outerWidth(), outerHeight());

    // Quanta: m quanta at y = 145 - m * QuantumStep.
    const int N = model().LPC.N;
    m_quantumStep = 140 / N;
    const int q = m_quantumStep;
    c.moveTo(140, 150);
    c.lineTo(140, 145 - N * q);
    for (int i = 1; i <= N; ++i) {
        c.moveTo(140, 145 - i * q);
        c.lineTo(144, 145 - i * q);
    }
    for (int i = 1; i <= N; ++i) {
        if (N <= 5 || i % 5 == 0)
            c.textOut(148, 138 - i * q, QString::number(i));
    }

    // Potential: x = 140 + V.
    c.moveTo(0, 145);
    c.lineTo(180, 145);
    for (int j = -4; j <= 14; ++j) {
        c.moveTo(140 - 10 * j, 145);
        c.lineTo(140 - 10 * j, 149);
    }
    for (int x : {90, 40}) {
        c.moveTo(x, 145);
        c.lineTo(x, 151);
    }
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(12, 165, QStringLiteral("potential, V2 (mV)"));
    c.textOut(137, 151, QStringLiteral("0"));
    c.textOut(80, 151, QStringLiteral("-50"));
    c.textOut(26, 151, QStringLiteral("-100"));
}

void IsvWindow::CurrentFrame(Canvas &c)
{
    ClearFrame(c, colors::White, outerWidth(), outerHeight());

    // Current: y = 40 - I, inward currents below the zero line.
    c.moveTo(140, 0);
    c.lineTo(140, 180);
    for (int y = 0; y <= 30; y += 10) {
        c.moveTo(140, y);
        c.lineTo(136, y);
    }
    for (int y = 50; y <= 180; y += 10) {
        c.moveTo(140, y);
        c.lineTo(144, y);
    }
    for (int y : {90, 140}) {
        c.moveTo(140, y);
        c.lineTo(146, y);
    }

    // Potential along the zero-current line.
    c.moveTo(0, 40);
    c.lineTo(180, 40);
    for (int x = 180; x >= 150; x -= 10) {
        c.moveTo(x, 40);
        c.lineTo(x, 44);
    }
    for (int x = 130; x >= 0; x -= 10) {
        c.moveTo(x, 40);
        c.lineTo(x, 36);
    }
    for (int x : {90, 40}) {
        c.moveTo(x, 40);
        c.lineTo(x, 34);
    }
    c.setFontColor(colors::Grey);
    c.setBrushStyle(Canvas::BrushStyle::Clear);
    c.textOut(12, 2, QStringLiteral("potential, V2 (mV)"));
    c.textOut(80, 19, QStringLiteral("-50"));
    c.textOut(26, 19, QStringLiteral("-100"));
    c.textOut(148, 82, QStringLiteral("-50"));
    c.textOut(148, 132, QStringLiteral("-100"));
}

void IsvWindow::EmptyImages()
{
    QuantaFrame();
    DrawVerticalText(m_images[0]->canvas(), 180, 182, QStringLiteral("number of quanta released, m"));
    CurrentFrame(m_images[1]->canvas());
    DrawVerticalText(m_images[1]->canvas(), 173, 179, QStringLiteral("synaptic current (pA)"));
    const ConfigLink *config = windows().csForm0;
    if (config && config->backgroundChecked()) {
        CurrentFrame(m_images[2]->canvas());
        DrawVerticalText(m_images[2]->canvas(), 174, 178, QStringLiteral("EPSC amplitude (pA)"));
    } else {
        DrawVerticalText(m_images[1]->canvas(), 189, 175, QStringLiteral("(EPSC amplitude)"));
    }
    for (FigureView *view : m_images)
        view->update();
}

void IsvWindow::RunBtnClick()
{
    if (m_running)
        return;
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

    // Pending messages may close the application or tear the windows down;
    // the sweep then stops, and touches nothing of a destroyed window.
    QPointer<IsvWindow> alive(this);
    QWidget *frame = window();
    const bool frameShown = frame->isVisible();
    QuitWatch quit;
    enum class Yield { Go, Stop, Gone };
    const auto yield = [&] {
        QCoreApplication::processEvents();
        if (!alive)
            return Yield::Gone;
        if (quit.quitting() || (frameShown && !frame->isVisible()))
            return Yield::Stop;
        return Yield::Go;
    };

    Yield state = yield();
    if (state == Yield::Gone)
        return;
    if (state == Yield::Go) {
        for (FigureView *view : m_images)
            view->canvas().setPenColor(colors::Black);
        Generator &rng = randomGenerator();
        rng.setSeed(m_seedSource());
        ModelState &ms = model();
        Canvas &c1 = m_images[0]->canvas();
        Canvas &c2 = m_images[1]->canvas();
        Canvas &c3 = m_images[2]->canvas();
        for (int i = -SweepFirstV; i <= -SweepLastV && state == Yield::Go; ++i) {
            const int V = -i;
            const int x = 140 + V;
            const double Ib = sweepBackgroundCurrent(ms.LPC, V);
            long long totalQuanta = 0;
            double peakSum = 0;
            int n = 0;
            for (int trial = 1; trial <= m_trialCount; ++trial) {
                const IsvTrialResult r = isvTrial(ms, rng, V);
                ++n;
                c1.setPixel(x, 145 - r.m * m_quantumStep, colors::Silver);
                totalQuanta += r.m;
                c2.setPixel(x, 40 - Round(r.peak), colors::Silver);
                peakSum += r.peak;
                if (trial % 50 == 0) {
                    state = yield();
                    if (state != Yield::Go)
                        break;
                }
                if (m_breakRequested)
                    break;
            }
            if (state == Yield::Gone)
                return;
            if (state == Yield::Stop)
                break;
            const double meanM = double(totalQuanta) / n;
            const double meanPeak = peakSum / n;
            const int y1 = 145 - Round(meanM * m_quantumStep);
            const int y2 = 40 - Round(meanPeak);
            const int y3 = 40 - Round(meanPeak - Ib);
            if (V == SweepFirstV) {
                c1.moveTo(x, y1);
                c2.moveTo(x, y2);
                c3.moveTo(x, y3);
            } else {
                c1.lineTo(x, y1);
                c2.lineTo(x, y2);
                c3.lineTo(x, y3);
            }
            ++m_pointsDrawn;
            for (FigureView *view : m_images)
                view->update();
            state = yield();
            if (state == Yield::Gone)
                return;
            if (m_breakRequested)
                break;
        }
    }

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
    copyIsv(m_images[0]->canvas(), m_images[1]->canvas(), background ? &m_images[2]->canvas() : nullptr,
        QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Is vs V2"));
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
