#pragma once

#include "drawing/canvas.h"

namespace cleftsim {

// Colours of the morphological picture of the synapse.
namespace morpho {
inline const QColor Interior(208, 208, 208); // cell interiors (light grey)
inline const QColor Membrane(240, 240, 240); // membrane bands (near-white)
inline const QColor Label(127, 127, 127); // labels and leader lines of the base picture
inline const QColor Mark(128, 128, 128); // dots and leader of the spine head
inline const QColor Leader(80, 80, 80); // exclusive-or cleft leader (dark grey)
inline constexpr int Width = 180; // [px] size of the picture
inline constexpr int Height = 270; // [px]
inline constexpr int HeadX = 88, HeadY = 129; // [px] centre of the spine head
} // namespace morpho

// A box (x1, y1)-(x2, y2) in canvas convention: it covers x1..x2-1, y1..y2-1.
struct Box {
    int x1, y1, x2, y2;
    bool operator==(const Box &o) const { return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2; }
};

// What SpineHeadPaint leaves behind for the erase step and the circuit picture.
struct SpineHead {
    int Rh; // [px] spine-head radius
    double rho; // [px] height parameter of the cleft-leader ellipse
};

// Draws the 180 x 270 base picture of the synapse: axon and bouton, the spine
// rising from the dendrite into the bouton, labels and the fixed leader lines.
// The disc of radius 60 around the head centre holds nothing but interior and
// the spine, so that SpineHeadPaint can wipe it.
void drawMorphoBase(Canvas &c);

// Draws the 14 x 36 picture of the word spine, written upwards in grey on the
// interior colour; it sits inside the spine neck.
void drawSpineWord(Canvas &c);

// Spine-head radius for N release sites: 15 up to 2 sites, 5 N up to 10, then 50.
int spineHeadRadius(int N);
// Height parameter of the cleft-leader ellipse for a head of radius Rh.
double leaderRho(int Rh);
// Half-width a = round(880 rho / Rh^2) of the cleft-leader ellipse.
int leaderHalfWidth(int Rh);
// The head's outer box and the box of the cleft-leader arc.
Box spineHeadBox(int Rh);
Box leaderArcBox(int Rh);

// Draws the spine head for N sites into the picture: wipes the old head, draws
// the head with its membrane, one active zone and five vesicles per site, the
// neck joint, the leader dots and, in exclusive-or, the cleft leader arc.
// Returns the radius and ellipse height that describe the arc now drawn.
SpineHead SpineHeadPaint(Canvas &c, int N);

// Removes the cleft leader drawn by the last SpineHeadPaint (exclusive-or
// again with the same arc), then leaves the pen in copy mode.
void eraseCleftLeader(Canvas &c, int Rh);

} // namespace cleftsim
