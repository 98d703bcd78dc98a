#pragma once

#include "model/parameterset.h"

namespace cleftsim {

class Canvas;

// Clears the failure-rate chart to silver over the owning window's outer size
// (width x height) and draws its empty frame: the failure-rate axis at
// x = 140 (0 % at y = 106, 100 % at y = 6) and the potential axis at y = 106
// (x = 140 + V, from -140 mV at x = 0 to +40 mV at x = 180).
void drawFailureChartFrame(Canvas &canvas, int width, int height);

// Draws the mean failure rate of p against the clamp potential as a navy line
// three pixels wide, from +40 mV at the right to -140 mV at the left, and
// leaves the pen black and one pixel wide.
void drawFailureCurve(Canvas &canvas, const ParameterSet &p);

// The height of the curve at clamp potential V [pixels of the chart].
int failureCurveY(const ParameterSet &p, double V);

} // namespace cleftsim
