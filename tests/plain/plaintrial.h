#pragma once

// The step rule written out plainly, law by law, without tables or
// shortcuts: the reference that the fast trial routine must match bit for
// bit and that the benchmarks measure it against.

#include "model/synapse.h"
#include "model/trial.h"

#include <cstdint>
#include <cstring>

namespace cleftsim::testing {

// The bit pattern of a double, for comparisons that must be exact.
inline std::uint64_t bits(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// One trial by the plain step rule; rng is a Generator or anything with its
// next() (a counting generator of the benchmarks).
template <class Rng, class Observer>
int plainTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Rng &rng, double Vc, int kStart,
    int kEnd, Observer &observer)
{
    for (int j = 1; j <= p.N; ++j) {
        sites[j].Available = true;
        sites[j].ReleaseStep = 0;
    }
    int m = 0;
    for (int k = kStart; k <= kEnd; ++k) {
        StepReport s;
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

// Follows the extreme current of a trial's steps from 0 with strict
// comparisons: the most negative one for Vc < 0 or inwardOnly, the most
// positive one for Vc > 0, and 0 at Vc = 0.
struct PlainPeak {
    double Vc = 0;
    bool inwardOnly = false;
    double peak = 0;
    void step(const StepReport &s)
    {
        if (inwardOnly || Vc < 0) {
            if (s.I < peak)
                peak = s.I;
        } else if (Vc > 0 && s.I > peak) {
            peak = s.I;
        }
    }
    void release(int, int) { }
};

} // namespace cleftsim::testing
