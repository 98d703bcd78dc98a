#pragma once

#include "model/parameterset.h"
#include "model/random.h"

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
    double peakSum = 0; // sum of the peaks, in the order of the trials [pA]
    double background = 0; // sweepBackgroundCurrent at V [pA]

    double meanQuanta() const { return trials > 0 ? double(totalQuanta) / trials : 0.0; }
    double meanPeak() const { return trials > 0 ? peakSum / trials : 0.0; }
    // Mean EPSC amplitude: the mean peak less the background current [pA].
    double meanEpsc() const { return meanPeak() - background; }
};

// Runs trialCount trials at V, one after the other from rng as it stands,
// and sums them as one point of the window's sweep does.
IsvPoint runIsvPoint(ModelState &state, Generator &rng, int V, int trialCount);

} // namespace cleftsim
