#include "model/instructionsets.h"

#include <string>

namespace cleftsim::detail {

namespace {

// One feature by its name in the target lists (the processor's answer
// needs the name as a constant).
bool hasFeature(const std::string &name)
{
#ifdef CLEFTSIM_X86_VECTOR
    __builtin_cpu_init();
    if (name == "avx2")
        return __builtin_cpu_supports("avx2") != 0;
    if (name == "avx512f")
        return __builtin_cpu_supports("avx512f") != 0;
    if (name == "bmi")
        return __builtin_cpu_supports("bmi") != 0;
    if (name == "bmi2")
        return __builtin_cpu_supports("bmi2") != 0;
    if (name == "popcnt")
        return __builtin_cpu_supports("popcnt") != 0;
#else
    (void)name;
#endif
    return false;
}

} // namespace

bool processorHas(const char *features)
{
    const std::string list = features;
    std::string::size_type from = 0;
    while (from < list.size()) {
        std::string::size_type comma = list.find(',', from);
        if (comma == std::string::npos)
            comma = list.size();
        if (!hasFeature(list.substr(from, comma - from)))
            return false;
        from = comma + 1;
    }
    return true;
}

} // namespace cleftsim::detail
