#include "run/runresults.h"

#include "model/rounding.h"
#include "run/experimenttable.h"
#include "run/json.h"

#include <cmath>
#include <sstream>

namespace cleftsim {

bool IsvRunResult::complete(int trialsPerPoint) const
{
    if (static_cast<int>(points.size()) != SweepFirstV - SweepLastV + 1)
        return false;
    for (const IsvPoint &point : points)
        if (point.trials != trialsPerPoint)
            return false;
    return true;
}

namespace {

std::string real6(double x)
{
    return formatFixed(x, 6);
}

// A real with six decimals, or null for a missing value (NaN).
std::string realOrNull(double x)
{
    return std::isnan(x) ? std::string("null") : real6(x);
}

// JSON text of an array of counts.
template <class Counts> std::string countList(const Counts &counts, int used)
{
    std::string text = "[";
    for (int i = 0; i < used; ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(counts[static_cast<std::size_t>(i)]);
    }
    return text + "]";
}

// The opening members of every JSON output: who made it, from what.
std::string provenance(const RunDescription &run)
{
    std::string text = "{\n";
    text += "  \"program\": \"Cleftsim\",\n";
    text += std::string("  \"version\": \"") + programVersion() + "\",\n";
    text += std::string("  \"experiment\": \"") + experimentName(run.experiment) + "\",\n";
    text += "  \"trials\": " + std::to_string(run.trials) + ",\n";
    if (experimentEntry(run.experiment).seedPerTrial) {
        text += "  \"seeds\": [";
        for (std::size_t i = 0; i < run.seeds.size(); ++i)
            text += (i > 0 ? ", " : "") + std::to_string(run.seeds[i]);
        text += "],\n";
    } else {
        text += "  \"seed\": " + std::to_string(run.seeds.empty() ? 0u : run.seeds.front()) + ",\n";
    }
    text += "  \"BackgroundOn\": " + std::to_string(run.params.BackgroundOn) + ",\n";
    text += "  \"parameters\": {";
    bool first = true;
    for (const ParamInfo *rule : numericParams()) {
        text += std::string(first ? "" : ", ") + "\"" + rule->name
            + "\": " + formatFixed(fieldValue(run.params, rule->field), rule->decimals);
        first = false;
    }
    text += "},\n";
    return text;
}

} // namespace

std::string provenanceJson(const RunDescription &run)
{
    std::string text = provenance(run);
    text.erase(text.size() - 2); // the comma before the results
    return text + "\n}\n";
}

std::string recordsText(const RecordsResult &records)
{
    std::ostringstream out;
    writeRecordsFile(out, records.traces);
    return out.str();
}

std::string isvCsv(const IsvRunResult &isv)
{
    std::string text = "V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA\n";
    for (const IsvPoint &point : isv.points)
        text += std::to_string(point.V) + "," + std::to_string(point.trials) + "," + real6(point.meanQuanta())
            + "," + real6(point.meanPeak()) + "," + real6(point.meanEpsc()) + "\n";
    return text;
}

std::string recordsJson(const RunDescription &run, const RecordsResult &records)
{
    std::string text = provenance(run);
    text += "  \"sample_interval_ms\": 0.1,\n";
    text += "  \"quanta\": " + countList(records.quanta, static_cast<int>(records.quanta.size())) + ",\n";
    text += "  \"currents_pA\": [\n";
    for (std::size_t r = 0; r < records.traces.size(); ++r) {
        text += "    [";
        for (int b = 0; b <= 160; ++b)
            text += (b > 0 ? ", " : "") + formatFixed(records.traces[r][static_cast<std::size_t>(2 * b)], 3);
        text += r + 1 < records.traces.size() ? "],\n" : "]\n";
    }
    text += "  ]\n}\n";
    return text;
}

std::string isvJson(const RunDescription &run, const IsvRunResult &isv)
{
    std::string text = provenance(run);
    text += std::string("  \"complete\": ") + (isv.complete(run.trials) ? "true" : "false") + ",\n";
    if (!isv.note.empty())
        text += "  \"note\": " + jsonString(isv.note) + ",\n";
    text += "  \"points\": [\n";
    for (std::size_t i = 0; i < isv.points.size(); ++i) {
        const IsvPoint &point = isv.points[i];
        text += "    {\"V2_mV\": " + std::to_string(point.V) + ", \"trials\": " + std::to_string(point.trials)
            + ", \"mean_quanta\": " + real6(point.meanQuanta()) + ", \"mean_peak_pA\": "
            + real6(point.meanPeak()) + ", \"mean_epsc_pA\": " + real6(point.meanEpsc())
            + ", \"std_quanta\": " + realOrNull(point.sdQuanta()) + ", \"std_peak_pA\": "
            + realOrNull(point.sdPeak()) + ", \"std_epsc_pA\": " + realOrNull(point.sdPeak())
            + (i + 1 < isv.points.size() ? "},\n" : "}\n");
    }
    text += "  ]\n}\n";
    return text;
}

std::string histogramsNote(const RunDescription &run)
{
    if (!(run.params.V2 > 0))
        return {};
    return "V2 " + formatFixed(run.params.V2, 0)
        + " mV is positive: every current is outward, and the peak current counts inward current only, "
          "so every trial's peak is 0 pA (the Is vs V2 sweep shows the outward peaks)";
}

std::string histogramsJson(const RunDescription &run, const HistogramsResult &h)
{
    const ScatterStats stats = scatterStatistics(h);
    const int N = h.N;
    const int S = h.spikeSteps;
    std::string text = provenance(run);
    const std::string note = histogramsNote(run);
    if (!note.empty())
        text += "  \"note\": " + jsonString(note) + ",\n";
    text += "  \"N\": " + std::to_string(N) + ",\n";
    text += "  \"SpikeSteps\": " + std::to_string(S) + ",\n";
    text += "  \"quanta\": " + countList(h.quanta, N + 1) + ",\n";
    text += "  \"current\": " + (h.currentCollected ? countList(h.current, 10 * N + 1) : std::string("null"))
        + ",\n";
    text += "  \"latency\": " + countList(h.latency, S + 1) + ",\n";
    text += "  \"joint\": [\n";
    for (int m = 0; m <= N; ++m)
        text += "    " + countList(h.joint[static_cast<std::size_t>(m)], S + 1) + (m < N ? ",\n" : "\n");
    text += "  ],\n";
    text += "  \"mean_quanta\": " + real6(h.meanQuanta()) + ",\n";
    text += "  \"mean_peak_pA\": " + (h.currentCollected ? real6(h.meanPeak()) : std::string("null")) + ",\n";
    text += "  \"mean_latency_ms\": "
        + (h.releasingTrials() > 0 ? real6(h.meanLatencyMs()) : std::string("null")) + ",\n";
    text += "  \"r\": " + (stats.hasR ? real6(stats.r) : std::string("null")) + ",\n";
    text += "  \"max_current_pA\": " + real6(h.maxCurrent) + "\n";
    text += "}\n";
    return text;
}

} // namespace cleftsim
