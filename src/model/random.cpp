#include "model/random.h"

#include <chrono>

namespace cleftsim {

std::uint32_t seedFromClock()
{
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(now % (24LL * 60 * 60 * 1000));
}

Generator &randomGenerator()
{
    static Generator generator;
    return generator;
}

} // namespace cleftsim
