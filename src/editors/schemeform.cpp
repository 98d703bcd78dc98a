#include "editors/schemeform.h"

namespace cleftsim {

TcsForm1::TcsForm1(QWidget *parent)
    : ChildForm(QStringLiteral("csForm1"), QStringLiteral("Scheme Settings"), 562, 385, 1, QPoint(0, 368), parent)
{
}

} // namespace cleftsim
