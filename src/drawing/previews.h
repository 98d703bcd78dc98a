#pragma once

#include "drawing/canvas.h"
#include "model/parameterset.h"

namespace cleftsim {

// The live previews of the parameter editors, each drawn into a canvas
// cleared to the window face, from the parameters it shows.

// The presynaptic spike: x = 10 + 20 t (t in msec), y = 40 - V (V in mV),
// with leaders to the captions of Emax, V1r and the duration.
void drawSpikePreview(Canvas &c, const ParameterSet &p);

// The probability that one site releases during one spike of spikeSteps
// steps against the presynaptic potential: x = V + 100, y = 101 - 100 P,
// with the guides at the level gf.
void drawReleasePreview(Canvas &c, const ParameterSet &p, int spikeSteps);

// One site's conductance after a release, relative to Gmax: x = 20 + 20 t,
// y = 84 - 80 g / Gmax; the background level and its leader only while the
// background conductance is switched on.
void drawConductancePreview(Canvas &c, const ParameterSet &p);

// Where the widgets around the quanta preview belong [px, in the editor
// window].
struct QuantaPreviewPlaces {
    int titleLeft = 0; // left edge of the right axis' title
    int captionCentre = 0; // centre of the caption under the columns
};

// The spine conductance of m sites at their peak and N - m at background
// (right axis, nS) and the relative amplitude of the m-th quantum (left
// axis), for m = 0..N in columns 10 pixels wide. Returns where the right
// axis' title and the caption belong, which depend on N and the scale.
QuantaPreviewPlaces drawQuantaPreview(Canvas &c, const ParameterSet &p);

} // namespace cleftsim
