#pragma once

#include "model/parameterset.h"
#include "model/parametertable.h"
#include "run/problem.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cleftsim {

// The three experiments, by the names the batch tool takes.
enum class Experiment { Records, Isv, Histograms };

const char *experimentName(Experiment e);

// Trials of a run: Records 1..MaxRecords, a sweep point or a Histograms run 1..10000.
constexpr int MaxRunTrials = 10000;

// Everything that decides the numbers of one run: the experiment, its seeds,
// its trial count and the parameter set with the background switch (the
// set's name plays no part).
struct RunDescription {
    Experiment experiment = Experiment::Isv;
    // Records: one seed per trial, trial r seeded with seeds[r - 1] before it
    // starts. Is vs V2 and Histograms: one seed, set once before the first trial.
    std::vector<std::uint32_t> seeds;
    // Records: the number of seeds. Is vs V2: trials per potential.
    // Histograms: trials of the run.
    int trials = 1;
    ParameterSet params = DefaultParameterSet;
};

// What is wrong with a value of a parameter whose text had the given number
// of decimals: "out of range", "too many decimals", "not a whole number", or
// empty when the editor takes it.
std::string valueProblem(const ParamInfo &info, double value, int decimals);
// Decimals a real needs to be written exactly with at most maxDecimals
// decimals; maxDecimals + 1 when it needs more.
int decimalsOf(double value, int maxDecimals);

// Checks a description as the windows would take it: every value within its
// editor's range and decimals, the switch 0 or 1, Gb 0 without the switch and
// not above Gmax, the trial count and the seeds fitting the experiment.
// Returns false and fills *problem (when given) with the first fault. A
// refusal names the switch as the caller's users turn it on (switchText).
bool checkRun(
    const RunDescription &run, RunProblem *problem = nullptr, const char *switchText = "--background");

// The cross checks of the background conductance alone, with gbWhat the
// text the value was given as and switchText how the switch is turned on:
// false and *problem filled on a fault.
bool checkBackground(const ParameterSet &p, const std::string &gbWhat, RunProblem *problem,
    const char *switchText = "--background");

// The cleftsim-batch command line that runs exactly this description: the
// experiment, the seed (or for Records the seeds, as --seed S --trials T when
// they are consecutive), the trials, --background and every parameter that
// differs from the default set, each as its editor shows it.
std::string batchCommand(const RunDescription &run);

// The numeric parameters (every field but the switch), in the order of the set.
std::vector<const ParamInfo *> numericParams();

// The program version written into every JSON output.
const char *programVersion();

} // namespace cleftsim
