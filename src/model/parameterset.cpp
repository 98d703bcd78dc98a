#include "model/parameterset.h"

#include "model/parametertable.h"
#include "model/rounding.h"

namespace cleftsim {

const ParameterSet DefaultParameterSet {};

bool sameModel(const ParameterSet &a, const ParameterSet &b)
{
    return a.BackgroundOn == b.BackgroundOn && a.N == b.N && a.Rg == b.Rg && a.V2 == b.V2 && a.Emax == b.Emax
        && a.V1r == b.V1r && a.du == b.du && a.ex == b.ex && a.gf == b.gf && a.Gmax == b.Gmax && a.tc == b.tc
        && a.Gb == b.Gb;
}

bool operator==(const ParameterSet &a, const ParameterSet &b)
{
    return a.Name == b.Name && sameModel(a, b);
}

bool operator!=(const ParameterSet &a, const ParameterSet &b)
{
    return !(a == b);
}

double fieldValue(const ParameterSet &p, Param f)
{
    switch (f) {
    case Param::BackgroundOn: return p.BackgroundOn;
    case Param::N: return p.N;
    case Param::Rg: return p.Rg;
    case Param::V2: return p.V2;
    case Param::Emax: return p.Emax;
    case Param::V1r: return p.V1r;
    case Param::du: return p.du;
    case Param::ex: return p.ex;
    case Param::gf: return p.gf;
    case Param::Gmax: return p.Gmax;
    case Param::tc: return p.tc;
    case Param::Gb: return p.Gb;
    }
    return 0;
}

const char *fieldCode(Param f)
{
    switch (f) {
    case Param::BackgroundOn: return "+";
    case Param::N: return "n";
    case Param::Rg: return "Rg";
    case Param::V2: return "V2";
    case Param::Emax: return "Emax";
    case Param::V1r: return "V1r";
    case Param::du: return "du";
    case Param::ex: return "ex";
    case Param::gf: return "gf";
    case Param::Gmax: return "Gmax";
    case Param::tc: return "tc";
    case Param::Gb: return "Gb";
    }
    return "";
}

int spikeStepsFor(double du)
{
    return Round(du / TimeStep);
}

void ModelState::reset()
{
    LPI = DefaultParameterSet;
    LPC = DefaultParameterSet;
    StoredStates.fill(ParameterSet {});
    StoredStates[0] = DefaultParameterSet;
    StoredCount = 0;
    SpikeSteps = spikeStepsFor(LPC.du);
    Sites = SiteTable {};
}

void ModelState::setField(Param f, double value)
{
    setFieldValue(LPC, f, value);
    if (f == Param::du)
        SpikeSteps = spikeStepsFor(LPC.du);
}

void ModelState::setCurrent(const ParameterSet &p)
{
    LPC = p;
    SpikeSteps = spikeStepsFor(LPC.du);
}

} // namespace cleftsim
