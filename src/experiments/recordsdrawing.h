#pragma once

#include "drawing/canvas.h"
#include "model/parameterset.h"
#include "model/trial.h"

namespace cleftsim {

// The Records figure: time along x from step 0 at x = 46 (one pixel per
// step), potentials at y = 65 - V (one pixel per mV), the current at
// y = traceBase + 168 - I (one pixel per pA), and the release ticks of site j
// over y = 167 + 2j and the pixel below.

// Offset of the current panel for N sites [px]: 2N from 10 sites up, else 20.
int recordsTraceBase(int N);

// Clears the figure and draws its empty frame for the parameters p: the
// potential and current axes, the time axis and, where Rg > 0, the
// saturation level V2 / Rg. Returns the trace base (recordsTraceBase(p.N)).
int frameRecords(Canvas &c, const ParameterSet &p);

// Draws one Records trial as it is computed: one black pixel per step for
// the spike, the current and the shifted potential (in the vector drawing
// three black curves through the values), and a red tick per release. An
// observer of the trial routine.
class RecordsTraceDrawer {
public:
    static constexpr bool usesProbability = false;

    RecordsTraceDrawer(Canvas &canvas, int traceBase);
    void step(const StepReport &s);
    void release(int j, int k);

private:
    Canvas &m_canvas;
    int m_zeroCurrent; // y of 0 pA
};

// The left edge of the caption that gives a trial's quanta: under the end
// of the spike of duration du.
int recordsQuantaCaptionLeft(double du);

} // namespace cleftsim
