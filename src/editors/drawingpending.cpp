#include "editors/drawingpending.h"

namespace cleftsim {
namespace pending {

void drawMorphoBase(Canvas &canvas)
{
    canvas.clear(colors::Silver);
}

void drawSpineWord(Canvas &canvas)
{
    canvas.clear(QColor(208, 208, 208));
}

SpineHead SpineHeadPaint(Canvas &, int N)
{
    SpineHead head;
    head.Rh = N <= 2 ? 15 : (N <= 10 ? 5 * N : 50);
    return head;
}

void eraseCleftLeader(Canvas &, int) { }

void ElSchemePaint(Canvas &, int, const QColor &) { }

} // namespace pending
} // namespace cleftsim
