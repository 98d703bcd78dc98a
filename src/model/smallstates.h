#pragma once

// Where the smallest states fall in the generator's stream. The generator
// runs through all 2^32 states in one cycle, so every state has a place on
// it: its distance from state 0. The places of the states below
// SmallStates::Count are worked out once and kept in the order of the cycle;
// a trial that knows its own place then finds the first of its next draws
// whose state is below a small bound by walking those places forward,
// without computing the draws themselves.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleftsim::detail {

// The number of draws from state 0 to state x along the generator's cycle.
std::uint32_t cyclePlace(std::uint32_t x);

// The states below Count in the order of their places on the cycle.
class SmallStates {
public:
    static constexpr std::uint32_t Count = 1u << 12;

    // The one table of the program, made on first use.
    static const SmallStates &table()
    {
        static const SmallStates states;
        return states;
    }

    std::uint32_t place(std::uint32_t i) const { return m_place[i]; }
    std::uint32_t state(std::uint32_t i) const { return m_state[i]; }
    // The index of the first small state whose place comes after `here`
    // (the first place > here, or the first of all after the last).
    std::uint32_t firstAfter(std::uint32_t here) const;

    // Out of line, so that no file of kernels makes a copy of its own
    // compiled for its instructions.
    ~SmallStates();

private:
    SmallStates();
    std::vector<std::uint32_t> m_place; // increasing
    std::vector<std::uint32_t> m_state;
};

// Where a walk ended: the seed reached and its place, and the index of the
// first small state after the place `nextAfter`, where it was last asked.
struct SmallStatePlace {
    bool kept = false;
    std::uint32_t seed = 0;
    std::uint32_t place = 0;
    std::uint32_t next = 0;
    std::uint32_t nextAfter = 0;
};

// The place where the last walk of this thread ended.
SmallStatePlace &threadSmallStatePlace();

// A trial's place on the cycle, followed from draw to draw.
class SmallStateWalk {
public:
    // Starts at the generator seed `seed`; the place is taken from `last`
    // where that is the same seed, else worked out when first asked for.
    void start(std::uint32_t seed, const SmallStatePlace &last)
    {
        m_seed = seed;
        m_drawn = 0;
        m_known = last.kept && last.seed == seed;
        m_start = last.place;
        m_at = last.nextAfter;
        m_next = last.next;
    }
    // Moves `draws` draws on.
    void advance(std::uint32_t draws) { m_drawn += draws; }
    // The index (0-based) of the first of the next `count` draws whose state
    // is below bound (at most SmallStates::Count), or count when none is.
    std::size_t firstBelow(std::size_t count, std::uint32_t bound);
    // Keeps the place reached in `keep`, for a walk that will start at
    // `seed`: the seed the draws so far have led to.
    void finish(std::uint32_t seed, SmallStatePlace &keep) const
    {
        keep = SmallStatePlace {m_known, seed, m_start + m_drawn, m_next, m_at};
    }

private:
    void locate();
    std::uint32_t m_seed = 0; // seed at the start
    std::uint32_t m_drawn = 0; // draws since the start
    bool m_known = false; // whether m_start and m_next hold
    std::uint32_t m_start = 0; // place of m_seed
    std::uint32_t m_at = 0; // place m_next was found for
    std::uint32_t m_next = 0; // first small state after m_at
};

// The small states are kept in the order of their places, and m_next is the
// first one after m_at; the draw after the place `here` is at here + 1. A
// small state at place q is the (q - here)-th draw from here, counted
// modulo 2^32 as the cycle wraps.
inline std::size_t SmallStateWalk::firstBelow(std::size_t count, std::uint32_t bound)
{
    if (!m_known)
        locate();
    const SmallStates &states = SmallStates::table();
    const std::uint32_t here = m_start + m_drawn;
    // Past the small states the draws since the last question have reached.
    // Only the places modulo 2^32 count: a draw a whole cycle on has the
    // same first small state after it.
    while (states.place(m_next) - m_at - 1u < here - m_at)
        m_next = m_next + 1 == SmallStates::Count ? 0 : m_next + 1;
    m_at = here;
    for (std::uint32_t i = m_next;;) {
        const std::uint32_t ahead = states.place(i) - here; // draws to it, >= 1
        if (ahead > count)
            return count;
        if (states.state(i) < bound)
            return ahead - 1u;
        i = i + 1 == SmallStates::Count ? 0 : i + 1;
    }
}

} // namespace cleftsim::detail
