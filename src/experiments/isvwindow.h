#pragma once

#include "experiments/figuredata.h"
#include "runners/isvsweep.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

#include <algorithm>
#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;

namespace cleftsim {

class FigureView;
class SpinEdit;

// Is vs V2 (window 5): sweeps the clamp potential from +40 to -140 mV and
// plots, per potential, the quanta released and the peak current of every
// trial and their means; with the background conductance on, also the mean
// EPSC amplitude.
class IsvWindow : public ChildWindow {
    Q_OBJECT
public:
    explicit IsvWindow(QWidget *parent = nullptr);

    // Clears and frames the figures (Image3 only with the background on).
    void EmptyImages();
    // Widens the window to 757 and shows Image3 (on), or 561 without it (off).
    void setBackgroundLayout(bool on);

    // Runs the sweep; yields to pending messages at its resting places (after
    // every 50th trial and after every potential), where Break answers: at the
    // first one at least yieldInterval() after the last yield.
    void RunBtnClick();
    void BreakBtnClick();
    // Stores the state and freezes the figures into a copy window.
    void DuplicateBtnClick();
    // Pulls SpinEdit1 into its bounds and takes its value as TrialCount.
    void SpinEdit1Change();

    int TrialCount() const { return m_trialCount; }
    int QuantumStep() const { return m_quantumStep; }
    bool running() const { return m_running; }
    // Potentials whose means the last (or running) sweep has drawn.
    int pointsDrawn() const { return m_pointsDrawn; }

    FigureView *image(int i) const { return m_images[i - 1]; } // 1..3

    // The last sweep as a run of the batch tool; null while none is shown.
    FigureDataPtr figureData() const { return m_data; }
    // That data with the recording loaded beside it, as "Save data..." and
    // the frozen copies take it.
    FigureDataPtr shownFigureData() const;

    // Time between two yields of a sweep to pending messages, at least
    // [msec]: 10 by default, a fraction of the 40 msec between repaints and
    // below a screen's frame, so that Break, moves and repaints answer at
    // once; 0 yields at every resting place.
    int yieldInterval() const { return m_yieldInterval; }
    void setYieldInterval(int msec) { m_yieldInterval = std::max(0, msec); }

    // Replaces the seed choice of the program as the source of each sweep's seed.
    void setSeedSource(std::function<std::uint32_t()> source) { m_seedSource = std::move(source); }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // What a sweep finds when it lets pending messages through: go on, stop
    // (the program quits or the frame closed), or the window is gone.
    enum class SweepYield { Go, Stop, Gone };
    // Draws a sweep as it comes and yields at its resting places.
    class SweepDrawer;
    // The steps of a Run: the controls while it runs, the sweep (false when
    // the window went while it ran), the controls after it.
    void startRun();
    bool sweep(const std::function<SweepYield()> &yield);
    void finishRun();
    void setLabel1Colour(const QColor &colour);
    // Keeps the points of the sweep just ended as the figures' data.
    void keepSweep(std::uint32_t seed, const ParameterSet &parameters);

    FigureView *m_images[3];
    QLabel *m_label1;
    SpinEdit *m_spinEdit1;
    QPushButton *m_runBtn;
    QPushButton *m_breakBtn;
    QToolButton *m_duplicateBtn;

    int m_trialCount = 100; // trials per potential, 1..10000
    bool m_breakRequested = false;
    int m_quantumStep = 14; // pixels per quantum in Image1: 140 div N
    bool m_running = false;
    int m_yieldInterval = 10; // [msec]
    int m_pointsDrawn = 0;
    // The points of the running sweep made wholly with the parameters as they
    // are now: an edit clears them, and the point under way at the edit,
    // which mixes trials of both sets, is not kept either.
    std::vector<IsvPoint> m_sweepPoints;
    bool m_changedDuringSweep = false; // an edit cleared the figures while the sweep ran
    int m_sweepEdits = 0; // edits during the running sweep
    FigureDataPtr m_data;
    std::function<std::uint32_t()> m_seedSource;
};

} // namespace cleftsim
