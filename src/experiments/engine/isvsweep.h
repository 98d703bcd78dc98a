#pragma once

#include "model/parameterset.h"
#include "model/random.h"

namespace cleftsim {

// Clamp potentials of the sweep: +40 mV down to -140 mV in steps of 1 mV.
constexpr int SweepFirstV = 40;
constexpr int SweepLastV = -140;

// What one trial of the sweep yields.
struct IsvTrialResult {
    int m = 0;       // quanta released
    double peak = 0; // extreme current: most negative for V < 0, most positive for V > 0, 0 at V = 0 [pA]
};

// Runs one trial of the sweep at clamp potential V over the short window,
// with state.LPC, state.SpikeSteps and state.Sites, drawing from rng.
IsvTrialResult isvTrial(ModelState &state, Generator &rng, double V);

// Current of the background conductance of all sites at clamp potential V [pA].
double sweepBackgroundCurrent(const ParameterSet &p, double V);

} // namespace cleftsim
