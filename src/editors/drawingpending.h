#pragma once

// TEMPORARY: stands in for drawing/morphoscheme.h and drawing/elscheme.h until
// they are merged; removed then. Draws nothing.

#include "drawing/canvas.h"

namespace cleftsim {
namespace pending {

struct SpineHead {
    int Rh = 15; // spine-head radius [pixels]
    double rho = 0.0; // height of the leader ellipse [pixels]
};

void drawMorphoBase(Canvas &canvas);
void drawSpineWord(Canvas &canvas);
SpineHead SpineHeadPaint(Canvas &canvas, int N);
void eraseCleftLeader(Canvas &canvas, int Rh);
void ElSchemePaint(Canvas &canvas, int N, const QColor &face);

} // namespace pending
using namespace pending;
} // namespace cleftsim
