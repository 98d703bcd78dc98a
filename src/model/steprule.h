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
// Every value and every decision is exactly that of the plain step rule
// (doc/exactness.md).

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
// Every quantum is taken at the largest it reaches up to its age at the
// last step (doc/exactness.md, "Bounds of a stretch"); the bound itself
// comes from the grid of the tables (thresholdAbove), whose entries
// thresholdAboveAt makes for a conductance at least that sum.
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

// What the step rule keeps of a trial that is not a number: the sites still
// available and the releases. (Apart from StepRun, whose numbers the
// compiler keeps in registers only where it holds no array.)
struct StepRecord {
    int available[MaxSites]; // sites still available, increasing j
    int releasedStep[MaxSites]; // release steps of the released sites, increasing j
    int releasedSite[MaxSites];
};

// One trial of the step rule, step by named step: a quiet stretch skipped
// (beforeRelease, afterRelease), a step's values worked out and reported
// (workOut), its draws decided (decide) and its releases added (release).
// Why each gives exactly the plain step rule's values and draws:
// doc/exactness.md.
template <class Observer> class StepRun {
public:
    static constexpr bool alwaysProbability = UsesProbability<Observer>::value;
    static constexpr bool reportSteps = alwaysProbability || UsesSteps<Observer>::value;

    StepRun(TrialTables &t, const ParameterSet &p, double Vc, int kStart, int kEnd, Observer &observer,
        StepRecord &record, StepReport &s, std::uint32_t seed)
        : t(t)
        , Vc(Vc)
        , kEnd(kEnd)
        , stretches(!alwaysProbability && t.stretchesUsable() && std::isfinite(Vc))
        , band(!reportSteps && stretches && t.bandFromGrid(Vc))
        , Rg(p.Rg)
        , Emax(p.Emax)
        , ex(p.ex)
        , c(t.releaseConstant())
        , observer(observer)
        , available(record.available)
        , releasedStep(record.releasedStep)
        , releasedSite(record.releasedSite)
        , s(s)
        , nAvailable(siteCount(p))
        , exactUntil(kStart - 1)
        , k(kStart)
        , seed(seed)
    {
        for (int i = 0; i < nAvailable; ++i)
            available[i] = i + 1;
    }

    // Whether steps are left to work out, and whether sites are left to draw.
    [[gnu::always_inline]] bool going() const { return k <= kEnd && (nAvailable > 0 || reportSteps); }
    [[gnu::always_inline]] bool drawing() const { return nAvailable > 0; }

    // Skips the quiet steps from k: before any release, where the band of
    // the grid is used, up to the first state below the exact threshold of
    // its run; else, where stretches are usable and the step is not to be
    // worked out one by one, up to the first state below a stretch's bound.
    // False where the whole stretch was quiet (doc/exactness.md, "Thresholds
    // before a release", "Quiet stretches").
    [[gnu::always_inline]] bool skip()
    {
        knownThreshold = UnknownThreshold;
        if (band && nReleased == 0 && nAvailable > 0)
            return beforeRelease();
        if (stretches && nAvailable > 0 && k > exactUntil)
            return afterRelease();
        return true;
    }

    // Works out step k: its conductance, and its current, potential and p
    // where they are reported; reports them and moves k on.
    [[gnu::always_inline]] void workOut()
    {
        conductance(k);
        if (reportSteps)
            current();
        if (alwaysProbability && (!haveP || s.Vpre != lastVpre))
            law();
        s.p = prob;
        if (reportSteps)
            observer.step(s);
        ++k;
    }

    // The releases of the step just worked out, a bit for the i-th site
    // still available: from its known threshold, the band of the grid, or
    // the law (doc/exactness.md, "Bands of the grid", "The release bound").
    [[gnu::always_inline]] std::uint32_t decide();

    // Takes the step's releasing sites out of the available ones, in the
    // order of the sites, and tells the observer of each.
    [[gnu::always_inline]] void release(std::uint32_t hits, SiteTable &sites);

    int released() const { return nReleased; }

private:
    [[gnu::always_inline]] bool beforeRelease();
    [[gnu::always_inline]] bool afterRelease();

    // The conductance of step q, then its current and shifted potential.
    [[gnu::always_inline]] void conductance(int q)
    {
        s.k = q;
        s.E = t.spike(q);
        double G = t.background();
        for (int i = 0; i < nReleased; ++i)
            G += t.quantum(q - releasedStep[i]);
        s.G = G;
    }
    [[gnu::always_inline]] void current()
    {
        s.I = stepCurrent(Vc, Rg, s.G);
        s.Vpre = shiftedPotential(s.E, Rg, s.I);
    }
    // The law at the step's potential, kept for the next step of the same one.
    [[gnu::always_inline]] void law()
    {
        prob = releaseLaw(s.Vpre, Emax, ex, c);
        lastVpre = s.Vpre;
        haveP = true;
    }

    TrialTables &t;
    const double Vc;
    const int kEnd;
    const bool stretches;
    const bool band;
    const double Rg, Emax, ex, c;
    Observer &observer;
    int *available;
    int *releasedStep;
    int *releasedSite;
    StepReport &s;
    int nAvailable;
    int nReleased = 0;
    bool haveP = false;
    double lastVpre = 0;
    double prob = 0;
    int exactUntil; // steps up to here are worked out one by one
    // The exact threshold of step k where it is known without the law.
    std::uint64_t knownThreshold = UnknownThreshold;

public:
    int k; // the step to work out next
    std::uint32_t seed; // the generator's seed at the start of step k
};

// Before any release the conductance is the background alone, bit for bit,
// so every step of a run of one spike potential has the clamp's exact
// threshold for it (thresholdBeforeRelease): the steps before the first
// state below it release nothing.
template <class Observer> inline bool StepRun<Observer>::beforeRelease()
{
    const int runEnd = t.sameSpikeUntil(k) < kEnd ? t.sameSpikeUntil(k) : kEnd;
    const std::uint64_t threshold = t.thresholdBeforeRelease(t.spike(k), Vc);
    const std::size_t count = static_cast<std::size_t>(nAvailable) * (runEnd - k + 1);
    std::size_t first = 0; // every state is below a threshold of EveryState
    if (threshold == 0)
        first = count;
    else if (threshold <= LargestState)
        first = firstDrawBelow(seed, count, static_cast<std::uint32_t>(threshold));
    const auto quiet = static_cast<std::uint32_t>(first) / static_cast<std::uint32_t>(nAvailable);
    seed = advance(seed, static_cast<long long>(quiet) * nAvailable);
    k += static_cast<int>(quiet);
    if (first == count)
        return false;
    knownThreshold = threshold;
    return true;
}

// A stretch short enough to keep the bound close, or the whole run of the
// same spike potential where even its bound lets through few states or is
// hardly looser (doc/exactness.md, "Bounds of a stretch").
template <class Observer> inline bool StepRun<Observer>::afterRelease()
{
    const int runEnd = t.sameSpikeUntil(k) < kEnd ? t.sameSpikeUntil(k) : kEnd;
    int last = runEnd < k + StretchSteps - 1 ? runEnd : k + StretchSteps - 1;
    std::uint32_t bound = stretchBound(t, k, last, releasedStep, nReleased, Vc);
    if (last < runEnd && bound != 0) {
        const std::uint32_t runBound = stretchBound(t, k, runEnd, releasedStep, nReleased, Vc);
        if (runBound != 0
            && (runBound - bound <= bound / LooserRun
                || double(runBound) * nAvailable * (runEnd - k + 1) < double(FewStates))) {
            last = runEnd;
            bound = runBound;
        }
    }
    if (bound == 0) {
        exactUntil = last; // the law may pass 1 here: step by step
        return true;
    }
    const std::size_t count = static_cast<std::size_t>(nAvailable) * (last - k + 1);
    const std::size_t first = firstDrawBelow(seed, count, bound);
    const int quiet = static_cast<int>(first / static_cast<std::size_t>(nAvailable));
    if (reportSteps) {
        for (int q = k; q < k + quiet; ++q) {
            conductance(q);
            current();
            observer.step(s);
        }
    }
    seed = advance(seed, static_cast<long long>(quiet) * nAvailable);
    k += quiet;
    return first != count;
}

template <class Observer> inline std::uint32_t StepRun<Observer>::decide()
{
    // The i-th number drawn in this step is state[i] / 2^32, with the
    // states following from the seed at the step's start.
    const GeneratorJumps &jump = generatorJumps;
    std::uint32_t state[MaxSites];
    std::uint32_t lowest = LargestState;
    for (int i = 0; i < nAvailable; ++i) {
        state[i] = jump.mul[i + 1] * seed + jump.add[i + 1];
        lowest = state[i] < lowest ? state[i] : lowest;
    }
    seed = jump.mul[nAvailable] * seed + jump.add[nAvailable];
    std::uint32_t hits = 0;
    if (knownThreshold != UnknownThreshold) {
        for (int i = 0; i < nAvailable; ++i)
            hits |= static_cast<std::uint32_t>(state[i] < knownThreshold) << i;
        return hits;
    }
    if (band) {
        // Without a report the current is needed only where the band of
        // the grid leaves a state undecided.
        std::uint32_t lower, upper;
        t.thresholdBand(s.E, s.G, Vc, lower, upper);
        if (upper != 0 && lowest >= upper)
            return 0;
        bool decided = true;
        for (int i = 0; i < nAvailable; ++i) {
            if (state[i] < lower)
                hits |= 1u << i;
            else if (upper == 0 || state[i] < upper)
                decided = false;
        }
        if (decided)
            return hits;
    }
    if (!reportSteps)
        current();
    if (!alwaysProbability) {
        // No number below a bound on p: no release, and p is not needed.
        if (t.boundUsable() && double(lowest) >= releaseBound(t, s.Vpre, Emax))
            return 0;
        if (!haveP || s.Vpre != lastVpre)
            law();
    }
    const std::uint64_t threshold = thresholdOfLaw(prob);
    hits = 0;
    for (int i = 0; i < nAvailable; ++i)
        hits |= static_cast<std::uint32_t>(state[i] < threshold) << i;
    return hits;
}

template <class Observer> inline void StepRun<Observer>::release(std::uint32_t hits, SiteTable &sites)
{
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

// runTrial on tables made for p over (at least) kStart..kEnd, kStart <= kEnd,
// with the sites table already reset: the named steps of StepRun in order.
template <class Observer>
int runTrialOn(TrialTables &t, const ParameterSet &p, SiteTable &sites, Generator &rng, double Vc, int kStart,
    int kEnd, Observer &observer)
{
    StepRecord record;
    StepReport s;
    StepRun<Observer> run(t, p, Vc, kStart, kEnd, observer, record, s, rng.seed());
    TrialWork work("step rule's loop", kEnd - kStart + 1);
    while (run.going()) {
        work.round();
        if (!run.skip())
            continue;
        run.workOut();
        if (!run.drawing())
            continue;
        const std::uint32_t hits = run.decide();
        if (hits != 0)
            run.release(hits, sites);
    }
    rng.setSeed(run.seed);
    return run.released();
}

} // namespace detail

} // namespace cleftsim
