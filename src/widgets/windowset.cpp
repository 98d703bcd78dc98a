#include "widgets/windowset.h"

#include "run/experimenttable.h"
#include "widgets/childwindow.h"

namespace cleftsim {

WindowSet &windows()
{
    static WindowSet set;
    return set;
}

void WindowSet::add(int number, ChildWindow *form)
{
    forms[number] = form;
    if (number == 0)
        csForm0 = dynamic_cast<ConfigLink *>(form);
    if (number < 4)
        editors[number] = dynamic_cast<EditorLink *>(form);
}

ModelChanges &modelChanges()
{
    static ModelChanges changes;
    return changes;
}

void parameterAccepted(Param f)
{
    emit modelChanges().parameterChanged(f);
}

std::vector<Param> rowsShowing(Param f)
{
    if (f == Param::BackgroundOn)
        return {Param::Gb, Param::BackgroundOn};
    return {f};
}

bool clearsRecords(Param f)
{
    return clearsFigures(Experiment::Records, f);
}

bool clearsIsv(Param f)
{
    return clearsFigures(Experiment::Isv, f);
}

bool clearsHistograms(Param f)
{
    return clearsFigures(Experiment::Histograms, f);
}

bool changesFailureLabel(Param f)
{
    switch (f) {
    case Param::BackgroundOn:
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

bool changesConductanceLabels(Param f)
{
    return f == Param::N || f == Param::Gmax;
}

bool changesQuantaPreview(Param f)
{
    return f == Param::N || f == Param::Rg;
}

} // namespace cleftsim
