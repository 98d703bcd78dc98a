#include "model/smallstates.h"

#include "model/generatorjumps.h"

#include <algorithm>

namespace cleftsim::detail {

// The distance is found bit by bit from the lowest: the low b + 1 bits of
// the state after d draws from state 0 depend only on the low b + 1 bits of
// d, so bit b of the distance is set exactly where the state reached by the
// lower bits found so far still differs from x in bit b.
std::uint32_t cyclePlace(std::uint32_t x)
{
    std::uint32_t at = 0; // state 0 moved on by the distance found so far
    std::uint32_t distance = 0;
    for (int b = 0; b < 32; ++b) {
        const std::uint32_t bit = std::uint32_t(1) << b;
        const std::uint32_t take = 0u - (((at ^ x) >> b) & 1u);
        at = ((generatorJumps.powerMul[b] * at + generatorJumps.powerAdd[b]) & take) | (at & ~take);
        distance |= bit & take;
    }
    return distance;
}

// The places are spread evenly over the cycle, so a count of them by their
// highest bits sorts them but for a few neighbours, which the insertion
// after it puts in order.
SmallStates::SmallStates()
{
    constexpr int Shift = 20; // 2^32 / 2^20 = Count buckets
    static_assert(std::uint64_t(1) << (32 - Shift) == Count);
    std::vector<std::uint32_t> place(Count);
    std::vector<std::uint32_t> start(Count + 1, 0);
    for (std::uint32_t x = 0; x < Count; ++x) {
        place[x] = cyclePlace(x);
        ++start[(place[x] >> Shift) + 1];
    }
    for (std::uint32_t b = 0; b < Count; ++b)
        start[b + 1] += start[b];
    m_place.resize(Count);
    m_state.resize(Count);
    for (std::uint32_t x = 0; x < Count; ++x) {
        const std::uint32_t at = start[place[x] >> Shift]++;
        m_place[at] = place[x];
        m_state[at] = x;
    }
    for (std::uint32_t i = 1; i < Count; ++i) {
        const std::uint32_t p = m_place[i], x = m_state[i];
        std::uint32_t j = i;
        for (; j > 0 && m_place[j - 1] > p; --j) {
            m_place[j] = m_place[j - 1];
            m_state[j] = m_state[j - 1];
        }
        m_place[j] = p;
        m_state[j] = x;
    }
}

SmallStates::~SmallStates() = default;

std::uint32_t SmallStates::firstAfter(std::uint32_t here) const
{
    const auto it = std::upper_bound(m_place.begin(), m_place.end(), here);
    return it == m_place.end() ? 0u : static_cast<std::uint32_t>(it - m_place.begin());
}

SmallStatePlace &threadSmallStatePlace()
{
    thread_local SmallStatePlace place;
    return place;
}

void SmallStateWalk::locate()
{
    m_start = cyclePlace(m_seed);
    m_at = m_start + m_drawn;
    m_next = SmallStates::table().firstAfter(m_at);
    m_known = true;
}

} // namespace cleftsim::detail
