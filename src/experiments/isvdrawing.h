#pragma once

#include "drawing/canvas.h"
#include "engine/isvsweep.h"
#include "model/rounding.h"

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

// Draws the silver pixels of the trials as drawIsvTrial does, straight into
// the rasters of the two figures, for the many trials of a running sweep. It
// holds on to the rasters' pixels: make a new one after anything else may
// have drawn on, reframed or copied the figures (pending messages let
// through, a point drawn).
class IsvTrialPixels {
public:
    IsvTrialPixels(Canvas &quanta, Canvas &current, int quantumStep);
    void draw(int V, const IsvTrialResult &r) const
    {
        const int x = 140 + V;
        m_quanta.plot(x, 145 - r.m * m_quantumStep);
        m_current.plot(x, 40 - Round(r.peak));
    }

private:
    // One figure's pixels, row by row.
    struct Raster {
        explicit Raster(QImage &image);
        void plot(int x, int y) const
        {
            if (x >= 0 && y >= 0 && x < width && y < height)
                bits[y * stride + x] = Silver;
        }
        static constexpr QRgb Silver = 0xffc0c0c0; // colors::Silver, opaque
        QRgb *bits;
        qsizetype stride; // pixels from one row to the next
        int width;
        int height;
    };
    Raster m_quanta;
    Raster m_current;
    int m_quantumStep;
};
// One point of the sweep: the black mean curves of m, of the peak current and
// of the EPSC amplitude carried on to it (started there for the first point
// of the sweep). The pen is expected black.
void drawIsvPoint(Canvas &quanta, Canvas &current, Canvas &epsc, int quantumStep, const IsvPoint &p);

} // namespace cleftsim
