#include "editors/drawingpending.h"

namespace cleftsim {
namespace pending {

void ElSchemePaint(Canvas &, int, const QColor &) { }

} // namespace pending
} // namespace cleftsim
