// A Histograms run: every member of its JSON output.

#include "common.h"

#include <cstdint>
#include <limits>
#include <string>

namespace cleftsim::binding {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// The members of the histograms JSON beside its provenance, from the run's
// tables: the count lists as int64 arrays, the reals at full precision, and
// NaN (an empty current table) where the JSON has null.
py::dict histogramsResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const HistogramsResult &h = result.get<HistogramsResult>();
    const ScatterStats stats = scatterStatistics(h);
    const auto N = static_cast<std::size_t>(h.N);
    const auto S = static_cast<std::size_t>(h.spikeSteps);
    const std::string note = histogramsNote(result.run);
    if (!note.empty())
        out["note"] = note;
    out["N"] = h.N;
    out["SpikeSteps"] = h.spikeSteps;
    out["quanta"] = arrayOf<std::int64_t>(h.quanta, N + 1);
    out["current"] = arrayOf<std::int64_t>(h.current, h.currentCollected ? 10 * N + 1 : 0);
    out["latency"] = arrayOf<std::int64_t>(h.latency, S + 1);
    py::array_t<std::int64_t> joint({static_cast<py::ssize_t>(N + 1), static_cast<py::ssize_t>(S + 1)});
    std::int64_t *cell = joint.mutable_data();
    for (std::size_t m = 0; m <= N; ++m)
        for (std::size_t s = 0; s <= S; ++s)
            *cell++ = h.joint[m][s];
    out["joint"] = joint;
    out["mean_quanta"] = h.meanQuanta();
    out["mean_peak_pA"] = h.currentCollected ? h.meanPeak() : NaN;
    out["mean_latency_ms"] = h.releasingTrials() > 0 ? h.meanLatencyMs() : NaN;
    out["r"] = stats.hasR ? stats.r : NaN;
    out["max_current_pA"] = h.maxCurrent;
    return out;
}

} // namespace

void register_histograms(py::module_ &m)
{
    defineRun(m, Experiment::Histograms, histogramsResult,
        R"(One Histograms run: histograms(seed=None, trials=100, background=False, **parameters).
Returns every member of the JSON output (count lists as arrays) and the provenance.)");
}

} // namespace cleftsim::binding
