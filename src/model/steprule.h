#pragma once

// The step rule of runTrial (declared in trial.h, which includes this
// header at its end), inline so that every
// observer gets its own copy without the calls it does not need.
//
// What depends only on the parameters comes from tables (trialtables.h).
// The draws of one step follow from the seed at its start, and so do the
// draws of a stretch of steps: where the observer does not read p, the draws
// of up to StretchSteps steps with the same spike potential are scanned at
// once (drawscan.h) for a state below a bound on every one of those steps'
// thresholds (stretchBound); the steps before the first such state release
// nothing, and only the step of that state is worked out with the law.
// Every value and every decision is exactly that of the plain step rule.

#include "model/drawscan.h"
#include "model/trialtables.h"
#include "model/trialtypes.h"
#include "model/trialwork.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

namespace cleftsim {

namespace detail {

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
// the last place; the margin of BoundMargin of the potentials' size added here is
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

// runTrial on tables made for p over (at least) kStart..kEnd, kStart <= kEnd,
// with the sites table already reset.
template <class Observer>
int runTrialOn(TrialTables &t, const ParameterSet &p, SiteTable &sites, Generator &rng, double Vc, int kStart,
    int kEnd, Observer &observer);

} // namespace detail

template <class Observer>
int runTrial(const ParameterSet &p, const int &spikeSteps, SiteTable &sites, Generator &rng, double Vc,
    int kStart, int kEnd, Observer &observer)
{
    const int N = siteCount(p);
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
    const int N = siteCount(p);
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
        s.I = detail::stepCurrent(Vc, Rg, s.G);
        s.Vpre = detail::shiftedPotential(s.E, Rg, s.I);
    };
    int exactUntil = kStart - 1; // steps up to here are worked out one by one
    int k = kStart;
    TrialWork work("step rule's loop", kEnd - kStart + 1);
    while (k <= kEnd) {
        work.round();
        if (nAvailable == 0 && !reportSteps)
            break;
        // The exact threshold of step k where it is known without the law.
        std::uint64_t knownThreshold = UnknownThreshold;
        if (band && nReleased == 0 && nAvailable > 0) {
            // Before any release the conductance is the background alone,
            // bit for bit, so every step of a run of one spike potential has
            // the clamp's exact threshold for it (thresholdBeforeRelease):
            // the steps before the first state below it release nothing.
            const int runEnd = t.sameSpikeUntil(k) < kEnd ? t.sameSpikeUntil(k) : kEnd;
            const std::uint64_t threshold = t.thresholdBeforeRelease(t.spike(k), Vc);
            const std::size_t count = static_cast<std::size_t>(nAvailable) * (runEnd - k + 1);
            std::size_t first = 0; // every state is below a threshold of EveryState
            if (threshold == 0)
                first = count;
            else if (threshold <= detail::LargestState)
                first = detail::firstDrawBelow(seed, count, static_cast<std::uint32_t>(threshold));
            const auto quiet = static_cast<std::uint32_t>(first) / static_cast<std::uint32_t>(nAvailable);
            seed = detail::advance(seed, static_cast<long long>(quiet) * nAvailable);
            k += static_cast<int>(quiet);
            if (first == count)
                continue;
            knownThreshold = threshold;
        } else if (stretches && nAvailable > 0 && k > exactUntil) {
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
                    && (runBound - bound <= bound / detail::LooserRun
                        || double(runBound) * nAvailable * (runEnd - k + 1) < double(detail::FewStates))) {
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
            prob = detail::releaseLaw(s.Vpre, Emax, ex, c);
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
        std::uint32_t lowest = detail::LargestState;
        for (int i = 0; i < nAvailable; ++i) {
            state[i] = jump.mul[i + 1] * seed + jump.add[i + 1];
            lowest = state[i] < lowest ? state[i] : lowest;
        }
        seed = jump.mul[nAvailable] * seed + jump.add[nAvailable];
        std::uint32_t hits = 0;
        bool decided = false;
        if (knownThreshold != UnknownThreshold) {
            for (int i = 0; i < nAvailable; ++i)
                hits |= static_cast<std::uint32_t>(state[i] < knownThreshold) << i;
            decided = true;
        } else if (band) {
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
                    prob = detail::releaseLaw(s.Vpre, Emax, ex, c);
                    lastVpre = s.Vpre;
                    haveP = true;
                }
            }

            // A number is below p exactly when its state is below ceil(p * 2^32).
            const std::uint64_t threshold = detail::thresholdOfLaw(prob);
            hits = 0;
            for (int i = 0; i < nAvailable; ++i)
                hits |= static_cast<std::uint32_t>(state[i] < threshold) << i;
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

} // namespace cleftsim
