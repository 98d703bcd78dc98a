#pragma once

// The trial: what one trial of the synapse takes (the parameters, the
// spike length, the sites table, the generator, the clamp potential and a
// window of steps) and what it yields (the quanta released, the sites'
// release steps, the generator after its last draw, and for an observer the
// quantities of every step). The types it shares are in trialtypes.h, the
// step rule itself in steprule.h (included at the end), its tables in
// trialtables.h, its draws in drawscan.h.

#include "model/parameterset.h"
#include "model/random.h"
#include "model/trialtypes.h"

namespace cleftsim {

// First step of the short window of Is vs V2 and Histograms: the spike onset.
int shortWindowStart();
// Last step of the short window: the end of the spike plus one time constant.
int shortWindowEnd(const ParameterSet &p);

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
// effect from the next trial. How it is worked out fast is told in
// steprule.h, why it is exact in doc/exactness.md.
template <class Observer>
int runTrial(const ParameterSet &p, const int &spikeSteps, SiteTable &sites, Generator &rng, double Vc,
    int kStart, int kEnd, Observer &observer);

// Runs one trial as runTrial does and returns the number of quanta with the
// extreme current over its steps, the same value, bit for bit, as following
// the reported currents step by step with strict comparisons from 0. The
// currents are worked out after the trial, and only at the steps whose
// conductance comes near the trial's largest (see peaktrial.cpp).
PeakTrialResult runPeakTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng,
    double Vc, int kStart, int kEnd, PeakKind kind);

} // namespace cleftsim

#include "model/steprule.h"
