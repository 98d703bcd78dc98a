// The Is vs V2 sweep: the means and spreads of every clamp potential.

#include "common.h"

#include <cstdint>
#include <vector>

namespace cleftsim::binding {

namespace {

py::dict isvResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const auto &points = result.get<IsvRunResult>().points;
    std::vector<std::int64_t> V, trials;
    std::vector<double> quanta, peak, epsc, sdQuanta, sdPeak;
    for (const IsvPoint &point : points) {
        V.push_back(point.V);
        trials.push_back(point.trials);
        quanta.push_back(point.meanQuanta());
        peak.push_back(point.meanPeak());
        epsc.push_back(point.meanEpsc());
        sdQuanta.push_back(point.sdQuanta());
        sdPeak.push_back(point.sdPeak());
    }
    out["V2_mV"] = arrayOf<std::int64_t>(V);
    out["trials"] = arrayOf<std::int64_t>(trials);
    out["mean_quanta"] = arrayOf<double>(quanta);
    out["mean_peak_pA"] = arrayOf<double>(peak);
    out["mean_epsc_pA"] = arrayOf<double>(epsc);
    out["std_quanta"] = arrayOf<double>(sdQuanta);
    out["std_peak_pA"] = arrayOf<double>(sdPeak);
    out["std_epsc_pA"] = arrayOf<double>(sdPeak); // the background current is the same in every trial
    return out;
}

} // namespace

void register_isv(py::module_ &m)
{
    defineRun(m, Experiment::Isv, isvResult,
        R"(The Is vs V2 sweep from +40 to -140 mV: isv(seed=None, trials=100, background=False, **parameters).
Returns a dict of arrays V2_mV, trials, mean_quanta, mean_peak_pA, mean_epsc_pA and the provenance.)");
}

} // namespace cleftsim::binding
