#pragma once

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
};
// A figure's data as its window, its copies and its menus share it.
using FigureDataPtr = std::shared_ptr<const FigureData>;

// The seeds of a figure as its context menu shows them: "Seed 4711", or
// "Seeds 1200, 1201, 1202"; a long list ends in "… (100 seeds)".
QString seedsText(const FigureData &data);
// The cleftsim-batch command line that prints the figure's data; empty when
// the note says why there is none.
QString batchCommandText(const FigureData &data);
// The figure's data in a format: byte for byte what the batch command prints.
std::string figureOutput(const FigureData &data, OutputFormat format);
// The file name proposed for the data, from the name of the run's state and
// the experiment: "0_default_isv.csv", "3_2RgV2_histograms.json".
QString proposedDataName(const FigureData &data, OutputFormat format);
// Writes the data to path safely: a temporary file moved over path only when
// complete. false with the system's message in *error; an old file stays intact.
bool saveFigureData(const QString &path, const FigureData &data, OutputFormat format, QString *error);

// Adds the figure's entries to a context menu: its seeds (to read), "Copy
// batch command" (or, when none repeats it, why) and "Save data...". Nothing
// when data is null: no Run has drawn the figure.
void addFigureDataEntries(QMenu &menu, QWidget *parent, const FigureDataPtr &data);
// Gives a figure view those entries for the data that source yields when its
// menu opens.
void attachFigureData(FigureView *view, std::function<FigureDataPtr()> source);

// Replaces the save dialog of "Save data...": gets the proposed path and the
// file filters, returns the chosen path (empty for a cancel) and sets
// *filter to the filter chosen.
using DataPathChooser
    = std::function<QString(const QString &proposed, const QStringList &filters, QString *filter)>;
void setDataPathChooser(DataPathChooser chooser);
// Replaces the error box of a failed "Save data...".
void setDataErrorReporter(std::function<void(const QString &)> reporter);

} // namespace cleftsim
