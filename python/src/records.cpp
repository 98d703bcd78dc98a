// Records trials: the currents of every trial and its quanta.

#include "common.h"

#include <cstdint>
#include <vector>

namespace cleftsim::binding {

namespace {

py::dict recordsResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const auto &traces = result.get<RecordsResult>().traces;
    std::vector<double> t(RecordsSteps);
    for (int k = 0; k < RecordsSteps; ++k)
        t[static_cast<std::size_t>(k)] = k * TimeStep;
    py::array_t<double> currents(
        {static_cast<py::ssize_t>(traces.size()), static_cast<py::ssize_t>(RecordsSteps)});
    double *data = currents.mutable_data();
    for (const CurrentTrace &trace : traces)
        data = std::copy(trace.begin(), trace.end(), data);
    out["t_ms"] = arrayOf<double>(t);
    out["currents_pA"] = currents;
    out["quanta"] = arrayOf<std::int64_t>(result.get<RecordsResult>().quanta);
    out["seeds"] = arrayOf<std::int64_t>(result.run.seeds);
    return out;
}

} // namespace

void register_records(py::module_ &m)
{
    defineRun(m, Experiment::Records, recordsResult,
        R"(Records trials: records(seed=None, trials=1, background=False, **parameters)
or records(seeds=[...], ...), one seed per trial; trial r of seed S uses mixed_seed(S, r).
Returns a dict: t_ms (321 steps), currents_pA (trials x 321), quanta, seeds, provenance.)");
}

} // namespace cleftsim::binding
