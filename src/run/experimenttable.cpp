#include "run/experimenttable.h"

#include <cstddef>
#include <iterator>

namespace cleftsim {

namespace {

// The seed of a run seeded once (0 for a description with none, which no
// check lets through).
std::uint32_t runSeed(const RunDescription &run)
{
    return run.seeds.empty() ? 0u : run.seeds.front();
}

// Records: one Run per seed, each seeded before it starts; the stop check
// after every Run.
ExperimentOutcome runRecordsOf(ModelState &state, const RunDescription &run, const StopCheck &stop)
{
    if (!stop)
        return runRecords(state, run.seeds);
    RecordsResult result;
    Generator rng;
    NoObserver none;
    for (std::uint32_t seed : run.seeds) {
        result.traces.emplace_back();
        result.quanta.push_back(recordsRun(state, rng, seed, result.traces.back(), none));
        if (stop())
            break;
    }
    return result;
}

// Passes the stop check on to the sweep.
class SweepStop : public IsvSweepObserver {
public:
    explicit SweepStop(const StopCheck &stop)
        : m_stop(stop)
    {
    }
    bool stopRequested() override { return m_stop && m_stop(); }

private:
    const StopCheck &m_stop;
};

ExperimentOutcome runIsvOf(ModelState &state, const RunDescription &run, const StopCheck &stop)
{
    Generator rng(runSeed(run));
    SweepStop observer(stop);
    IsvRunResult result;
    result.points = runIsvSweep(state, rng, run.trials, observer);
    return result;
}

// Passes the stop check on to a Histograms run.
class HistogramsStop : public HistogramsObserver {
public:
    explicit HistogramsStop(const StopCheck &stop)
        : m_stop(stop)
    {
    }
    bool pause() override { return !(m_stop && m_stop()); }

private:
    const StopCheck &m_stop;
};

ExperimentOutcome runHistogramsOf(ModelState &state, const RunDescription &run, const StopCheck &stop)
{
    Generator rng(runSeed(run));
    HistogramsStop observer(stop);
    return runHistograms(state, rng, run.trials, observer);
}

std::string recordsTextOf(const RunResult &result)
{
    return recordsText(result.get<RecordsResult>());
}

std::string recordsJsonOf(const RunResult &result)
{
    return recordsJson(result.run, result.get<RecordsResult>());
}

std::string isvCsvOf(const RunResult &result)
{
    return isvCsv(result.get<IsvRunResult>());
}

std::string isvJsonOf(const RunResult &result)
{
    return isvJson(result.run, result.get<IsvRunResult>());
}

std::string histogramsJsonOf(const RunResult &result)
{
    return histogramsJson(result.run, result.get<HistogramsResult>());
}

// Every edit clears the Records figures but the background switch, which
// changes no Run's current.
bool recordsClearedBy(Param edited)
{
    return edited != Param::BackgroundOn;
}

// The sweep runs every clamp potential itself: V2 leaves it; the switch
// clears it, framed anew.
bool isvClearedBy(Param edited)
{
    return edited != Param::V2;
}

bool histogramsClearedBy(Param edited)
{
    return edited != Param::BackgroundOn;
}

// Constant: filled before any code runs.
const ExperimentEntry Entries[] = {
    {Experiment::Records, "records", MaxRecords, 1, true, "text", "txt", runRecordsOf, recordsTextOf,
        recordsJsonOf, recordsClearedBy, nullptr},
    {Experiment::Isv, "isv", MaxRunTrials, 100, false, "csv", "csv", runIsvOf, isvCsvOf, isvJsonOf,
        isvClearedBy, runSeededIsvPoints},
    {Experiment::Histograms, "histograms", MaxRunTrials, 100, false, nullptr, nullptr, runHistogramsOf,
        nullptr, histogramsJsonOf, histogramsClearedBy, nullptr},
};

// A model state that holds the parameters of a run alone.
ModelState stateFor(const ParameterSet &params)
{
    ModelState state;
    state.LPI = params;
    state.setCurrent(params);
    return state;
}

} // namespace

const std::vector<ExperimentEntry> &experimentTable()
{
    static const std::vector<ExperimentEntry> table(std::begin(Entries), std::end(Entries));
    return table;
}

const ExperimentEntry &experimentEntry(Experiment e)
{
    return Entries[static_cast<std::size_t>(e)];
}

bool clearsFigures(Experiment e, Param edited)
{
    return experimentEntry(e).clearedBy(edited);
}

RunResult runExperiment(const RunDescription &run, const StopCheck &stop)
{
    RunResult result;
    result.run = run;
    ModelState state = stateFor(run.params);
    result.outcome = experimentEntry(run.experiment).run(state, run, stop);
    return result;
}

std::string runOutput(const RunResult &result, OutputFormat format)
{
    const ExperimentEntry &entry = experimentEntry(result.run.experiment);
    return format == OutputFormat::Json || !entry.text ? entry.json(result) : entry.text(result);
}

} // namespace cleftsim
