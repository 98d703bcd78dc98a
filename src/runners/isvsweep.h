#pragma once

#include "model/parameterset.h"
#include "model/random.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace cleftsim {

// Clamp potentials of the sweep: +40 mV down to -140 mV in steps of 1 mV.
constexpr int SweepFirstV = 40;
constexpr int SweepLastV = -140;

// What one trial of the sweep yields.
struct IsvTrialResult {
    int m = 0; // quanta released
    double peak = 0; // extreme current: most negative for V < 0, most positive for V > 0, 0 at V = 0 [pA]
};

// Runs one trial of the sweep at clamp potential V over the short window,
// with state.LPC, state.SpikeSteps and state.Sites, drawing from rng.
IsvTrialResult isvTrial(ModelState &state, Generator &rng, double V);

// Current of the background conductance of all sites at clamp potential V [pA].
double sweepBackgroundCurrent(const ParameterSet &p, double V);

// The totals of one point of the sweep.
struct IsvPoint {
    int V = 0; // clamp potential [mV]
    int trials = 0; // trials run at V
    long long totalQuanta = 0; // sum of m
    int failures = 0; // trials without a release (m = 0)
    double peakSum = 0; // sum of the peaks, in the order of the trials [pA]
    double background = 0; // sweepBackgroundCurrent at V [pA]
    // The spread: the sum of m * m, and the peaks summed about the first
    // trial's peak (so that equal peaks give a spread of exactly 0 and large
    // peaks lose no digits), in the order of the trials.
    long long quantaSquares = 0;
    double peakShift = 0; // the first trial's peak [pA]
    double shiftedPeakSum = 0;
    double shiftedPeakSquares = 0;
    // The higher moments and the joint sums the fit of a recording takes:
    // the third and fourth powers of the shifted peaks, the peaks and their
    // squares times m, and the peaks and their squares over the failures.
    double shiftedPeakCubes = 0;
    double shiftedPeakFourths = 0;
    double shiftedPeakQuanta = 0;
    double shiftedPeakSquaresQuanta = 0;
    double failureShiftedPeakSum = 0;
    double failureShiftedPeakSquares = 0;

    // Adds one trial's result to the sums.
    void add(const IsvTrialResult &r);

    double meanQuanta() const { return trials > 0 ? double(totalQuanta) / trials : 0.0; }
    double meanPeak() const { return trials > 0 ? peakSum / trials : 0.0; }
    // Mean EPSC amplitude: the mean peak less the background current [pA].
    double meanEpsc() const { return meanPeak() - background; }
    // Sample standard deviations (over trials - 1) of the number of quanta
    // and of the peak current [pA]; NaN below two trials. The EPSC amplitude
    // has the spread of the peak: the background current is the same in
    // every trial.
    double sdQuanta() const;
    double sdPeak() const;
};

// Runs trialCount trials at V, one after the other from rng as it stands,
// and sums them as one point of the sweep does.
IsvPoint runIsvPoint(ModelState &state, Generator &rng, int V, int trialCount);

// A clamp potential of a list of points run apart from the sweep, with the
// seed its trials are drawn from.
struct SeededPotential {
    int V = 0; // clamp potential [mV]
    std::uint32_t seed = 0;
};

// Runs trialCount trials at each potential of the list, with the parameters
// p, as the sweep runs them at that potential, and sums them into a point.
// Trial j (1, 2, ...) of a potential starts from its own seed,
// mixSeed(seed, j): a point depends on nothing but its seed, and two
// parameter sets run with the same seeds draw the same numbers trial by trial
// (common random numbers, so that a small change of a parameter changes only
// the trials it really changes). stop, when given, is asked after every trial;
// true ends the run with the points done so far (the one under way is dropped).
std::vector<IsvPoint> runSeededIsvPoints(const ParameterSet &p,
    const std::vector<SeededPotential> &potentials, int trialCount, const std::function<bool()> &stop = {});

// The trials of runSeededIsvPoints at one potential, each on its own, in
// their order: trial j starts from mixSeed(potential.seed, j).
std::vector<IsvTrialResult> runSeededIsvTrials(
    const ParameterSet &p, const SeededPotential &potential, int trialCount);

// Trials of a point between two of the sweep's resting places.
constexpr int SweepPauseTrials = 50;

// What the caller of a sweep sees of it and how it stops it. Every hook does
// nothing by default.
class IsvSweepObserver {
public:
    virtual ~IsvSweepObserver() = default;
    // After every trial, with its clamp potential and its result.
    virtual void trial(int V, const IsvTrialResult &r);
    // After every point, with the sums of the trials run at it.
    virtual void point(const IsvPoint &p);
    // At the sweep's resting places: after every 50th trial of a point and
    // after every point (the window lets pending messages through there).
    // false abandons the sweep at once; a point under way is not reported.
    virtual bool pause();
    // Asked after every trial and after every point, after pause where both
    // fall together: true ends the sweep with the point under way, which is
    // summed over the trials run so far and reported.
    virtual bool stopRequested();
};

// Runs the sweep: for V = +40 down to -140 mV, trialCount trials at V summed
// into a point, all from rng as it stands (the caller seeds it once). Every
// trial reads state.LPC afresh, so an edit made during a pause takes effect
// from the next trial. Returns the points reported, in the order of the sweep.
std::vector<IsvPoint> runIsvSweep(
    ModelState &state, Generator &rng, int trialCount, IsvSweepObserver &observer);
std::vector<IsvPoint> runIsvSweep(ModelState &state, Generator &rng, int trialCount);

} // namespace cleftsim
