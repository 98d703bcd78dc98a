#pragma once

// The draws of a trial: jumps of the generator over many draws, and the
// scans that find the first of a run of draws whose state is below a bound,
// one per instruction set, all finding the same draw.

#include "model/generatorjumps.h"
#include "model/parameterset.h"
#include "model/random.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cleftsim {

class PeakTrials;
struct PeakTrialResult;

// A scan: the index (0-based) of the first of the count draws after seed
// whose state is below bound, or count when none is.
using DrawScanFunction = std::size_t (*)(std::uint32_t seed, std::size_t count, std::uint32_t bound);

// The index (0-based) of the first of the count draws after seed whose
// state is below its own bound, bounds[i] for the i-th draw, or count when
// none is. bounds must hold count entries and be readable 64 entries past.
using DrawScanEachFunction
    = std::size_t (*)(std::uint32_t seed, std::size_t count, const std::uint32_t *bounds);

// The states of the 32 draws after seed, into states[0..31] (aligned to 64
// bytes): the draws of one step, of which a trial reads the first
// nAvailable <= 20.
using StepStatesFunction = void (*)(std::uint32_t seed, std::uint32_t *states);
// Bit i set where states[i] < threshold, for i = 0..31 (states as above).
using StatesBelowFunction = std::uint32_t (*)(const std::uint32_t *states, std::uint32_t threshold);
// G[v] += times * q[v] for v = from..to - 1, each term as one product and
// one sum, whatever the width. A scan may work in whole vectors from
// from & ~7 to the next multiple of 8 at or past to: G and q must be
// readable and G writable there, and q must be 0 below from (the entries
// there stay as they are; those past to may change).
using AddQuantaFunction = void (*)(double *G, const double *q, int from, int to, double times);
// G[v] = base + times * q[v] for v = from..to - 1, likewise (the entries
// from from & ~7 up to from become base).
using SetQuantaFunction = void (*)(double *G, const double *q, int from, int to, double times, double base);
// The largest of G[from..to], from <= to, none of them negative or NaN.
using LargestFunction = double (*)(const double *G, int from, int to);
// Bit v - from set where G[v] >= cut, for v = from..to, to - from < 64.
using AtLeastFunction = std::uint64_t (*)(const double *G, int from, int to, double cut);
// The bounds of the steps from..last (at most EachBoundSteps of them), each
// read from a table of bound pairs [lower, upper] at the pair
// trunc(min(G[v] scale, limit)) / EachBoundWidth (limit < 2^31, the table
// that long),
// laid out for a scan of every draw against its own bound: out[d] is the
// bound of step from + d / n for the n draws of each step (out aligned to
// 64 bytes, with room for EachBoundSteps * n + 64 entries, those past the
// steps' draws left to the scan). Gives the number of steps up to the first
// whose bound is 0 (none) or the whole count, or -1 where an entry before
// that is not yet made (UnmadeBound).
inline constexpr int EachBoundSteps = 8;
inline constexpr int EachBoundWidth = 8;
inline constexpr std::uint64_t UnmadeBound = ~std::uint64_t(0);
using EachBoundsFunction = int (*)(const double *G, int from, int last, const std::uint64_t *pairs,
    double scale, double limit, int n, std::uint32_t *out);

// The sites of the lanes: bit i of lanes stands for the i-th lowest bit
// set in sites; the result has those bits of sites set.
using LaneSitesFunction = std::uint32_t (*)(std::uint32_t lanes, std::uint32_t sites);

// The loop of the peak trials made for a scan's kernels (PeakTrials::loopOn).
using PeakLoopFunction = PeakTrialResult (*)(PeakTrials &trials, SiteTable &sites, Generator &rng);

// One scan of the table, made from its set of kernels in its own file
// (kernelsscalar.cpp, kernelsavx2.cpp, kernelsavx512.cpp): its name, the
// processor features it is compiled for, whether this processor has them,
// and the kernels with the loop of the peak trials made for them (call them
// only where available).
struct DrawScan {
    const char *name;
    const char *features; // a target list, see instructionsets.h
    bool has; // whether this processor has every one of them
    bool available() const { return has; }
    DrawScanFunction find;
    DrawScanEachFunction findEach;
    StepStatesFunction stepStates;
    StatesBelowFunction statesBelow;
    AddQuantaFunction addQuanta;
    SetQuantaFunction setQuanta;
    LargestFunction largest;
    AtLeastFunction atLeast;
    EachBoundsFunction eachBounds;
    LaneSitesFunction laneSites;
    PeakLoopFunction peakLoop;
};

// Every scan the program knows, narrowest first: "scalar" (everywhere),
// "avx2" (8 draws at once), "avx512" (16 draws at once).
const std::vector<DrawScan> &drawScans();
// The names of the scans this processor has, narrowest first.
std::vector<std::string> availableDrawScans();
// The scan of that name, or nullptr when the program knows none by it.
const DrawScan *findDrawScan(const std::string &name);

// The environment variable that forces one scan on every trial of the
// process (its value: a name of the table), for comparing machines.
inline constexpr char DrawScanVariable[] = "CLEFTSIM_DRAW_SCAN";
// Why the variable cannot be followed ("CLEFTSIM_DRAW_SCAN=avx512: not
// available on this processor; ..."), or an empty string when it is unset,
// empty or names a scan this processor has.
std::string drawScanVariableProblem();

// Makes the named scan that of every trial from now on; false (and no
// change) when the name is unknown or the processor lacks the scan. Without
// a call, the first trial takes the scan the variable names, or else the
// widest this processor has.
bool useDrawScan(const std::string &name);
// The name of the scan in use (choosing it if no trial has yet).
std::string drawScanInUse();

namespace detail {

// The entries of the scan table, each from its file of kernels (has unset).
DrawScan scalarScan();
DrawScan avx2Scan();
DrawScan avx512Scan();

// The scan in use (see useDrawScan) over count draws after seed.
std::size_t firstDrawBelow(std::uint32_t seed, std::size_t count, std::uint32_t bound);
// The entry of the scan in use.
const DrawScan &drawScanEntry();

} // namespace detail

} // namespace cleftsim
