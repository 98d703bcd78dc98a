#pragma once

#include "drawing/canvas.h"
#include "engine/isvsweep.h"

namespace cleftsim {

// The figures of Is vs V2 share one potential scale, x = 140 + V (1 px per
// mV). The quanta figure puts m quanta at y = 145 - m * quantumStep, the
// current figures put I at y = 40 - I (1 px per pA).

// Pixels per quantum of the quanta figure for N sites: 140 div N.
int isvQuantumStep(int N);

// Clears and frames the quanta figure for N sites; returns its quantum step.
int frameIsvQuanta(Canvas &c, int N);
// Clears and frames a current figure (synaptic current or EPSC amplitude).
void frameIsvCurrent(Canvas &c);
// Frames the three figures with their titles, as a sweep finds them: the
// EPSC figure only with the background switched on (otherwise it is left as
// it is and the current figure carries the second title). Returns the
// quantum step of the quanta figure.
int frameIsvFigures(Canvas &quanta, Canvas &current, Canvas &epsc, int N, bool background);

// One trial of the sweep: a silver pixel at its m and at its peak current.
void drawIsvTrial(Canvas &quanta, Canvas &current, int quantumStep, int V, const IsvTrialResult &r);
// One point of the sweep: the black mean curves of m, of the peak current and
// of the EPSC amplitude carried on to it (started there for the first point
// of the sweep). The pen is expected black.
void drawIsvPoint(Canvas &quanta, Canvas &current, Canvas &epsc, int quantumStep, const IsvPoint &p);

} // namespace cleftsim
