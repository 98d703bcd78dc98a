#pragma once

// The loop of the peak trials (PeakTrials::loop), made once for the kernels
// of each draw scan in the scan's own file of kernels, which includes this
// header after CLEFTSIM_BEGIN_INSTRUCTIONS so that the loop and its steps
// are compiled for the scan's instructions with the kernels inline. Every
// header it reads is included before that statement (see the kernel files);
// what it defines is the file's own (an unnamed namespace, templates).

#include "model/peaktrial.h"
#include "model/smallstates.h"
#include "model/stepdecision.h"
#include "model/trialtables.h"
#include "model/trialwork.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace cleftsim {

namespace {

// The number of bits set, without the instruction older processors lack.
inline int bitsSet(std::uint32_t x)
{
    x = x - ((x >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    return static_cast<int>((((x + (x >> 4)) & 0x0f0f0f0fu) * 0x01010101u) >> 24);
}

// x / n for 1 <= n <= MaxSites and x < 2^27, by a product with
// m = ceil(2^32 / n) (doc/exactness.md, "Quiet stretches").
struct Divisors {
    std::uint64_t m[MaxSites + 1];
};
constexpr Divisors makeDivisors()
{
    Divisors d {};
    for (int n = 1; n <= MaxSites; ++n)
        d.m[n]
            = ((std::uint64_t(1) << 32) + static_cast<std::uint64_t>(n) - 1) / static_cast<std::uint64_t>(n);
    return d;
}
constexpr Divisors divisors = makeDivisors();

inline int dividedBy(std::size_t x, int n)
{
    return static_cast<int>((static_cast<std::uint64_t>(x) * divisors.m[n]) >> 32);
}

// What the loop keeps of a trial that is not a number: the running sum of
// the conductance by step from kStart, with room for the scans' whole
// vectors past the last step, and the releases.
struct PeakRecord {
    alignas(64) double G[PeakTrials::MaxLoopSteps + 8];
    int releaseStep[MaxSites + 1]; // of the released sites, by j
    int stepOf[MaxSites]; // the steps with releases, in order, and their quanta
    double quantaAt[MaxSites];
};

// What the stretches read of the tables for the clamp potential, kept at
// hand: the coarse rows of the grid by slot + 1 and the spike potentials of
// the grid's two slots. (Apart from PeakRun, whose numbers the compiler
// keeps in registers only where it holds no array read at a varying place.)
struct SlotRows {
    explicit SlotRows(const TrialTables &t)
        : rows {{}, t.upperRow(0), t.upperRow(1)}
        , slotSpike {t.gridSpike(0), t.gridSpike(1)}
    {
    }
    const TrialTables::UpperRow rows[3];
    const double slotSpike[2];
};

// The stretch of steps u..last that one round of the loop scans: the
// threshold of every one of its steps where it is known exactly (else
// UnknownThreshold), and a bound on all of them (0: none) or, where each,
// a bound for every draw of its own (PeakRun::laneBound).
struct Stretch {
    int last;
    double E; // its spike potential
    int slot; // and that potential's slot in the grid
    std::uint64_t exact;
    std::uint32_t bound;
    bool each;
};

// One peak trial of the loop, step by named step. The trial goes through the
// window in stretches of steps that share a spike potential: a stretch is
// chosen with its threshold or bounds (stretch, stepBounds), the draws
// before its first low state are skipped (skipQuiet), the step of that
// state is decided (decideStep) and its releases added (release); after
// the last step, the peak (peak). Why each step gives exactly the step
// rule's draws, releases and peak: doc/exactness.md.
//
// Its constructor and the lambdas of its steps are inline from the first:
// a call that took the run's address, even one inlined later, would leave
// its numbers (the step, the sites left, the seed) in memory through the
// compiler's first passes, and the loop several percent slower.
template <class K> class PeakRun {
public:
    [[gnu::always_inline]] PeakRun(TrialTables &t, const ParameterSet &p, double Vc, int kStart, int kEnd,
        std::uint32_t *laneBound, PeakRecord &record, const SlotRows &slots, detail::SmallStateWalk &walk,
        std::uint32_t seed)
        : t(t)
        , Vc(Vc)
        , kStart(kStart)
        , kEnd(kEnd)
        , steps(kEnd - kStart + 1)
        , Rg(p.Rg)
        , Emax(p.Emax)
        , ex(p.ex)
        , c(t.releaseConstant())
        , background(t.background())
        , quantum(t.quanta())
        , clampZero(Vc == 0)
        , unimodal(t.quantumUnimodal())
        , top(t.quantumTop())
        , topQuantum(t.quantum(top))
        , rows(slots.rows)
        , spikeAt(t.spikesFrom(kStart))
        , sameUntil(t.sameSpikeUntilFrom(kStart))
        , slotSpike(slots.slotSpike)
        , laneBound(laneBound)
        , G(record.G)
        , releaseStep(record.releaseStep)
        , stepOf(record.stepOf)
        , quantaAt(record.quantaAt)
        , walk(walk)
        , nAvailable(p.N)
        , available(((std::uint32_t(1) << p.N) - 1u) << 1)
        , allAtTop(background)
        , seed(seed)
    {
    }

    // Whether steps are left with sites to draw.
    [[gnu::always_inline]] bool going() const { return u < steps && nAvailable > 0; }

    // The stretch from step u: before any release (or at Vc = 0) the exact
    // threshold of its run, and a run without a release skipped whole
    // (false); at Vc > 0 the bound of the background alone; else the step
    // bounds (doc/exactness.md, "Thresholds before a release", "Bounds of
    // a stretch").
    [[gnu::always_inline]] bool stretch(Stretch &s)
    {
        using namespace detail;
        const int runEnd = (sameUntil[u] < kEnd ? sameUntil[u] : kEnd) - kStart;
        s.E = spikeAt[u];
        s.slot = gridSlotOf(s.E, slotSpike);
        s.exact = UnknownThreshold;
        s.bound = 0;
        s.each = false;
        s.last = runEnd;
        if (nReleased == 0 || clampZero) {
            s.exact = t.thresholdBeforeReleaseIn(s.slot, s.E);
            if (s.exact == 0) {
                skip(nAvailable * (runEnd - u + 1));
                u = runEnd + 1;
                return false;
            }
            s.bound = s.exact > LargestState ? 0 : static_cast<std::uint32_t>(s.exact);
        } else if (Vc > 0) {
            s.bound
                = t.thresholdAboveIn(rows[s.slot + 1], s.slot, s.E, background); // the shift only lowers Vpre
        } else if (u <= laneLast) {
            s.last = laneLast; // the steps' own bounds still hold
            s.each = true;
        } else {
            stepBounds(s, runEnd);
        }
        return true;
    }

    // The bounds of a stretch at Vc < 0 after a release: one bound for the
    // whole run where it lets through few states (FewStates) or hardly more
    // than the bound of its first step (ExpectedDraw); else every step its
    // own, from its running sum, over up to EachBoundSteps steps
    // (doc/exactness.md, "Bounds of a stretch").
    [[gnu::always_inline]] void stepBounds(Stretch &s, int runEnd)
    {
        using namespace detail;
        const TrialTables::UpperRow &row = rows[s.slot + 1];
        s.bound = t.thresholdAboveIn(row, s.slot, s.E, largestConductance(kStart + u, runEnd + kStart));
        // (Products below 2^32 2^14, in integers.)
        const auto runDraws
            = static_cast<std::uint64_t>(nAvailable) * static_cast<std::uint64_t>(runEnd - u + 1);
        bool wide = s.bound == 0;
        std::uint32_t firstBound = 0; // the bound of step u alone, where asked for
        if (!wide && s.bound > SmallStates::Count && s.bound * runDraws >= FewStates) {
            firstBound = t.thresholdAboveIn(row, s.slot, s.E, G[u]);
            wide = firstBound == 0 || (s.bound - firstBound) * runDraws >= ExpectedDraw;
        }
        if (!wide)
            return;
        s.bound = 0;
        // The bounds of the steps from u on, each from its own running sum,
        // up to a step without one (the entries past them, read by the
        // scans, do not change what they find).
        laneFrom = u;
        laneLast = runEnd < u + EachBoundSteps - 1 ? runEnd : u + EachBoundSteps - 1;
        const int made
            = scan.eachBounds(G, u, laneLast, row.cells, row.scale, row.limit, nAvailable, laneBound);
        if (made >= 0) {
            laneLast = u + made - 1;
        } else {
            // A bound not yet made: one by one, making them.
            for (int v = u; v <= laneLast; ++v) {
                const std::uint32_t b
                    = v == u && firstBound != 0 ? firstBound : t.thresholdAboveIn(row, s.slot, s.E, G[v]);
                if (b == 0) {
                    laneLast = v - 1;
                    break;
                }
                std::uint32_t *to = laneBound + (v - u) * nAvailable;
                for (int i = 0; i < MaxSites; ++i)
                    to[i] = b;
            }
        }
        s.last = laneLast;
        s.each = s.last >= u;
    }

    // Skips the steps of the stretch before its first draw whose state is
    // below its threshold or bound, found by a scan of the draws or, for a
    // bound of at most SmallStates::Count, from the places of the small
    // states; those steps release nothing. False where no such draw is in
    // the stretch, which is then skipped whole (doc/exactness.md, "Quiet
    // stretches", "Small states", "Divisions").
    [[gnu::always_inline]] bool skipQuiet(const Stretch &s)
    {
        if (s.bound == 0 && !s.each)
            return true; // no bound: the step is decided as it comes
        const auto count = static_cast<std::size_t>(nAvailable) * static_cast<std::size_t>(s.last - u + 1);
        const std::size_t first = s.each ? scan.findEach(seed, count, laneBound + (u - laneFrom) * nAvailable)
            : s.bound <= detail::SmallStates::Count ? walk.firstBelow(count, s.bound)
                                                    : scan.find(seed, count, s.bound);
        const int quiet = dividedBy(first, nAvailable);
        skip(quiet * nAvailable);
        u += quiet;
        return first != count;
    }

    // Draws the step u and gives its releases, a bit per lane (the i-th
    // available site in increasing j): from its exact threshold, else the
    // band of the grid's coarse cell at its running sum, then of its own
    // cell, and for a state still inside the band the law itself, as the
    // step rule works it out (doc/exactness.md, "Bands of the grid").
    [[gnu::always_inline]] std::uint32_t decideStep(const Stretch &s)
    {
        using namespace detail;
        const std::uint32_t lanes = (1u << nAvailable) - 1u;
        alignas(64) std::uint32_t state[32]; // the i-th number drawn is state[i] / 2^32
        scan.stepStates(seed, state);
        skip(nAvailable);
        auto below = [&](std::uint32_t threshold) __attribute__((always_inline))
        {
            return scan.statesBelow(state, threshold) & lanes;
        };
        std::uint32_t hits;
        if (s.exact <= LargestState) {
            hits = below(static_cast<std::uint32_t>(s.exact));
        } else if (s.exact == EveryState) {
            hits = lanes;
        } else {
            const double EStep = spikeAt[u];
            std::uint32_t lower, upper;
            t.thresholdBandIn(s.slot, EStep, G[u], lower, upper);
            hits = below(lower);
            std::uint32_t undecided = upper == 0 ? lanes & ~hits : below(upper) & ~hits;
            if (undecided != 0) {
                // The closer band of the grid's own cell.
                t.thresholdBandFineIn(s.slot, EStep, G[u], lower, upper);
                hits = below(lower);
                undecided = upper == 0 ? lanes & ~hits : below(upper) & ~hits;
            }
            if (undecided != 0) {
                const std::uint64_t law
                    = stepThreshold(EStep, siteConductance(kStart + u), Vc, Rg, Emax, ex, c);
                hits = law == EveryState ? lanes : below(static_cast<std::uint32_t>(law));
            }
        }
        ++u;
        return hits;
    }

    // The releases of the step just decided (u - 1): the sites, their quanta
    // in the running sum over the steps after it, and the sites left
    // (doc/exactness.md, "The running sum").
    [[gnu::always_inline]] void release(std::uint32_t hits, SiteTable &sites)
    {
        const int kStep = kStart + u - 1;
        const int count = bitsSet(hits);
        laneLast = -1;
        const double *q = quantum - kStep + kStart; // q[v]: the quantum of step kStart + v
        if (nReleased == 0) {
            firstRelease = kStep; // G holds from the step after it on
            scan.setQuanta(G, q, u, steps, count, background);
        } else {
            scan.addQuanta(G, q, u, steps, count);
        }
        lastRelease = kStep;
        stepOf[nSteps] = kStep;
        quantaAt[nSteps++] = count;
        allAtTop += quantaAt[nSteps - 1] * topQuantum;
        nReleased += count;
        const std::uint32_t releasing = scan.laneSites(hits, available);
        for (std::uint32_t left = releasing; left != 0; left &= left - 1) {
            const int j = __builtin_ctz(left);
            sites[j].Available = false;
            sites[j].ReleaseStep = kStep;
            releaseStep[j] = kStep;
        }
        released |= releasing;
        available &= ~releasing;
        nAvailable -= count;
    }

    // The quanta, the first release and the peak of the trial, followed
    // with strict comparisons from 0 as the step rule's currents would be.
    [[gnu::always_inline]] PeakTrialResult result(bool wantLowest, bool wantHighest, const double *onePeaks)
    {
        PeakTrialResult r;
        r.m = nReleased;
        r.first = nReleased > 0 ? firstRelease : -1;
        if (!(wantLowest || wantHighest))
            return r; // at Vc = 0 the sweep's peak is 0 by definition
        if (!wantHighest && Vc >= 0)
            return r; // inward only: no conductance is negative, so no current is below 0
        if (nReleased == 1) {
            r.peak = onePeaks[kEnd - firstRelease];
            return r;
        }
        r.peak = peak(wantLowest);
        return r;
    }

private:
    // The seed and the walk moved on by `draws` draws.
    [[gnu::always_inline]] void skip(int draws)
    {
        seed = detail::advance(seed, draws);
        walk.advance(static_cast<std::uint32_t>(draws));
    }

    // A bound on the conductance of every step from..to (all after the last
    // release), from the quanta at the largest they reach between the two
    // ages (doc/exactness.md, "Bounds of a stretch").
    [[gnu::always_inline]] double largestConductance(int from, int to) const
    {
        if (unimodal) {
            if (to - firstRelease <= top)
                return G[to - kStart];
            if (from - firstRelease <= top && to - lastRelease >= top)
                return allAtTop;
            if (from - lastRelease >= top)
                return G[from - kStart];
        }
        double Gtop = background;
        for (int i = 0; i < nSteps; ++i) {
            const int young = from - stepOf[i], old = to - stepOf[i];
            const double q
                = unimodal ? quantum[top < young ? young : (top > old ? old : top)] : t.quantumCeiling(old);
            Gtop += quantaAt[i] * q;
        }
        return Gtop;
    }

    // The conductance of step k as the step rule sums it: the background,
    // then the quantum of every site released before k, in increasing j.
    [[gnu::always_inline]] double siteConductance(int k) const
    {
        double Gk = background;
        for (std::uint32_t left = released; left != 0; left &= left - 1) {
            const int j = __builtin_ctz(left);
            if (releaseStep[j] < k)
                Gk += quantum[k - releaseStep[j]];
        }
        return Gk;
    }

    // The extreme current of a trial of more than one release: only the
    // steps whose running sum comes within the peak cut of the largest are
    // followed, with the step rule's own conductance; where the quantum
    // rises to its top and falls after it, the largest lies between the
    // first and the last release's tops and the steps near it outside are
    // found by walking outwards (doc/exactness.md, "The peak").
    [[gnu::always_inline]] double peak(bool wantLowest) const
    {
        using namespace detail;
        PeakFollower follower {Vc, Rg, wantLowest};
        auto follow = [&](int v) __attribute__((always_inline))
        {
            follower.follow(siteConductance(kStart + v));
        };
        if (nReleased == 0) {
            follower.follow(background);
            return follower.peak;
        }
        if (firstRelease - kStart + 1 >= steps) {
            follow(steps - 1); // the one release at the last step adds nothing yet
            return follower.peak;
        }
        // The steps up to the first release have the background alone; the
        // running sums hold from the step after it on.
        const int held = firstRelease - kStart + 1;
        int from = held, to = steps - 1;
        if (unimodal) {
            const int rise = firstRelease + top - kStart;
            const int fall = lastRelease + top - kStart;
            from = rise < held ? held : (rise < steps - 1 ? rise : steps - 1);
            to = fall < from ? from : (fall < steps - 1 ? fall : steps - 1);
        }
        const double largest = scan.largest(G, from, to);
        const double cut = largest - largest * ((1.0 + Rg * largest) * (2 * PeakCut) + RunningSumSlack);
        if (to - from < 64) {
            for (std::uint64_t near = scan.atLeast(G, from, to, cut); near != 0; near &= near - 1)
                follow(from + __builtin_ctzll(near));
        } else {
            for (int v = from; v <= to; ++v)
                if (G[v] >= cut)
                    follow(v);
        }
        int v = from - 1;
        for (; v >= held && G[v] >= cut; --v)
            follow(v);
        if (v < held && background >= cut)
            follow(held - 1);
        for (v = to + 1; v < steps && G[v] >= cut; ++v)
            follow(v);
        return follower.peak;
    }

    const K scan {};
    TrialTables &t;
    const double Vc;
    const int kStart, kEnd, steps;
    const double Rg, Emax, ex, c;
    const double background;
    const double *quantum;
    const bool clampZero; // no shift at any conductance
    const bool unimodal;
    const int top;
    const double topQuantum;
    // What the stretches read of the tables, kept at hand: the coarse rows
    // by slot + 1, the spike potential and the end of its run for every
    // step from kStart, and the potentials of the grid's two slots.
    const TrialTables::UpperRow *rows;
    const double *spikeAt;
    const int *sameUntil;
    const double *slotSpike;
    // Bounds of their own for the draws of the steps laneFrom..laneLast,
    // kept until the next release.
    std::uint32_t *laneBound;
    int laneFrom = 0, laneLast = -1;
    double *G;
    int *releaseStep;
    int *stepOf;
    double *quantaAt;
    detail::SmallStateWalk &walk;

    int u = 0; // step kStart + u
    // The sites still available, bit j for site j; the i-th draw of a step
    // is that of the i-th of them in increasing j.
    int nAvailable;
    std::uint32_t available;
    std::uint32_t released = 0; // bit j for site j
    int nReleased = 0;
    int firstRelease = 0, lastRelease = 0; // steps
    int nSteps = 0;
    double allAtTop; // with every release's quanta at the top, summed as in largestConductance

public:
    std::uint32_t seed; // the generator's seed after the draws so far
};

} // namespace

// The loop: the named steps of PeakRun in order, round after round.
template <class K>
[[gnu::always_inline]] inline PeakTrialResult PeakTrials::loop(SiteTable &sites, Generator &rng)
{
    PeakRecord record;
    detail::SmallStateWalk walk;
    walk.start(rng.seed(), m_place);
    const SlotRows slots(*m_t);
    PeakRun<K> run(*m_t, m_p, m_Vc, m_kStart, m_kEnd, m_laneBound.data(), record, slots, walk, rng.seed());
    detail::TrialWork work("peak trial loop", m_kEnd - m_kStart + 1);
    while (run.going()) {
        work.round();
        Stretch stretch;
        if (!run.stretch(stretch) || !run.skipQuiet(stretch))
            continue;
        const std::uint32_t hits = run.decideStep(stretch);
        if (hits != 0)
            run.release(hits, sites);
    }
    rng.setSeed(run.seed);
    walk.finish(run.seed, m_place);
    return run.result(m_wantLowest, m_wantHighest, m_onePeaks);
}

template <class K> PeakTrialResult PeakTrials::loopOn(PeakTrials &trials, SiteTable &sites, Generator &rng)
{
    return trials.loop<K>(sites, rng);
}

} // namespace cleftsim
