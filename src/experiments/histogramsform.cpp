#include "experiments/histogramsform.h"

namespace cleftsim {

TcsForm6::TcsForm6(QWidget *parent)
    : ChildForm(QStringLiteral("csForm6"), QStringLiteral("Histograms"), 508, 251, 6, QPoint(0, 236), parent)
{
}

} // namespace cleftsim
