// Speed of the trial engine: the default Is vs V2 sweep on every draw scan
// the processor has, against the plain step rule (the reference) and
// against bare generator draws (the floor); and the default sweep of 10000
// trials per point and a Histograms run of 10000 trials as wholes. The
// ratios of engine and reference come from runs of the two in turns.

#include "model/drawscan.h"
#include "model/parameterset.h"
#include "model/random.h"
#include "model/rounding.h"
#include "model/trial.h"
#include "plaintrial.h"
#include "runners/histogramsrun.h"
#include "runners/isvsweep.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace cleftsim;

namespace {

// Counts the numbers drawn, so that costs can be given per draw.
struct CountingGenerator {
    Generator rng;
    long long draws = 0;
    double next()
    {
        ++draws;
        return rng.next();
    }
};

// One trial by the plain step rule over the short window at clamp potential
// V, with its peak current as the window follows it.
int referenceTrial(const ParameterSet &p, int spikeSteps, SiteTable &sites, CountingGenerator &rng, double V,
    double &peak, bool inwardOnly)
{
    testing::PlainPeak follow {V, inwardOnly, 0.0};
    const int m
        = testing::plainTrial(p, spikeSteps, sites, rng, V, shortWindowStart(), shortWindowEnd(p), follow);
    peak = follow.peak;
    return m;
}

// Trials per clamp potential of the per-draw benchmarks (the window's
// default) and of the whole sweep (the window's largest).
constexpr int TrialsPerPoint = 100;
constexpr int FullTrialsPerPoint = 10000;
constexpr int HistogramsTrials = 10000;
constexpr std::uint32_t Seed = 20261207u;

struct PointTotals {
    long long quanta = 0;
    double peakSum = 0;
};

struct Sweep {
    std::vector<PointTotals> points;
    std::uint32_t finalSeed = 0;
    long long draws = 0;
};

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool operator==(const Sweep &a, const Sweep &b)
{
    if (a.finalSeed != b.finalSeed || a.points.size() != b.points.size())
        return false;
    for (std::size_t i = 0; i < a.points.size(); ++i)
        if (a.points[i].quanta != b.points[i].quanta || !sameBits(a.points[i].peakSum, b.points[i].peakSum))
            return false;
    return true;
}

Sweep engineSweep(ModelState &state, int trials)
{
    Sweep sweep;
    Generator rng(Seed);
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        const IsvPoint point = runIsvPoint(state, rng, V, trials);
        sweep.points.push_back({point.totalQuanta, point.peakSum});
    }
    sweep.finalSeed = rng.seed();
    return sweep;
}

Sweep referenceSweep(const ParameterSet &p, int spikeSteps, int trials)
{
    Sweep sweep;
    CountingGenerator rng {Generator(Seed)};
    SiteTable sites;
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        PointTotals totals;
        for (int trial = 0; trial < trials; ++trial) {
            double peak = 0;
            totals.quanta += referenceTrial(p, spikeSteps, sites, rng, V, peak, false);
            totals.peakSum += peak;
        }
        sweep.points.push_back(totals);
    }
    sweep.finalSeed = rng.rng.seed();
    sweep.draws = rng.draws;
    return sweep;
}

// The totals of a Histograms run that the reference works out as well.
struct HistogramsTotals {
    std::array<int, 21> quanta {};
    std::array<int, 201> current {};
    std::array<int, 41> latency {};
    long long sumQuanta = 0;
    double sumPeak = 0;
    std::uint32_t finalSeed = 0;
    long long draws = 0;

    bool operator==(const HistogramsTotals &o) const
    {
        return quanta == o.quanta && current == o.current && latency == o.latency && sumQuanta == o.sumQuanta
            && sameBits(sumPeak, o.sumPeak) && finalSeed == o.finalSeed;
    }
};

HistogramsTotals engineHistograms(ModelState &state)
{
    Generator rng(Seed);
    const HistogramsResult h = runHistograms(state, rng, HistogramsTrials);
    HistogramsTotals t;
    t.quanta = h.quanta;
    t.current = h.current;
    t.latency = h.latency;
    t.sumQuanta = h.sumQuanta;
    t.sumPeak = h.sumPeak;
    t.finalSeed = rng.seed();
    return t;
}

HistogramsTotals referenceHistograms(const ParameterSet &p, int spikeSteps)
{
    HistogramsTotals t;
    CountingGenerator rng {Generator(Seed)};
    SiteTable sites;
    const double maxCurrent = MaxCurrent(p);
    for (int trial = 0; trial < HistogramsTrials; ++trial) {
        double peak = 0;
        const int m = referenceTrial(p, spikeSteps, sites, rng, p.V2, peak, true);
        int first = shortWindowStart() + spikeSteps;
        for (int j = 1; j <= p.N; ++j)
            if (!sites[j].Available && sites[j].ReleaseStep < first)
                first = sites[j].ReleaseStep;
        ++t.quanta[static_cast<std::size_t>(m)];
        ++t.current[static_cast<std::size_t>(currentBin(p.N, peak, maxCurrent))];
        ++t.latency[static_cast<std::size_t>(first - shortWindowStart())];
        t.sumQuanta += m;
        t.sumPeak += peak;
    }
    t.finalSeed = rng.rng.seed();
    t.draws = rng.draws;
    return t;
}

// Numbers drawn by the sweeps and the Histograms run; set by the start-up check.
long long drawsPerSweep = 0;
long long drawsPerFullSweep = 0;
long long drawsPerHistograms = 0;
Sweep fullSweepResult;
// The scan of the whole-run benchmarks: the one a trial takes by itself
// (CLEFTSIM_DRAW_SCAN, or else the widest this processor has).
std::string mainScan;

[[noreturn]] void refuse(const std::string &what)
{
    std::fprintf(
        stderr, "bench_engine: the engine and the reference differ (%s); no measurement\n", what.c_str());
    std::abort();
}

// Parameter sets that spare the engine's shortcuts little: the sweep of
// each with few trials per point.
constexpr int UnfavourableTrials = 20;

struct NamedSet {
    const char *name;
    ParameterSet p;
};

std::vector<NamedSet> unfavourableSets()
{
    std::vector<NamedSet> sets;
    ParameterSet strong = DefaultParameterSet; // 20 sites, large fast quanta, strong feedback
    strong.N = 20;
    strong.Gmax = 9.99;
    strong.tc = 0.5;
    strong.Rg = 9.99;
    strong.ex = 1.0;
    strong.gf = 0.9999;
    sets.push_back({"strong", strong});
    ParameterSet above = DefaultParameterSet; // release probability above 1 at rest
    above.N = 20;
    above.V1r = 40;
    above.Emax = -40;
    above.ex = 1.0;
    sets.push_back({"above1", above});
    ParameterSet none = DefaultParameterSet; // no norm factor
    none.N = 20;
    none.gf = 0;
    none.Rg = 9.99;
    none.Gmax = 9.99;
    sets.push_back({"nonorm", none});
    ParameterSet background = DefaultParameterSet; // background on
    background.BackgroundOn = 1;
    background.N = 20;
    background.Gmax = 2.0;
    background.Gb = 0.15;
    background.Rg = 2.0;
    background.tc = 0.5;
    sets.push_back({"background", background});
    ParameterSet longest = DefaultParameterSet; // the longest spike and slowest quanta
    longest.N = 20;
    longest.du = 2.0;
    longest.tc = 9.99;
    longest.gf = 0.9;
    sets.push_back({"longest", longest});
    ParameterSet pulse = DefaultParameterSet; // feedback lifts p above 1
    pulse.N = 20;
    pulse.ex = 1.0;
    pulse.Emax = -40;
    pulse.V1r = -100;
    pulse.Rg = 9.99;
    pulse.Gmax = 9.99;
    pulse.du = 2.0;
    sets.push_back({"pulse", pulse});
    return sets;
}

ModelState stateWith(const ParameterSet &p)
{
    ModelState state;
    state.reset();
    state.setCurrent(p);
    return state;
}

// Runs the engine on every scan the processor has and the reference once
// and aborts unless they agree in every total, bit for bit, and leave the
// generator in the same state.
void checkEngineAgainstReference()
{
    mainScan = drawScanInUse();
    ModelState state;
    state.reset();
    const Sweep reference = referenceSweep(state.LPC, state.SpikeSteps, TrialsPerPoint);
    const HistogramsTotals r = referenceHistograms(state.LPC, state.SpikeSteps);
    std::vector<Sweep> unfavourable;
    for (const NamedSet &set : unfavourableSets())
        unfavourable.push_back(referenceSweep(set.p, spikeStepsFor(set.p.du), UnfavourableTrials));
    for (const std::string &scan : availableDrawScans()) {
        useDrawScan(scan);
        if (!(engineSweep(state, TrialsPerPoint) == reference))
            refuse("sweep, " + scan + " scan");
        if (!(engineHistograms(state) == r))
            refuse("histograms, " + scan + " scan");
        for (std::size_t i = 0; i < unfavourable.size(); ++i) {
            ModelState other = stateWith(unfavourableSets()[i].p);
            if (!(engineSweep(other, UnfavourableTrials) == unfavourable[i]))
                refuse(std::string(unfavourableSets()[i].name) + ", " + scan + " scan");
        }
    }
    useDrawScan(mainScan);
    drawsPerHistograms = r.draws;
    drawsPerSweep = reference.draws;
    // The reference of the full sweep runs in its own benchmark, which
    // checks its totals against these.
    fullSweepResult = engineSweep(state, FullTrialsPerPoint);
}

void setDrawCounter(benchmark::State &state, long long draws)
{
    state.counters["per_draw"] = benchmark::Counter(
        double(draws), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The default sweep (181 potentials x 100 trials) on the named scan.
void sweepOnScan(benchmark::State &state, const std::string &scan)
{
    ModelState model;
    model.reset();
    useDrawScan(scan);
    for (auto _ : state) {
        Sweep s = engineSweep(model, TrialsPerPoint);
        benchmark::DoNotOptimize(s);
    }
    useDrawScan(mainScan);
    setDrawCounter(state, drawsPerSweep);
}

// The same sweep by the plain step rule.
void BM_SweepReference(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        Sweep s = referenceSweep(model.LPC, model.SpikeSteps, TrialsPerPoint);
        benchmark::DoNotOptimize(s);
    }
    setDrawCounter(state, drawsPerSweep);
}
BENCHMARK(BM_SweepReference)->Unit(benchmark::kMillisecond);

// As many bare draws and compares as the sweep makes: the floor.
void BM_DrawFloor(benchmark::State &state)
{
    const double p = ReleaseProbability(DefaultParameterSet, 20, DefaultParameterSet.Emax);
    for (auto _ : state) {
        Generator rng(Seed);
        long long hits = 0;
        for (long long i = 0; i < drawsPerSweep; ++i)
            hits += rng.next() < p;
        benchmark::DoNotOptimize(hits);
    }
    setDrawCounter(state, drawsPerSweep);
}
BENCHMARK(BM_DrawFloor)->Unit(benchmark::kMillisecond);

// The default sweep with 10000 trials per point, as a whole, on the engine.
void BM_FullSweep(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        Sweep s = engineSweep(model, FullTrialsPerPoint);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(BM_FullSweep)->Unit(benchmark::kMillisecond)->Iterations(3);

// A Histograms run of 10000 trials with the default parameters.
void BM_Histograms(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        HistogramsTotals h = engineHistograms(model);
        benchmark::DoNotOptimize(h);
    }
    setDrawCounter(state, drawsPerHistograms);
}
BENCHMARK(BM_Histograms)->Unit(benchmark::kMillisecond);

void BM_HistogramsReference(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        HistogramsTotals h = referenceHistograms(model.LPC, model.SpikeSteps);
        benchmark::DoNotOptimize(h);
    }
    setDrawCounter(state, drawsPerHistograms);
}
BENCHMARK(BM_HistogramsReference)->Unit(benchmark::kMillisecond);

// The sweep of an unfavourable set on the engine and by the plain step rule.
void unfavourableSweep(benchmark::State &state, const ParameterSet &p, bool reference)
{
    ModelState model = stateWith(p);
    for (auto _ : state) {
        Sweep s = reference ? referenceSweep(p, model.SpikeSteps, UnfavourableTrials)
                            : engineSweep(model, UnfavourableTrials);
        benchmark::DoNotOptimize(s);
    }
}

// The engine and the reference in turns. A shared machine's speed can
// change by half within seconds; where the two take turns on pieces of
// their work, a change falls on both alike, and the ratio of their summed
// CPU times holds where that of two runs far apart does not.
double cpuMilliseconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

struct InTurns {
    double engine = 0; // CPU time, summed [ms]
    double reference = 0;
    int rounds = 0;
    double ratio() const { return reference / engine; }
};

// Rounds of the two, each piece of work the engine's and then the
// reference's, or the other way round every other round.
InTurns inTurns(int rounds, const std::function<void()> &engine, const std::function<void()> &reference)
{
    InTurns t;
    t.rounds = rounds;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool engineNow = (turn == 0) == (round % 2 == 0);
            const double start = cpuMilliseconds();
            (engineNow ? engine : reference)();
            (engineNow ? t.engine : t.reference) += cpuMilliseconds() - start;
        }
    }
    return t;
}

// The full sweep with the two in turns at every clamp potential, the
// generators of each going on from point to point as in a sweep; the
// totals must be those of the engine's whole sweep.
InTurns fullSweepInTurns()
{
    ModelState model;
    model.reset();
    Generator engineRng(Seed);
    CountingGenerator referenceRng {Generator(Seed)};
    SiteTable sites;
    Sweep e, r;
    InTurns total;
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        PointTotals engineTotals, referenceTotals;
        const InTurns t = inTurns(
            1,
            [&] {
                const IsvPoint point = runIsvPoint(model, engineRng, V, FullTrialsPerPoint);
                engineTotals = {point.totalQuanta, point.peakSum};
            },
            [&] {
                for (int trial = 0; trial < FullTrialsPerPoint; ++trial) {
                    double peak = 0;
                    referenceTotals.quanta
                        += referenceTrial(model.LPC, model.SpikeSteps, sites, referenceRng, V, peak, false);
                    referenceTotals.peakSum += peak;
                }
            });
        total.engine += t.engine;
        total.reference += t.reference;
        e.points.push_back(engineTotals);
        r.points.push_back(referenceTotals);
    }
    total.rounds = 1;
    e.finalSeed = engineRng.seed();
    r.finalSeed = referenceRng.rng.seed();
    if (!(e == fullSweepResult) || !(r == fullSweepResult))
        refuse("full sweep");
    drawsPerFullSweep = referenceRng.draws;
    return total;
}

// Passes the runs on to the console and keeps each benchmark's time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times; // CPU time per iteration [ms]

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    checkEngineAgainstReference();
    const std::vector<std::string> scans = availableDrawScans();
    for (const std::string &scan : scans)
        benchmark::RegisterBenchmark(("BM_Sweep_" + scan).c_str(), [scan](benchmark::State &state) {
            sweepOnScan(state, scan);
        })->Unit(benchmark::kMillisecond);
    for (const NamedSet &set : unfavourableSets()) {
        const ParameterSet p = set.p;
        benchmark::RegisterBenchmark(("BM_Unfavourable_" + std::string(set.name)).c_str(),
            [p](benchmark::State &state) { unfavourableSweep(state, p, false); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_UnfavourableReference_" + std::string(set.name)).c_str(),
            [p](benchmark::State &state) { unfavourableSweep(state, p, true); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // The ratios, from the engine and the reference in turns, for the
    // benchmarks that ran.
    const auto &t = reporter.times;
    ModelState model;
    model.reset();
    auto sweep = [](ModelState &m, int trials) { benchmark::DoNotOptimize(engineSweep(m, trials)); };
    auto reference = [](const ParameterSet &p, int spikeSteps, int trials) {
        benchmark::DoNotOptimize(referenceSweep(p, spikeSteps, trials));
    };
    std::printf("\nscan of the whole runs: %s (CLEFTSIM_DRAW_SCAN to choose)\n", mainScan.c_str());
    std::printf("reference / engine: CPU times of the two in turns, summed over the rounds\n");
    if (t.count("BM_SweepReference") && t.count("BM_DrawFloor")) {
        const double perDraw = 1e6 / double(drawsPerSweep); // ms per sweep -> ns per draw
        std::printf("sweep of %d trials per potential: %lld draws; CPU time per draw: reference %.3f ns, "
                    "floor %.3f ns\n",
            TrialsPerPoint, drawsPerSweep, t.at("BM_SweepReference") * perDraw,
            t.at("BM_DrawFloor") * perDraw);
        for (const std::string &scan : scans) {
            if (!t.count("BM_Sweep_" + scan))
                continue;
            useDrawScan(scan);
            const InTurns r = inTurns(
                5, [&] { sweep(model, TrialsPerPoint); },
                [&] { reference(model.LPC, model.SpikeSteps, TrialsPerPoint); });
            useDrawScan(mainScan);
            std::printf(
                "  %s scan: %.3f ns per draw; in turns (%d rounds) engine %.1f ms, reference %.1f ms a "
                "sweep, reference / engine: %.2f\n",
                scan.c_str(), t.at("BM_Sweep_" + scan) * perDraw, r.rounds, r.engine / r.rounds,
                r.reference / r.rounds, r.ratio());
        }
    }
    if (t.count("BM_FullSweep")) {
        const InTurns r = fullSweepInTurns();
        std::printf("full sweep of %d trials per potential (%lld draws), in turns at every potential: engine "
                    "%.0f ms, reference %.0f ms, reference / engine: %.2f\n",
            FullTrialsPerPoint, drawsPerFullSweep, r.engine, r.reference, r.ratio());
    }
    if (t.count("BM_Histograms")) {
        const InTurns r = inTurns(
            10, [&] { benchmark::DoNotOptimize(engineHistograms(model)); },
            [&] { benchmark::DoNotOptimize(referenceHistograms(model.LPC, model.SpikeSteps)); });
        std::printf(
            "Histograms run of %d trials, in turns (%d rounds): engine %.1f ms, reference %.1f ms a run, "
            "reference / engine: %.2f\n",
            HistogramsTrials, r.rounds, r.engine / r.rounds, r.reference / r.rounds, r.ratio());
    }
    for (const NamedSet &set : unfavourableSets()) {
        if (!t.count("BM_Unfavourable_" + std::string(set.name)))
            continue;
        ModelState other = stateWith(set.p);
        const InTurns r = inTurns(
            3, [&] { sweep(other, UnfavourableTrials); },
            [&] { reference(set.p, other.SpikeSteps, UnfavourableTrials); });
        std::printf(
            "unfavourable set %s, sweep of %d trials per potential, in turns (%d rounds): engine %.1f ms, "
            "reference %.1f ms a sweep, reference / engine: %.2f\n",
            set.name, UnfavourableTrials, r.rounds, r.engine / r.rounds, r.reference / r.rounds, r.ratio());
    }
    return 0;
}
