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

} // namespace detail

// Runs one trial of the synapse at clamp potential Vc over the steps
// kStart..kEnd (both inclusive) and returns the number of quanta released.
//
// This is the one step rule of the program. At every step k it computes the
// spike potential E, the conductance G of the quanta released at earlier
// steps (summed over the sites in increasing order), the current I, the
// shifted presynaptic potential Vpre and the release probability p, reports
// them with observer.step(report) (p only for an observer that uses it, see
// UsesProbability), then lets every available site j = 1..N
// draw one number from rng, in increasing j; a site whose number is below p
// releases and is reported with observer.release(j, k). The sites table is
// reset first and keeps the trial's releases afterwards; rng is left after
// the trial's last draw.
//
// The parameters are read when the trial starts (a trial never yields, so
// they cannot change while it runs); an edit made between trials takes
// effect from the next trial. What depends only on the parameters comes
// from tables; the draws of one step are worked out from the seed at the
// step's start, and the release law is skipped where a bound shows that no
// number drawn can be below it. Every value and every decision is exactly
// that of the plain step rule.
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
    const TrialTables &t = lease.tables();
    const detail::GeneratorJumps &jump = detail::generatorJumps;
    constexpr bool alwaysProbability = detail::UsesProbability<Observer>::value;
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
    for (int k = kStart; k <= kEnd; ++k) {
        s.k = k;
        s.E = t.spike(k);
        double G = t.background();
        for (int i = 0; i < nReleased; ++i)
            G += t.quantum(k - releasedStep[i]);
        s.G = G;
        s.I = Vc * G / (1.0 + Rg * G);
        s.Vpre = s.E - Rg * s.I;
        if (alwaysProbability && (!haveP || s.Vpre != lastVpre)) {
            prob = std::exp((s.Vpre - Emax) / ex) * c;
            lastVpre = s.Vpre;
            haveP = true;
        }
        s.p = prob;
        observer.step(s);
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
        std::uint32_t hits = 0;
        if (scaled > 4294967295.0) {
            hits = (1u << nAvailable) - 1u;
        } else if (scaled > 0.0) {
            const auto threshold = static_cast<std::uint32_t>(std::ceil(scaled));
            for (int i = 0; i < nAvailable; ++i)
                hits |= static_cast<std::uint32_t>(state[i] < threshold) << i;
        }
        if (hits == 0)
            continue;

        int kept = 0;
        for (int i = 0; i < nAvailable; ++i) {
            const int j = available[i];
            if (!(hits >> i & 1u)) {
                available[kept++] = j;
                continue;
            }
            sites[j].Available = false;
            sites[j].ReleaseStep = k;
            int at = nReleased++;
            while (at > 0 && releasedSite[at - 1] > j) {
                releasedSite[at] = releasedSite[at - 1];
                releasedStep[at] = releasedStep[at - 1];
                --at;
            }
            releasedSite[at] = j;
            releasedStep[at] = k;
            observer.release(j, k);
        }
        nAvailable = kept;
    }
    rng.setSeed(seed);
    return nReleased;
}

// An observer that keeps nothing.
struct NoObserver {
    static constexpr bool usesProbability = false;
    void step(const StepReport &) { }
    void release(int, int) { }
};

} // namespace cleftsim
