#pragma once

#include "experiments/figuredata.h"
#include "runners/records.h"
#include "widgets/childwindow.h"
#include "widgets/windowset.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QToolButton;

namespace cleftsim {

class FigureView;

// Records (window 4): single trials as time courses of the presynaptic
// potentials and the synaptic current, up to 100 overlaid on one figure,
// whose currents can be saved as text and whose figure can be frozen.
class RecordsWindow : public ChildWindow {
    Q_OBJECT
public:
    explicit RecordsWindow(QWidget *parent = nullptr);

    // Clears the figure, draws the empty frame and forgets the trials.
    void EmptyImage();
    // Runs one trial at V2, draws its traces and release ticks and keeps its current.
    void RunBtnClick();
    void ClearBtnClick();
    // Stores the state, asks for a file name and writes the kept currents.
    void SaveBtnClick();
    // Stores the state and freezes the figure into a copy window.
    void DuplicateBtnClick();

    int recordsCount() const { return m_recordsCount; }
    // The current of every step of trial r (1..recordsCount()) [pA].
    const CurrentTrace &recordedCurrent(int r) const { return m_recordedCurrents[r - 1]; }
    int traceBase() const { return m_traceBase; }
    // The folder in which the next save proposes its file.
    QString saveFolder() const { return m_saveFolder; }
    void setSaveFolder(const QString &folder) { m_saveFolder = folder; }

    FigureView *image3() const { return m_image3; }

    // The seed of every trial on the figure, trial r at r - 1.
    const std::vector<std::uint32_t> &seeds() const { return m_seeds; }
    // The figure's Runs as one run of the batch tool; null while it holds none.
    FigureDataPtr figureData() const;

    // Replaces the seed choice of the program as the source of each Run's seed.
    void setSeedSource(std::function<std::uint32_t()> source) { m_seedSource = std::move(source); }
    // Replaces the save-file dialog: gets the proposed path, returns the
    // chosen one or an empty text for a cancel.
    void setSavePathChooser(std::function<QString(const QString &)> chooser)
    {
        m_chooseSavePath = std::move(chooser);
    }
    // Replaces the error box of a failed save.
    void setErrorReporter(std::function<void(const QString &)> reporter)
    {
        m_reportError = std::move(reporter);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString askSavePath(const QString &proposedPath);

    FigureView *m_image3;
    QPushButton *m_runBtn;
    QPushButton *m_clearBtn;
    QToolButton *m_saveBtn;
    QToolButton *m_duplicateBtn;
    QLabel *m_label1;
    QLabel *m_label2;
    QLabel *m_label3;

    int m_recordsCount = 0; // trials on the figure, 0..100
    std::vector<CurrentTrace> m_recordedCurrents; // row r-1: current of trial r [pA]
    std::vector<std::uint32_t> m_seeds; // seed of trial r at r-1
    std::vector<int> m_quanta; // quanta of trial r at r-1
    ParameterSet m_runParameters; // the parameters of the figure's trials
    // The fixed seed S of trial 1 when the figure began: trial r takes
    // mixSeed(S, r); none with seeds from the clock or a seed source.
    std::optional<std::uint32_t> m_fixedSeed;
    int m_traceBase = 20; // offset of the current panel [px]
    QString m_saveFolder;

    std::function<std::uint32_t()> m_seedSource;
    std::function<QString(const QString &)> m_chooseSavePath;
    std::function<void(const QString &)> m_reportError;
};

} // namespace cleftsim
