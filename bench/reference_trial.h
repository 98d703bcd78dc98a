#pragma once

// The step rule transliterated law by law, without tables or shortcuts: the
// reference that the engine must match draw for draw and beat in speed.

#include "model/synapse.h"
#include "model/trial.h"

namespace cleftsim::bench {

// Counts the numbers drawn, so that costs can be given per draw.
struct CountingGenerator {
    Generator rng;
    long long draws = 0;
    double next()
    {
        ++draws;
        return rng.next();
    }
};

// One trial at clamp potential V over the short window; the peak follows
// the most negative current for V < 0, the most positive for V > 0 (unless
// inwardOnly), and is 0 at V = 0.
inline int referenceTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, CountingGenerator &rng,
    double V, double &peak, bool inwardOnly)
{
    for (int j = 1; j <= p.N; ++j) {
        sites[j].Available = true;
        sites[j].ReleaseStep = 0;
    }
    int m = 0;
    peak = 0;
    const int kStart = shortWindowStart();
    const int kEnd = shortWindowEnd(p);
    for (int k = kStart; k <= kEnd; ++k) {
        const double E = SpikePotential(p, k * TimeStep);
        const double G = SynapticConductance(p, sites, k);
        const double I = SynapticCurrent(p, G, V);
        const double Vpre = E - p.Rg * I;
        const double prob = ReleaseProbability(p, spikeSteps, Vpre);
        for (int j = 1; j <= p.N; ++j) {
            if (sites[j].Available && rng.next() < prob) {
                sites[j].Available = false;
                sites[j].ReleaseStep = k;
                ++m;
            }
        }
        if (inwardOnly) {
            if (I < peak)
                peak = I;
            continue;
        }
        if (V < 0 && I < peak)
            peak = I;
        if (V > 0 && I > peak)
            peak = I;
        if (V == 0)
            peak = 0;
    }
    return m;
}

// One trial of the Is vs V2 sweep.
inline int referenceIsvTrial(
    const ParameterSet &p, int spikeSteps, SiteTable &sites, CountingGenerator &rng, double V, double &peak)
{
    return referenceTrial(p, spikeSteps, sites, rng, V, peak, false);
}

// One trial of a Histograms run: at V2, following the most negative current.
inline int referenceHistogramsTrial(
    const ParameterSet &p, int spikeSteps, SiteTable &sites, CountingGenerator &rng, double &peak)
{
    return referenceTrial(p, spikeSteps, sites, rng, p.V2, peak, true);
}

} // namespace cleftsim::bench
