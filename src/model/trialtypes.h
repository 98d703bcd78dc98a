#pragma once

// What a trial reports and yields, and the sites it draws for: the types
// the step rule (steprule.h), the peak trials (peaktrial.h) and their
// callers share.

#include "model/parameterset.h"

namespace cleftsim {

// The quantities of one time step k of a trial.
struct StepReport {
    int k = 0; // time-step index
    double E = 0; // potential of the spike generator [mV]
    double G = 0; // total subsynaptic conductance [nS]
    double I = 0; // synaptic current into the clamped cell [pA]
    double Vpre = 0; // presynaptic potential after the ephaptic shift [mV]
    double p = 0; // release probability of one available site in this step
};

// The number of sites a trial draws for: N, kept within 0..MaxSites.
constexpr int siteCount(const ParameterSet &p)
{
    return p.N < 0 ? 0 : (p.N > MaxSites ? MaxSites : p.N);
}

// An observer that keeps nothing.
struct NoObserver {
    static constexpr bool usesProbability = false;
    static constexpr bool usesSteps = false;
    void step(const StepReport &) { }
    void release(int, int) { }
};

// Which extreme current a peak trial follows.
enum class PeakKind {
    BySign, // the most negative current for Vc < 0, the most positive for Vc > 0, 0 at Vc = 0
    Inward, // the most negative current, 0 when none is negative
};

// What a peak trial yields.
struct PeakTrialResult {
    int m = 0; // quanta released
    double peak = 0; // the extreme current of the steps, starting from 0 [pA]
    int first = -1; // time-step index of the first release (-1 where none)
};

} // namespace cleftsim
