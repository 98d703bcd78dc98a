#include "model/drawscan.h"

#include "model/drawkernels.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cleftsim {

namespace {

using namespace detail::kernels;

bool always()
{
    return true;
}

#ifdef CLEFTSIM_X86_VECTOR
// The bit instructions the vector scans' loops take as well (bit deposit,
// counts of bits, lowest bit cleared), which every processor with AVX2 has.
bool bitInstructions()
{
    return __builtin_cpu_supports("bmi") != 0 && __builtin_cpu_supports("bmi2") != 0
        && __builtin_cpu_supports("popcnt") != 0;
}

// The processor is asked on the first question, not at start-up.
bool hasAvx2()
{
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0 && bitInstructions());
    return has;
}

bool hasAvx512()
{
    static const bool has
        = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") != 0 && bitInstructions());
    return has;
}
#else
bool never()
{
    return false;
}
#endif

template <class K> DrawScan entry(const char *name, bool (*available)())
{
    return {name, available, K::find, K::findEach, K::stepStates, K::statesBelow, K::addQuanta, K::setQuanta,
        K::largest, K::atLeast, K::eachBounds, K::laneSites};
}

const std::vector<DrawScan> &table()
{
    static const std::vector<DrawScan> scans {
        entry<ScalarKernels>("scalar", always),
#ifdef CLEFTSIM_X86_VECTOR
        entry<Avx2Kernels>("avx2", hasAvx2),
        entry<Avx512Kernels>("avx512", hasAvx512),
#else
        entry<ScalarKernels>("avx2", never),
        entry<ScalarKernels>("avx512", never),
#endif
    };
    return scans;
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The scan of every trial; null until the first trial or useDrawScan.
std::atomic<const DrawScan *> chosenScan {nullptr};

// The scan the variable names where it can be followed, else the widest
// this processor has; a variable that cannot be followed is said once on
// standard error (the batch tool refuses it before any trial).
const DrawScan *firstChoice()
{
    const std::string problem = drawScanVariableProblem();
    if (problem.empty()) {
        const char *value = std::getenv(DrawScanVariable);
        if (value && *value)
            return findDrawScan(value);
    } else {
        std::fprintf(stderr, "cleftsim: %s; the widest scan is used\n", problem.c_str());
    }
    const DrawScan *widest = &table().front();
    for (const DrawScan &scan : table())
        if (scan.available())
            widest = &scan;
    return widest;
}

const DrawScan *chosen()
{
    const DrawScan *scan = chosenScan.load(std::memory_order_acquire);
    if (!scan) {
        const DrawScan *expected = nullptr;
        scan = firstChoice();
        if (!chosenScan.compare_exchange_strong(expected, scan, std::memory_order_acq_rel))
            scan = expected; // another thread chose first
    }
    return scan;
}

} // namespace

const std::vector<DrawScan> &drawScans()
{
    return table();
}

std::vector<std::string> availableDrawScans()
{
    std::vector<std::string> names;
    for (const DrawScan &scan : table())
        if (scan.available())
            names.emplace_back(scan.name);
    return names;
}

const DrawScan *findDrawScan(const std::string &name)
{
    for (const DrawScan &scan : table())
        if (name == scan.name)
            return &scan;
    return nullptr;
}

std::string drawScanVariableProblem()
{
    const char *value = std::getenv(DrawScanVariable);
    if (!value || !*value)
        return std::string();
    const DrawScan *scan = findDrawScan(value);
    const std::string what = std::string(DrawScanVariable) + "=" + value;
    if (!scan) {
        std::vector<std::string> known;
        for (const DrawScan &s : table())
            known.emplace_back(s.name);
        return what + ": not available (no draw scan of that name); known: " + joined(known)
            + "; available on this processor: " + joined(availableDrawScans());
    }
    if (!scan->available())
        return what + ": not available on this processor; available: " + joined(availableDrawScans());
    return std::string();
}

bool useDrawScan(const std::string &name)
{
    const DrawScan *scan = findDrawScan(name);
    if (!scan || !scan->available())
        return false;
    chosenScan.store(scan, std::memory_order_release);
    return true;
}

std::string drawScanInUse()
{
    return chosen()->name;
}

std::size_t detail::firstDrawBelow(std::uint32_t seed, std::size_t count, std::uint32_t bound)
{
    return chosen()->find(seed, count, bound);
}

const DrawScan &detail::drawScanEntry()
{
    return *chosen();
}

} // namespace cleftsim
