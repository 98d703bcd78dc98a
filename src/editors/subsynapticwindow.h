#pragma once

#include "drawing/previews.h"
#include "editors/editorkit.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

class QLabel;

namespace cleftsim {

class MaskEdit;
class PaintBox;

// Subsynaptic Settings (window 3): edits the quantal conductance (tc, Gmax)
// and the background conductance Gb, with previews of one site's conductance
// after a release and of the spine conductance against the number of quanta.
class SubsynapticWindow : public ChildWindow, public EditorLink {
    Q_OBJECT
public:
    explicit SubsynapticWindow(QWidget *parent = nullptr);

    // Draw the previews afresh from the model: one site's conductance
    // (PaintBox1), and the spine conductance against the quanta (PaintBox2),
    // whose right-axis title and caption follow it.
    void repaintConductancePreview();
    void repaintQuantaPreview();
    // Shows or hides the Gb editor with its captions, swaps the formulas and
    // shows the Gb that the switch has just set.
    void setBackgroundControls(bool on);
    // Writes Gmax, tc and Gb as the user would (a restore); Gb goes first
    // when the new Gmax lies below the Gb in force, so that both arrive
    // unchanged.
    void restoreFrom(const ParameterSet &s) override;

    // Change handlers of the editors.
    void MaskEdit1Change(); // tc
    void MaskEdit2Change(); // Gmax
    void MaskEdit3Change(); // Gb

    MaskEdit *maskEdit1() const { return m_maskEdit1; }
    MaskEdit *maskEdit2() const { return m_maskEdit2; }
    MaskEdit *maskEdit3() const { return m_maskEdit3; }
    PaintBox *paintBox1() const { return m_paintBox1; }
    PaintBox *paintBox2() const { return m_paintBox2; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    // What a change of the model in another window redraws here.
    void parameterChanged(Param f);
    void FormCreate();
    void FormShow();

    MaskEdit *m_maskEdit1;
    MaskEdit *m_maskEdit2;
    MaskEdit *m_maskEdit3;
    PaintBox *m_paintBox1;
    PaintBox *m_paintBox2;
    QLabel *m_image1;
    QLabel *m_image2;
    QLabel *m_image3;
    QLabel *m_image4;
    QLabel *m_image5;
    QLabel *m_label13;
    // The Gb editor's captions, shown with it.
    QLabel *m_label14, *m_label15, *m_label16, *m_label18, *m_label21;
    // The values the editors last accepted.
    AcceptedValue m_tc, m_Gmax, m_Gb;
    // Where the last quanta preview put its title and caption.
    QuantaPreviewPlaces m_quantaPlaces;
};

} // namespace cleftsim
