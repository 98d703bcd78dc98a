#pragma once

#include "drawing/canvas.h"
#include "model/parameterset.h"
#include "runners/histogramsrun.h"

namespace cleftsim {

// The joint quanta-latency figure of the Histograms window: trials over the
// (m, latency) plane, m at 10 pixels per quantum along x from x = 38 and the
// latency step s at 5 pixels per step upwards from y = 210.

// Clears the figure and draws its frame: the m axis along the bottom, the
// latency axis on the left with ticks every 0.1 msec, labels every 0.5 msec
// and the vertical title.
void frameJointFigure(Canvas &image, const ParameterSet &p);

// Draws the results of a run into the framed figure: each occupied cell in a
// grey level scaled to the fullest included cell (m >= 1, s < SpikeSteps),
// the failures' white box, then the statistics (scatterStatistics): "r = ",
// the red mean pixel and the aqua two-sigma ellipse. Without an occupied
// included cell there is no grey scale and no statistics to draw.
void drawJointFigure(Canvas &image, const HistogramsResult &r);

// The pixel of the point (m, s) of the plane, taken in the middle of its cell.
QPoint jointPixel(double m, double s);

} // namespace cleftsim
