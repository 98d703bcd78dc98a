#include "model/drawscan.h"

#include "model/instructionsets.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cleftsim {

namespace {

// The scans narrowest first, each asked for its features once, on the
// first question rather than at start-up.
const std::vector<DrawScan> &table()
{
    static const std::vector<DrawScan> scans = [] {
        std::vector<DrawScan> made {detail::scalarScan(), detail::avx2Scan(), detail::avx512Scan()};
        for (DrawScan &scan : made)
            scan.has = detail::processorHas(scan.features);
        return made;
    }();
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
