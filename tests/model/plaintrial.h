#pragma once

// The step rule written out plainly, law by law, as the reference that the
// fast trial routine must match bit for bit.

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

template <class Observer>
int plainTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng, double Vc, int kStart,
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

} // namespace cleftsim::testing
