#include "model/parametertable.h"

#include "model/rounding.h"

namespace cleftsim {

namespace {

// The ranges are those of the editors: a masked edit's one digit before the
// point bounds what its mask does not clamp.
const std::array<ParamInfo, 12> Table {{
    {Param::BackgroundOn, "BackgroundOn", "", 0, 1, 0, "background conductance switched on"},
    {Param::N, "N", "", 1, 20, 0, "release sites"},
    {Param::Rg, "Rg", "GOhm", 0.00, 9.99, 2, "gap resistance"},
    {Param::V2, "V2", "mV", -150, 40, 0, "clamp potential"},
    {Param::Emax, "Emax", "mV", -40, 40, 0, "spike top"},
    {Param::V1r, "V1r", "mV", -100, 40, 0, "resting potential"},
    {Param::du, "du", "msec", 0.10, 2.00, 2, "spike duration"},
    {Param::ex, "ex", "mV", 1.00, 9.99, 2, "release exponent step"},
    {Param::gf, "gf", "", 0.0000, 0.9999, 4, "release norm factor"},
    {Param::Gmax, "Gmax", "nS", 0.01, 9.99, 2, "quantal peak conductance"},
    {Param::tc, "tc", "msec", 0.50, 9.99, 2, "conductance time to peak"},
    {Param::Gb, "Gb", "nS", 0.000, 9.999, 3, "background conductance"},
}};

} // namespace

const std::array<ParamInfo, 12> &parameterTable()
{
    return Table;
}

const ParamInfo &paramInfo(Param f)
{
    return Table[static_cast<std::size_t>(f)];
}

const ParamInfo *findParam(std::string_view name)
{
    for (const ParamInfo &info : Table)
        if (name == info.name)
            return &info;
    return nullptr;
}

void setFieldValue(ParameterSet &p, Param f, double value)
{
    switch (f) {
    case Param::BackgroundOn: p.BackgroundOn = value != 0 ? 1 : 0; break;
    case Param::N: p.N = saturatedInt(value); break;
    case Param::Rg: p.Rg = value; break;
    case Param::V2: p.V2 = value; break;
    case Param::Emax: p.Emax = value; break;
    case Param::V1r: p.V1r = value; break;
    case Param::du: p.du = value; break;
    case Param::ex: p.ex = value; break;
    case Param::gf: p.gf = value; break;
    case Param::Gmax: p.Gmax = value; break;
    case Param::tc: p.tc = value; break;
    case Param::Gb: p.Gb = value; break;
    }
}

double clampToRange(Param f, double value)
{
    const ParamInfo &info = paramInfo(f);
    return value > info.max ? info.max : value < info.min ? info.min : value;
}

std::string rangeText(const ParamInfo &info)
{
    std::string text = formatFixed(info.min, info.decimals) + ".." + formatFixed(info.max, info.decimals);
    if (info.decimals == 0)
        return text + " (whole numbers)";
    return text + " (at most " + std::to_string(info.decimals) + " decimals)";
}

} // namespace cleftsim
