// Speed of the trial engine on the default Is vs V2 sweep, against the plain
// step rule (the reference) and against bare generator draws (the floor).

#include "experiments/engine/isvsweep.h"
#include "model/parameterset.h"
#include "model/random.h"
#include "reference_trial.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace cleftsim;

namespace {

// Trials per clamp potential: the window's default is 100; a tenth keeps a
// sweep short enough to repeat.
constexpr int TrialsPerPoint = 10;
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

Sweep engineSweep(ModelState &state)
{
    Sweep sweep;
    Generator rng(Seed);
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        const IsvPoint point = runIsvPoint(state, rng, V, TrialsPerPoint);
        sweep.points.push_back({point.totalQuanta, point.peakSum});
    }
    sweep.finalSeed = rng.seed();
    return sweep;
}

Sweep referenceSweep(const ParameterSet &p, int spikeSteps)
{
    Sweep sweep;
    bench::CountingGenerator rng {Generator(Seed)};
    SiteTable sites;
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        PointTotals totals;
        for (int trial = 0; trial < TrialsPerPoint; ++trial) {
            double peak = 0;
            totals.quanta += bench::referenceIsvTrial(p, spikeSteps, sites, rng, V, peak);
            totals.peakSum += peak;
        }
        sweep.points.push_back(totals);
    }
    sweep.finalSeed = rng.rng.seed();
    sweep.draws = rng.draws;
    return sweep;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Numbers drawn by one default sweep; set by the start-up check.
long long drawsPerSweep = 0;

// Runs both sweeps once and aborts unless they agree in every total, bit
// for bit, and leave the generator in the same state.
void checkEngineAgainstReference()
{
    ModelState state;
    state.reset();
    const Sweep engine = engineSweep(state);
    const Sweep reference = referenceSweep(state.LPC, state.SpikeSteps);
    bool same = engine.finalSeed == reference.finalSeed && engine.points.size() == reference.points.size();
    for (std::size_t i = 0; same && i < engine.points.size(); ++i)
        same = engine.points[i].quanta == reference.points[i].quanta
            && sameBits(engine.points[i].peakSum, reference.points[i].peakSum);
    if (!same) {
        std::fprintf(stderr, "bench_engine: the engine and the reference sweep differ; no measurement\n");
        std::abort();
    }
    drawsPerSweep = reference.draws;
}

void setDrawCounter(benchmark::State &state)
{
    state.counters["per_draw"] = benchmark::Counter(
        double(drawsPerSweep), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["draws"] = double(drawsPerSweep);
}

// The default sweep (181 potentials x TrialsPerPoint trials) on the engine.
void BM_SweepEngine(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        Sweep s = engineSweep(model);
        benchmark::DoNotOptimize(s);
    }
    setDrawCounter(state);
}
BENCHMARK(BM_SweepEngine)->Unit(benchmark::kMillisecond);

// The same sweep by the plain step rule.
void BM_SweepReference(benchmark::State &state)
{
    ModelState model;
    model.reset();
    for (auto _ : state) {
        Sweep s = referenceSweep(model.LPC, model.SpikeSteps);
        benchmark::DoNotOptimize(s);
    }
    setDrawCounter(state);
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
    setDrawCounter(state);
}
BENCHMARK(BM_DrawFloor)->Unit(benchmark::kMillisecond);

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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto &t = reporter.times;
    if (t.count("BM_SweepEngine") && t.count("BM_SweepReference") && t.count("BM_DrawFloor")) {
        const double engine = t.at("BM_SweepEngine");
        const double reference = t.at("BM_SweepReference");
        const double floor = t.at("BM_DrawFloor");
        const double perDraw = 1e6 / double(drawsPerSweep); // ms per sweep -> ns per draw
        std::printf("\nsweep: %lld draws (%d trials per potential)\n", drawsPerSweep, TrialsPerPoint);
        std::printf("CPU time per draw: engine %.3f ns, reference %.3f ns, floor %.3f ns\n", engine * perDraw,
            reference * perDraw, floor * perDraw);
        std::printf("reference / engine: %.2f (target at least 3)\n", reference / engine);
        std::printf("engine / floor:     %.2f (target at most 2)\n", engine / floor);
    }
    return 0;
}
