#pragma once

// The release law's scales and the cheap bounds on it that spare a step the
// law: an upper bound for the step rule (releaseBound), closer bounds from
// above and below for the grid of the trial tables (powerAbove,
// powerBelow), and the bounds on a step's threshold they give
// (thresholdAboveAt, thresholdBelowAt). Why they hold: doc/exactness.md,
// "The release bound", "Bounds of a stretch", "Bands of the grid".

#include "model/parameterset.h"
#include "model/stepdecision.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace cleftsim::detail {

// The scales of the release law for one parameter set and spike length.
class LawScales {
public:
    // The per-step release constant 1 - exp(ln(1 - gf) / SpikeSteps).
    double releaseConstant() const { return m_c; }
    // For a cheap upper bound on the release law, see releaseBound().
    bool boundUsable() const { return m_boundUsable; }
    double bound2() const { return m_bound2; } // log2(e) / ex [1/mV]
    double boundScale() const { return m_boundScale; } // c * 2^32 with a margin
    double lowScale() const { return m_lowScale; } // c * 2^32 with a margin below
    // Whether the norm factor is 0, so that p is 0 wherever it is finite.
    bool noRelease() const { return m_noRelease; }
    double exponentStep() const { return m_ex; } // ex [mV]

protected:
    // Makes the scales for p and a spike of spikeSteps steps.
    void setLaw(const ParameterSet &p, int spikeSteps);

private:
    double m_c = 0;
    double m_ex = 0;
    bool m_boundUsable = false;
    double m_bound2 = 0;
    double m_boundScale = 0;
    double m_lowScale = 0;
    bool m_noRelease = false;
};

// An upper bound on 2^32 * ReleaseProbability at the presynaptic potential
// Vpre, far cheaper than the law (doc/exactness.md, "The release bound").
// Infinity where no useful bound exists.
inline double releaseBound(const LawScales &t, double Vpre, double Emax)
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

// 2^(i/64) for i = 0..64, each moved outwards by PowerStepMargin (far
// above the error of the library's exp2): up[i] >= 2^((i+1)/64) and
// down[i] <= 2^(i/64) for i = 0..63.
struct PowerSteps {
    double up[64];
    double down[64];
};
PowerSteps makePowerSteps();
inline const PowerSteps powerStepTable = makePowerSteps();

// Bounds on 2^32 * ReleaseProbability at a presynaptic potential of at most
// (powerAbove) or at least (powerBelow) V, 64 times closer than
// releaseBound, from the 64ths of a power of two (doc/exactness.md, "The
// release bound").
// 2^n for n = floor(y), -1000 <= y < 40, and i = floor(64 (y - n)).
inline double powerOfTwoBelow(double y, int &i)
{
    int n = static_cast<int>(y);
    if (n > y)
        --n;
    i = static_cast<int>((y - n) * 64.0);
    const std::uint64_t powerBits = static_cast<std::uint64_t>(n + 1023) << 52;
    double power;
    std::memcpy(&power, &powerBits, sizeof power);
    return power;
}

inline double powerAbove(const LawScales &t, double V, double Emax)
{
    const double y = (V - Emax) * t.bound2();
    if (y < -1000.0)
        return 1.0;
    if (!(y < 40.0))
        return HUGE_VAL;
    int i;
    const double power = powerOfTwoBelow(y, i);
    return powerStepTable.up[i] * power * t.boundScale();
}

inline double powerBelow(const LawScales &t, double V, double Emax)
{
    const double y = (V - Emax) * t.bound2();
    if (y < -1000.0)
        return 0.0;
    if (!(y < 40.0))
        return releaseLaw(V, Emax, t.exponentStep(), t.releaseConstant()) * TwoTo32 * (1.0 - BoundMargin);
    int i;
    const double power = powerOfTwoBelow(y, i);
    return powerStepTable.down[i] * power * t.lowScale();
}

// A bound on ceil(p 2^32) of every step with spike potential E and a
// conductance of at most G (see stretchBound), 0 where none below 2^32.
inline std::uint32_t thresholdAboveAt(
    const LawScales &t, double E, double G, double Vc, double Rg, double Emax)
{
    double V = E;
    if (Vc < 0) {
        const double shift = -Rg * stepCurrent(Vc, Rg, G);
        V = E + shift + BoundMargin * (std::fabs(E) + shift);
    }
    if (t.noRelease()) {
        // p = exp(...) * 0 is 0 wherever the exponential is finite (it is far
        // below its overflow at 709 here), and no state is below ceil(0).
        return (V - Emax) / t.exponentStep() < 700.0 ? 1u : 0u;
    }
    const double bound = powerAbove(t, V, Emax);
    if (!(bound <= double(LargestState)))
        return 0;
    return ceilingOf(bound);
}

// A number that every state releasing at a step with spike potential E and
// a conductance of at least Gdown and at most Gup reaches: the states below
// it release. The presynaptic potential is bounded from below as
// thresholdAboveAt bounds it from above (for Vc < 0 the shift grows with G,
// for Vc > 0 it lowers Vpre the more the larger G), less a margin of
// BoundMargin of the potentials' size, and powerBelow bounds the law from below there.
inline std::uint32_t thresholdBelowAt(
    const LawScales &t, double E, double Gdown, double Gup, double Vc, double Rg, double Emax)
{
    double shift = 0;
    if (Vc < 0)
        shift = -Rg * stepCurrent(Vc, Rg, Gdown);
    else if (Vc > 0)
        shift = -Rg * stepCurrent(Vc, Rg, Gup);
    const double V = E + shift - BoundMargin * (std::fabs(E) + std::fabs(shift));
    const double scaled = powerBelow(t, V, Emax);
    if (!(scaled >= 1.0))
        return 0;
    if (scaled >= double(LargestState))
        return LargestState;
    return static_cast<std::uint32_t>(scaled);
}

} // namespace cleftsim::detail
