#pragma once

#include <QPoint>
#include <QRegion>
#include <QString>

#include <vector>

namespace cleftsim {

class Canvas;

// The rule every frame keeps so that nothing it writes overprints: tick
// labels that would run into one another are thinned, the roundest kept;
// labels, captions and axis titles stand clear of the text already written
// and inside their figure. Text is compared by its ink, the pixels its
// glyphs paint, so a title's subscripts set in its spaces are no collision.

// One piece of a label's text, written by textOut at its top-left corner.
struct LabelPiece {
    QPoint at;
    QString text;
};

// A tick label as the figure's layout places it, with its rank: where
// labels collide, those of higher rank are kept first, of equal rank the
// first.
struct TickLabel {
    std::vector<LabelPiece> pieces;
    int rank = 0;
};

// A label of one piece.
TickLabel tickLabel(int x, int y, const QString &text, int rank);

// The rank of tick k of an axis counted from 0: the rounder, the higher
// (3 for multiples of 10, 2 of 5, 1 of 2, else 0).
int tickRank(int k);

// Pixels kept free between the ink of a tick label and other text: the
// width of a space, so that neighbours do not read as one number (9 and 10
// as "910").
constexpr int LabelGap = 4;
// Pixels kept free between the ink of a title or caption and other text.
constexpr int TitleGap = 2;

// Whether ink keeps gap free pixels from every pixel of other ink.
bool inkClear(const QRegion &ink, const QRegion &other, int gap);

// Writes the labels with textOut, in their order. A label whose ink would
// leave the figure is moved into it by as little as it takes; one whose ink
// would come closer than LabelGap to the text the canvas holds, or to a
// label of higher rank (or of equal rank and earlier) kept, is left out.
// Where nothing collides every label is written as laid out.
void writeTickLabels(Canvas &canvas, const std::vector<TickLabel> &labels);

// Writes a label with textOut at (x, y) or, where its ink would come closer
// than TitleGap to the text the canvas holds or leave the figure, moved
// along x to the nearest clear place inside the figure (right before left
// at equal distance; where there is none, only into the figure). Returns
// the x written at.
int writeLabelClear(Canvas &canvas, int x, int y, const QString &text);

// Writes a vertical axis title with DrawVerticalText from (x, y) or, where
// its ink would leave the figure at its bottom or come closer than TitleGap
// to the text the canvas holds, from as little higher up as clears them
// while it stays inside the figure (where no place does, only clear of the
// bottom). Returns the y written from.
int writeVerticalTitle(Canvas &canvas, int x, int y, const QString &text);

// The ink of DrawVerticalText(canvas, x, y, text).
QRegion verticalTitleInk(const Canvas &canvas, int x, int y, const QString &text);

} // namespace cleftsim
