#pragma once

#include <QIcon>
#include <QImage>

namespace cleftsim {

// The 16 x 16 glyph of the figure-copy buttons: a cyan square at the top
// left, a black arrow pointing down and a red square at the bottom right; the
// disabled glyph is the same drawing in greys. Transparent background.
QImage duplicateGlyph(bool enabled);

// The 16 x 16 glyph of the save button: a floppy disk. Transparent background.
QImage saveGlyph(bool enabled);

// The 32 x 32 window icon of the frozen figure copies: a red outline drawing of
// a figure on a black and white ground, in the sixteen basic colours.
QImage copyWindowIcon();

// The 190 x 146 line drawing of the About window: a synaptic bouton with its
// vesicles on a dendritic spine.
QImage programPicture();

// The application icon (a bouton over a spine in navy, red and greys), drawn
// at 16, 24, 32, 48, 64 and 128 pixels; data/cleftsim.svg is the same drawing
// for the desktop.
QIcon applicationIcon();

// The application icon drawn at one size (a square of `size` pixels, ARGB).
QImage applicationIconImage(int size);

} // namespace cleftsim
