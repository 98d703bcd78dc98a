#include "experiments/engine/isvsweep.h"

#include "model/trial.h"

namespace cleftsim {

namespace {

// Follows the extreme current of a trial by the sign of the clamp potential.
struct PeakFollower {
    static constexpr bool usesProbability = false;
    double V;
    double peak = 0;

    void step(const StepReport &s)
    {
        if (V < 0 && s.I < peak)
            peak = s.I;
        if (V > 0 && s.I > peak)
            peak = s.I;
        if (V == 0)
            peak = 0;
    }
    void release(int, int) { }
};

} // namespace

IsvTrialResult isvTrial(ModelState &state, Generator &rng, double V)
{
    PeakFollower follower {V};
    IsvTrialResult result;
    result.m = runTrial(state.LPC, state.SpikeSteps, state.Sites, rng, V, shortWindowStart(),
        shortWindowEnd(state.LPC), follower);
    result.peak = follower.peak;
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
