#pragma once

// TEMPORARY: stands in for drawing/elscheme.h until it is merged; removed
// then. Draws nothing.

#include "drawing/canvas.h"

namespace cleftsim {
namespace pending {

void ElSchemePaint(Canvas &canvas, int N, const QColor &face);

} // namespace pending
using namespace pending;
} // namespace cleftsim
