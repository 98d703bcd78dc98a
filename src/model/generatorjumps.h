#pragma once

// The generator's jumps, in one table: the seed after n draws from seed s
// is mul s + add (mod 2^32) for the jump over n draws, so the draws of a
// step, the lanes of a vector scan and the stretches a trial skips are each
// one product and one sum away from the seed they start from.

#include "model/random.h"

#include <cstddef>
#include <cstdint>

namespace cleftsim::detail {

// Jumps over fewer draws than this are one entry each.
inline constexpr int NearDraws = 1024;
// The jumps over fewer draws than this are laid out once more for the lanes
// of the vector kernels, 16 consecutive multipliers in one load.
inline constexpr int LaneDraws = 128;
// Jumps over i NearDraws draws for i = 0..FarJumps - 1: with a near jump,
// every jump below FarJumps NearDraws draws in two.
inline constexpr int FarJumps = 17;
// Jumps over 2^b draws for b = 0..31, for finding a state's place on the
// generator's cycle (smallstates.h).
inline constexpr int PowerJumps = 32;

// One jump: the seed after it from s is mul s + add.
struct Jump {
    std::uint32_t mul;
    std::uint32_t add;
};

struct GeneratorJumps {
    Jump near[NearDraws]; // over n draws, n < NearDraws, as a pair for one jump at a time
    std::uint32_t mul[LaneDraws]; // the same over n < LaneDraws, the multipliers and the
    std::uint32_t add[LaneDraws]; // increments apart for the lanes of a vector
    std::uint32_t farMul[FarJumps]; // over i NearDraws draws
    std::uint32_t farAdd[FarJumps];
    std::uint32_t powerMul[PowerJumps]; // over 2^b draws
    std::uint32_t powerAdd[PowerJumps];
};

constexpr GeneratorJumps makeGeneratorJumps()
{
    GeneratorJumps j {};
    j.near[0] = {1u, 0u};
    for (int n = 1; n < NearDraws; ++n)
        j.near[n] = {j.near[n - 1].mul * Generator::Multiplier,
            j.near[n - 1].add * Generator::Multiplier + Generator::Increment};
    for (int n = 0; n < LaneDraws; ++n) {
        j.mul[n] = j.near[n].mul;
        j.add[n] = j.near[n].add;
    }
    // One jump over NearDraws draws: one more draw after the last near jump.
    const std::uint32_t blockMul = j.near[NearDraws - 1].mul * Generator::Multiplier;
    const std::uint32_t blockAdd = j.near[NearDraws - 1].add * Generator::Multiplier + Generator::Increment;
    j.farMul[0] = 1u;
    j.farAdd[0] = 0u;
    for (int i = 1; i < FarJumps; ++i) {
        j.farMul[i] = j.farMul[i - 1] * blockMul;
        j.farAdd[i] = j.farAdd[i - 1] * blockMul + blockAdd;
    }
    // Two jumps over 2^b draws make the jump over 2^(b+1):
    // s -> mul (mul s + add) + add.
    std::uint32_t mul = Generator::Multiplier, add = Generator::Increment;
    for (int b = 0; b < PowerJumps; ++b) {
        j.powerMul[b] = mul;
        j.powerAdd[b] = add;
        add = (mul + 1) * add;
        mul *= mul;
    }
    return j;
}

inline constexpr GeneratorJumps generatorJumps = makeGeneratorJumps();

// The seed after n draws from seed (n >= 0): in one jump below NearDraws,
// else in two for the n < 16384 of any trial, and one more for every
// further (FarJumps - 1) NearDraws.
inline std::uint32_t advance(std::uint32_t seed, long long n)
{
    const GeneratorJumps &j = generatorJumps;
    if (n < NearDraws) {
        const Jump jump = j.near[n];
        return jump.mul * seed + jump.add;
    }
    constexpr long long farthest = static_cast<long long>(FarJumps - 1) * NearDraws;
    for (; n >= farthest; n -= farthest)
        seed = j.farMul[FarJumps - 1] * seed + j.farAdd[FarJumps - 1];
    const Jump jump = j.near[n & (NearDraws - 1)];
    const auto far = static_cast<std::size_t>(n >> 10); // n / NearDraws, n >= 0
    static_assert(NearDraws == 1 << 10, "the far jump's index a shift by ten");
    seed = jump.mul * seed + jump.add;
    return j.farMul[far] * seed + j.farAdd[far];
}

} // namespace cleftsim::detail
