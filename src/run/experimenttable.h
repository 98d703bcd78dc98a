#pragma once

#include "model/parameterset.h"
#include "run/runresults.h"

#include <string>
#include <vector>

namespace cleftsim {

// Everything the program knows of one experiment, written once: the batch
// tool, the Python module and the windows look it up here instead of
// switching on the experiment.
struct ExperimentEntry {
    Experiment experiment;
    // As the batch tool, Python and the names of saved files take it.
    const char *name;
    // The trials of a run: 1..mostTrials, defaultTrials when none are given.
    int mostTrials;
    int defaultTrials;
    // Records: one seed per trial. The others: one seed for the whole run.
    bool seedPerTrial;
    // The name of its text format for --format ("text", "csv") and the
    // extension of a saved text file; null where the experiment has JSON alone.
    const char *textFormat;
    const char *textExtension;
    // Runs a checked description on the model state given, which holds its
    // parameters; stop as runExperiment passes it.
    ExperimentOutcome (*run)(ModelState &state, const RunDescription &run, const StopCheck &stop);
    // The writers, as cleftsim-batch prints them: the text form (null where
    // there is none) and the JSON.
    std::string (*text)(const RunResult &result);
    std::string (*json)(const RunResult &result);
    // Whether an accepted edit of the parameter clears its figures.
    bool (*clearedBy)(Param edited);
    // Trials at clamp potentials each with a seed of its own, as a fit
    // simulates a candidate; null where no fit runs the experiment.
    std::vector<IsvPoint> (*seededPoints)(const ParameterSet &p,
        const std::vector<SeededPotential> &potentials, int trialCount, const std::function<bool()> &stop);
};

// Every experiment, in the order of the Experiment enumeration.
const std::vector<ExperimentEntry> &experimentTable();

// The entry of an experiment.
const ExperimentEntry &experimentEntry(Experiment e);

// Whether an accepted edit of the parameter clears the experiment's figures.
bool clearsFigures(Experiment e, Param edited);

} // namespace cleftsim
