#pragma once

#include "drawing/canvas.h"
#include "model/rounding.h"
#include "runners/isvsweep.h"

#include <cstdint>

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

// The silver pixels of trials at one potential, gathered as rows of its
// column in the quanta and current figures and drawn together, exactly as
// drawIsvTrial draws them one by one: for the many trials of a sweep.
class IsvTrialColumn {
public:
    // Gathers the pixels of one trial, for a quanta figure of quantumStep
    // pixels per quantum.
    void add(int quantumStep, const IsvTrialResult &r)
    {
        m_quanta.add(145 - r.m * quantumStep);
        m_current.add(40 - Round(r.peak));
    }
    // Draws the pixels gathered into the column of potential V and forgets them.
    void draw(Canvas &quanta, Canvas &current, int V);
    bool empty() const { return m_quanta.empty() && m_current.empty(); }

    // Rows the column holds; the figures are shorter, so that every row
    // outside it is outside the figure too.
    static constexpr int Rows = 256;

private:
    // The rows of one figure hit, one bit per row.
    struct RowSet {
        void add(int y)
        {
            if (y >= 0 && y < Rows)
                words[y >> 6] |= std::uint64_t(1) << (y & 63);
        }
        bool empty() const { return (words[0] | words[1] | words[2] | words[3]) == 0; }
        void draw(Canvas &c, int x);
        std::uint64_t words[Rows / 64] = {};
    };
    RowSet m_quanta;
    RowSet m_current;
};

// One point of the sweep: the black mean curves of m, of the peak current and
// of the EPSC amplitude carried on to it (started there for the first point
// of the sweep). The pen is expected black.
void drawIsvPoint(Canvas &quanta, Canvas &current, Canvas &epsc, int quantumStep, const IsvPoint &p);

} // namespace cleftsim
