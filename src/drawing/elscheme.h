#pragma once

#include "drawing/canvas.h"

#include <vector>

namespace cleftsim {

// Size of the electrical circuit picture.
namespace elscheme {
inline constexpr int Width = 240; // [px]
inline constexpr int Height = 371; // [px]
} // namespace elscheme

// The x positions of the N conductance branches: 20 pixels apart centred on
// x = 100 for up to 10 sites, spread over 10 .. 190 for more.
std::vector<int> branchPositions(int N);

// Draws the equivalent circuit of the synapse for N release sites onto a
// 240 x 371 canvas, over whatever the canvas holds (the caller lays the
// background: the window's face colour and, where the picture overlaps the
// morphological picture, that picture). `face` fills the bubbles, boxes and
// text boxes. The compartment labels over the picture are not drawn here.
void ElSchemePaint(Canvas &c, int N, const QColor &face);

} // namespace cleftsim
