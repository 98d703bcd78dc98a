#pragma once

#include "run/rundescription.h"
#include "runners/histogramsrun.h"
#include "runners/isvsweep.h"
#include "runners/records.h"

#include <functional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace cleftsim {

// The points of an Is vs V2 sweep, from +40 mV downwards. A sweep broken off
// holds fewer points, and its last point may hold fewer trials.
struct IsvRunResult {
    std::vector<IsvPoint> points;
    // Why the sweep is incomplete or repeated by no command (stopped by
    // Break, parameters edited during it), in words; the JSON writes it after
    // "complete" when it is not empty. The engine's runs leave it empty.
    std::string note;
    // Every potential of the sweep with trialsPerPoint trials.
    bool complete(int trialsPerPoint) const;
};

// What a run of one of the experiments computed, in the order of the
// Experiment enumeration.
using ExperimentOutcome = std::variant<RecordsResult, IsvRunResult, HistogramsResult>;

// The results of one run of any experiment: its description and what it computed.
struct RunResult {
    RunDescription run;
    ExperimentOutcome outcome;
    // The outcome as the experiment's result; throws std::bad_variant_access
    // when the run was of another experiment.
    template <class Result> const Result &get() const { return std::get<Result>(outcome); }
    template <class Result> Result &get() { return std::get<Result>(outcome); }
};

// Asked whether the run is to stop: Records after every Run, Is vs V2 at
// the sweep's stop points (after every trial and every point), Histograms at
// its resting places (every 50th trial). A run stopped keeps what it has
// computed; a sweep keeps the point under way with the trials it ran.
using StopCheck = std::function<bool()>;

// Runs a description (checked beforehand) on a model state of its own, with
// the experiment's engine and the description's seeds.
RunResult runExperiment(const RunDescription &run, const StopCheck &stop = {});

// The writers. Each returns the text that cleftsim-batch prints.
// Records: the records text file (the same bytes as writeRecordsFile).
std::string recordsText(const RecordsResult &records);
// Is vs V2: CSV with the header V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA.
std::string isvCsv(const IsvRunResult &isv);
// JSON of any experiment, each with the provenance of the run first: the
// program's version, the experiment, the seed(s), the trial count,
// BackgroundOn and every parameter by name.
std::string recordsJson(const RunDescription &run, const RecordsResult &records);
std::string isvJson(const RunDescription &run, const IsvRunResult &isv);
std::string histogramsJson(const RunDescription &run, const HistogramsResult &histograms);

// What a Histograms run at a positive clamp potential must say of its
// numbers: every current is outward there, and the peak current counts
// inward current only (as the window does), so every trial's peak is 0 pA.
// Empty for V2 <= 0. The JSON writes it as "note" after the provenance; the
// Python module warns with it.
std::string histogramsNote(const RunDescription &run);

// The provenance alone, as a JSON object: the opening members of every JSON output.
std::string provenanceJson(const RunDescription &run);

// Output formats of a run.
enum class OutputFormat { Text, Json }; // Text: records file, isv CSV; histograms always JSON

// The output of a run in a format, as cleftsim-batch prints it.
std::string runOutput(const RunResult &result, OutputFormat format);

} // namespace cleftsim
