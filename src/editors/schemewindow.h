#pragma once

#include "drawing/elscheme.h"
#include "drawing/morphoscheme.h"
#include "editors/editorkit.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

class QLabel;

namespace cleftsim {

class FigureView;
class MaskEdit;
class PaintBox;
class SpinEdit;

// Scheme Settings (window 1): edits the number of release sites N, the gap
// resistance Rg and the clamp potential V2; shows the morphological and the
// electrical picture of the synapse, the total subsynaptic resistance, the
// quantal conductance, the mean failure rate and, while the background
// conductance is on, the failure rate against the clamp potential.
class SchemeWindow : public ChildWindow, public EditorLink {
    Q_OBJECT
public:
    explicit SchemeWindow(QWidget *parent = nullptr);

    // Sets the failure-rate row: "N  =" or, with the background conductance,
    // "N  (V2mV)=", the subscript after the N, and 100 F(V2) in percent.
    void LabelsN0();
    // Redraws the failure-rate chart from LPC; does nothing while the
    // background conductance is off (the chart is then out of view).
    void FailuresChart();
    // Rewrites the total subsynaptic resistance and quantal conductance labels.
    void refreshConductanceLabels();
    // Outer width 770 with the failure-rate chart, 570 without.
    void setBackgroundLayout(bool on);
    // Writes N, Rg and V2 (rounded) as the user would.
    void restoreFrom(const ParameterSet &s) override;

    // Clears the failure-rate chart and draws its empty frame.
    void EmptyChart();
    // Refreshes the labels that other windows' edits change: total
    // resistance, quantal conductance, failure rate.
    void FormPaint();

    // Change handlers of the editors.
    void SpinEditNChange();
    void MaskEdit1Change();
    void SpinEditV2Change();

    // The radius and leader height of the spine head now on the picture.
    SpineHead spineHead() const { return m_head; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // The pictures with their labels and captions; the editors of n, Rg and
    // V2 with the values derived from them and the failure chart.
    void addPictures();
    void addEditors(const ParameterSet &p);
    // What a change of the model, here or in another window, redraws here.
    void parameterChanged(Param f);
    // Draws the spine head for the current N into the morphological picture.
    void SpineHeadPaint();
    // Paints the electrical scheme over what lies beneath the paint box.
    void ElSchemePaint(Canvas &canvas);

    SpinEdit *m_spinEditN;
    MaskEdit *m_maskEdit1;
    SpinEdit *m_spinEditV2;
    FigureView *m_morphoScheme;
    FigureView *m_image1;
    PaintBox *m_elScheme;
    FigureView *m_failureChart;
    QLabel *m_label14;
    QLabel *m_label19;
    QLabel *m_label21;
    QLabel *m_label22;
    QLabel *m_label23;
    SpineHead m_head;
    // The values the editors last accepted.
    AcceptedValue m_N, m_Rg, m_V2;
};

} // namespace cleftsim
