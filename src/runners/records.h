#pragma once

#include "model/parameterset.h"
#include "model/random.h"
#include "model/trial.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

namespace cleftsim {

// Steps of a Records trial: 0..320, 16 msec.
constexpr int RecordsSteps = 321;
// Trials a Records figure holds.
constexpr int MaxRecords = 100;

// The synaptic current of every step of one Records trial [pA].
using CurrentTrace = std::array<double, RecordsSteps>;

// Writes the Records text file: the header "161 R 10000", then one line per
// trace with the current of every second step in "0.000", each followed by a
// blank; CRLF line ends. Numbers use the full stop whatever the locale. The
// writing stops at the first failure of the stream, so the lines written
// before it stay. Returns false when the stream failed.
bool writeRecordsFile(std::ostream &out, const CurrentTrace *traces, int count);
bool writeRecordsFile(std::ostream &out, const std::vector<CurrentTrace> &traces);

namespace detail {

// Stores the current of every step into a trace and passes the step on.
template <class Observer> struct TraceKeeper {
    static constexpr bool usesProbability = cleftsim::detail::UsesProbability<Observer>::value;
    CurrentTrace &trace;
    Observer &next;

    void step(const StepReport &s)
    {
        trace[static_cast<std::size_t>(s.k)] = s.I;
        next.step(s);
    }
    void release(int j, int k) { next.release(j, k); }
};

} // namespace detail

// Runs one Records trial: the steps 0..320 at V2 with state.LPC,
// state.SpikeSteps and state.Sites, drawing from rng as it stands (a Run
// seeds it first). Keeps the current of every step in trace and reports
// every step and release to observer as well (the window draws from these).
// Returns the number of quanta released.
template <class Observer>
int recordsTrial(ModelState &state, Generator &rng, CurrentTrace &trace, Observer &observer)
{
    detail::TraceKeeper<Observer> keeper {trace, observer};
    return runTrial(state.LPC, state.SpikeSteps, state.Sites, rng, state.LPC.V2, 0, RecordsSteps - 1, keeper);
}

int recordsTrial(ModelState &state, Generator &rng, CurrentTrace &trace);

// Runs one Records Run as a press of Run does: seeds rng with seed, then runs
// one trial (recordsTrial) into trace, reporting it to observer. Returns the
// number of quanta released.
template <class Observer>
int recordsRun(ModelState &state, Generator &rng, std::uint32_t seed, CurrentTrace &trace, Observer &observer)
{
    rng.setSeed(seed);
    return recordsTrial(state, rng, trace, observer);
}

// The traces and quanta of a series of Records Runs.
struct RecordsResult {
    std::vector<CurrentTrace> traces; // one per Run, in the order of the seeds
    std::vector<int> quanta; // quanta released in each Run
};

// Runs one Records Run per seed, in order, with one generator.
RecordsResult runRecords(ModelState &state, const std::vector<std::uint32_t> &seeds);
// The seeds of count Runs starting from first: first, first + 1, ... (mod 2^32).
std::vector<std::uint32_t> consecutiveSeeds(std::uint32_t first, int count);

} // namespace cleftsim
