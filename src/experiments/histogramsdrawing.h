#pragma once

#include "drawing/canvas.h"
#include "model/parameterset.h"
#include "runners/histogramsrun.h"

namespace cleftsim {

// The figures of the Histograms window share one layout: the count axis
// at x = 38 upwards from y = 210 (400 / trial count pixels per trial), m at
// 10 pixels per quantum from x = 38, latency at 5 pixels per time step, the
// current at one pixel per bin of a tenth of a quantum's share.
namespace histo {
constexpr int X0 = 38; // left edge of the bars [px]
constexpr int Base = 210; // bottom of the bars [px]
} // namespace histo

// Wipes a figure white and leaves pen and font grey and the brush clear,
// ready for the axes.
void ClearImage(Canvas &image);

// The trial-count axis at x = 38, without an axis line: a tick and a label
// every tickStep trials up to half the trials.
void CountAxis(Canvas &image, int trialCount, int tickStep);

// Marks the mean at x = 38 + a: a dotted red line, a small white triangle
// pointing down onto it and the value centred above. Leaves the pen black
// and solid and the brush white and solid.
void MeanMarker(Canvas &image, int a, const QString &text);

// The labels of m = 0..N under the bars and the axis title.
void MAxis(Canvas &image, int N);

// The empty frames of the quanta, current and latency histograms. The current
// frame stays blank when V2 = 0 (no current scale exists).
void frameQuantaHistogram(Canvas &image, const ParameterSet &p, int trialCount);
void frameCurrentHistogram(Canvas &image, const ParameterSet &p, int trialCount);
void frameLatencyHistogram(Canvas &image, const ParameterSet &p, int trialCount);

// The results of a run drawn into the framed figures. The current histogram
// needs the set's Gb and V2 for the background marker; it draws nothing when
// the run collected no currents.
void drawQuantaHistogram(Canvas &image, const HistogramsResult &r);
void drawCurrentHistogram(Canvas &image, const HistogramsResult &r, const ParameterSet &p);
void drawLatencyHistogram(Canvas &image, const HistogramsResult &r);

// A bar from y = 210 up by height pixels over x1..x2 - 1, outlined with the
// pen and filled with the brush; a bar of height 0 draws nothing.
void histogramBar(Canvas &image, int x1, int x2, int height);

} // namespace cleftsim
