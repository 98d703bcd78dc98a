#pragma once

#include "run/measureddata.h"
#include "run/runresults.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QMenu;
class QWidget;

namespace cleftsim {

class FigureView;

// What an experiment figure keeps of the Run (or Runs) that drew it, so that
// a command can repeat it and its numbers can be saved: the description of
// the run (experiment, seeds, trials, switch and parameters) and its results.
struct FigureData {
    RunResult result;
    // Why no command repeats the figure (a sweep stopped by Break, an edit
    // during the sweep); empty when the batch command does.
    QString note;
    // A sweep whose parameters changed midway: it holds only the points run
    // after the change, and is saved as JSON only, which keeps the note.
    bool changedMidway = false;
    // The recording shown beside a sweep while it was loaded; null when none.
    std::shared_ptr<const MeasuredData> measured;
};
// A figure's data as its window, its copies and its menus share it.
using FigureDataPtr = std::shared_ptr<const FigureData>;

// The seeds of a figure as its context menu shows them: "Seed 4711", or
// "Seeds 1200, 1201, 1202"; a long list ends in "… (100 seeds)".
QString seedsText(const FigureData &data);
// The cleftsim-batch command line that prints the figure's data; empty when
// the note says why there is none.
QString batchCommandText(const FigureData &data);
// The figure's data in a format: byte for byte what the batch command prints
// when one repeats the figure. A sweep's JSON says why it is incomplete with
// the note, where there is one, and the measured data shown beside it under
// "measured", where there are some.
std::string figureOutput(const FigureData &data, OutputFormat format);
// The name of the state the figure's parameters are, as the program's model
// state knows them now: the stored state whose values equal them, or else
// the name a Store would give them (nothing is stored).
QString dataStateName(const FigureData &data);
// The file name proposed for the data, from the name of its state and the
// experiment: "0_default_isv.csv", "3_2RgV2_histograms.json"; a sweep changed
// midway says it is partial: "1_0Rg_isv_partial.json".
QString proposedDataName(const FigureData &data, OutputFormat format, const QString &stateName);
// Where a save of an experiment's data goes and in which form: the form of
// the extension typed when it names one the experiment offers (".json",
// ".csv" for a sweep, ".txt" for Records), else the form of the filter chosen
// (jsonChosen), whose extension a name without one gets. Histograms, whose
// only form is JSON, turn a typed ".csv" or ".txt" into ".json".
struct DataTarget {
    QString path;
    OutputFormat format = OutputFormat::Text;
};
DataTarget dataTarget(Experiment e, const QString &typed, bool jsonChosen);
// Writes the data to path safely: a temporary file moved over path only when
// complete. false with a message naming the file and the system's reason in
// *error; an old file stays intact. The CSV of a sweep changed midway is
// refused with a message that points to its JSON.
bool saveFigureData(const QString &path, const FigureData &data, OutputFormat format, QString *error);

// Adds the figure's entries to a context menu: its seeds (to read), "Copy
// batch command" (or, when none repeats it, why) and "Save data...", which
// proposes a name from stateName (by default dataStateName). Nothing when
// data is null: no Run has drawn the figure.
void addFigureDataEntries(
    QMenu &menu, QWidget *parent, const FigureDataPtr &data, const std::function<QString()> &stateName = {});
// Gives a figure view those entries for the data that source yields when its
// menu opens.
void attachFigureData(
    FigureView *view, std::function<FigureDataPtr()> source, std::function<QString()> stateName = {});

// Replaces the save dialog of "Save data...": gets the proposed path and the
// file filters, returns the chosen path (empty for a cancel) and sets
// *filter to the filter chosen.
using DataPathChooser
    = std::function<QString(const QString &proposed, const QStringList &filters, QString *filter)>;
void setDataPathChooser(DataPathChooser chooser);
// Replaces the error box of a failed "Save data...".
void setDataErrorReporter(std::function<void(const QString &)> reporter);

} // namespace cleftsim
