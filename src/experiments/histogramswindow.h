#pragma once

#include "experiments/figuredata.h"
#include "runners/histogramsrun.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace cleftsim {

class FigureView;
class SpinEdit;
class HistogramsCopyWindow;

// Histograms (window 6): many trials at the clamp potential V2, shown as
// histograms of the number of quanta (Image1), of the peak current (Image2)
// and of the latency of the first release (Image4), and as the joint
// quanta-latency map (Image3). The check boxes choose the rows shown.
class HistogramsWindow : public ChildWindow {
    Q_OBJECT
public:
    explicit HistogramsWindow(QWidget *parent = nullptr);

    // Clears and frames the four figures for the current parameters and
    // trial count.
    void EmptyImages();

    void RunBtnClick();
    void DuplicateBtnClick();
    void SpinEdit1Change();
    void CheckBoxQuantaClick();
    void CheckBoxLatencyClick();

    // Trials per run, the value of SpinEdit1 (1..10000).
    int trialCount() const { return m_trialCount; }
    FigureView *image(int i) const { return m_images[i - 1]; } // 1..4
    // The tables of the last run.
    const HistogramsResult &lastResult() const { return m_result; }
    // The last run as a run of the batch tool; null while none is shown.
    FigureDataPtr figureData() const { return m_data; }
    // Where a run takes its seed from; the program's seed choice by default.
    void setSeedSource(std::function<std::uint32_t()> source) { m_seedSource = std::move(source); }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Puts the window into the layout of the pair of rows shown.
    void setRows(bool quanta, bool latency);

    FigureView *m_images[4];
    QCheckBox *m_checkQuanta;
    QCheckBox *m_checkLatency;
    QLabel *m_label1;
    SpinEdit *m_spinEdit1;
    QPushButton *m_runBtn;
    QToolButton *m_duplicateBtn;
    int m_trialCount = 100;
    bool m_quantaRow = true; // rows of the layout now shown
    bool m_latencyRow = false;
    bool m_placed = false; // the first place in the frame has been taken
    HistogramsResult m_result;
    FigureDataPtr m_data;
    std::function<std::uint32_t()> m_seedSource;
};

} // namespace cleftsim
