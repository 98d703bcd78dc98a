#include "editors/subsynform.h"

namespace cleftsim {

TcsForm3::TcsForm3(QWidget *parent)
    : ChildForm(QStringLiteral("csForm3"), QStringLiteral("Subsynaptic Settings"), 276, 407, 3, QPoint(0, 390), parent)
{
}

} // namespace cleftsim
