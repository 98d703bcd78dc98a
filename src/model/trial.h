#pragma once

#include "model/parameterset.h"
#include "model/random.h"
#include "model/synapse.h"

namespace cleftsim {

// The quantities of one time step k of a trial.
struct StepReport {
    int k = 0;       // time-step index
    double E = 0;    // potential of the spike generator [mV]
    double G = 0;    // total subsynaptic conductance [nS]
    double I = 0;    // synaptic current into the clamped cell [pA]
    double Vpre = 0; // presynaptic potential after the ephaptic shift [mV]
    double p = 0;    // release probability of one available site in this step
};

// First step of the short window of Is vs V2 and Histograms: the spike onset.
int shortWindowStart();
// Last step of the short window: the end of the spike plus one time constant.
int shortWindowEnd(const ParameterSet &p);

// Runs one trial of the synapse at clamp potential Vc over the steps
// kStart..kEnd (both inclusive) and returns the number of quanta released.
//
// This is the one step rule of the program. At every step it reads the
// parameters afresh from p, computes E, G, I, Vpre and p, reports them with
// observer.step(report), then lets every available site j = 1..N draw one
// number and reports each release with observer.release(j, k). The sites
// table is reset first and keeps the trial's releases afterwards.
template <class Observer>
int runTrial(const ParameterSet &p, const int &spikeSteps, SiteTable &sites, Generator &rng,
             double Vc, int kStart, int kEnd, Observer &observer)
{
    for (int j = 1; j <= p.N; ++j) {
        sites[j].Available = true;
        sites[j].ReleaseStep = 0;
    }
    int m = 0;
    StepReport s;
    for (int k = kStart; k <= kEnd; ++k) {
        s.k = k;
        s.E = SpikePotential(p, k * TimeStep);
        s.G = SynapticConductance(p, sites, k);
        s.I = SynapticCurrent(p, s.G, Vc);
        s.Vpre = s.E - p.Rg * s.I;
        s.p = ReleaseProbability(p, spikeSteps, s.Vpre);
        observer.step(s);
        for (int j = 1; j <= p.N; ++j) {
            if (sites[j].Available && rng.next() < s.p) {
                sites[j].Available = false;
                sites[j].ReleaseStep = k;
                ++m;
                observer.release(j, k);
            }
        }
    }
    return m;
}

// An observer that keeps nothing.
struct NoObserver {
    void step(const StepReport &) {}
    void release(int, int) {}
};

} // namespace cleftsim
