#include "editors/subsynapticwindow.h"

#include "drawing/canvas.h"
#include "drawing/previews.h"
#include "model/parametertable.h"
#include "model/rounding.h"
#include "model/synapse.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>

namespace cleftsim {

namespace {

const QString Sigma = QStringLiteral("\u03a3");
const QString Dot = QStringLiteral("\u00b7");
const QString Minus = QStringLiteral("\u2212");

} // namespace

SubsynapticWindow::SubsynapticWindow(QWidget *parent)
    : ChildWindow(QStringLiteral("csForm3"), QStringLiteral("Subsynaptic Settings"), 276, 407, 3,
        QPoint(0, 390), parent)
{
    numberLabel()->setObjectName(QStringLiteral("Label20"));
    // The window has the face colour of its previews.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::Silver);
    setPalette(pal);
    const QColor face = colors::Silver;

    // One site's conductance.
    makeLabel(this, "Label3", QStringLiteral("Dynamics"), 96, -2, LabelStyle::Heading);
    makeLabel(this, "Label12", QStringLiteral("of Subsynaptic Conductance"), 28, 16, LabelStyle::Heading);
    m_image1 = makePicture(this, "Image1", 4, 36,
        verticalTitlePicture(13, 126, face, {{{QStringLiteral("site conductance, G(t)")}}}));
    m_paintBox1 = new PaintBox(QStringLiteral("PaintBox1"), 121, 90, this);
    m_paintBox1->move(24, 55);
    m_paintBox1->setPainter([](Canvas &c) { drawConductancePreview(c, model().LPC); });
    const char *timeLabels[] = {"Label5", "Label6", "Label7", "Label8", "Label9", "Label10"};
    for (int i = 0; i < 6; ++i)
        makeLabel(this, timeLabels[i], QString::number(i), 41 + 20 * i, 144, LabelStyle::Grey);
    makeLabel(this, "Label11", QStringLiteral("time (msec)"), 58, 156, LabelStyle::Grey);

    makeLabel(this, "Label2", QStringLiteral("G"), 158, 50, LabelStyle::Bold);
    makeLabel(this, "Label17", QStringLiteral("max"), 169, 54, LabelStyle::Bold);
    m_maskEdit2 = new MaskEdit(QStringLiteral("MaskEdit2"), Param::Gmax, 0.20, this);
    m_maskEdit2->setGeometry(200, 48, 30, 24);
    makeLabel(this, "Label19", QStringLiteral("nS"), 236, 50, LabelStyle::Bold);
    makeLabel(this, "Label1", QStringLiteral("time constant"), 104, 80, LabelStyle::Bold);
    m_maskEdit1 = new MaskEdit(QStringLiteral("MaskEdit1"), Param::tc, 2.50, this);
    m_maskEdit1->setGeometry(200, 78, 30, 24);
    makeLabel(this, "Label4", QStringLiteral("msec"), 236, 80, LabelStyle::Bold);

    m_label18 = makeLabel(this, "Label18", QStringLiteral("G"), 176, 112, LabelStyle::Bold);
    m_label21 = makeLabel(this, "Label21", QStringLiteral("b"), 187, 116, LabelStyle::Bold);
    m_maskEdit3 = new MaskEdit(QStringLiteral("MaskEdit3"), Param::Gb, 0.0, this);
    m_maskEdit3->setGeometry(200, 110, 37, 24);
    m_label15 = makeLabel(this, "Label15", QStringLiteral("nS"), 243, 112, LabelStyle::Bold);
    m_label14 = makeLabel(this, "Label14", QStringLiteral("(background"), 174, 136, LabelStyle::Plain);
    m_label16 = makeLabel(this, "Label16", QStringLiteral("conductance)"), 172, 150, LabelStyle::Plain);

    // The spine conductance against the number of quanta.
    m_paintBox2 = new PaintBox(QStringLiteral("PaintBox2"), 244, 164, this);
    m_paintBox2->move(18, 187);
    m_paintBox2->setPainter([this](Canvas &c) { m_quantaPlaces = drawQuantaPreview(c, model().LPC); });
    m_image5 = makePicture(this, "Image5", 4, 226,
        verticalTitlePicture(14, 104, face, {{{QStringLiteral("relative amplitude")}}}));
    m_image2 = makePicture(this, "Image2", 256, 188,
        verticalTitlePicture(14, 152, face,
            {{{QStringLiteral("spine conductance, G")}, {Sigma, true}, {QStringLiteral("(m)")}}}));
    m_label13 = makeLabel(
        this, "Label13", QStringLiteral("number of quanta released, m"), 26, 350, LabelStyle::Grey);
    const FormulaText lhs {{QStringLiteral("G")}, {Sigma, true}, {QStringLiteral("(m) =")}};
    m_image3 = makePicture(this, "Image3", 145, 370,
        formulaPicture(129, 35, face, lhs,
            {{QStringLiteral("m") + Dot + QStringLiteral("G")}, {QStringLiteral("max"), true}},
            {{QStringLiteral("1 + m") + Dot + QStringLiteral("G")}, {QStringLiteral("max"), true},
                {Dot + QStringLiteral("R")}, {QStringLiteral("g"), true}}));
    const FormulaText sum {
        {QStringLiteral("(n ") + Minus + QStringLiteral(" m)") + Dot + QStringLiteral("G")},
        {QStringLiteral("b"), true}, {QStringLiteral(" + m") + Dot + QStringLiteral("G")},
        {QStringLiteral("max"), true}};
    FormulaText denominator {{QStringLiteral("1 + (")}};
    denominator.insert(denominator.end(), sum.begin(), sum.end());
    denominator.push_back({QStringLiteral(")") + Dot + QStringLiteral("R")});
    denominator.push_back({QStringLiteral("g"), true});
    m_image4 = makePicture(this, "Image4", 81, 370, formulaPicture(193, 35, face, lhs, sum, denominator));

    setTabOrder(m_maskEdit1, m_maskEdit2);
    setTabOrder(m_maskEdit2, m_maskEdit3);
    numberLabel()->raise();

    FormCreate();
    for (QWidget *w : {static_cast<QWidget *>(m_label14), static_cast<QWidget *>(m_label15),
             static_cast<QWidget *>(m_label16), static_cast<QWidget *>(m_label18),
             static_cast<QWidget *>(m_label21), static_cast<QWidget *>(m_maskEdit3),
             static_cast<QWidget *>(m_image4)})
        w->hide();
    if (model().LPC.BackgroundOn)
        setBackgroundControls(true);
    repaintConductancePreview();
    repaintQuantaPreview(); // places the right-axis title and the caption

    connect(&modelChanges(), &ModelChanges::parameterChanged, this, &SubsynapticWindow::parameterChanged);
    connect(m_maskEdit1, &MaskEdit::changed, this, &SubsynapticWindow::MaskEdit1Change);
    connect(m_maskEdit2, &MaskEdit::changed, this, &SubsynapticWindow::MaskEdit2Change);
    connect(m_maskEdit3, &MaskEdit::changed, this, &SubsynapticWindow::MaskEdit3Change);
}

// Fills the editors from LPC; the handlers are not connected yet.
void SubsynapticWindow::FormCreate()
{
    const ParameterSet &p = model().LPC;
    m_maskEdit2->setNumber(p.Gmax);
    m_maskEdit1->setNumber(p.tc);
    if (p.BackgroundOn)
        m_maskEdit3->setNumber(p.Gb);
    m_tc.reset(p.tc);
    m_Gmax.reset(p.Gmax);
    m_Gb.reset(p.BackgroundOn ? p.Gb : 0.0);
}

void SubsynapticWindow::showEvent(QShowEvent *event)
{
    ChildWindow::showEvent(event);
    FormShow();
}

// Stands the window immediately to the right of Presynaptic Settings.
void SubsynapticWindow::FormShow()
{
    const ChildWindow *presyn = windows().forms[2];
    if (!presyn)
        return;
    const QPoint p = presyn->outerPos();
    moveOuter(QPoint(p.x() + presyn->outerWidth(), p.y()));
}

void SubsynapticWindow::parameterChanged(Param f)
{
    if (f == Param::BackgroundOn)
        setBackgroundControls(model().LPC.BackgroundOn != 0);
    if (changesQuantaPreview(f))
        repaintQuantaPreview();
}

void SubsynapticWindow::repaintConductancePreview()
{
    m_paintBox1->redraw();
}

void SubsynapticWindow::repaintQuantaPreview()
{
    m_paintBox2->redraw();
    // The right axis' title and the caption follow the scale and N.
    if (m_image2->x() != m_quantaPlaces.titleLeft)
        m_image2->move(m_quantaPlaces.titleLeft, m_image2->y());
    const int captionLeft = m_quantaPlaces.captionCentre - Round(m_label13->width() / 2.0);
    if (m_label13->x() != captionLeft)
        m_label13->move(captionLeft, m_label13->y());
}

void SubsynapticWindow::setBackgroundControls(bool on)
{
    for (QWidget *w : {static_cast<QWidget *>(m_label14), static_cast<QWidget *>(m_label15),
             static_cast<QWidget *>(m_label16), static_cast<QWidget *>(m_label18),
             static_cast<QWidget *>(m_label21), static_cast<QWidget *>(m_maskEdit3)})
        w->setVisible(on);
    m_image3->setVisible(!on);
    m_image4->setVisible(on);
    // The switch has reset Gb: the editor shows the new value, without the
    // consequences of an edit (the switch clears only the Is vs V2 figures).
    const double Gb = model().LPC.Gb;
    {
        const QSignalBlocker blocker(m_maskEdit3);
        m_maskEdit3->setNumber(Gb);
    }
    m_Gb.reset(Gb);
    repaintConductancePreview();
    repaintQuantaPreview();
}

void SubsynapticWindow::restoreFrom(const ParameterSet &s)
{
    if (s.Gmax < model().LPC.Gb) {
        m_maskEdit3->setNumber(s.Gb);
        m_maskEdit2->setNumber(s.Gmax);
        m_maskEdit1->setNumber(s.tc);
    } else {
        m_maskEdit2->setNumber(s.Gmax);
        m_maskEdit1->setNumber(s.tc);
        m_maskEdit3->setNumber(s.Gb);
    }
}

void SubsynapticWindow::MaskEdit1Change()
{
    if (!acceptMaskField(m_maskEdit1, Param::tc, m_tc))
        return;
    repaintConductancePreview();
    parameterAccepted(Param::tc);
}

void SubsynapticWindow::MaskEdit2Change()
{
    // Gmax keeps at least its lower bound and at least Gb; a Gb with a third
    // decimal raises Gmax to the next value its two decimals can show.
    const double Gb = model().LPC.Gb;
    const double GmaxMin = paramInfo(Param::Gmax).min;
    const auto limit = [Gb, GmaxMin](double v) {
        return v < GmaxMin || v < Gb ? std::max(GmaxMin, fixedCeil(Gb, 2)) : clampToRange(Param::Gmax, v);
    };
    if (!acceptMaskField(m_maskEdit2, Param::Gmax, m_Gmax, limit))
        return;
    repaintConductancePreview();
    repaintQuantaPreview();
    parameterAccepted(Param::Gmax);
}

void SubsynapticWindow::MaskEdit3Change()
{
    const ParameterSet &p = model().LPC;
    // Gb exists only while the background conductance is switched on.
    if (!p.BackgroundOn) {
        rewriteMaskEntry(m_maskEdit3, p.Gb);
        return;
    }
    const double Gmax = p.Gmax;
    const auto limit = [Gmax](double v) { return v > Gmax ? Gmax : clampToRange(Param::Gb, v); };
    if (!acceptMaskField(m_maskEdit3, Param::Gb, m_Gb, limit))
        return;
    repaintConductancePreview();
    repaintQuantaPreview();
    parameterAccepted(Param::Gb);
}

} // namespace cleftsim
