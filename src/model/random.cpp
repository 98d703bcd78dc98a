#include "model/random.h"

#include <chrono>

namespace cleftsim {

std::uint32_t seedFromClock()
{
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(now % (24LL * 60 * 60 * 1000));
}

std::uint32_t mixSeed(std::uint32_t seed, std::uint32_t index)
{
    std::uint64_t z = (std::uint64_t(seed) << 32) + index + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<std::uint32_t>(z >> 32);
}

Generator &randomGenerator()
{
    static Generator generator;
    return generator;
}

} // namespace cleftsim
