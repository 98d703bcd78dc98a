#include "model/trial.h"

#include "model/peaktrial.h"
#include "model/rounding.h"

#include <cstring>

namespace cleftsim {

int shortWindowStart()
{
    return Round(SpikeOnset / TimeStep);
}

int shortWindowEnd(const ParameterSet &p)
{
    // Asked for at every trial of a sweep: the last answer is kept.
    thread_local double du = 0, tc = 0;
    thread_local int end = Round((SpikeOnset + du + tc) / TimeStep);
    if (std::memcmp(&du, &p.du, sizeof du) != 0 || std::memcmp(&tc, &p.tc, sizeof tc) != 0) {
        du = p.du;
        tc = p.tc;
        end = Round((SpikeOnset + du + tc) / TimeStep);
    }
    return end;
}

PeakTrialResult runPeakTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng,
    double Vc, int kStart, int kEnd, PeakKind kind)
{
    PeakTrials trials(p, spikeSteps, Vc, kStart, kEnd, kind);
    return trials.run(sites, rng);
}

} // namespace cleftsim
