#pragma once

#include <QString>

namespace cleftsim {

class Canvas;

// Ticks of a conductance axis whose unit adapts to the full scale: ticks
// every 1 nS from a full scale of 1 nS up, every 0.1 nS below.
struct AdaptiveTicks {
    int unit = 1; // ticks per nS: 1 or 10
    int count = 0; // number of ticks above the base line
    double step = 0.0; // pixels per tick

    // The scale for a full-scale value fullScale [nS] drawn height pixels high.
    static AdaptiveTicks forScale(double fullScale, int height);

    // Height of tick i (1..count) for the base line y0.
    int tickY(int y0, int i) const;
    // Text of tick i, or an empty text when the tick is not labelled: with more
    // than four ticks only the fifth carries a label.
    QString label(int i) const;
};

// Draws the ticks of fullScale on a vertical axis at x = axisX with base line
// y0: each tick from the axis to x = tickEndX, its label in grey 7 pixels above
// it at x = labelX1 (unit 1 nS) or labelX10 (unit 0.1 nS). The canvas pen and
// brush are used as they are set. Returns the scale drawn.
AdaptiveTicks drawAdaptiveTicks(
    Canvas &canvas, double fullScale, int height, int y0, int axisX, int tickEndX, int labelX1, int labelX10);

} // namespace cleftsim
