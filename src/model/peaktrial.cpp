#include "model/peaktrial.h"

#include "model/drawscan.h"
#include "model/smallstates.h"

#include <cmath>
#include <cstring>

namespace cleftsim {

PeakTrials::PeakTrials(const ParameterSet &p, int spikeSteps, double Vc, int kStart, int kEnd, PeakKind kind)
    : m_p(p)
    , m_N(siteCount(p))
    , m_Vc(Vc)
    , m_kStart(kStart)
    , m_kEnd(kEnd)
    , m_wantLowest(Vc < 0 || kind == PeakKind::Inward)
    , m_wantHighest(Vc > 0 && kind == PeakKind::BySign)
{
    if (kEnd < kStart)
        return;
    m_lease.emplace(p, spikeSteps, kStart, kEnd);
    m_t = &m_lease->tables();
    if (m_t->stretchesUsable() && !m_t->noRelease() && std::isfinite(Vc) && kEnd - kStart < MaxLoopSteps
        && m_N == p.N)
        m_loop = detail::drawScanEntry().peakLoop;
    m_t->useClamp(Vc);
    if (m_loop && (m_wantLowest || m_wantHighest))
        m_onePeaks = m_t->onePeaks(Vc, m_wantLowest);
    m_place = detail::threadSmallStatePlace();
}

PeakTrials::~PeakTrials()
{
    detail::threadSmallStatePlace() = m_place;
}

PeakTrialResult PeakTrials::run(SiteTable &sites, Generator &rng)
{
    // Every site available again, each in one store.
    static_assert(sizeof(Site) == 8, "a site in eight bytes");
    const Site fresh {};
    const int n = m_N;
    for (int j = 1; j <= n; ++j)
        std::memcpy(&sites[j], &fresh, sizeof fresh);
    if (!m_t)
        return PeakTrialResult {};
    return m_loop ? m_loop(*this, sites, rng) : stepByStep(sites, rng);
}

} // namespace cleftsim
