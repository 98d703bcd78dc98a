#include "experiments/isvform.h"

namespace cleftsim {

TcsForm5::TcsForm5(QWidget *parent)
    : ChildForm(QStringLiteral("csForm5"), QStringLiteral("Is vs V2"), 553, 193, 5, QPoint(0, 177), parent)
{
}

} // namespace cleftsim
