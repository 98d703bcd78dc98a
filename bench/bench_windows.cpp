#include "app/mainwindow.h"
#include "app/startup.h"
#include "experiments/histogramswindow.h"
#include "experiments/isvwindow.h"
#include "runners/histogramsrun.h"
#include "runners/isvsweep.h"
#include "widgets/currentmodel.h"
#include "widgets/edits.h"
#include "widgets/windowset.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

// What the Is vs V2 window costs around the engine: the default sweep with
// 10000 trials per point, once as the batch tool runs it and once by the
// window's Run (silver pixels, mean curves, repaints and the yields to pending
// messages every 10 msec), from the same seed. Their ratio is the window's
// overhead. The same for a Histograms run of 10000 trials and its four figures.
// The ratio of the sweeps comes from the two in turns, as a shared machine's
// speed can change by half within seconds.

using namespace cleftsim;

namespace {

constexpr int TrialsPerPoint = 10000;
constexpr std::uint32_t Seed = 42;

void BM_SweepBatch(benchmark::State &state)
{
    ModelState m;
    m.reset();
    Generator rng;
    for (auto _ : state) {
        rng.setSeed(Seed);
        benchmark::DoNotOptimize(runIsvSweep(m, rng, TrialsPerPoint));
    }
}
BENCHMARK(BM_SweepBatch)->Unit(benchmark::kMillisecond)->Iterations(3);

// The window set, shown, with the Is vs V2 window set to the sweep's trials
// and seed.
IsvWindow *openIsvWindow(std::unique_ptr<MainWindow> &main)
{
    main = createWindowSet();
    main->show();
    auto *isv = static_cast<IsvWindow *>(windows().forms[5]);
    isv->showAndRaise();
    auto *spin = isv->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"));
    spin->setText(QString::number(TrialsPerPoint));
    isv->SpinEdit1Change();
    isv->setSeedSource([] { return Seed; });
    return isv;
}

void BM_SweepWindow(benchmark::State &state)
{
    std::unique_ptr<MainWindow> main;
    IsvWindow *isv = openIsvWindow(main);
    for (auto _ : state)
        isv->RunBtnClick();
    if (isv->pointsDrawn() != 181)
        state.SkipWithError("the window's sweep did not reach -140 mV");
    main.reset();
    windows() = WindowSet {};
}
BENCHMARK(BM_SweepWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

constexpr int HistogramsTrials = 10000;

void BM_HistogramsBatch(benchmark::State &state)
{
    ModelState m;
    m.reset();
    Generator rng;
    for (auto _ : state) {
        rng.setSeed(Seed);
        benchmark::DoNotOptimize(runHistograms(m, rng, HistogramsTrials));
    }
}
BENCHMARK(BM_HistogramsBatch)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_HistogramsWindow(benchmark::State &state)
{
    std::unique_ptr<MainWindow> main = createWindowSet();
    main->show();
    auto *histograms = static_cast<HistogramsWindow *>(windows().forms[6]);
    histograms->showAndRaise();
    auto *spin = histograms->findChild<SpinEdit *>(QStringLiteral("SpinEdit1"));
    spin->setText(QString::number(HistogramsTrials));
    histograms->SpinEdit1Change();
    histograms->setSeedSource([] { return Seed; });
    for (auto _ : state)
        histograms->RunBtnClick();
    if (histograms->lastResult().trials != HistogramsTrials)
        state.SkipWithError("the window's run did not take every trial");
    main.reset();
    windows() = WindowSet {};
}
BENCHMARK(BM_HistogramsWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

double cpuMilliseconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// The batch tool's sweep and the window's Run in turns, the first of each
// round the other way round every other round: their summed CPU times, and
// the median over the rounds of the window's wall time (what a user waits,
// repaints included) against the batch sweep's.
void sweepsInTurns(int rounds)
{
    std::unique_ptr<MainWindow> main;
    IsvWindow *isv = openIsvWindow(main);
    ModelState m;
    m.reset();
    Generator rng;
    double batch = 0, window = 0;
    std::vector<double> wallRatios;
    for (int round = 0; round < rounds; ++round) {
        double wallBatch = 0, wallWindow = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const double start = cpuMilliseconds();
            const auto wallStart = std::chrono::steady_clock::now();
            const auto wall = [&wallStart] {
                return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
                    .count();
            };
            if ((turn == 0) == (round % 2 == 0)) {
                rng.setSeed(Seed);
                benchmark::DoNotOptimize(runIsvSweep(m, rng, TrialsPerPoint));
                batch += cpuMilliseconds() - start;
                wallBatch = wall();
            } else {
                isv->RunBtnClick();
                window += cpuMilliseconds() - start;
                wallWindow = wall();
            }
        }
        wallRatios.push_back(wallWindow / wallBatch);
        std::printf("round %d: wall time batch %.0f ms, window %.0f ms, window / batch %.3f\n", round + 1,
            wallBatch, wallWindow, wallRatios.back());
    }
    const bool whole = isv->pointsDrawn() == 181;
    main.reset();
    windows() = WindowSet {};
    if (!whole) {
        std::fprintf(stderr, "bench_windows: the window's sweep did not reach -140 mV\n");
        return;
    }
    std::sort(wallRatios.begin(), wallRatios.end());
    std::printf(
        "\nIs vs V2 sweep of %d trials per potential, in turns (%d rounds): batch %.0f ms, window %.0f ms a "
        "sweep of CPU time, window / batch: %.3f; wall time window / batch, median of the rounds: %.3f\n",
        TrialsPerPoint, rounds, batch / rounds, window / rounds, window / batch,
        wallRatios[wallRatios.size() / 2]);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    sweepsInTurns(5);
    return 0;
}
