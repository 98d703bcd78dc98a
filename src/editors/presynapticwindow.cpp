#include "editors/presynapticwindow.h"

#include "drawing/canvas.h"
#include "drawing/previews.h"
#include "editors/editorkit.h"
#include "model/rounding.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/figureview.h"

#include <QLabel>
#include <QSignalBlocker>

namespace cleftsim {

PresynapticWindow::PresynapticWindow(QWidget *parent)
    : ChildWindow(QStringLiteral("csForm2"), QStringLiteral("Presynaptic Settings"), 276, 407, 2,
        QPoint(0, 390), parent)
{
    numberLabel()->setObjectName(QStringLiteral("Label20"));
    // The window has the face colour of its previews.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colors::Silver);
    setPalette(pal);
    const QColor face = colors::Silver;
    const QString v1rHint = QStringLiteral("resting potential \nin the presynaptic neuron");

    // The spike.
    makeLabel(this, "Label1", QStringLiteral("Presynaptic Spike"), 90, -2, LabelStyle::Heading);
    m_image1 = makePicture(this, "Image1", 16, 16,
        verticalTitlePicture(13, 148, face, {{{QStringLiteral("membrane potential (mV)")}}}));
    m_paintBox1 = new PaintBox(QStringLiteral("PaintBox1"), 112, 144, this);
    m_paintBox1->move(50, 20);
    m_paintBox1->setPainter([](Canvas &c) { drawSpikePreview(c, model().LPC); });
    makeLabel(this, "Label10", QStringLiteral("0"), 46, 52, LabelStyle::Grey);
    makeLabel(this, "Label11", QStringLiteral("-50"), 35, 102, LabelStyle::Grey);
    makeLabel(this, "Label12", QStringLiteral("-100"), 28, 152, LabelStyle::Grey);

    makeLabel(this, "Label2", QStringLiteral("E"), 156, 32, LabelStyle::Bold);
    makeLabel(this, "Label22", QStringLiteral("max"), 166, 35, LabelStyle::Bold);
    m_spinEditEmax = new SpinEdit(QStringLiteral("SpinEditEmax"), Param::Emax, 20, 3, this);
    m_spinEditEmax->setGeometry(198, 30, 47, 26);
    makeLabel(this, "Label3", QStringLiteral("mV"), 250, 32, LabelStyle::Bold);

    makeLabel(this, "Label5", QStringLiteral("V"), 166, 96, LabelStyle::Bold)->setToolTip(v1rHint);
    makeLabel(this, "Label23", QStringLiteral("1r"), 176, 100, LabelStyle::Bold)->setToolTip(v1rHint);
    m_spinEditV1r = new SpinEdit(QStringLiteral("SpinEditV1r"), Param::V1r, -70, 4, this);
    m_spinEditV1r->setGeometry(198, 94, 47, 26);
    m_spinEditV1r->setToolTip(v1rHint);
    makeLabel(this, "Label4", QStringLiteral("mV"), 250, 96, LabelStyle::Bold);

    makeLabel(this, "Label8", QStringLiteral("duration"), 138, 160, LabelStyle::Bold);
    m_maskEdit1 = new MaskEdit(QStringLiteral("MaskEdit1"), Param::du, 1.00, this);
    m_maskEdit1->setGeometry(198, 158, 30, 24);
    makeLabel(this, "Label9", QStringLiteral("msec"), 234, 160, LabelStyle::Bold);

    // The release law.
    makeLabel(this, "Label13", QStringLiteral("Transmitter release"), 44, 202, LabelStyle::Heading);
    makeLabel(this, "Label14", QStringLiteral("exponent"), 14, 246, LabelStyle::Bold);
    m_maskEdit2 = new MaskEdit(QStringLiteral("MaskEdit2"), Param::ex, 5.00, this);
    m_maskEdit2->setGeometry(82, 244, 30, 24);
    makeLabel(this, "Label19", QStringLiteral("mV"), 118, 246, LabelStyle::Bold);
    makeLabel(this, "Label15", QStringLiteral("norm factor"), 2, 278, LabelStyle::Bold);
    m_maskEdit3 = new MaskEdit(QStringLiteral("MaskEdit3"), Param::gf, 0.15, this);
    m_maskEdit3->setGeometry(82, 276, 44, 24);

    m_paintBox2 = new PaintBox(QStringLiteral("PaintBox2"), 142, 107, this);
    m_paintBox2->move(92, 231);
    m_paintBox2->setPainter([](Canvas &c) { drawReleasePreview(c, model().LPC, model().SpikeSteps); });
    makeLabel(this, "Label25", QStringLiteral("1"), 179, 224, LabelStyle::Grey);
    makeLabel(this, "Label26", QStringLiteral("0.5"), 168, 275, LabelStyle::Grey);
    makeLabel(this, "Label16", QStringLiteral("0"), 189, 338, LabelStyle::Grey);
    makeLabel(this, "Label17", QStringLiteral("-50"), 132, 338, LabelStyle::Grey);
    makeLabel(this, "Label18", QStringLiteral("-100"), 78, 338, LabelStyle::Grey);
    makeLabel(this, "Label21", QStringLiteral("presynaptic potential (mV)"), 80, 350, LabelStyle::Grey);
    m_image2 = makePicture(this, "Image2", 245, 226,
        verticalTitlePicture(
            26, 110, face, {{{QStringLiteral("probability")}}, {{QStringLiteral("/per site /per spike")}}}));

    // The edits lie above the previews they overlap.
    m_maskEdit2->raise();
    m_maskEdit3->raise();
    numberLabel()->raise();
    setTabOrder(m_spinEditEmax, m_spinEditV1r);
    setTabOrder(m_spinEditV1r, m_maskEdit1);
    setTabOrder(m_maskEdit1, m_maskEdit2);
    setTabOrder(m_maskEdit2, m_maskEdit3);

    FormCreate();
    repaintPreviews(true);

    connect(m_spinEditEmax, &SpinEdit::changed, this, &PresynapticWindow::SpinEditEmaxChange);
    connect(m_spinEditV1r, &SpinEdit::changed, this, &PresynapticWindow::SpinEditV1rChange);
    connect(m_maskEdit1, &MaskEdit::changed, this, &PresynapticWindow::MaskEdit1Change);
    connect(m_maskEdit2, &MaskEdit::changed, this, &PresynapticWindow::MaskEdit2Change);
    connect(m_maskEdit3, &MaskEdit::changed, this, &PresynapticWindow::MaskEdit3Change);
    // A half-typed whole number (an empty box, a lone sign) shows the value
    // in force again once the user leaves the edit.
    connect(m_spinEditEmax, &SpinEdit::editingFinished, this,
        [this] { finishSpinText(m_spinEditEmax, Round(model().LPC.Emax)); });
    connect(m_spinEditV1r, &SpinEdit::editingFinished, this,
        [this] { finishSpinText(m_spinEditV1r, Round(model().LPC.V1r)); });
}

// Fills the editors from LPC. The handlers are not connected yet, so nothing
// reaches the other windows.
void PresynapticWindow::FormCreate()
{
    const ParameterSet &p = model().LPC;
    m_spinEditEmax->setValue(Round(p.Emax));
    m_spinEditV1r->setValue(Round(p.V1r));
    m_maskEdit1->setNumber(p.du);
    m_maskEdit2->setNumber(p.ex);
    m_maskEdit3->setNumber(p.gf);
    m_Emax.reset(p.Emax);
    m_V1r.reset(p.V1r);
    m_du.reset(p.du);
    m_ex.reset(p.ex);
    m_gf.reset(p.gf);
}

void PresynapticWindow::restoreFrom(const ParameterSet &s)
{
    m_spinEditEmax->setValue(Round(s.Emax));
    m_spinEditV1r->setValue(Round(s.V1r));
    m_maskEdit1->setNumber(s.du);
    m_maskEdit2->setNumber(s.ex);
    m_maskEdit3->setNumber(s.gf);
}

void PresynapticWindow::repaintPreviews(bool spike)
{
    if (spike)
        m_paintBox1->redraw();
    m_paintBox2->redraw();
}

void PresynapticWindow::SpinEditEmaxChange()
{
    if (!acceptSpinField(m_spinEditEmax, Param::Emax, m_Emax))
        return;
    repaintPreviews(true);
    parameterAccepted(Param::Emax);
}

void PresynapticWindow::SpinEditV1rChange()
{
    if (!acceptSpinField(m_spinEditV1r, Param::V1r, m_V1r))
        return;
    repaintPreviews(true);
    parameterAccepted(Param::V1r);
}

void PresynapticWindow::MaskEdit1Change()
{
    if (!acceptMaskField(m_maskEdit1, Param::du, m_du))
        return;
    repaintPreviews(true);
    parameterAccepted(Param::du);
}

void PresynapticWindow::MaskEdit2Change()
{
    if (!acceptMaskField(m_maskEdit2, Param::ex, m_ex))
        return;
    repaintPreviews(false);
    parameterAccepted(Param::ex);
}

void PresynapticWindow::MaskEdit3Change()
{
    if (!acceptMaskField(m_maskEdit3, Param::gf, m_gf))
        return;
    repaintPreviews(false);
    parameterAccepted(Param::gf);
}

} // namespace cleftsim
