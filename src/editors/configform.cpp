#include "editors/configform.h"

namespace cleftsim {

TcsForm0::TcsForm0(QWidget *parent)
    : ChildForm(QStringLiteral("csForm0"), QStringLiteral("Model Configuration"), 366, 79, 0, QPoint(0, 62), parent)
{
}

} // namespace cleftsim
