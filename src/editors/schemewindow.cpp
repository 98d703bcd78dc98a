#include "editors/schemewindow.h"

#include "editors/editorkit.h"
#include "editors/editorlabels.h"
#include "editors/failurechart.h"
#include "model/rounding.h"
#include "model/synapse.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QLabel>

namespace cleftsim {

namespace {

// Right edges of the right-aligned value labels [pixels].
constexpr int Label14Right = 501;
constexpr int Label19Right = 501;
constexpr int Label21Right = 464;
constexpr int Label23Right = 503;

// Where the electrical scheme lies in the window.
constexpr QPoint ElSchemePos(165, 10);

QString pattern(double x, const char *format)
{
    return QString::fromStdString(formatPattern(x, format));
}

QString totalResistanceText()
{
    const ParameterSet &p = model().LPC;
    return pattern(1.0 / (p.Gmax * p.N), "#0.00");
}

QString failureRateText()
{
    return pattern(100 * FailureRate(model().LPC.V2), "##0.0");
}

bool backgroundOn()
{
    return windows().csForm0 && windows().csForm0->backgroundChecked();
}

} // namespace

SchemeWindow::SchemeWindow(QWidget *parent)
    : ChildWindow(
        QStringLiteral("csForm1"), QStringLiteral("Scheme Settings"), 562, 385, 1, QPoint(0, 368), parent)
{
    const ParameterSet &p = model().LPC;
    numberLabel()->setObjectName(QStringLiteral("Label25"));
    addPictures();
    addEditors(p);

    m_N.reset(p.N);
    m_Rg.reset(p.Rg);
    m_V2.reset(p.V2);

    drawMorphoBase(m_morphoScheme->canvas());
    drawSpineWord(m_image1->canvas());
    SpineHeadPaint();
    m_elScheme->redraw();
    refreshConductanceLabels();
    LabelsN0();

    // The editors were created showing LPC, so no handler has run yet.
    connect(m_spinEditN, &SpinEdit::changed, this, &SchemeWindow::SpinEditNChange);
    connect(m_maskEdit1, &MaskEdit::changed, this, &SchemeWindow::MaskEdit1Change);
    connect(m_spinEditV2, &SpinEdit::changed, this, &SchemeWindow::SpinEditV2Change);
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, &SchemeWindow::parameterChanged);
    connect(m_spinEditN, &QLineEdit::editingFinished, this,
        [this] { finishSpinText(m_spinEditN, model().LPC.N); });
    connect(m_spinEditV2, &QLineEdit::editingFinished, this,
        [this] { finishSpinText(m_spinEditV2, Round(model().LPC.V2)); });
}

void SchemeWindow::addPictures()
{
    const QFont bold = uiFont(13, true);
    // The pictures: the morphological one with the word spine over its neck,
    // the electrical scheme beside it, its left edge over the bouton.
    m_morphoScheme = new FigureView(QStringLiteral("MorphoScheme"), 180, 270, this, colors::Silver);
    m_morphoScheme->move(0, 0);
    m_image1 = new FigureView(QStringLiteral("Image1"), 14, 36, this);
    m_image1->move(81, 160);
    m_elScheme = new PaintBox(QStringLiteral("ElScheme"), 240, 371, this, palette().color(QPalette::Window));
    m_elScheme->move(ElSchemePos);
    m_elScheme->setPainter([this](Canvas &canvas) { ElSchemePaint(canvas); });

    // Compartment labels over the electrical scheme.
    const QFont condensed = overlayFont();
    struct Overlay {
        const char *name;
        const char *text;
        int x, y;
    };
    const Overlay overlays[] = {
        {"BoutonLabel1", "inside", 19, 38},
        {"BoutonLabel2", "the bouton", 8, 50},
        {"CleftLabel1", "inside", 23, 96},
        {"CleftLabel2", "the cleft", 19, 108},
        {"NeuronLabel1", "inside", 27, 246},
        {"NeuronLabel2", "the postsynaptic", 5, 258},
        {"NeuronLabel3", "neuron", 25, 270},
    };
    for (const Overlay &o : overlays) {
        QLabel *label = addLabel(this, QLatin1String(o.name), QLatin1String(o.text), ElSchemePos.x() + o.x,
            ElSchemePos.y() + o.y, condensed);
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, colors::Grey);
        label->setPalette(pal);
    }

    // The captions of the stimulation and the recording stand on the
    // electrical scheme: their ink is chosen with its face.
    const struct {
        const char *name;
        const char *text;
        int y;
    } captions[] = {{"Label1", "pulse", 0}, {"Label4", "stimulation", 14}, {"Label27", "voltage-clamp", 350},
        {"Label28", "recording", 364}};
    for (const auto &caption : captions)
        setInkOn(
            addLabel(this, QLatin1String(caption.name), QLatin1String(caption.text), 340, caption.y, bold),
            palette().color(QPalette::Window));
}

void SchemeWindow::addEditors(const ParameterSet &p)
{
    const QFont bold = uiFont(13, true);
    // Number of release sites.
    addLabel(this, QStringLiteral("Label6"), QStringLiteral("n"), 449, 64, uiFont(17));
    m_spinEditN = new SpinEdit(QStringLiteral("SpinEditN"), Param::N, p.N, 4, this);
    m_spinEditN->setGeometry(472, 62, 47, 26);

    // Mean failure rate.
    addLabel(this, QStringLiteral("Label20"), QStringLiteral("mean failure rate"), 396, 102, bold);
    m_label21 = addLabel(this, QStringLiteral("Label21"), QString(), 0, 120, bold);
    m_label22 = addLabel(this, QStringLiteral("Label22"), QStringLiteral("0"), 447, 125, bold);
    m_label23 = addLabel(this, QStringLiteral("Label23"), QString(), 0, 120, bold);
    addLabel(this, QStringLiteral("Label24"), QStringLiteral("%"), 506, 120, bold);

    // Gap resistance.
    QLabel *label2 = addLabel(this, QStringLiteral("Label2"), QStringLiteral("R"), 439, 152, bold);
    QLabel *label8 = addLabel(this, QStringLiteral("Label8"), QStringLiteral("g"), 450, 155, bold);
    m_maskEdit1 = new MaskEdit(QStringLiteral("MaskEdit1"), Param::Rg, p.Rg, this);
    m_maskEdit1->setGeometry(472, 150, 30, 24);
    m_maskEdit1->setMaxLength(4);
    addLabel(this, QStringLiteral("Label7"), QStringLiteral("GOhm"), 506, 152, bold);
    for (QWidget *w :
        {static_cast<QWidget *>(label2), static_cast<QWidget *>(label8), static_cast<QWidget *>(m_maskEdit1)})
        setTwoLineHint(w, QStringLiteral("synaptic gap"), QStringLiteral("resistance"));

    // Quantal conductance and total subsynaptic resistance.
    addLabel(this, QStringLiteral("Label15"), QStringLiteral("G       ="), 416, 184, bold);
    addLabel(this, QStringLiteral("Label16"), QStringLiteral("max"), 427, 178, bold);
    addLabel(this, QStringLiteral("Label17"), QStringLiteral("i"), 429, 190, bold);
    m_label19 = addLabel(this, QStringLiteral("Label19"), QString(), 0, 184, bold);
    addLabel(this, QStringLiteral("Label18"), QStringLiteral("nS"), 506, 184, bold);
    addLabel(this, QStringLiteral("Label10"), QStringLiteral("R        ="), 412, 216, bold);
    addLabel(this, QStringLiteral("Label12"), QStringLiteral("total"), 423, 210, bold);
    addLabel(this, QStringLiteral("Label11"), QStringLiteral("s"), 424, 220, bold);
    m_label14 = addLabel(this, QStringLiteral("Label14"), QString(), 0, 216, bold);
    addLabel(this, QStringLiteral("Label13"), QStringLiteral("GOhm"), 506, 216, bold);

    // Clamp potential.
    QLabel *label26 = addLabel(this, QStringLiteral("Label26"), QStringLiteral("V"), 441, 268, bold);
    QLabel *label9 = addLabel(this, QStringLiteral("Label9"), QStringLiteral("2"), 451, 272, bold);
    m_spinEditV2 = new SpinEdit(QStringLiteral("SpinEditV2"), Param::V2, Round(p.V2), 4, this);
    m_spinEditV2->setGeometry(472, 266, 47, 26);
    addLabel(this, QStringLiteral("Label3"), QStringLiteral("mV"), 524, 268, bold);
    for (QWidget *w : {static_cast<QWidget *>(label9), static_cast<QWidget *>(label26),
             static_cast<QWidget *>(m_spinEditV2)})
        setTwoLineHint(w, QStringLiteral("voltage clamped"), QStringLiteral("in the presynaptic neuron"));

    // Failure rate against the clamp potential, beyond the right edge until
    // the window widens for the background conductance.
    m_failureChart = new FigureView(QStringLiteral("FailureChart"), 190, 141, this, colors::Silver);
    m_failureChart->move(570, 8);
}

void SchemeWindow::parameterChanged(Param f)
{
    if (f == Param::BackgroundOn)
        setBackgroundLayout(model().LPC.BackgroundOn != 0);
    if (changesConductanceLabels(f))
        refreshConductanceLabels();
    if (changesFailureLabel(f))
        LabelsN0();
    if (changesFailureChart(f))
        FailuresChart();
}

void SchemeWindow::LabelsN0()
{
    const ParameterSet &p = model().LPC;
    const QString n0 = backgroundOn() ? QStringLiteral("N  (") + pattern(p.V2, "##0") + QStringLiteral("mV)=")
                                      : QStringLiteral("N  =");
    setRightAlignedText(m_label21, Label21Right, n0);
    const QPoint subscript(m_label21->x() + 11, m_label22->y());
    if (m_label22->pos() != subscript)
        m_label22->move(subscript);
    setRightAlignedText(m_label23, Label23Right, failureRateText());
}

void SchemeWindow::refreshConductanceLabels()
{
    setRightAlignedText(m_label14, Label14Right, totalResistanceText());
    setRightAlignedText(m_label19, Label19Right, pattern(model().LPC.Gmax, "#0.00"));
}

void SchemeWindow::FormPaint()
{
    refreshConductanceLabels();
    setRightAlignedText(m_label23, Label23Right, failureRateText());
}

void SchemeWindow::EmptyChart()
{
    drawFailureChartFrame(m_failureChart->canvas(), outerWidth(), outerHeight());
    m_failureChart->update();
}

void SchemeWindow::FailuresChart()
{
    if (!backgroundOn())
        return;
    EmptyChart();
    drawFailureCurve(m_failureChart->canvas(), model().LPC);
    m_failureChart->update();
}

void SchemeWindow::setBackgroundLayout(bool on)
{
    setOuterWidth(on ? 770 : 570);
}

void SchemeWindow::restoreFrom(const ParameterSet &s)
{
    m_spinEditN->setValue(s.N);
    m_maskEdit1->setNumber(s.Rg);
    m_spinEditV2->setValue(Round(s.V2));
}

void SchemeWindow::SpineHeadPaint()
{
    m_head = cleftsim::SpineHeadPaint(m_morphoScheme->canvas(), model().LPC.N);
    m_morphoScheme->update();
}

void SchemeWindow::ElSchemePaint(Canvas &canvas)
{
    // The paint box keeps no background of its own: what shows through it is
    // the right edge of the morphological picture.
    canvas.draw(-ElSchemePos.x(), -ElSchemePos.y(), m_morphoScheme->canvas());
    cleftsim::ElSchemePaint(canvas, model().LPC.N, palette().color(QPalette::Window));
}

void SchemeWindow::SpinEditNChange()
{
    int n = 0;
    if (!readSpinValue(m_spinEditN, &n) || !m_N.renews(n, model().LPC.N))
        return;
    // Remove the old leader arc while its radius is still known; the next
    // spine head wipes the rest of the old head. This comes after the entry
    // is read: a rewritten entry has run this handler again, which erased
    // and drew the leader once already.
    eraseCleftLeader(m_morphoScheme->canvas(), m_head.Rh);
    model().setField(Param::N, n);
    SpineHeadPaint();
    m_elScheme->redraw();
    parameterAccepted(Param::N);
}

void SchemeWindow::MaskEdit1Change()
{
    if (acceptMaskField(m_maskEdit1, Param::Rg, m_Rg))
        parameterAccepted(Param::Rg);
}

void SchemeWindow::SpinEditV2Change()
{
    if (acceptSpinField(m_spinEditV2, Param::V2, m_V2))
        parameterAccepted(Param::V2);
}

void SchemeWindow::paintEvent(QPaintEvent *event)
{
    FormPaint();
    ChildWindow::paintEvent(event);
}

void SchemeWindow::showEvent(QShowEvent *event)
{
    FormPaint();
    ChildWindow::showEvent(event);
}

} // namespace cleftsim
