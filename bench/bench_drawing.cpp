// Speed of the canvas operations that the pictures repeat on every change of N
// and of the trace drawing of the figures.
#include "drawing/canvas.h"
#include "drawing/elscheme.h"
#include "drawing/morphoscheme.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

using namespace cleftsim;

// The cleft leader of the largest head: an ellipse of 1200 x 3408 pixels of
// which a sliver crosses the 180 x 270 picture.
static void BM_HugeLeaderArc(benchmark::State &state)
{
    Canvas c(morpho::Width, morpho::Height, colors::Silver);
    c.setPenColor(morpho::Leader);
    c.setPenMode(Canvas::PenMode::Xor);
    for (auto _ : state) {
        c.arc(-512, 82, 688, 3490, 184, 82, 88, 82);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HugeLeaderArc);

// One change of N: erase the leader, draw the new head.
static void BM_SpineHeadChange(benchmark::State &state)
{
    Canvas c(morpho::Width, morpho::Height);
    drawMorphoBase(c);
    SpineHead head = SpineHeadPaint(c, 10);
    int n = 1;
    for (auto _ : state) {
        eraseCleftLeader(c, head.Rh);
        head = SpineHeadPaint(c, n);
        n = n % 20 + 1;
    }
}
BENCHMARK(BM_SpineHeadChange);

static void BM_ElSchemePaint(benchmark::State &state)
{
    Canvas c(elscheme::Width, elscheme::Height);
    for (auto _ : state)
        ElSchemePaint(c, 20, QColor(212, 208, 200));
}
BENCHMARK(BM_ElSchemePaint);

// A navy curve of width 3 over a figure, one segment per pixel column.
static void BM_WideCurve(benchmark::State &state)
{
    Canvas c(190, 141, colors::Silver);
    c.setPenColor(colors::Navy);
    c.setPenWidth(3);
    for (auto _ : state) {
        c.moveTo(0, 70);
        for (int x = 1; x <= 180; ++x)
            c.lineTo(x, 70 + (x * 37) % 61 - 30);
    }
}
BENCHMARK(BM_WideCurve);

// Thin trace segments, as the records figure draws them.
static void BM_ThinSegments(benchmark::State &state)
{
    Canvas c(400, 300);
    for (auto _ : state) {
        c.moveTo(0, 150);
        for (int x = 1; x <= 320; ++x)
            c.lineTo(x, 150 + (x * 13) % 41 - 20);
    }
}
BENCHMARK(BM_ThinSegments);

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the labels of the pictures
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
