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

namespace {

// The conductance of step k with the releases of the sites before k, as the
// trial sums it: the background, then one quantum per site in increasing j.
// Where quantum(0) is +0 (stretchesUsable), a site releasing at k or later
// adds quantum(0), which leaves a sum >= +0 unchanged, bit for bit.
double conductanceAt(const TrialTables &t, const int *releaseStep, int nReleased, int k)
{
    double G = t.background();
    if (t.stretchesUsable()) {
        for (int i = 0; i < nReleased; ++i) {
            const int age = k - releaseStep[i];
            G += t.quantum(age > 0 ? age : 0);
        }
        return G;
    }
    for (int i = 0; i < nReleased; ++i)
        if (releaseStep[i] < k)
            G += t.quantum(k - releaseStep[i]);
    return G;
}

// The extreme current over the steps kStart..kEnd of a trial whose sites
// released at releaseStep (in the order of the sites), followed with strict
// comparisons from 0: the smallest for wantLowest, else the largest.
//
// Only the steps whose conductance comes within the peak cut of the largest
// need their current; where the quantum table rises up to its top qTop and
// falls after it, the largest conductance lies in kLo..kHi (the first and
// the last release + qTop) and the steps near it outside are found by
// walking outwards until the conductance drops below the cut
// (doc/exactness.md, "The peak").
double extremeCurrent(const TrialTables &t, const int *releaseStep, int nReleased, double Vc, double Rg,
    int kStart, int kEnd, bool wantLowest)
{
    detail::PeakFollower peak {Vc, Rg, wantLowest};
    auto follow = [&](double G) { peak.follow(G); };
    if (!t.stretchesUsable() || !t.quantumUnimodal()) {
        for (int k = kStart; k <= kEnd; ++k)
            follow(conductanceAt(t, releaseStep, nReleased, k));
        return peak.peak;
    }
    if (nReleased == 0) {
        follow(t.background());
        return peak.peak;
    }
    int first = releaseStep[0], last = releaseStep[0];
    for (int i = 1; i < nReleased; ++i) {
        first = releaseStep[i] < first ? releaseStep[i] : first;
        last = releaseStep[i] > last ? releaseStep[i] : last;
    }
    const int kLo = first + t.quantumTop() < kEnd ? first + t.quantumTop() : kEnd;
    const int kHi = last + t.quantumTop() < kEnd ? last + t.quantumTop() : kEnd;
    double top = 0;
    double range[64]; // the conductances of kLo..kHi where they fit
    const bool kept = kHi - kLo < 64;
    for (int k = kLo; k <= kHi; ++k) {
        const double G = conductanceAt(t, releaseStep, nReleased, k);
        if (kept)
            range[k - kLo] = G;
        top = G > top ? G : top;
    }
    const double cut = top - top * (1.0 + Rg * top) * detail::PeakCut;
    for (int k = kLo; k <= kHi; ++k) {
        const double G = kept ? range[k - kLo] : conductanceAt(t, releaseStep, nReleased, k);
        if (G >= cut)
            follow(G);
    }
    for (int k = kLo - 1; k >= kStart; --k) {
        const double G = conductanceAt(t, releaseStep, nReleased, k);
        if (G < cut)
            break;
        follow(G);
    }
    for (int k = kHi + 1; k <= kEnd; ++k) {
        const double G = conductanceAt(t, releaseStep, nReleased, k);
        if (G < cut)
            break;
        follow(G);
    }
    return peak.peak;
}

} // namespace

namespace {

// Keeps the release step of every site that releases, for the peak.
struct ReleaseSteps {
    static constexpr bool usesProbability = false;
    static constexpr bool usesSteps = false;
    std::uint32_t sites = 0; // bit j for site j
    int at[MaxSites + 1];
    void step(const StepReport &) { }
    void release(int j, int k)
    {
        sites |= 1u << j;
        at[j] = k;
    }
};

} // namespace

// The step rule's own loop, where the loop of the peak trials does not
// apply, and the peak after it.
PeakTrialResult PeakTrials::stepByStep(SiteTable &sites, Generator &rng)
{
    TrialTables &t = *m_t;
    PeakTrialResult result;
    ReleaseSteps releases;
    result.m = detail::runTrialOn(t, m_p, sites, rng, m_Vc, m_kStart, m_kEnd, releases);
    int releaseStep[MaxSites]; // in the order of the sites
    int nReleased = 0;
    for (std::uint32_t left = releases.sites; left != 0; left &= left - 1) {
        const int k = releases.at[__builtin_ctz(left)];
        result.first = result.first < 0 || k < result.first ? k : result.first;
        releaseStep[nReleased++] = k;
    }
    if (!(m_wantLowest || m_wantHighest))
        return result; // at Vc = 0 the sweep's peak is 0 by definition
    if (!m_wantHighest && m_Vc >= 0 && t.stretchesUsable())
        return result; // inward only: no conductance is negative, so no current is below 0
    if (nReleased == 1 && t.stretchesUsable()) {
        result.peak = t.onePeak(m_Vc, m_wantLowest, m_kEnd - releaseStep[0]);
        return result;
    }
    result.peak = extremeCurrent(t, releaseStep, nReleased, m_Vc, m_p.Rg, m_kStart, m_kEnd, m_wantLowest);
    return result;
}

} // namespace cleftsim
