#include "model/lawbounds.h"

namespace cleftsim::detail {

void LawScales::setLaw(const ParameterSet &p, int spikeSteps)
{
    m_c = 1.0 - std::exp(std::log(1.0 - p.gf) / spikeSteps);
    m_ex = p.ex;
    m_bound2 = 1.4426950408889634 / p.ex;
    m_boundScale = m_c * TwoTo32 * (1.0 + BoundMargin);
    m_lowScale = m_c * TwoTo32 * (1.0 - BoundMargin);
    m_boundUsable = m_c > 0 && std::isfinite(m_boundScale) && std::isfinite(m_bound2) && m_bound2 > 0;
    // Without a norm factor (c = 0) no site ever releases, as long as the
    // exponential stays finite; stretchBound then bounds by 1 (see there).
    m_noRelease = m_c == 0 && std::isfinite(p.ex) && p.ex > 0;
}

PowerSteps makePowerSteps()
{
    PowerSteps s {};
    for (int i = 0; i < 64; ++i) {
        s.up[i] = std::exp2((i + 1) / 64.0) * (1.0 + PowerStepMargin);
        s.down[i] = std::exp2(i / 64.0) * (1.0 - PowerStepMargin);
    }
    return s;
}

} // namespace cleftsim::detail
