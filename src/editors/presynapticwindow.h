#pragma once

#include "editors/editorkit.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

class QLabel;

namespace cleftsim {

class MaskEdit;
class PaintBox;
class SpinEdit;

// Presynaptic Settings (window 2): edits the spike (Emax, V1r, du) and the
// release law (ex, gf), with previews of the spike and of the probability that
// one site releases during one spike.
class PresynapticWindow : public ChildWindow, public EditorLink {
    Q_OBJECT
public:
    explicit PresynapticWindow(QWidget *parent = nullptr);

    // Writes Emax and V1r (rounded), du, ex and gf as the user would (a
    // restore): each edit whose text changes runs its change handler.
    void restoreFrom(const ParameterSet &s) override;

    // Change handlers of the editors.
    void SpinEditEmaxChange();
    void SpinEditV1rChange();
    void MaskEdit1Change(); // du
    void MaskEdit2Change(); // ex
    void MaskEdit3Change(); // gf

    SpinEdit *spinEditEmax() const { return m_spinEditEmax; }
    SpinEdit *spinEditV1r() const { return m_spinEditV1r; }
    MaskEdit *maskEdit1() const { return m_maskEdit1; }
    MaskEdit *maskEdit2() const { return m_maskEdit2; }
    MaskEdit *maskEdit3() const { return m_maskEdit3; }
    PaintBox *paintBox1() const { return m_paintBox1; }
    PaintBox *paintBox2() const { return m_paintBox2; }

private:
    void FormCreate();
    void repaintPreviews(bool spike);

    SpinEdit *m_spinEditEmax;
    SpinEdit *m_spinEditV1r;
    MaskEdit *m_maskEdit1;
    MaskEdit *m_maskEdit2;
    MaskEdit *m_maskEdit3;
    PaintBox *m_paintBox1;
    PaintBox *m_paintBox2;
    QLabel *m_image1;
    QLabel *m_image2;
    // The values the editors last accepted.
    AcceptedValue m_Emax, m_V1r, m_du, m_ex, m_gf;
};

} // namespace cleftsim
