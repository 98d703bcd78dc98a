#pragma once

// How a step decides its releases: the step rule's values as every path of
// the trial routine works them out (one function each), and the named
// bounds and margins of the shortcuts that spare a step the law. Why each
// shortcut decides exactly as the law would is told in doc/exactness.md.

#include <cmath>
#include <cstdint>

namespace cleftsim::detail {

// 2^32: a uniform number drawn is its generator state divided by it.
inline constexpr double TwoTo32 = 4294967296.0;
// The largest state, 2^32 - 1.
inline constexpr std::uint32_t LargestState = 0xffffffffu;

// Thresholds ceil(p 2^32) of a step, in 64 bits so that one more value fits:
// a state releases where it is below the threshold.
// Every state releases (p 2^32 > 2^32 - 1).
inline constexpr std::uint64_t EveryState = std::uint64_t(1) << 32;
// No threshold known without the law: above every threshold.
inline constexpr std::uint64_t UnknownThreshold = std::uint64_t(1) << 33;

// The relative margin of every bound on the law and the potentials
// (doc/exactness.md, "Margins"): millions of times the few units in the last
// place by which the roundings of the law, its potentials and a cell of the
// grid can move, and small enough to keep the bounds close.
inline constexpr double BoundMargin = 1e-9;
// The relative margin of the table of 64ths of a power of two, above the
// error of the library's exp2.
inline constexpr double PowerStepMargin = 1e-12;
// The peak cut (doc/exactness.md, "The peak"): a step whose conductance is
// below the largest Gtop by more than Gtop (1 + Rg Gtop) PeakCut has a
// current smaller in size by at least PeakCut, relative, which the roundings
// of the current cannot close.
inline constexpr double PeakCut = 1e-12;
// How far, relative, a running sum of the conductance may differ from the
// step rule's sum over the sites (21 terms, none negative: 1e-14), with room.
inline constexpr double RunningSumSlack = 1e-13;

// A bound times a count of draws: 2^32 times the number of those draws
// expected below the bound.
inline constexpr std::uint64_t ExpectedDraw = std::uint64_t(1) << 32;
// The few-states rule: a run of steps whose bound lets through fewer than
// 1/64 of a draw in expectation (bound * draws below FewStates) is scanned
// whole with that bound, however much looser it is than its steps' own.
inline constexpr std::uint64_t FewStates = ExpectedDraw / 64;
// A run's bound is taken for the whole run where it is looser than the
// bound of its first stretch by at most 1/LooserRun of that bound.
inline constexpr std::uint32_t LooserRun = 16;

// ceil(x) for 0 < x <= 2^32 - 1, without the library call that processors
// without a rounding instruction need.
inline std::uint32_t ceilingOf(double x)
{
    const auto whole = static_cast<std::uint32_t>(static_cast<std::int64_t>(x));
    return whole + (double(whole) < x ? 1u : 0u);
}

// The current I = Vc G / (1 + Rg G) [pA] through the conductance G of a step.
inline double stepCurrent(double Vc, double Rg, double G)
{
    return Vc * G / (1.0 + Rg * G);
}

// The presynaptic potential E - Rg I [mV] that the current I shifts.
inline double shiftedPotential(double E, double Rg, double I)
{
    return E - Rg * I;
}

// The release law p = exp((Vpre - Emax) / ex) c, c the per-step norm factor.
inline double releaseLaw(double Vpre, double Emax, double ex, double c)
{
    return std::exp((Vpre - Emax) / ex) * c;
}

// The threshold of a step whose law gives p: a number drawn is below p
// exactly when its state is below ceil(p 2^32); 0 where no state releases,
// EveryState where every state does (p 2^32 above the largest state).
inline std::uint64_t thresholdOfLaw(double p)
{
    const double scaled = p * TwoTo32;
    if (scaled > double(LargestState))
        return EveryState;
    if (scaled > 0.0)
        return ceilingOf(scaled);
    return 0;
}

// The threshold of a step from its spike potential E and conductance G at
// clamp potential Vc: the law as the step rule works it out.
inline std::uint64_t stepThreshold(double E, double G, double Vc, double Rg, double Emax, double ex, double c)
{
    return thresholdOfLaw(releaseLaw(shiftedPotential(E, Rg, stepCurrent(Vc, Rg, G)), Emax, ex, c));
}

// The slot of the spike potential E among the two the grid of threshold
// bounds holds (slotSpike[0], slotSpike[1]), or -1 for another.
inline int gridSlotOf(double E, const double *slotSpike)
{
    return E == slotSpike[0] ? 0 : E == slotSpike[1] ? 1 : -1;
}

} // namespace cleftsim::detail
