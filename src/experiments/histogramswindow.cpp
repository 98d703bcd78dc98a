#include "experiments/histogramswindow.h"

#include "experiments/copywindows.h"
#include "experiments/experimentbuttons.h"
#include "experiments/histogramsdrawing.h"
#include "experiments/jointfigure.h"
#include "model/random.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QToolButton>

namespace cleftsim {

namespace {

// Outer top of the window in the frame when the program starts [px].
constexpr int StartTop = 393;
// Height of one row of figures: the window's top edge moves by it when the
// second row comes or goes [px].
constexpr int RowHeight = 244;

QLabel *boldLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(uiFont(13, true));
    label->adjustSize();
    return label;
}

// Shows the application-wide hourglass for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

HistogramsWindow::HistogramsWindow(QWidget *parent)
    : ChildWindow(
        QStringLiteral("csForm6"), QStringLiteral("Histograms"), 508, 251, 6, QPoint(0, 236), parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::White);
    setPalette(pal);

    static const QPoint places[4] = {{4, 4}, {253, 4}, {4, 247}, {253, 247}};
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("Image%1").arg(i + 1);
        m_images[i] = new FigureView(name, 250, 244, this);
        m_images[i]->move(places[i]);
        m_images[i]->canvas().setFontHeight(13);
        m_images[i]->setNameProposer(
            [name] { return figureName(currentStateName(), Experiment::Histograms, name); });
        attachFigureData(m_images[i], [this] { return m_data; });
    }
    m_images[2]->hide();
    m_images[3]->hide();

    m_checkQuanta = new QCheckBox(QStringLiteral("quanta"), this);
    m_checkQuanta->setObjectName(QStringLiteral("CheckBoxQuanta"));
    m_checkQuanta->setFont(uiFont(13, true));
    m_checkQuanta->setGeometry(436, 8, 70, 17);
    m_checkQuanta->setChecked(true);
    m_checkLatency = new QCheckBox(QStringLiteral("latency"), this);
    m_checkLatency->setObjectName(QStringLiteral("CheckBoxLatency"));
    m_checkLatency->setFont(uiFont(13, true));
    m_checkLatency->setGeometry(436, 34, 70, 17);
    m_checkLatency->setChecked(false);

    m_label1 = boldLabel(QStringLiteral("Label1"), QStringLiteral("number of trials"), this);
    m_label1->move(340, 60);

    m_spinEdit1 = new SpinEdit(QStringLiteral("SpinEdit1"), 1, 10000, 100, 5, this);
    m_spinEdit1->setGeometry(448, 58, 60, 26);

    m_runBtn = makeTextButton(QStringLiteral("RunBtn"), QStringLiteral("Run"), 446, 90, this);
    m_runBtn->setDefault(true);

    // The same picture button as the other experiments' copy buttons, no hint.
    m_duplicateBtn = makePictureButton(
        QStringLiteral("DuplicateBtn"), ButtonPicture::Duplicate, 480, 223, QString(), this);

    if (QLabel *number = numberLabel()) {
        number->setObjectName(QStringLiteral("Label2"));
        number->raise();
    }

    connect(m_checkQuanta, &QCheckBox::clicked, this, &HistogramsWindow::CheckBoxQuantaClick);
    connect(m_checkLatency, &QCheckBox::clicked, this, &HistogramsWindow::CheckBoxLatencyClick);
    connect(m_spinEdit1, &SpinEdit::changed, this, &HistogramsWindow::SpinEdit1Change);
    connect(
        m_spinEdit1, &SpinEdit::editingFinished, this, [this] { finishSpinText(m_spinEdit1, m_trialCount); });
    connect(m_runBtn, &QPushButton::clicked, this, &HistogramsWindow::RunBtnClick);
    connect(m_duplicateBtn, &QToolButton::clicked, this, &HistogramsWindow::DuplicateBtnClick);
    // No figure shows results of other parameters than the current ones.
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param f) {
        if (clearsHistograms(f))
            EmptyImages();
    });

    // FormCreate.
    m_trialCount = m_spinEdit1->value();
    EmptyImages();
}

bool HistogramsWindow::event(QEvent *e)
{
    // The window starts at a fixed height in the frame, wherever its left
    // edge is put.
    if (e->type() == QEvent::ParentChange && !m_placed) {
        if (QMdiSubWindow *sub = subWindow()) {
            m_placed = true;
            sub->move(sub->x(), StartTop);
        }
    }
    return ChildWindow::event(e);
}

void HistogramsWindow::keyPressEvent(QKeyEvent *e)
{
    // Run is the default button: Enter anywhere in the window presses it.
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && m_runBtn->isEnabled()) {
        m_runBtn->click();
        return;
    }
    ChildWindow::keyPressEvent(e);
}

void HistogramsWindow::EmptyImages()
{
    m_data.reset();
    const ParameterSet &p = model().LPC;
    frameQuantaHistogram(m_images[0]->canvas(), p, m_trialCount);
    frameCurrentHistogram(m_images[1]->canvas(), p, m_trialCount);
    frameJointFigure(m_images[2]->canvas(), p);
    frameLatencyHistogram(m_images[3]->canvas(), p, m_trialCount);
    for (FigureView *image : m_images)
        image->update();
}

void HistogramsWindow::SpinEdit1Change()
{
    int v = 0;
    if (!readSpinValue(m_spinEdit1, &v))
        return; // the text written back has run this handler already
    m_trialCount = v;
    EmptyImages();
}

void HistogramsWindow::RunBtnClick()
{
    m_runBtn->setEnabled(false);
    {
        WaitCursor hourglass;
        EmptyImages();
        Generator &rng = randomGenerator();
        const std::uint32_t seed = m_seedSource ? m_seedSource() : runSeed();
        rng.setSeed(seed);
        // The trials take no messages; the window is neither repainted nor
        // answers until they are done.
        m_result = runHistograms(model(), rng, m_trialCount);
        const HistogramsResult &r = m_result;
        // The parameters of these trials, kept for the background marker in
        // case an edit changes them while the figures are drawn.
        const ParameterSet runParameters = model().LPC;
        // An edit while the figures are drawn clears them and this with them.
        auto data = std::make_shared<FigureData>();
        data->result.run.experiment = Experiment::Histograms;
        data->result.run.seeds = {seed};
        data->result.run.trials = m_trialCount;
        data->result.run.params = runParameters;
        data->result.outcome = m_result;
        m_data = std::move(data);

        // The figures one after another, letting the application breathe
        // between them. A parameter edit made meanwhile clears the figures;
        // the drawing goes on into the cleared ones.
        drawQuantaHistogram(m_images[0]->canvas(), r);
        m_images[0]->update();
        QCoreApplication::processEvents();
        if (r.currentCollected) {
            drawCurrentHistogram(m_images[1]->canvas(), r, runParameters);
            m_images[1]->update();
            QCoreApplication::processEvents();
        }
        drawJointFigure(m_images[2]->canvas(), r);
        m_images[2]->update();
        QCoreApplication::processEvents();
        drawLatencyHistogram(m_images[3]->canvas(), r);
        m_images[3]->update();
        QCoreApplication::processEvents();
    }
    m_runBtn->setEnabled(true);
    m_duplicateBtn->setEnabled(true);
}

void HistogramsWindow::DuplicateBtnClick()
{
    if (MainWindowLink *main = windows().csMainForm) {
        if (!main->Store())
            return;
    }
    const QString caption = QString::fromStdString(model().LPC.Name) + QStringLiteral(" - Histograms");
    copyHistograms(m_images[0]->canvas(), m_images[1]->canvas(), m_images[2]->canvas(), m_images[3]->canvas(),
        m_checkQuanta->isChecked(), m_checkLatency->isChecked(), caption, m_data);
    m_duplicateBtn->setEnabled(false);
}

void HistogramsWindow::CheckBoxQuantaClick()
{
    setRows(m_checkQuanta->isChecked(), m_checkLatency->isChecked());
}

void HistogramsWindow::CheckBoxLatencyClick()
{
    setRows(m_checkQuanta->isChecked(), m_checkLatency->isChecked());
}

void HistogramsWindow::setRows(bool quanta, bool latency)
{
    const bool wasTwoRows = m_quantaRow && m_latencyRow;
    const bool twoRows = quanta && latency;
    m_quantaRow = quanta;
    m_latencyRow = latency;

    // Tops of the controls: the two-row layout moves them down by one row.
    const int shift = twoRows ? RowHeight : 0;
    if (twoRows && !wasTwoRows)
        moveOuter(outerPos() - QPoint(0, RowHeight));
    else if (!twoRows && wasTwoRows)
        moveOuter(outerPos() + QPoint(0, RowHeight));
    setOuterHeight(twoRows ? 522 : (quanta || latency) ? 278 : 80);

    m_images[0]->setVisible(quanta);
    m_images[1]->setVisible(quanta);
    const int latencyTop = quanta ? 247 : 4;
    m_images[2]->move(4, latencyTop);
    m_images[3]->move(253, latencyTop);
    m_images[2]->setVisible(latency);
    m_images[3]->setVisible(latency);

    m_checkQuanta->move(436, 8 + shift);
    m_checkLatency->move(436, 34 + shift);
    m_spinEdit1->move(448, 58 + shift);
    m_label1->move(340, 60 + shift);
    m_runBtn->move(446, 90 + shift);
    m_duplicateBtn->move(480, 223 + shift);
    if (QLabel *number = numberLabel())
        number->move(0, 236 + shift);
}

} // namespace cleftsim
