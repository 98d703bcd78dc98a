#pragma once

#include "model/parameterset.h"
#include "model/random.h"
#include "model/synapse.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

namespace cleftsim {

// The quantities of one time step k of a trial.
struct StepReport {
    int k = 0; // time-step index
    double E = 0; // potential of the spike generator [mV]
    double G = 0; // total subsynaptic conductance [nS]
    double I = 0; // synaptic current into the clamped cell [pA]
    double Vpre = 0; // presynaptic potential after the ephaptic shift [mV]
    double p = 0; // release probability of one available site in this step
};

// First step of the short window of Is vs V2 and Histograms: the spike onset.
int shortWindowStart();
// Last step of the short window: the end of the spike plus one time constant.
int shortWindowEnd(const ParameterSet &p);

// Values of the step rule that depend only on the parameters, the spike
// length and the step window, worked out once and looked up at every step.
// Every entry is computed by the same expression as the laws in synapse.h,
// so a looked-up value is bit for bit the value the law returns.
class TrialTables {
public:
    // Whether these tables were made from exactly these parameters (every
    // model field compared with ==) and cover the steps kStart..kEnd.
    bool matches(const ParameterSet &p, int spikeSteps, int kStart, int kEnd) const;
    // Makes the tables for p over the steps kStart..kEnd (kEnd >= kStart).
    void build(const ParameterSet &p, int spikeSteps, int kStart, int kEnd);

    // SpikePotential(k * TimeStep) [mV], kStart <= k <= kEnd.
    double spike(int k) const { return m_spike[static_cast<std::size_t>(k - m_kStart)]; }
    // (Gmax - Gb) * ConductanceShape(d * TimeStep) [nS], 0 <= d <= kEnd - kStart.
    double quantum(int d) const { return m_quantum[static_cast<std::size_t>(d)]; }
    // The per-step release constant 1 - exp(ln(1 - gf) / SpikeSteps).
    double releaseConstant() const { return m_c; }
    // Background conductance of all sites, Gb * N [nS].
    double background() const { return m_background; }
    // For a cheap upper bound on the release law, see releaseBound().
    bool boundUsable() const { return m_boundUsable; }
    double bound2() const { return m_bound2; } // log2(e) / ex [1/mV]
    double boundScale() const { return m_boundScale; } // c * 2^32 with a margin
    // The largest of quantum(0..d): a bound on quantum(d') for all d' <= d.
    double quantumCeiling(int d) const { return m_quantumCeiling[static_cast<std::size_t>(d)]; }
    // The last step of the run of steps from k on with the same spike potential.
    int sameSpikeUntil(int k) const { return m_sameSpikeUntil[static_cast<std::size_t>(k - m_kStart)]; }
    // Whether the draws may be scanned over stretches of steps (see runTrial):
    // the release bound is usable and the conductances are finite and not
    // negative, so that the current only grows in size with the conductance.
    bool stretchesUsable() const { return m_stretchesUsable; }
    // Whether the norm factor is 0, so that p is 0 wherever it is finite.
    bool noRelease() const { return m_noRelease; }
    double exponentStep() const { return m_params.ex; } // ex [mV]
    // Whether thresholdBand comes from the grid at Vc (cheap) rather than
    // from the law's bounds worked out on the spot.
    bool bandFromGrid(double Vc);
    // Where quantum(d) is largest (the first such d), and whether the table
    // never falls before it and never rises after it.
    int quantumTop() const { return m_quantumTop; }
    bool quantumUnimodal() const { return m_quantumUnimodal; }

    // Bounds on the threshold ceil(p 2^32) of a step at clamp potential Vc
    // with spike potential E and conductance G, only where
    // stretchesUsable(): no state at or above upper releases (upper 0: no
    // bound below 2^32), every state below lower does. They come from a grid
    // over G kept for the last clamp potential and filled in as trials need
    // it, so that a trial rarely divides or takes an exponential.
    void thresholdBand(double E, double G, double Vc, std::uint32_t &lower, std::uint32_t &upper);
    std::uint32_t thresholdAbove(double E, double G, double Vc);

    bool inUse = false; // a trial is reading these tables now

private:
    bool m_valid = false;
    ParameterSet m_params;
    int m_spikeSteps = 0;
    int m_kStart = 0;
    int m_kEnd = -1;
    std::vector<double> m_spike;
    std::vector<double> m_quantum;
    double m_c = 0;
    double m_background = 0;
    bool m_boundUsable = false;
    double m_bound2 = 0;
    double m_boundScale = 0;
    std::vector<double> m_quantumCeiling;
    std::vector<int> m_sameSpikeUntil;
    bool m_stretchesUsable = false;
    bool m_noRelease = false;
    int m_quantumTop = 0;
    bool m_quantumUnimodal = false;

    // The grid of threshold bounds: entry (slot, i) holds, tagged with the
    // generation it was made in, the bounds for the spike potential of the
    // slot and every G with i = trunc(G / h (1 + 1e-9)).
    static constexpr int GridSize = 2048;
    const std::uint64_t *gridEntry(double E, double G, double Vc);
    void setGridClamp(double Vc);
    void fillGridEntry(int slot, int i);
    std::vector<std::uint64_t> m_grid; // [slot][i][lower, upper]
    std::uint32_t m_gridGeneration = 0;
    std::uint64_t m_gridClampBits = 0;
    bool m_gridClampSet = false;
    bool m_gridUsable = false;
    double m_gridVc = 0;
    double m_gridStep = 0; // h [nS]
    double m_gridScale = 0; // (1 + 1e-9) / h
    double m_gridSpike[2] = {0, 0}; // spike potential of each slot
};

// Hands a trial the tables for its parameters: the thread's shared tables,
// rebuilt when the parameters differ from those they were made from, or,
// for a trial started while another one runs, tables of its own.
class TrialTablesLease {
public:
    TrialTablesLease(const ParameterSet &p, int spikeSteps, int kStart, int kEnd);
    ~TrialTablesLease();
    TrialTablesLease(const TrialTablesLease &) = delete;
    TrialTablesLease &operator=(const TrialTablesLease &) = delete;

    TrialTables &tables() const { return *m_tables; }

private:
    TrialTables *m_tables = nullptr;
    std::unique_ptr<TrialTables> m_own;
};

// The draw scans of the trial routine: the vector ones (8 or 16 draws
// compared at once) where the processor has them, the scalar one
// everywhere. All find the same draws; the choice only changes the speed.
enum class DrawScan {
    Scalar,
    Vector, // the widest vector scan the processor has
};
// Whether this processor has a vector scan.
bool vectorScanAvailable();
// Chooses the scan of every trial from now on (Vector where available,
// otherwise Scalar); the tests run both.
void setDrawScan(DrawScan scan);
DrawScan drawScan();

namespace detail {

// Jumps of the generator: after i draws from seed s the seed is
// mul[i] * s + add[i] (mod 2^32), for i = 0..MaxSites.
struct GeneratorJumps {
    std::uint32_t mul[MaxSites + 1];
    std::uint32_t add[MaxSites + 1];
};

constexpr GeneratorJumps makeGeneratorJumps()
{
    GeneratorJumps j {};
    j.mul[0] = 1u;
    j.add[0] = 0u;
    for (int i = 1; i <= MaxSites; ++i) {
        j.mul[i] = j.mul[i - 1] * Generator::Multiplier;
        j.add[i] = j.add[i - 1] * Generator::Multiplier + Generator::Increment;
    }
    return j;
}

inline constexpr GeneratorJumps generatorJumps = makeGeneratorJumps();

// Jumps over i * stride draws for i = 0..127, built the same way.
struct StrideJumps {
    std::uint32_t mul[128];
    std::uint32_t add[128];
};

constexpr StrideJumps makeStrideJumps(int stride)
{
    std::uint32_t m = 1u, a = 0u; // one jump over stride draws
    for (int i = 0; i < stride; ++i) {
        m = m * Generator::Multiplier;
        a = a * Generator::Multiplier + Generator::Increment;
    }
    StrideJumps j {};
    j.mul[0] = 1u;
    j.add[0] = 0u;
    for (int i = 1; i < 128; ++i) {
        j.mul[i] = j.mul[i - 1] * m;
        j.add[i] = j.add[i - 1] * m + a;
    }
    return j;
}

inline constexpr StrideJumps singleJumps = makeStrideJumps(1);
inline constexpr StrideJumps blockJumps = makeStrideJumps(128);

// The seed after n draws from seed (n >= 0), in at most two jumps for the
// n < 16384 of any trial.
inline std::uint32_t advance(std::uint32_t seed, long long n)
{
    constexpr std::uint32_t farMul = blockJumps.mul[127] * blockJumps.mul[1];
    constexpr std::uint32_t farAdd = blockJumps.add[127] * blockJumps.mul[1] + blockJumps.add[1];
    for (; n >= 16384; n -= 16384)
        seed = farMul * seed + farAdd;
    const auto lo = static_cast<std::size_t>(n & 127);
    const auto hi = static_cast<std::size_t>(n >> 7);
    seed = singleJumps.mul[lo] * seed + singleJumps.add[lo];
    return blockJumps.mul[hi] * seed + blockJumps.add[hi];
}

// The index (0-based) of the first of the count draws after seed whose
// state is below bound, or count when none is. The scan chosen by setDrawScan.
std::size_t firstDrawBelow(std::uint32_t seed, std::size_t count, std::uint32_t bound);
// The scans themselves: scalar; 8 lanes (AVX2, only where avx2Available());
// 16 lanes (AVX-512, only where avx512Available()).
std::size_t firstDrawBelowScalar(std::uint32_t seed, std::size_t count, std::uint32_t bound);
std::size_t firstDrawBelowVector(std::uint32_t seed, std::size_t count, std::uint32_t bound);
std::size_t firstDrawBelowWide(std::uint32_t seed, std::size_t count, std::uint32_t bound);
bool avx2Available();
bool avx512Available();

// An upper bound on 2^32 * ReleaseProbability at the presynaptic potential
// Vpre, far cheaper than the law: with y = (Vpre - Emax) log2(e) / ex split
// into n + f (0 <= f < 1), 2^y <= (1 + f) 2^n because 2^f is convex. The
// scale carries a margin of 1e-9, far above the rounding of either side for
// the exponents let through here. Infinity where no useful bound exists.
inline double releaseBound(const TrialTables &t, double Vpre, double Emax)
{
    const double y = (Vpre - Emax) * t.bound2();
    if (y < -1000.0)
        return 1.0; // p * 2^32 is far below 1
    if (!(y < 40.0))
        return HUGE_VAL; // p may reach 1, or y is not a number
    int n = static_cast<int>(y);
    if (n > y)
        --n;
    const double f = y - n;
    const std::uint64_t powerBits = static_cast<std::uint64_t>(n + 1023) << 52;
    double power;
    std::memcpy(&power, &powerBits, sizeof power);
    return (1.0 + f) * power * t.boundScale();
}

// ceil(x) for 0 < x <= 4294967295, without the library call that
// processors without a rounding instruction need.
inline std::uint32_t ceilingOf(double x)
{
    const auto whole = static_cast<std::uint32_t>(static_cast<std::int64_t>(x));
    return whole + (double(whole) < x ? 1u : 0u);
}

// Steps a stretch holds at most: the bound of a stretch is worked out for
// its last step, so a shorter stretch keeps it closer to the steps' own.
constexpr int StretchSteps = 8;

// A bound on the states that can release in any of the steps k..last when
// no site releases before the last of them: a number drawn in these steps
// is below the step's p only if its state is below the bound. 0 where no
// bound below 2^32 can be given. releasedStep holds the release steps of
// the nReleased sites released before k, in the order of the sites.
//
// Why it holds: the spike potential E is the same at all these steps. The
// conductance of every step is the background plus one quantum per released
// site, summed in the order of the sites; replacing each quantum by the
// largest quantum up to its age at the last step gives, term by term, values
// at least as large, and rounding is monotone, so the sum G is at least
// every step's conductance. The current I = Vc G / (1 + Rg G) grows in size
// with G (Rg >= 0), so for Vc < 0 the shift -Rg I of the presynaptic
// potential is at least every step's own, up to rounding of a few units in
// the last place; the margin of 1e-9 of the potentials' size added here is
// millions of times that. For Vc >= 0 the current is not negative and every
// step's Vpre is at most E. releaseBound then bounds the law with its own
// margin, and a state below ceil(p 2^32) is below ceil(bound).
//
// The bound itself comes from the grid of the tables (thresholdAbove), whose
// entries thresholdAboveAt makes for a conductance at least G.
inline std::uint32_t stretchBound(
    TrialTables &t, int k, int last, const int *releasedStep, int nReleased, double Vc)
{
    double G = t.background();
    for (int i = 0; i < nReleased; ++i)
        G += t.quantumCeiling(last - releasedStep[i]);
    return t.thresholdAbove(t.spike(k), G, Vc);
}

// A bound on ceil(p 2^32) of every step with spike potential E and a
// conductance of at most G (see stretchBound), 0 where none below 2^32.
inline std::uint32_t thresholdAboveAt(
    const TrialTables &t, double E, double G, double Vc, double Rg, double Emax)
{
    double V = E;
    if (Vc < 0) {
        const double shift = -Rg * (Vc * G / (1.0 + Rg * G));
        V = E + shift + 1e-9 * (std::fabs(E) + shift);
    }
    if (t.noRelease()) {
        // p = exp(...) * 0 is 0 wherever the exponential is finite (it is far
        // below its overflow at 709 here), and no state is below ceil(0).
        return (V - Emax) / t.exponentStep() < 700.0 ? 1u : 0u;
    }
    const double bound = releaseBound(t, V, Emax);
    if (!(bound <= 4294967295.0))
        return 0;
    return ceilingOf(bound);
}

// A number that every state releasing at a step with spike potential E and
// a conductance of at least Gdown and at most Gup reaches: the states below
// it release. The presynaptic potential is bounded from below as
// thresholdAboveAt bounds it from above (for Vc < 0 the shift grows with G,
// for Vc > 0 it lowers Vpre the more the larger G), less a margin of 1e-9 of
// the potentials' size; the law is taken there and lowered by 1e-9, far
// more than the rounding of the exponential and of the products.
inline std::uint32_t thresholdBelowAt(
    const TrialTables &t, double E, double Gdown, double Gup, double Vc, double Rg, double Emax, double ex)
{
    double shift = 0;
    if (Vc < 0)
        shift = -Rg * (Vc * Gdown / (1.0 + Rg * Gdown));
    else if (Vc > 0)
        shift = -Rg * (Vc * Gup / (1.0 + Rg * Gup));
    const double V = E + shift - 1e-9 * (std::fabs(E) + std::fabs(shift));
    const double scaled = std::exp((V - Emax) / ex) * t.releaseConstant() * 4294967296.0 * (1.0 - 1e-9);
    if (!(scaled >= 1.0))
        return 0;
    if (scaled >= 4294967295.0)
        return 4294967295u;
    return static_cast<std::uint32_t>(scaled);
}

// Whether an observer reads StepReport::p. One that declares
// `static constexpr bool usesProbability = false` gets no valid p in its
// reports and lets the trial skip the release law wherever no number drawn
// can fall below it.
template <class O, class = void> struct UsesProbability : std::true_type {
};
template <class O>
struct UsesProbability<O, std::void_t<decltype(O::usesProbability)>>
    : std::bool_constant<O::usesProbability> {
};

// Whether an observer reads the step reports at all. One that declares
// `static constexpr bool usesSteps = false` gets no step() calls (only its
// releases), which spares the trial the current of every step.
template <class O, class = void> struct UsesSteps : std::true_type {
};
template <class O>
struct UsesSteps<O, std::void_t<decltype(O::usesSteps)>> : std::bool_constant<O::usesSteps> {
};

template <class Observer>
int runTrialOn(TrialTables &t, const ParameterSet &p, SiteTable &sites, Generator &rng, double Vc, int kStart,
    int kEnd, Observer &observer);

} // namespace detail

inline const std::uint64_t *TrialTables::gridEntry(double E, double G, double Vc)
{
    std::uint64_t clampBits;
    std::memcpy(&clampBits, &Vc, sizeof clampBits);
    if (!m_gridClampSet || clampBits != m_gridClampBits)
        setGridClamp(Vc);
    if (!m_gridUsable)
        return nullptr;
    const int slot = E == m_gridSpike[0] ? 0 : (E == m_gridSpike[1] ? 1 : -1);
    const double x = G * m_gridScale;
    if (slot < 0 || !(x < GridSize - 1))
        return nullptr;
    const auto i = static_cast<int>(x);
    const std::uint64_t *entry = &m_grid[(static_cast<std::size_t>(slot) * GridSize + i) * 2];
    if (entry[0] >> 32 != m_gridGeneration)
        fillGridEntry(slot, i);
    return entry;
}

inline bool TrialTables::bandFromGrid(double Vc)
{
    std::uint64_t clampBits;
    std::memcpy(&clampBits, &Vc, sizeof clampBits);
    if (!m_gridClampSet || clampBits != m_gridClampBits)
        setGridClamp(Vc);
    return m_gridUsable;
}

inline std::uint32_t TrialTables::thresholdAbove(double E, double G, double Vc)
{
    if (const std::uint64_t *entry = gridEntry(E, G, Vc))
        return static_cast<std::uint32_t>(entry[1]);
    return detail::thresholdAboveAt(*this, E, G, Vc, m_params.Rg, m_params.Emax);
}

inline void TrialTables::thresholdBand(
    double E, double G, double Vc, std::uint32_t &lower, std::uint32_t &upper)
{
    if (const std::uint64_t *entry = gridEntry(E, G, Vc)) {
        lower = static_cast<std::uint32_t>(entry[0]);
        upper = static_cast<std::uint32_t>(entry[1]);
        return;
    }
    upper = detail::thresholdAboveAt(*this, E, G, Vc, m_params.Rg, m_params.Emax);
    lower = detail::thresholdBelowAt(*this, E, G, G, Vc, m_params.Rg, m_params.Emax, m_params.ex);
}

// Runs one trial of the synapse at clamp potential Vc over the steps
// kStart..kEnd (both inclusive) and returns the number of quanta released.
//
// This is the one step rule of the program. At every step k it computes the
// spike potential E, the conductance G of the quanta released at earlier
// steps (summed over the sites in increasing order), the current I, the
// shifted presynaptic potential Vpre and the release probability p, reports
// them with observer.step(report) (p only for an observer that uses it, see
// UsesProbability; no report at all for one that declares it reads none, see
// UsesSteps), then lets every available site j = 1..N draw one number from
// rng, in increasing j; a site whose number is below p releases and is
// reported with observer.release(j, k). The sites table is reset first and
// keeps the trial's releases afterwards; rng is left after the trial's last
// draw.
//
// The parameters are read when the trial starts (a trial never yields, so
// they cannot change while it runs); an edit made between trials takes
// effect from the next trial. What depends only on the parameters comes
// from tables. The draws of one step follow from the seed at its start, and
// so do the draws of a stretch of steps: where the observer does not read p,
// the draws of up to StretchSteps steps with the same spike potential are
// scanned at once for a state below a bound on every one of those steps'
// thresholds (stretchBound); the steps before the first such state release
// nothing, and only the step of that state is worked out with the law.
// Every value and every decision is exactly that of the plain step rule.
template <class Observer>
int runTrial(const ParameterSet &p, const int &spikeSteps, SiteTable &sites, Generator &rng, double Vc,
    int kStart, int kEnd, Observer &observer)
{
    const int N = p.N < 0 ? 0 : (p.N > MaxSites ? MaxSites : p.N);
    for (int j = 1; j <= N; ++j) {
        sites[j].Available = true;
        sites[j].ReleaseStep = 0;
    }
    if (kEnd < kStart)
        return 0;
    const TrialTablesLease lease(p, spikeSteps, kStart, kEnd);
    return detail::runTrialOn(lease.tables(), p, sites, rng, Vc, kStart, kEnd, observer);
}

namespace detail {

// runTrial on tables made for p over (at least) kStart..kEnd, kStart <= kEnd,
// with the sites table already reset.
template <class Observer>
int runTrialOn(TrialTables &t, const ParameterSet &p, SiteTable &sites, Generator &rng, double Vc, int kStart,
    int kEnd, Observer &observer)
{
    const int N = p.N < 0 ? 0 : (p.N > MaxSites ? MaxSites : p.N);
    const detail::GeneratorJumps &jump = detail::generatorJumps;
    constexpr bool alwaysProbability = detail::UsesProbability<Observer>::value;
    constexpr bool reportSteps = alwaysProbability || detail::UsesSteps<Observer>::value;
    const bool stretches = !alwaysProbability && t.stretchesUsable() && std::isfinite(Vc);
    const bool band = !reportSteps && stretches && t.bandFromGrid(Vc);
    const double Rg = p.Rg;
    const double Emax = p.Emax;
    const double ex = p.ex;
    const double c = t.releaseConstant();

    int available[MaxSites]; // sites still available, increasing j
    int nAvailable = N;
    for (int i = 0; i < N; ++i)
        available[i] = i + 1;
    int releasedStep[MaxSites]; // release steps of the released sites, increasing j
    int releasedSite[MaxSites];
    int nReleased = 0;

    std::uint32_t seed = rng.seed();
    bool haveP = false;
    double lastVpre = 0;
    double prob = 0;
    StepReport s;
    // The conductance of step k, then its current and shifted potential.
    auto conductance = [&](int k) {
        s.k = k;
        s.E = t.spike(k);
        double G = t.background();
        for (int i = 0; i < nReleased; ++i)
            G += t.quantum(k - releasedStep[i]);
        s.G = G;
    };
    auto current = [&]() {
        s.I = Vc * s.G / (1.0 + Rg * s.G);
        s.Vpre = s.E - Rg * s.I;
    };
    int exactUntil = kStart - 1; // steps up to here are worked out one by one
    int k = kStart;
    while (k <= kEnd) {
        if (nAvailable == 0 && !reportSteps)
            break;
        if (stretches && nAvailable > 0 && k > exactUntil) {
            // A stretch short enough to keep the bound close, or the whole
            // run of the same spike potential where even its bound lets
            // through few states.
            const int runEnd = t.sameSpikeUntil(k) < kEnd ? t.sameSpikeUntil(k) : kEnd;
            int last = runEnd < k + detail::StretchSteps - 1 ? runEnd : k + detail::StretchSteps - 1;
            std::uint32_t bound = detail::stretchBound(t, k, last, releasedStep, nReleased, Vc);
            if (last < runEnd && bound != 0) {
                // The whole run where its bound is hardly looser (as before
                // any release, when the bound is the same) or lets through
                // few states anyway.
                const std::uint32_t runBound
                    = detail::stretchBound(t, k, runEnd, releasedStep, nReleased, Vc);
                if (runBound != 0
                    && (runBound - bound <= bound / 16
                        || double(runBound) * nAvailable * (runEnd - k + 1) < 67108864.0)) {
                    last = runEnd;
                    bound = runBound;
                }
            }
            if (bound == 0) {
                exactUntil = last; // the law may pass 1 here: step by step
            } else {
                const std::size_t count = static_cast<std::size_t>(nAvailable) * (last - k + 1);
                const std::size_t first = detail::firstDrawBelow(seed, count, bound);
                const int quiet = static_cast<int>(first / static_cast<std::size_t>(nAvailable));
                if (reportSteps) {
                    for (int q = k; q < k + quiet; ++q) {
                        conductance(q);
                        current();
                        observer.step(s);
                    }
                }
                seed = detail::advance(seed, static_cast<long long>(quiet) * nAvailable);
                k += quiet;
                if (first == count)
                    continue;
            }
        }

        conductance(k);
        if (reportSteps)
            current();
        if (alwaysProbability && (!haveP || s.Vpre != lastVpre)) {
            prob = std::exp((s.Vpre - Emax) / ex) * c;
            lastVpre = s.Vpre;
            haveP = true;
        }
        s.p = prob;
        if (reportSteps)
            observer.step(s);
        ++k;
        if (nAvailable == 0)
            continue;

        // The i-th number drawn in this step is state[i] / 2^32, with the
        // states following from the seed at the step's start.
        std::uint32_t state[MaxSites];
        std::uint32_t lowest = 0xffffffffu;
        for (int i = 0; i < nAvailable; ++i) {
            state[i] = jump.mul[i + 1] * seed + jump.add[i + 1];
            lowest = state[i] < lowest ? state[i] : lowest;
        }
        seed = jump.mul[nAvailable] * seed + jump.add[nAvailable];
        std::uint32_t hits = 0;
        bool decided = false;
        if (band) {
            // Without a report the current is needed only where the band of
            // the grid leaves a state undecided.
            std::uint32_t lower, upper;
            t.thresholdBand(s.E, s.G, Vc, lower, upper);
            if (upper != 0 && lowest >= upper)
                continue;
            decided = true;
            for (int i = 0; i < nAvailable; ++i) {
                if (state[i] < lower)
                    hits |= 1u << i;
                else if (upper == 0 || state[i] < upper)
                    decided = false;
            }
        }
        if (!decided) {
            if (!reportSteps)
                current();
            if (!alwaysProbability) {
                // No number below a bound on p: no release, and p is not needed.
                if (t.boundUsable() && double(lowest) >= detail::releaseBound(t, s.Vpre, Emax))
                    continue;
                if (!haveP || s.Vpre != lastVpre) {
                    prob = std::exp((s.Vpre - Emax) / ex) * c;
                    lastVpre = s.Vpre;
                    haveP = true;
                }
            }

            // A number is below p exactly when its state is below ceil(p * 2^32).
            const double scaled = prob * 4294967296.0;
            hits = 0;
            if (scaled > 4294967295.0) {
                hits = (1u << nAvailable) - 1u;
            } else if (scaled > 0.0) {
                const std::uint32_t threshold = detail::ceilingOf(scaled);
                for (int i = 0; i < nAvailable; ++i)
                    hits |= static_cast<std::uint32_t>(state[i] < threshold) << i;
            }
        }
        if (hits == 0)
            continue;

        const int kRelease = s.k;
        int kept = 0;
        for (int i = 0; i < nAvailable; ++i) {
            const int j = available[i];
            if (!(hits >> i & 1u)) {
                available[kept++] = j;
                continue;
            }
            sites[j].Available = false;
            sites[j].ReleaseStep = kRelease;
            int at = nReleased++;
            while (at > 0 && releasedSite[at - 1] > j) {
                releasedSite[at] = releasedSite[at - 1];
                releasedStep[at] = releasedStep[at - 1];
                --at;
            }
            releasedSite[at] = j;
            releasedStep[at] = kRelease;
            observer.release(j, kRelease);
        }
        nAvailable = kept;
    }
    rng.setSeed(seed);
    return nReleased;
}

} // namespace detail

// An observer that keeps nothing.
struct NoObserver {
    static constexpr bool usesProbability = false;
    static constexpr bool usesSteps = false;
    void step(const StepReport &) { }
    void release(int, int) { }
};

// Which extreme current a peak trial follows.
enum class PeakKind {
    BySign, // the most negative current for Vc < 0, the most positive for Vc > 0, 0 at Vc = 0
    Inward, // the most negative current, 0 when none is negative
};

// What a peak trial yields.
struct PeakTrialResult {
    int m = 0; // quanta released
    double peak = 0; // the extreme current of the steps, starting from 0 [pA]
};

// Runs one trial as runTrial does and returns the number of quanta with the
// extreme current over its steps, the same value, bit for bit, as following
// the reported currents step by step with strict comparisons from 0. The
// currents are worked out after the trial, and only at the steps whose
// conductance comes near the trial's largest (see trial.cpp).
PeakTrialResult runPeakTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, Generator &rng,
    double Vc, int kStart, int kEnd, PeakKind kind);

} // namespace cleftsim
