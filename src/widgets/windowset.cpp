#include "widgets/windowset.h"

namespace cleftsim {

WindowSet &windows()
{
    static WindowSet set;
    return set;
}

bool changesFailureLabel(Param f)
{
    switch (f) {
    case Param::N:
    case Param::Rg:
    case Param::V2:
    case Param::Emax:
    case Param::ex:
    case Param::gf:
    case Param::Gb: return true;
    default: return false;
    }
}

bool changesFailureChart(Param f)
{
    return changesFailureLabel(f) && f != Param::V2;
}

void parameterAccepted(Param f)
{
    WindowSet &w = windows();
    if (w.csMainForm)
        w.csMainForm->showParameter(f);
    if (w.csForm1) {
        if (changesFailureLabel(f))
            w.csForm1->LabelsN0();
        if (changesFailureChart(f))
            w.csForm1->FailuresChart();
    }
    if (f == Param::BackgroundOn)
        return;
    if (w.csForm4)
        w.csForm4->EmptyImage();
    if (w.csForm5 && f != Param::V2)
        w.csForm5->EmptyImages();
    if (w.csForm6)
        w.csForm6->EmptyImages();
}

} // namespace cleftsim
