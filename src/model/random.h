#pragma once

#include <cstdint>

namespace cleftsim {

// The 32-bit linear congruential generator of every Run:
// seed := seed * 134775813 + 1 (mod 2^32), value := seed / 2^32.
class Generator {
public:
    static constexpr std::uint32_t Multiplier = 134775813u;
    static constexpr std::uint32_t Increment = 1u;

    explicit Generator(std::uint32_t seed = 0)
        : m_seed(seed)
    {
    }

    void setSeed(std::uint32_t seed) { m_seed = seed; }
    std::uint32_t seed() const { return m_seed; }

    // Returns the next uniform number in [0, 1).
    double next()
    {
        m_seed = m_seed * Multiplier + Increment;
        return m_seed * (1.0 / 4294967296.0);
    }

private:
    std::uint32_t m_seed;
};

// Mixes a seed with an index into a seed of its own: the seed of point
// `index` of a grid, of a trial of a fit's clamp potential, ... Neighbouring
// indices and neighbouring seeds give unrelated seeds, so that the runs they
// start do not draw from related parts of the generator's stream:
// z = seed * 2^32 + index + 0x9E3779B97F4A7C15 (mod 2^64), then
// z ^= z >> 30; z *= 0xBF58476D1CE4E5B9; z ^= z >> 27; z *= 0x94D049BB133111EB;
// z ^= z >> 31 (products mod 2^64), and the mixed seed is z >> 32.
std::uint32_t mixSeed(std::uint32_t seed, std::uint32_t index);

// Returns the milliseconds since midnight UTC, the seed of every Run.
std::uint32_t seedFromClock();

// Returns the one generator that the experiment windows reseed at every Run.
Generator &randomGenerator();

} // namespace cleftsim
