#include "model/trial.h"

#include "model/rounding.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CLEFTSIM_X86_VECTOR 1
#endif

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

bool TrialTables::matches(const ParameterSet &p, int spikeSteps, int kStart, int kEnd) const
{
    return m_valid && spikeSteps == m_spikeSteps && kStart >= m_kStart && kEnd <= m_kEnd
        && sameModel(p, m_params);
}

void TrialTables::build(const ParameterSet &p, int spikeSteps, int kStart, int kEnd)
{
    m_valid = false;
    const auto steps = static_cast<std::size_t>(kEnd - kStart) + 1;
    m_spike.resize(steps);
    m_quantum.resize(steps);
    for (int k = kStart; k <= kEnd; ++k)
        m_spike[static_cast<std::size_t>(k - kStart)] = SpikePotential(p, k * TimeStep);
    for (int d = 0; d <= kEnd - kStart; ++d)
        m_quantum[static_cast<std::size_t>(d)] = (p.Gmax - p.Gb) * ConductanceShape(p, d * TimeStep);
    m_c = 1.0 - std::exp(std::log(1.0 - p.gf) / spikeSteps);
    m_background = p.Gb * p.N;
    m_params = p;
    m_spikeSteps = spikeSteps;
    m_kStart = kStart;
    m_kEnd = kEnd;
    m_bound2 = 1.4426950408889634 / p.ex;
    m_boundScale = m_c * 4294967296.0 * (1.0 + 1e-9);
    m_boundUsable = m_c > 0 && std::isfinite(m_boundScale) && std::isfinite(m_bound2) && m_bound2 > 0;

    m_quantumCeiling.resize(steps);
    bool quantaUsable = true;
    double highest = 0;
    for (std::size_t d = 0; d < steps; ++d) {
        const double q = m_quantum[d];
        quantaUsable = quantaUsable && std::isfinite(q) && q >= 0;
        highest = q > highest ? q : highest;
        m_quantumCeiling[d] = highest;
    }
    m_sameSpikeUntil.resize(steps);
    bool spikeUsable = true;
    for (int k = kEnd; k >= kStart; --k) {
        const auto i = static_cast<std::size_t>(k - kStart);
        spikeUsable = spikeUsable && std::isfinite(m_spike[i]);
        const bool same = k < kEnd && std::memcmp(&m_spike[i], &m_spike[i + 1], sizeof(double)) == 0;
        m_sameSpikeUntil[i] = same ? m_sameSpikeUntil[i + 1] : k;
    }
    std::size_t top = 0;
    for (std::size_t d = 1; d < steps; ++d)
        top = m_quantum[d] > m_quantum[top] ? d : top;
    m_quantumTop = static_cast<int>(top);
    m_quantumUnimodal = quantaUsable;
    for (std::size_t d = 1; d < steps; ++d)
        if (d <= top ? m_quantum[d] < m_quantum[d - 1] : m_quantum[d] > m_quantum[d - 1])
            m_quantumUnimodal = false;
    // The grid of threshold bounds covers every conductance a trial can
    // have: the background and N quanta at the table's largest, summed as a
    // trial sums (rounding is monotone, so no sum of the trial exceeds it).
    double cap = m_background;
    for (int j = 0; j < p.N && j < MaxSites; ++j)
        cap += highest;
    m_gridStep = cap / (GridSize - 48);
    m_gridScale = m_gridStep > 0 ? (1.0 + 1e-9) / m_gridStep : 0.0;
    m_gridSpike[0] = p.Emax;
    m_gridSpike[1] = p.V1r;
    m_grid.assign(static_cast<std::size_t>(2 * GridSize * 2), 0);
    m_gridGeneration = 0;
    m_gridClampSet = false;
    // Without a norm factor (c = 0) no site ever releases, as long as the
    // exponential stays finite; stretchBound then bounds by 1 (see there).
    m_noRelease = m_c == 0 && std::isfinite(p.ex) && p.ex > 0;
    const std::uint64_t zeroBits = 0;
    quantaUsable = quantaUsable && std::memcmp(&m_quantum[0], &zeroBits, sizeof zeroBits) == 0;
    m_stretchesUsable = (m_boundUsable || m_noRelease) && quantaUsable && spikeUsable
        && std::isfinite(m_background) && m_background >= 0 && std::isfinite(p.Rg) && p.Rg >= 0
        && std::isfinite(p.Emax);
    m_valid = true;
}

// A new clamp potential starts a new generation of the grid. The grid is
// used only where its cells are narrow enough to keep the bounds close: one
// cell changes the shift of the presynaptic potential by at most
// Rg |Vc| h, which is kept to a small part of ex.
void TrialTables::setGridClamp(double Vc)
{
    std::memcpy(&m_gridClampBits, &Vc, sizeof m_gridClampBits);
    m_gridClampSet = true;
    m_gridVc = Vc;
    if (++m_gridGeneration == 0) {
        std::fill(m_grid.begin(), m_grid.end(), 0);
        m_gridGeneration = 1;
    }
    m_gridUsable = m_stretchesUsable && !m_noRelease && std::isfinite(Vc)
        && m_params.Rg * std::fabs(Vc) * m_gridStep <= 0.02 * m_params.ex;
}

// The entry for the cell i of the slot: its conductances lie between
// (i - 1) h and (i + 1) h, since i = trunc(G (1 + 1e-9) / h) and the margin
// of 1e-9 outweighs the rounding of the product for the at most GridSize
// cells.
void TrialTables::fillGridEntry(int slot, int i)
{
    const double E = m_gridSpike[slot];
    const double Gup = (i + 1) * m_gridStep;
    const double Gdown = i >= 1 ? (i - 1) * m_gridStep : 0.0;
    const std::uint32_t lower
        = detail::thresholdBelowAt(*this, E, Gdown, Gup, m_gridVc, m_params.Rg, m_params.Emax, m_params.ex);
    const std::uint32_t upper = detail::thresholdAboveAt(*this, E, Gup, m_gridVc, m_params.Rg, m_params.Emax);
    const std::uint64_t tag = static_cast<std::uint64_t>(m_gridGeneration) << 32;
    std::uint64_t *entry = &m_grid[(static_cast<std::size_t>(slot) * GridSize + i) * 2];
    entry[0] = tag | lower;
    entry[1] = tag | upper;
}

namespace {

TrialTables &sharedTables()
{
    thread_local TrialTables tables;
    return tables;
}

} // namespace

TrialTablesLease::TrialTablesLease(const ParameterSet &p, int spikeSteps, int kStart, int kEnd)
{
    TrialTables &shared = sharedTables();
    if (shared.inUse) {
        m_own = std::make_unique<TrialTables>();
        m_tables = m_own.get();
    } else {
        m_tables = &shared;
    }
    if (!m_tables->matches(p, spikeSteps, kStart, kEnd))
        m_tables->build(p, spikeSteps, kStart, kEnd);
    m_tables->inUse = true;
}

TrialTablesLease::~TrialTablesLease()
{
    m_tables->inUse = false;
}

namespace detail {

std::size_t firstDrawBelowScalar(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    // Blocks of 16 draws worked out from the seed at the block's start, so
    // that the multiplications do not wait for each other.
    constexpr std::size_t Block = 16;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = count - done < Block ? count - done : Block;
        std::uint32_t lowest = 0xffffffffu;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t state = singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1];
            lowest = state < lowest ? state : lowest;
        }
        if (lowest < bound) {
            for (std::size_t i = 0;; ++i)
                if (singleJumps.mul[i + 1] * seed + singleJumps.add[i + 1] < bound)
                    return done + i;
        }
        seed = singleJumps.mul[Block] * seed + singleJumps.add[Block];
        done += n;
    }
    return count;
}

#ifdef CLEFTSIM_X86_VECTOR

// Four vectors of 8 lanes hold 32 consecutive states; all four jump over 32
// draws at once. Unsigned comparison by the unsigned minimum: a lane is
// below the bound where min(lane, bound - 1) equals the lane.
__attribute__((target("avx2"))) std::size_t firstDrawBelowVector(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
    const __m256i s = _mm256_set1_epi32(static_cast<int>(seed));
    const auto *mul = reinterpret_cast<const __m256i *>(jumps.mul + 1);
    const auto *add = reinterpret_cast<const __m256i *>(jumps.add + 1);
    __m256i v0 = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul), s), _mm256_loadu_si256(add));
    __m256i v1
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 1), s), _mm256_loadu_si256(add + 1));
    __m256i v2
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 2), s), _mm256_loadu_si256(add + 2));
    __m256i v3
        = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_loadu_si256(mul + 3), s), _mm256_loadu_si256(add + 3));
    const __m256i jumpMul = _mm256_set1_epi32(static_cast<int>(jumps.mul[32]));
    const __m256i jumpAdd = _mm256_set1_epi32(static_cast<int>(jumps.add[32]));
    const __m256i below = _mm256_set1_epi32(static_cast<int>(bound - 1));
    const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    std::size_t done = 0;
    while (done < count) {
        __m256i w0 = v0, w1 = v1, w2 = v2, w3 = v3;
        if (count - done < 32) {
            // Lanes past the last draw are set to the largest state.
            const __m256i left = _mm256_set1_epi32(static_cast<int>(count - done));
            const __m256i eight = _mm256_set1_epi32(8);
            const __m256i i0 = index, i1 = _mm256_add_epi32(i0, eight);
            const __m256i i2 = _mm256_add_epi32(i1, eight), i3 = _mm256_add_epi32(i2, eight);
            w0 = _mm256_or_si256(w0, _mm256_cmpgt_epi32(_mm256_add_epi32(i0, _mm256_set1_epi32(1)), left));
            w1 = _mm256_or_si256(w1, _mm256_cmpgt_epi32(_mm256_add_epi32(i1, _mm256_set1_epi32(1)), left));
            w2 = _mm256_or_si256(w2, _mm256_cmpgt_epi32(_mm256_add_epi32(i2, _mm256_set1_epi32(1)), left));
            w3 = _mm256_or_si256(w3, _mm256_cmpgt_epi32(_mm256_add_epi32(i3, _mm256_set1_epi32(1)), left));
        }
        const __m256i lowest = _mm256_min_epu32(_mm256_min_epu32(w0, w1), _mm256_min_epu32(w2, w3));
        const __m256i hit = _mm256_cmpeq_epi32(_mm256_min_epu32(lowest, below), lowest);
        if (!_mm256_testz_si256(hit, hit)) {
            alignas(32) std::uint32_t states[32];
            _mm256_store_si256(reinterpret_cast<__m256i *>(states), w0);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 8), w1);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 16), w2);
            _mm256_store_si256(reinterpret_cast<__m256i *>(states + 24), w3);
            for (std::size_t i = 0;; ++i)
                if (states[i] < bound)
                    return done + i;
        }
        v0 = _mm256_add_epi32(_mm256_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm256_add_epi32(_mm256_mullo_epi32(v1, jumpMul), jumpAdd);
        v2 = _mm256_add_epi32(_mm256_mullo_epi32(v2, jumpMul), jumpAdd);
        v3 = _mm256_add_epi32(_mm256_mullo_epi32(v3, jumpMul), jumpAdd);
        done += 32;
    }
    return count;
}

// Four vectors of 16 lanes hold 64 consecutive states; the comparison gives
// one bit per draw, so the first low state is the lowest bit set.
__attribute__((target("avx512f"))) std::size_t firstDrawBelowWide(
    std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    const StrideJumps &jumps = singleJumps;
    const __m512i s = _mm512_set1_epi32(static_cast<int>(seed));
    __m512i v0 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 1), s), _mm512_loadu_si512(jumps.add + 1));
    __m512i v1 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 17), s), _mm512_loadu_si512(jumps.add + 17));
    __m512i v2 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 33), s), _mm512_loadu_si512(jumps.add + 33));
    __m512i v3 = _mm512_add_epi32(
        _mm512_mullo_epi32(_mm512_loadu_si512(jumps.mul + 49), s), _mm512_loadu_si512(jumps.add + 49));
    const __m512i jumpMul = _mm512_set1_epi32(static_cast<int>(jumps.mul[64]));
    const __m512i jumpAdd = _mm512_set1_epi32(static_cast<int>(jumps.add[64]));
    const __m512i b = _mm512_set1_epi32(static_cast<int>(bound));
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t low = static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v0, b))
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v1, b)) << 16
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v2, b)) << 32
            | static_cast<std::uint64_t>(_mm512_cmplt_epu32_mask(v3, b)) << 48;
        if (count - done < 64)
            low &= (std::uint64_t(1) << (count - done)) - 1;
        if (low != 0)
            return done + static_cast<std::size_t>(__builtin_ctzll(low));
        v0 = _mm512_add_epi32(_mm512_mullo_epi32(v0, jumpMul), jumpAdd);
        v1 = _mm512_add_epi32(_mm512_mullo_epi32(v1, jumpMul), jumpAdd);
        v2 = _mm512_add_epi32(_mm512_mullo_epi32(v2, jumpMul), jumpAdd);
        v3 = _mm512_add_epi32(_mm512_mullo_epi32(v3, jumpMul), jumpAdd);
        done += 64;
    }
    return count;
}

#else

std::size_t firstDrawBelowVector(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    return firstDrawBelowScalar(seed, count, bound);
}

std::size_t firstDrawBelowWide(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    return firstDrawBelowScalar(seed, count, bound);
}

#endif

} // namespace detail

namespace {

// The processor is asked once, at start-up.
bool processorHas(const char *feature)
{
#ifdef CLEFTSIM_X86_VECTOR
    __builtin_cpu_init();
    if (std::strcmp(feature, "avx512f") == 0)
        return __builtin_cpu_supports("avx512f");
    return __builtin_cpu_supports("avx2");
#else
    (void)feature;
    return false;
#endif
}

const bool avx2Present = processorHas("avx2");
const bool avx512Present = processorHas("avx512f");

using Scan = std::size_t (*)(std::uint32_t, std::size_t, std::uint32_t);

Scan bestScan()
{
    if (avx512Present)
        return detail::firstDrawBelowWide;
    if (avx2Present)
        return detail::firstDrawBelowVector;
    return detail::firstDrawBelowScalar;
}

std::atomic<Scan> chosenScan {bestScan()};

} // namespace

bool detail::avx2Available()
{
    return avx2Present;
}

bool detail::avx512Available()
{
    return avx512Present;
}

bool vectorScanAvailable()
{
    return avx2Present || avx512Present;
}

void setDrawScan(DrawScan scan)
{
    chosenScan.store(
        scan == DrawScan::Vector ? bestScan() : detail::firstDrawBelowScalar, std::memory_order_relaxed);
}

DrawScan drawScan()
{
    return chosenScan.load(std::memory_order_relaxed) == detail::firstDrawBelowScalar ? DrawScan::Scalar
                                                                                      : DrawScan::Vector;
}

std::size_t detail::firstDrawBelow(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    return chosenScan.load(std::memory_order_relaxed)(seed, count, bound);
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
// Only the steps whose conductance comes near the largest one need their
// current. In exact arithmetic the size of I = Vc G / (1 + Rg G) grows with
// G: for 0 < G1 < G2, |I(G2)| / |I(G1)| = 1 + (G2 - G1) / (G1 (1 + Rg G2)).
// A step whose G1 falls below the largest conductance Gtop by more than
// Gtop (1 + Rg Gtop) 1e-12 therefore has a current at least 1e-12 smaller in
// relative size than the step of Gtop, and the few roundings of the current
// (a relative error of about 1e-15 on each side) cannot close that gap: its
// current is never the extreme one.
//
// Where the quantum table rises up to its top qTop and falls after it, the
// conductance cannot fall before the step kLo = first release + qTop (every
// term rises or joins with a value >= 0, and rounding is monotone) and
// cannot rise after kHi = last release + qTop; so the largest conductance
// lies in kLo..kHi, and the steps near it outside that range are found by
// walking outwards until the conductance drops below the cut.
double extremeCurrent(const TrialTables &t, const int *releaseStep, int nReleased, double Vc, double Rg,
    int kStart, int kEnd, bool wantLowest)
{
    double peak = 0;
    bool any = false;
    double followed = 0; // conductance whose current was followed last
    auto follow = [&](double G) {
        if (any && G == followed)
            return;
        any = true;
        followed = G;
        const double I = Vc * G / (1.0 + Rg * G);
        if (wantLowest ? I < peak : I > peak)
            peak = I;
    };
    if (!t.stretchesUsable() || !t.quantumUnimodal()) {
        for (int k = kStart; k <= kEnd; ++k)
            follow(conductanceAt(t, releaseStep, nReleased, k));
        return peak;
    }
    if (nReleased == 0) {
        follow(t.background());
        return peak;
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
    const double cut = top - top * (1.0 + Rg * top) * 1e-12;
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
    return peak;
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

PeakTrialResult runPeakTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng,
    double Vc, int kStart, int kEnd, PeakKind kind)
{
    PeakTrialResult result;
    const int N = p.N < 0 ? 0 : (p.N > MaxSites ? MaxSites : p.N);
    for (int j = 1; j <= N; ++j) {
        sites[j].Available = true;
        sites[j].ReleaseStep = 0;
    }
    if (kEnd < kStart)
        return result;
    const TrialTablesLease lease(p, spikeSteps, kStart, kEnd);
    ReleaseSteps releases;
    result.m = detail::runTrialOn(lease.tables(), p, sites, rng, Vc, kStart, kEnd, releases);
    const bool wantLowest = Vc < 0 || kind == PeakKind::Inward;
    const bool wantHighest = Vc > 0 && kind == PeakKind::BySign;
    if (!(wantLowest || wantHighest))
        return result; // at Vc = 0 the sweep's peak is 0 by definition
    int releaseStep[MaxSites];
    int nReleased = 0;
    for (std::uint32_t left = releases.sites; left != 0; left &= left - 1)
        releaseStep[nReleased++] = releases.at[__builtin_ctz(left)];
    if (!wantHighest && Vc >= 0 && lease.tables().stretchesUsable())
        return result; // inward only: no conductance is negative, so no current is below 0
    result.peak = extremeCurrent(lease.tables(), releaseStep, nReleased, Vc, p.Rg, kStart, kEnd, wantLowest);
    return result;
}

} // namespace cleftsim
