// bench_fit: the fit of measured data against the simulations it runs. A
// fit of Rg and N to eight potentials of 30 recorded trials, its candidates
// simulated on one thread; the evaluator clocks the simulations, so that
// what is left is the search's own time (the grid, the cache of candidates,
// the likelihood, the profiles).

#include "run/fit.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

using namespace cleftsim;

namespace {

double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// A recording made by the engine at Rg = 1.50 (other seeds than the fit's).
FitRequest twoParameterFit(int trials)
{
    ParameterSet truth = DefaultParameterSet;
    truth.Rg = 1.5;
    std::vector<SeededPotential> design;
    for (int V : {-100, -80, -60, -40, -20, 10, 25, 40})
        design.push_back({V, 5000u + static_cast<std::uint32_t>(V + 200)});
    std::string text = "V2_mV,mean_peak_pA,std_pA,n\n";
    for (const IsvPoint &p : runSeededIsvPoints(truth, design, 30))
        text += std::to_string(p.V) + "," + std::to_string(p.meanPeak()) + "," + std::to_string(p.sdPeak())
            + ",30\n";
    FitRequest request;
    request.data.name = "bench.csv";
    if (!parseMeasuredData(text, request.data, nullptr))
        std::abort();
    request.free = {{findParam("Rg"), 0.0, 5.0}, {findParam("N"), 1.0, 20.0}};
    request.trials = trials;
    request.seed = 11;
    return request;
}

struct Timing {
    double total = 0; // CPU seconds of the whole fit
    double simulation = 0; // CPU seconds in the evaluator
    int evaluations = 0;
};

Timing timedFit(const FitRequest &request)
{
    Timing timing;
    const FitEvaluator local = localFitEvaluator(request, 1);
    const FitEvaluator clocked = [&](const std::vector<ParameterSet> &batch) {
        const double start = cpuSeconds();
        auto points = local(batch);
        timing.simulation += cpuSeconds() - start;
        return points;
    };
    const double start = cpuSeconds();
    const FitResult result = runFit(request, clocked);
    timing.total = cpuSeconds() - start;
    timing.evaluations = result.evaluations;
    return timing;
}

void BM_FitRgAndN(benchmark::State &state)
{
    const FitRequest request = twoParameterFit(static_cast<int>(state.range(0)));
    Timing sum;
    for (auto _ : state) {
        const Timing t = timedFit(request);
        sum.total += t.total;
        sum.simulation += t.simulation;
        sum.evaluations = t.evaluations;
    }
    state.counters["candidates"] = sum.evaluations;
    state.counters["search_share"] = (sum.total - sum.simulation) / sum.total;
}
BENCHMARK(BM_FitRgAndN)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
