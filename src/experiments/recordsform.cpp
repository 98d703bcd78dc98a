#include "experiments/recordsform.h"

namespace cleftsim {

TcsForm4::TcsForm4(QWidget *parent)
    : ChildForm(QStringLiteral("csForm4"), QStringLiteral("Records"), 381, 389, 4, QPoint(0, 372), parent)
{
}

} // namespace cleftsim
