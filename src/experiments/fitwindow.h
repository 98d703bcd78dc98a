#pragma once

#include "drawing/canvas.h"
#include "run/fit.h"
#include "run/statesfile.h"
#include "widgets/childwindow.h"

#include <QPointer>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QCheckBox;
class QElapsedTimer;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;

namespace cleftsim {

class FigureView;
class SpinEdit;

// Draws the profile of free parameter j of a fit into a small figure: -2 log L
// above its minimum against the parameter's value on labelled axes, the 3.84
// line (labelled) and the 95 % interval shaded, its ends written above.
void drawFitProfile(Canvas &c, const FitResult &result, int j);

// A parameter as the editors name it, its code in brackets where they name
// it in words ("duration (du)"), and the tip of its unit and range.
QString fitParameterName(const ParamInfo &info);
QString fitParameterTip(const ParamInfo &info);

// What the progress line says of a step of the search, elapsedMsec after
// Run: the stage, its candidates where its size is known, the candidates in
// all and the time; after the fit, the candidates and the time it took.
QString fitProgressText(const FitProgressStep &step, qint64 elapsedMsec, bool running);
// The progress bar's value for a step, perStage to a stage: the stages done
// and the part done of a stage of known size.
int fitProgressValue(const FitProgressStep &step, int perStage);

// Fit to Measured Data: fits the free parameters of the model to the
// recording loaded into the windows, with the run library's fit on the
// processor's cores, off the window's thread, so that the program answers
// while it runs. It takes the fixed values of the current parameters at Run.
class FitWindow : public ChildWindow {
    Q_OBJECT
public:
    explicit FitWindow(QWidget *parent = nullptr);
    ~FitWindow() override;

    // One row per parameter a fit can move, in the order of the parameter table.
    struct Row {
        const ParamInfo *info = nullptr;
        QCheckBox *free = nullptr;
        QDoubleSpinBox *low = nullptr;
        QDoubleSpinBox *high = nullptr;
        QLabel *current = nullptr;
    };
    const std::vector<Row> &rows() const { return m_rows; }

    // The request Run would make now; false with *problem on a fault (no
    // data, no free parameter, a range, too few values, a seed).
    bool makeRequest(FitRequest &request, RunProblem *problem) const;

    void RunBtnClick();
    void BreakBtnClick();
    // Sets the whole set the fit ran with (the values fixed at Run and the
    // estimates) as the current parameters through the editors; Edit > Undo
    // takes it back.
    void ApplyBtnClick();
    // Puts the command line of cleftsim-batch that repeats the fit on the clipboard.
    void CopyBtnClick();

    bool running() const { return m_thread != nullptr; }
    // Shows a result as if the fit had just ended (a session's fit).
    void showFit(const FitResult &result);
    // The last fit's result; null while none.
    const FitResult *result() const { return m_result ? &*m_result : nullptr; }
    FigureView *profile(int j) const { return m_profiles[j]; }

    // How many profile figures the window has.
    static constexpr int ProfileFigures = 4;

signals:
    // A fit has ended: with a result, stopped by Break, or failed.
    void fitEnded();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The parts of the window from the top: a row per parameter and the
    // run's controls with its progress (each returns the y below it), then
    // the result, its profiles and Apply.
    int addParameterRows();
    int addRunControls(int y);
    void addResultArea(int y);
    void connectControls();
    // Where the running fit keeps what the window reads.
    struct Job {
        FitRequest request;
        std::atomic<bool> stop {false};
        std::atomic<int> evaluations {0};
        // The last step told, read by the window's timer.
        std::mutex stepLock;
        FitProgressStep step;
        std::optional<FitResult> result;
        bool stopped = false;
        std::string failure;
    };

    void showData();
    void showApplyNote();
    void showCurrentValues();
    void showProgress();
    void fitFinished();
    void showResult();
    void setRunning(bool running);

    std::vector<Row> m_rows;
    QLabel *m_dataLabel;
    QPushButton *m_loadBtn;
    SpinEdit *m_trialsEdit;
    QLabel *m_seedLabel;
    QLineEdit *m_seedEdit;
    QPushButton *m_runBtn;
    QPushButton *m_breakBtn;
    QProgressBar *m_progress;
    QLabel *m_progressLabel;
    QPlainTextEdit *m_resultText;
    FigureView *m_profiles[ProfileFigures];
    QPushButton *m_applyBtn;
    QPushButton *m_copyBtn;
    QLabel *m_applyNote;
    QElapsedTimer *m_clock; // since Run
    int m_trials = DefaultFitTrials; // the trials per potential accepted

    std::shared_ptr<Job> m_job;
    QThread *m_thread = nullptr;
    QTimer *m_timer;
    std::optional<FitResult> m_result;
    QString m_message; // why the last fit has no result
};

// The last fit's result for the session: the Fit window's, or the one a
// session brought back before the window was made; null while none.
const FitResult *lastFit();
// Brings back the fit a session kept: the Fit window shows it when it is
// made, or at once when it is.
void restoreFit(const FitResult &result);

// The recording loaded and the last fit to it, as members of a session
// (the fit only while it belongs to that recording).
void keepRecording(StatesSession &session);
// Loads the recording and the fit a session kept; a session without them
// leaves what is loaded as it is.
void restoreRecording(const StatesSession &session);

// Shows the Fit window in the main frame, made at the first call.
FitWindow *showFitWindow();
// The Fit window when it has been made; null before.
FitWindow *fitWindow();

} // namespace cleftsim
