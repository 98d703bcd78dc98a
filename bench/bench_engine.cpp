// Speed of the trial engine: the default Is vs V2 sweep on the vector and
// the scalar draw scans, against the plain step rule (the reference) and
// against bare generator draws (the floor); and the default sweep of 10000
// trials per point and a Histograms run of 10000 trials as wholes.

#include "engine/histogramsrun.h"
#include "engine/isvsweep.h"
#include "model/parameterset.h"
#include "model/random.h"
#include "model/rounding.h"
#include "model/trial.h"
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
    bench::CountingGenerator rng {Generator(Seed)};
    SiteTable sites;
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        PointTotals totals;
        for (int trial = 0; trial < trials; ++trial) {
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
    bench::CountingGenerator rng {Generator(Seed)};
    SiteTable sites;
    const double maxCurrent = MaxCurrent(p);
    for (int trial = 0; trial < HistogramsTrials; ++trial) {
        double peak = 0;
        const int m = bench::referenceHistogramsTrial(p, spikeSteps, sites, rng, peak);
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

[[noreturn]] void refuse(const char *what)
{
    std::fprintf(stderr, "bench_engine: the engine and the reference differ (%s); no measurement\n", what);
    std::abort();
}

// Runs the engine on both scans and the reference once and aborts unless
// they agree in every total, bit for bit, and leave the generator in the
// same state.
void checkEngineAgainstReference()
{
    ModelState state;
    state.reset();
    const Sweep reference = referenceSweep(state.LPC, state.SpikeSteps, TrialsPerPoint);
    for (DrawScan scan : {DrawScan::Scalar, DrawScan::Vector}) {
        setDrawScan(scan);
        if (!(engineSweep(state, TrialsPerPoint) == reference))
            refuse(scan == DrawScan::Scalar ? "sweep, scalar scan" : "sweep, vector scan");
        HistogramsTotals h = engineHistograms(state);
        const HistogramsTotals r = referenceHistograms(state.LPC, state.SpikeSteps);
        if (!(h == r))
            refuse(scan == DrawScan::Scalar ? "histograms, scalar scan" : "histograms, vector scan");
        drawsPerHistograms = r.draws;
    }
    setDrawScan(DrawScan::Vector);
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

void sweepOnScan(benchmark::State &state, DrawScan scan)
{
    ModelState model;
    model.reset();
    setDrawScan(scan);
    for (auto _ : state) {
        Sweep s = engineSweep(model, TrialsPerPoint);
        benchmark::DoNotOptimize(s);
    }
    setDrawScan(DrawScan::Vector);
    setDrawCounter(state, drawsPerSweep);
}

// The default sweep (181 potentials x 100 trials) on the vector scan.
void BM_SweepVector(benchmark::State &state)
{
    sweepOnScan(state, DrawScan::Vector);
}
BENCHMARK(BM_SweepVector)->Unit(benchmark::kMillisecond);

// The same on the scalar scan.
void BM_SweepScalar(benchmark::State &state)
{
    sweepOnScan(state, DrawScan::Scalar);
}
BENCHMARK(BM_SweepScalar)->Unit(benchmark::kMillisecond);

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

// The same by the plain step rule, once; it must give the engine's totals.
void BM_FullSweepReference(benchmark::State &state)
{
    ModelState model;
    model.reset();
    Sweep s;
    for (auto _ : state) {
        s = referenceSweep(model.LPC, model.SpikeSteps, FullTrialsPerPoint);
        benchmark::DoNotOptimize(s);
    }
    if (!(s == fullSweepResult))
        refuse("full sweep");
    drawsPerFullSweep = s.draws;
}
BENCHMARK(BM_FullSweepReference)->Unit(benchmark::kMillisecond)->Iterations(1);

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
    auto has = [&](const char *a, const char *b) { return t.count(a) && t.count(b); };
    std::printf("\n");
    if (has("BM_SweepVector", "BM_SweepReference") && t.count("BM_SweepScalar") && t.count("BM_DrawFloor")) {
        const double perDraw = 1e6 / double(drawsPerSweep); // ms per sweep -> ns per draw
        std::printf("sweep of %d trials per potential: %lld draws\n", TrialsPerPoint, drawsPerSweep);
        std::printf("CPU time per draw: vector %.3f ns, scalar %.3f ns, reference %.3f ns, floor %.3f ns\n",
            t.at("BM_SweepVector") * perDraw, t.at("BM_SweepScalar") * perDraw,
            t.at("BM_SweepReference") * perDraw, t.at("BM_DrawFloor") * perDraw);
        std::printf("reference / vector: %.2f, reference / scalar: %.2f, floor / vector: %.2f\n",
            t.at("BM_SweepReference") / t.at("BM_SweepVector"),
            t.at("BM_SweepReference") / t.at("BM_SweepScalar"),
            t.at("BM_DrawFloor") / t.at("BM_SweepVector"));
    }
    if (has("BM_FullSweep", "BM_FullSweepReference"))
        std::printf("full sweep of %d trials per potential (%lld draws): engine %.0f ms, reference %.0f ms, "
                    "reference / engine: %.2f (target at least 12)\n",
            FullTrialsPerPoint, drawsPerFullSweep, t.at("BM_FullSweep"), t.at("BM_FullSweepReference"),
            t.at("BM_FullSweepReference") / t.at("BM_FullSweep"));
    if (has("BM_Histograms", "BM_HistogramsReference"))
        std::printf(
            "Histograms run of %d trials: engine %.1f ms, reference %.1f ms, reference / engine: %.2f\n",
            HistogramsTrials, t.at("BM_Histograms"), t.at("BM_HistogramsReference"),
            t.at("BM_HistogramsReference") / t.at("BM_Histograms"));
    return 0;
}
