#include "editors/presynform.h"

namespace cleftsim {

TcsForm2::TcsForm2(QWidget *parent)
    : ChildForm(QStringLiteral("csForm2"), QStringLiteral("Presynaptic Settings"), 276, 407, 2, QPoint(0, 390), parent)
{
}

} // namespace cleftsim
