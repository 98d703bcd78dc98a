#pragma once

#include "model/parameterset.h"
#include "model/parametertable.h"
#include "model/random.h"
#include "run/problem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cleftsim {

// The three experiments, by the names the batch tool takes.
enum class Experiment { Records, Isv, Histograms };

const char *experimentName(Experiment e);

// Every experiment's name, as a refusal lists what is accepted:
// "records, isv, histograms".
std::string experimentNames();

// The experiment of that name, as the batch tool and the Python module take
// it. False when no experiment is so named, with *problem (when given) saying
// so: what is label and the name ("EXPERIMENT sweep"), the reason "unknown
// experiment", accepted experimentNames().
bool experimentNamed(const std::string &name, Experiment &experiment, RunProblem *problem, const char *label);

// Trials of a run: Records 1..MaxRecords, a sweep point or a Histograms run 1..10000.
constexpr int MaxRunTrials = 10000;
// The most trials a run of the experiment takes (the least is 1), and the
// range as a refusal states it: "1..100 for records".
int mostTrials(Experiment e);
std::string trialRangeText(Experiment e);
// The trials of a run of the experiment given no trial count (and, for
// Records, no seeds): one Run of Records, 100 trials otherwise.
int defaultTrials(Experiment e);

// Everything that decides the numbers of one run: the experiment, its seeds,
// its trial count and the parameter set with the background switch (the
// set's name plays no part).
struct RunDescription {
    Experiment experiment = Experiment::Isv;
    // Records: one seed per trial, trial r seeded with seeds[r - 1] before it
    // starts. Is vs V2 and Histograms: one seed, set once before the first trial.
    std::vector<std::uint32_t> seeds;
    // Records: the seed S the trials' seeds were mixed from (recordsSeeds),
    // when they were; none when they were given one by one or came from the
    // clock. Only the batch command line reads it.
    std::optional<std::uint32_t> recordsSeed;
    // Records: the number of seeds. Is vs V2: trials per potential.
    // Histograms: trials of the run.
    int trials = 1;
    ParameterSet params = DefaultParameterSet;
};

// Decimals a real needs to be written exactly with at most maxDecimals
// decimals; maxDecimals + 1 when it needs more.
int decimalsOf(double value, int maxDecimals);

// How far a number given for a parameter may lie from a value its editor can
// hold and still be taken as that value: relative to the value, or to the
// step of the editor's last decimal at zero. Ordinary float arithmetic lands
// within a few 1e-16 of the value meant (0.1 * 3, the points of np.linspace).
// A decimal of at most 8 significant digits that the editor cannot hold lies
// at least one unit of its last digit, 1e-8 of it, away (9.9999999 against
// 10.00): such a typing slip is refused, never rounded.
constexpr double ValueTolerance = 1e-9;

// The one rule for a value given for a parameter, from the command line, a
// states file or Python. The number given is a binary float (text is read to
// the nearest one first by readNumber, so "1.500" is 1.5 and "10.0" is 10).
// It is taken when it equals a value its editor can hold, or lies within
// ValueTolerance of one, or is the single-precision float nearest to one
// (np.float32(0.3), whatever carries it on: a float32 array, its tolist(),
// float(), or the text 0.30000001192092896): *taken is then that value, the
// one a run uses and records. A float32 is within 2^-24 (6e-8) of the value
// it stands for, while two values an editor can hold (at most four
// significant digits) lie at least 1e-4 of their size apart, so a float32
// is the nearest float32 of at most one of them. Returns empty when taken,
// else why not: "not a finite number" (NaN, infinities), "not a whole number"
// (a parameter without decimals) or "too many decimals", each followed by
// the nearest value the editor takes ("too many decimals (nearest accepted
// 0.30)"), or "out of range".
std::string acceptValue(const ParamInfo &info, double given, double *taken);

// Reads a number as text, with the spellings Python's float() takes:
// an optional sign, digits with an optional full stop and fraction ("1.50",
// "2.", ".5"), an optional exponent ("1.5e0", "15E-1"); "nan", "inf" and
// "infinity" in any case read as what they are, for acceptValue to refuse,
// and so does a number beyond the floats (1e400), as float() reads it.
// Whatever the locale. False for anything else.
bool readNumber(const std::string &text, double &value);

// The seeds of Records trials 1..count from the seed S: trial r takes
// mixSeed(S, r). A fixed seed in the windows and --seed S of the batch tool
// and of Python seed their Records trials so.
std::vector<std::uint32_t> recordsSeeds(std::uint32_t seed, int count);

// A seed for a run given none, from the operating system's entropy
// (getrandom, else std::random_device): runs started in the same
// millisecond, in one process or side by side, get unrelated seeds. The
// windows keep their seeds from the clock (seedFromClock).
std::uint32_t freshSeed();

// A number given for a parameter, as the caller read it, with how its user
// wrote it ("--Rg 0.505", "Rg 0.505") for the refusal.
struct GivenValue {
    const ParamInfo *info = nullptr;
    double value = 0;
    std::string what;
};

// What a caller of the batch tool or the Python module asks of a run before
// defaults, seeds and checks; what is not given takes its default.
struct RunRequest {
    Experiment experiment = Experiment::Isv;
    // The seed of Is vs V2 and Histograms; for Records the seed S the trials'
    // seeds are mixed from (recordsSeeds). Without it (and without seeds) a
    // fresh seed.
    std::optional<std::uint32_t> seed;
    // Records only: one seed per trial.
    std::optional<std::vector<std::uint32_t>> seeds;
    // The trial count, and how its user wrote it ("--trials 0", "trials 0").
    // Without it: the number of seeds, else 1 for Records and 100 otherwise.
    std::optional<long long> trials;
    std::string trialsWhat;
    // The set the values are written over: the default set or a stored state.
    ParameterSet base = DefaultParameterSet;
    // The switch turned on (never off: a state's switch stays as it is).
    bool background = false;
    // The values given, in the order given; a later one of the same field counts.
    std::vector<GivenValue> values;
    // How Gb is named when it fails the cross checks; empty: "Gb 0.050".
    std::string GbWhat;
};

// The run a request describes: the trial count and the seeds (a fresh seed
// when none was given), every value taken by acceptValue, then the checks of
// checkRun. The batch tool and the Python module fill their runs here. On a
// fault returns false with *problem filled (the first fault: a value in the
// order given, then the background, the trials and the seeds).
bool describeRun(const RunRequest &request, RunDescription &run, RunProblem *problem,
    const char *switchText = "--background");

// Checks a description as the windows would take it: every value within its
// editor's range and decimals, the switch 0 or 1, Gb 0 without the switch and
// not above Gmax, the trial count and the seeds fitting the experiment.
// Returns false and fills *problem (when given) with the first fault. A
// refusal names the switch as the caller's users turn it on (switchText).
bool checkRun(
    const RunDescription &run, RunProblem *problem = nullptr, const char *switchText = "--background");

// The limit of a parameter that is not its range, as the help and the
// refusals write it: the background conductance never above the quantal
// peak conductance, so "not below Gb" for Gmax, "not above Gmax" for Gb;
// empty for the others.
std::string crossLimitText(const ParamInfo &info);

// The cross checks of the background conductance alone, with gbWhat the
// text the value was given as and switchText how the switch is turned on:
// false and *problem filled on a fault.
bool checkBackground(const ParameterSet &p, const std::string &gbWhat, RunProblem *problem,
    const char *switchText = "--background");

// The cleftsim-batch command line that runs exactly this description: the
// experiment, the seed (or for Records the seeds, as --seed S --trials T when
// they are recordsSeeds(S, T) of its recordsSeed S), the trials, --background and every parameter that
// differs from the default set, each as its editor shows it.
std::string batchCommand(const RunDescription &run);

// The numeric parameters (every field but the switch), in the order of the set.
std::vector<const ParamInfo *> numericParams();

// The program version written into every JSON output.
const char *programVersion();

} // namespace cleftsim
