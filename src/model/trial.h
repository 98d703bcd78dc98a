#pragma once

// The trial: what one trial of the synapse takes (the parameters, the
// spike length, the sites table, the generator, the clamp potential and a
// window of steps) and what it yields (the quanta released, the sites'
// release steps, the generator after its last draw, and for an observer the
// quantities of every step). The step rule itself is in steprule.h, its
// tables in trialtables.h, its draws in drawscan.h.

#include "model/parameterset.h"
#include "model/random.h"

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

// First step of the short window of Is vs V2 and Histograms: the spike onset.
int shortWindowStart();
// Last step of the short window: the end of the spike plus one time constant.
int shortWindowEnd(const ParameterSet &p);

// The number of sites a trial draws for: N, kept within 0..MaxSites.
constexpr int siteCount(const ParameterSet &p)
{
    return p.N < 0 ? 0 : (p.N > MaxSites ? MaxSites : p.N);
}

// Runs one trial of the synapse at clamp potential Vc over the steps
// kStart..kEnd (both inclusive) and returns the number of quanta released.
//
// This is the one step rule of the program. At every step k it computes the
// spike potential E, the conductance G of the quanta released at earlier
// steps (summed over the sites in increasing order), the current I, the
// shifted presynaptic potential Vpre and the release probability p, reports
// them with observer.step(report) (p only for an observer that uses it, see
// UsesProbability; no report at all for one that declares it reads none, see
// UsesSteps), then lets every available site j = 1..N draw one number from
// rng, in increasing j; a site whose number is below p releases and is
// reported with observer.release(j, k). The sites table is reset first and
// keeps the trial's releases afterwards; rng is left after the trial's last
// draw.
//
// The parameters are read when the trial starts (a trial never yields, so
// they cannot change while it runs); an edit made between trials takes
// effect from the next trial. How it is worked out fast, and exactly, is
// told in steprule.h.
template <class Observer>
int runTrial(const ParameterSet &p, const int &spikeSteps, SiteTable &sites, Generator &rng, double Vc,
    int kStart, int kEnd, Observer &observer);

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

// Runs one trial as runTrial does and returns the number of quanta with the
// extreme current over its steps, the same value, bit for bit, as following
// the reported currents step by step with strict comparisons from 0. The
// currents are worked out after the trial, and only at the steps whose
// conductance comes near the trial's largest (see trial.cpp).
PeakTrialResult runPeakTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng,
    double Vc, int kStart, int kEnd, PeakKind kind);

} // namespace cleftsim

#include "model/steprule.h"
