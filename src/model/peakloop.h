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

// x / n for 1 <= n <= MaxSites and x < 2^27, by a product: with
// m = ceil(2^32 / n) = (2^32 + e) / n, 0 <= e < n, x m / 2^32 exceeds x / n
// by x e / (n 2^32) < 1 / n, which cannot reach the next whole number.
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

} // namespace

// The trial goes through the window in stretches of steps that share a
// spike potential. Before the first release the conductance is the
// background alone, so a stretch has one exact threshold (so has every step
// at Vc = 0, where the shift is 0 at any conductance); after it, a bound on
// the thresholds of the stretch from the grid of the tables: at Vc > 0 that
// of the background (a conductance only lowers Vpre there), at Vc < 0 that
// of a bound on the largest conductance of the stretch or, where that lets
// through too many states, each step's own. The first draw of the stretch
// whose state is below its threshold or bound is found by a scan of the
// draws or, for bounds no larger than SmallStates::Count, from the places of
// the small states; the steps before it release nothing. Its step is
// decided by its exact threshold, or by the band of the grid at its
// conductance and, for a state inside the band, by the law itself, worked
// out as the step rule works it out.
//
// The conductance of every step is kept as a running sum: the background,
// and the quanta of every release added over the steps after it. It may
// differ from the step rule's sum (over the sites in increasing order) in
// the last places, a relative 1e-14 at most for 21 terms that are not
// negative, far inside the margin of 1e-9 with which the grid finds the
// cell of a conductance and bounds its potentials; where a value must be
// the step rule's own (the law, the peak), the conductance is summed again
// in the order of the sites.
template <class K>
[[gnu::always_inline]] inline PeakTrialResult PeakTrials::loop(SiteTable &sites, Generator &rng)
{
    using namespace detail;
    TrialTables &t = *m_t;
    const ParameterSet &p = m_p;
    const K scan;
    const double Vc = m_Vc;
    const int kStart = m_kStart, kEnd = m_kEnd;
    const bool wantLowest = m_wantLowest, wantHighest = m_wantHighest;
    const int N = p.N;
    const int steps = kEnd - kStart + 1;
    const double Rg = p.Rg;
    const double Emax = p.Emax;
    const double ex = p.ex;
    const double c = t.releaseConstant();
    const double background = t.background();
    const double *quantum = t.quanta();
    const bool clampZero = Vc == 0; // no shift at any conductance

    // The sites still available, bit j for site j; the i-th draw of a step
    // is that of the i-th of them in increasing j.
    std::uint32_t available = ((std::uint32_t(1) << N) - 1u) << 1;
    int nAvailable = N;
    int releaseStep[MaxSites + 1]; // of the released sites, by j
    std::uint32_t released = 0; // bit j for site j
    int nReleased = 0;
    int firstRelease = 0, lastRelease = 0; // steps
    // The running sum, by step from kStart, with room for the scans' whole
    // vectors past the last step.
    alignas(64) double G[MaxLoopSteps + 8];
    int stepOf[MaxSites]; // the steps with releases, in order, and their quanta
    double quantaAt[MaxSites];
    int nSteps = 0;
    const bool unimodal = t.quantumUnimodal();
    const int top = t.quantumTop();
    const double topQuantum = t.quantum(top);
    double allAtTop = background; // with every release's quanta at the top, summed as below
    // A bound on the conductance of every step from..to (all after the last
    // release): the background and, for every step with releases, its
    // quanta at the largest the quantum reaches between the two ages (where
    // it rises to its top and falls after it, at the age nearest the top;
    // else the largest up to the later age). Term by term at least the step
    // rule's sum at each step, up to the rounding of the sums, which the
    // margins of the threshold bounds cover. (Fewer links than the largest
    // of the running sums over the stretch, and faster.) Where every quantum
    // is still rising at `to`, or every one has reached its top by `to` but
    // none passed it before `from`, or every one is past it at `from`, the
    // sum is the running sum at `to`, allAtTop or the running sum at
    // `from`: the same terms added in the same order.
    auto largestConductance = [&](int from, int to) {
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
    };
    // The conductance of step k as the step rule sums it: the background,
    // then the quantum of every site released before k, in increasing j.
    auto siteConductance = [&](int k) {
        double Gk = background;
        for (std::uint32_t left = released; left != 0; left &= left - 1) {
            const int j = __builtin_ctz(left);
            if (releaseStep[j] < k)
                Gk += quantum[k - releaseStep[j]];
        }
        return Gk;
    };
    // Bounds of their own for the draws of the steps laneFrom..laneLast,
    // kept until the next release.
    std::uint32_t *laneBound = m_laneBound.data();
    int laneFrom = 0, laneLast = -1;

    const TrialTables::UpperRow rows[3] = {{}, t.upperRow(0), t.upperRow(1)}; // by slot + 1
    // What the stretches read of the tables, kept at hand: the spike
    // potential and the end of its run for every step from kStart, and the
    // potentials of the grid's two slots.
    const double *spikeAt = t.spikesFrom(kStart);
    const int *sameUntil = t.sameSpikeUntilFrom(kStart);
    const double slotSpike[2] = {t.gridSpike(0), t.gridSpike(1)};

    std::uint32_t seed = rng.seed();
    SmallStateWalk walk;
    walk.start(seed, m_place);
    auto skip = [&](int draws) {
        seed = advance(seed, draws);
        walk.advance(static_cast<std::uint32_t>(draws));
    };

    int u = 0; // step kStart + u
    TrialWork work("peak trial loop", steps);
    while (u < steps && nAvailable > 0) {
        work.round();
        const int k = kStart + u;
        const int runEnd = (sameUntil[u] < kEnd ? sameUntil[u] : kEnd) - kStart;
        const double E = spikeAt[u];
        const int slot = gridSlotOf(E, slotSpike);
        const TrialTables::UpperRow &row = rows[slot + 1];
        // The threshold of every step of the stretch u..last where it is
        // known exactly (else UnknownThreshold), and a bound on all of them
        // (0: none).
        std::uint64_t exact = UnknownThreshold;
        std::uint32_t bound = 0;
        bool each = false; // every draw its own bound, laneBound
        int last = runEnd;
        if (nReleased == 0 || clampZero) {
            exact = t.thresholdBeforeReleaseIn(slot, E);
            if (exact == 0) {
                skip(nAvailable * (runEnd - u + 1));
                u = runEnd + 1;
                continue;
            }
            bound = exact > LargestState ? 0 : static_cast<std::uint32_t>(exact);
        } else if (Vc > 0) {
            bound = t.thresholdAboveIn(row, slot, E, background); // the shift only lowers Vpre
        } else if (u <= laneLast) {
            last = laneLast; // the steps' own bounds still hold
            each = true;
        } else {
            // One bound for the whole run where it lets through few states
            // or hardly more than the bound of its first step; else every
            // step its own, from its running sum, over a stretch.
            bound = t.thresholdAboveIn(row, slot, E, largestConductance(k, runEnd + kStart));
            // (Products below 2^32 2^14, in integers.)
            const auto runDraws
                = static_cast<std::uint64_t>(nAvailable) * static_cast<std::uint64_t>(runEnd - u + 1);
            bool wide = bound == 0;
            std::uint32_t firstBound = 0; // the bound of step u alone, where asked for
            if (!wide && bound > SmallStates::Count && bound * runDraws >= FewStates) {
                firstBound = t.thresholdAboveIn(row, slot, E, G[u]);
                wide = firstBound == 0 || (bound - firstBound) * runDraws >= ExpectedDraw;
            }
            if (wide) {
                bound = 0;
                // The bounds of the steps from u on, each from its own
                // running sum, up to a step without one (the entries past
                // them, read by the scans, do not change what they find).
                laneFrom = u;
                laneLast = runEnd < u + EachSteps - 1 ? runEnd : u + EachSteps - 1;
                const int made
                    = scan.eachBounds(G, u, laneLast, row.cells, row.scale, row.limit, nAvailable, laneBound);
                if (made >= 0) {
                    laneLast = u + made - 1;
                } else {
                    // A bound not yet made: one by one, making them.
                    for (int v = u; v <= laneLast; ++v) {
                        const std::uint32_t b
                            = v == u && firstBound != 0 ? firstBound : t.thresholdAboveIn(row, slot, E, G[v]);
                        if (b == 0) {
                            laneLast = v - 1;
                            break;
                        }
                        std::uint32_t *to = laneBound + (v - u) * nAvailable;
                        for (int i = 0; i < MaxSites; ++i)
                            to[i] = b;
                    }
                }
                last = laneLast;
                each = last >= u;
            }
        }
        if (bound != 0 || each) {
            const auto count = static_cast<std::size_t>(nAvailable) * static_cast<std::size_t>(last - u + 1);
            const std::size_t first = each
                ? scan.findEach(seed, count, laneBound + (u - laneFrom) * nAvailable)
                : bound <= SmallStates::Count ? walk.firstBelow(count, bound)
                                              : scan.find(seed, count, bound);
            const int quiet = dividedBy(first, nAvailable);
            skip(quiet * nAvailable);
            u += quiet;
            if (first == count)
                continue;
        }

        // The step u: the i-th number drawn is state[i] / 2^32.
        const int kStep = kStart + u;
        const std::uint32_t lanes = (1u << nAvailable) - 1u;
        alignas(64) std::uint32_t state[32];
        scan.stepStates(seed, state);
        skip(nAvailable);
        auto below = [&](std::uint32_t threshold) { return scan.statesBelow(state, threshold) & lanes; };
        std::uint32_t hits;
        if (exact <= LargestState) {
            hits = below(static_cast<std::uint32_t>(exact));
        } else if (exact == EveryState) {
            hits = lanes;
        } else {
            const double EStep = spikeAt[u];
            std::uint32_t lower, upper;
            t.thresholdBandIn(slot, EStep, G[u], lower, upper);
            hits = below(lower);
            std::uint32_t undecided = upper == 0 ? lanes & ~hits : below(upper) & ~hits;
            if (undecided != 0) {
                // The closer band of the grid's own cell.
                t.thresholdBandFineIn(slot, EStep, G[u], lower, upper);
                hits = below(lower);
                undecided = upper == 0 ? lanes & ~hits : below(upper) & ~hits;
            }
            if (undecided != 0) {
                // The law, as the step rule works it out.
                const std::uint64_t law = stepThreshold(EStep, siteConductance(kStep), Vc, Rg, Emax, ex, c);
                hits = law == EveryState ? lanes : below(static_cast<std::uint32_t>(law));
            }
        }
        ++u;
        if (hits == 0)
            continue;

        // The releases of step kStep: the sites, their quanta in the running
        // sum over the steps after it, and the sites left.
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
    rng.setSeed(seed);
    walk.finish(seed, m_place);

    PeakTrialResult result;
    result.m = nReleased;
    result.first = nReleased > 0 ? firstRelease : -1;
    if (!(wantLowest || wantHighest))
        return result; // at Vc = 0 the sweep's peak is 0 by definition
    if (!wantHighest && Vc >= 0)
        return result; // inward only: no conductance is negative, so no current is below 0
    if (nReleased == 1) {
        result.peak = m_onePeaks[kEnd - firstRelease];
        return result;
    }
    // The extreme current over the steps, followed with strict comparisons
    // from 0 as the step rule's currents would be. In exact arithmetic the
    // size of I = Vc G / (1 + Rg G) grows with G: for 0 < G1 < G2,
    // |I(G2)| / |I(G1)| = 1 + (G2 - G1) / (G1 (1 + Rg G2)). A step whose G
    // falls below the largest conductance Gtop by more than
    // Gtop (1 + Rg Gtop) 1e-12 has a current at least 1e-12 smaller in
    // relative size, which the few roundings of the current cannot close:
    // its current is never the extreme one. The running sums are within a
    // relative 1e-14 of the step rule's, so every step within that cut of
    // the largest has a running sum within twice the cut plus 1e-13 of the
    // largest running sum; those steps are followed with the step rule's own
    // conductance.
    //
    // Where the quantum rises up to its top and falls after it, the
    // conductance cannot fall before the first release's top nor rise after
    // the last one's (every term rises or joins with a value >= 0, and
    // rounding is monotone), so the largest lies between them, and the steps
    // near it outside are found by walking outwards.
    PeakFollower peak {Vc, Rg, wantLowest};
    auto follow = [&](int v) { peak.follow(siteConductance(kStart + v)); };
    if (nReleased == 0) {
        peak.follow(background);
    } else if (firstRelease - kStart + 1 >= steps) {
        follow(steps - 1); // the one release at the last step adds nothing yet
    } else {
        // The steps up to the first release have the background alone; the
        // running sums hold from the step after it on.
        const int held = firstRelease - kStart + 1;
        int from = held, to = steps - 1;
        if (t.quantumUnimodal()) {
            const int rise = firstRelease + t.quantumTop() - kStart;
            const int fall = lastRelease + t.quantumTop() - kStart;
            from = rise < held ? held : (rise < steps - 1 ? rise : steps - 1);
            to = fall < from ? from : (fall < steps - 1 ? fall : steps - 1);
        }
        const double top = scan.largest(G, from, to);
        const double cut = top - top * ((1.0 + Rg * top) * (2 * PeakCut) + RunningSumSlack);
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
    }
    result.peak = peak.peak;
    return result;
}

template <class K> PeakTrialResult PeakTrials::loopOn(PeakTrials &trials, SiteTable &sites, Generator &rng)
{
    return trials.loop<K>(sites, rng);
}

} // namespace cleftsim
