#include "experiments/engine/isvsweep.h"

#include "model/trial.h"

namespace cleftsim {

IsvTrialResult isvTrial(ModelState &state, Generator &rng, double V)
{
    const PeakTrialResult r = runPeakTrial(state.LPC, state.SpikeSteps, state.Sites, rng, V,
        shortWindowStart(), shortWindowEnd(state.LPC), PeakKind::BySign);
    IsvTrialResult result;
    result.m = r.m;
    result.peak = r.peak;
    return result;
}

double sweepBackgroundCurrent(const ParameterSet &p, double V)
{
    return V * p.Gb * p.N / (p.Rg * p.Gb * p.N + 1);
}

IsvPoint runIsvPoint(ModelState &state, Generator &rng, int V, int trialCount)
{
    IsvPoint point;
    point.V = V;
    point.background = sweepBackgroundCurrent(state.LPC, V);
    for (int trial = 1; trial <= trialCount; ++trial) {
        const IsvTrialResult r = isvTrial(state, rng, V);
        point.totalQuanta += r.m;
        point.peakSum += r.peak;
        ++point.trials;
    }
    return point;
}

} // namespace cleftsim
