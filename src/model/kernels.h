#pragma once

// The plain kernels of the draw scans: the reference the vector ones are
// checked against, the scan of every processor, and the bounds kernel of
// AVX2.
//
// A file of kernels includes this header after CLEFTSIM_BEGIN_INSTRUCTIONS,
// so that the kernels are compiled for its instructions; each file has its
// own copies (an unnamed namespace), which never meet another file's.

#include "model/drawscan.h"

#include <cstddef>
#include <cstdint>

namespace cleftsim::detail::kernels {

namespace {

using detail::generatorJumps;
using detail::GeneratorJumps;

inline std::size_t scanScalar(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    // Blocks of 16 draws worked out from the seed at the block's start, so
    // that the multiplications do not wait for each other.
    constexpr std::size_t Block = 16;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t n = count - done < Block ? count - done : Block;
        std::uint32_t lowest = 0xffffffffu;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t state = generatorJumps.mul[i + 1] * seed + generatorJumps.add[i + 1];
            lowest = state < lowest ? state : lowest;
        }
        if (lowest < bound) {
            for (std::size_t i = 0;; ++i)
                if (generatorJumps.mul[i + 1] * seed + generatorJumps.add[i + 1] < bound)
                    return done + i;
        }
        seed = generatorJumps.mul[Block] * seed + generatorJumps.add[Block];
        done += n;
    }
    return count;
}

inline std::size_t scanEachScalar(std::uint32_t seed, std::size_t count, const std::uint32_t *bounds)
{
    // Blocks of 16 draws as in scanScalar, each state against its own bound.
    constexpr std::size_t Block = 16;
    for (std::size_t done = 0; done < count; done += Block) {
        bool low = false;
        for (std::size_t i = 0; i < Block; ++i)
            low |= generatorJumps.mul[i + 1] * seed + generatorJumps.add[i + 1] < bounds[done + i];
        if (low) {
            for (std::size_t i = 0;; ++i)
                if (generatorJumps.mul[i + 1] * seed + generatorJumps.add[i + 1] < bounds[done + i])
                    return done + i < count ? done + i : count;
        }
        seed = generatorJumps.mul[Block] * seed + generatorJumps.add[Block];
    }
    return count;
}

inline void stepStatesScalar(std::uint32_t seed, std::uint32_t *states)
{
    for (int i = 0; i < MaxSites; ++i)
        states[i] = generatorJumps.mul[i + 1] * seed + generatorJumps.add[i + 1];
}

inline std::uint32_t statesBelowScalar(const std::uint32_t *states, std::uint32_t threshold)
{
    std::uint32_t below = 0;
    for (int i = 0; i < MaxSites; ++i)
        below |= static_cast<std::uint32_t>(states[i] < threshold) << i;
    return below;
}

inline void addQuantaScalar(double *G, const double *q, int from, int to, double times)
{
    for (int v = from; v < to; ++v)
        G[v] += times * q[v];
}

inline void setQuantaScalar(double *G, const double *q, int from, int to, double times, double base)
{
    for (int v = from; v < to; ++v)
        G[v] = base + times * q[v];
}

inline double largestScalar(const double *G, int from, int to)
{
    double a = G[from];
    for (int v = from + 1; v <= to; ++v)
        a = G[v] > a ? G[v] : a;
    return a;
}

inline std::uint64_t atLeastScalar(const double *G, int from, int to, double cut)
{
    std::uint64_t mask = 0;
    for (int v = from; v <= to; ++v)
        mask |= std::uint64_t(G[v] >= cut) << (v - from);
    return mask;
}

// The step of each of 16 draws, (16 c + i) / n for draw i of chunk c, as
// far as EachBoundSteps steps of n draws reach (and the last step past).
struct EachSteps {
    std::uint8_t of[MaxSites + 1][(EachBoundSteps * MaxSites + 15) / 16][16];
};

constexpr EachSteps makeEachSteps()
{
    EachSteps e {};
    for (int n = 1; n <= MaxSites; ++n)
        for (int c = 0; c < (EachBoundSteps * MaxSites + 15) / 16; ++c)
            for (int i = 0; i < 16; ++i) {
                const int step = (16 * c + i) / n;
                e.of[n][c][i] = static_cast<std::uint8_t>(step < EachBoundSteps ? step : EachBoundSteps - 1);
            }
    return e;
}

inline constexpr EachSteps eachSteps = makeEachSteps();

inline int eachBoundsScalar(const double *G, int from, int last, const std::uint64_t *pairs, double scale,
    double limit, int n, std::uint32_t *out)
{
    const int steps = last - from + 1 < EachBoundSteps ? last - from + 1 : EachBoundSteps;
    std::uint32_t bound[EachBoundSteps];
    int made = 0;
    for (; made < steps; ++made) {
        const double x = G[from + made] * scale;
        const double inTable = x < limit ? x : limit;
        const std::uint64_t entry = pairs[(static_cast<unsigned>(inTable) / EachBoundWidth) * 2 + 1];
        if (entry == UnmadeBound)
            return -1;
        if (entry == 0)
            break;
        bound[made] = static_cast<std::uint32_t>(entry);
    }
    // Each step's bound over as many entries as there can be sites, the
    // next step's from its own first draw on.
    for (int step = 0; step < made; ++step)
        for (int i = 0; i < MaxSites; ++i)
            out[step * n + i] = bound[step];
    return made;
}

inline std::uint32_t laneSitesScalar(std::uint32_t lanes, std::uint32_t sites)
{
    std::uint32_t chosen = 0;
    for (int i = 0; sites != 0; sites &= sites - 1, ++i)
        chosen |= (lanes >> i & 1u) ? sites & (~sites + 1u) : 0u;
    return chosen;
}

} // namespace

} // namespace cleftsim::detail::kernels
