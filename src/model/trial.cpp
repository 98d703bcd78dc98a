#include "model/trial.h"

#include "model/rounding.h"

namespace cleftsim {

int shortWindowStart()
{
    return Round(SpikeOnset / TimeStep);
}

int shortWindowEnd(const ParameterSet &p)
{
    return Round((SpikeOnset + p.du + p.tc) / TimeStep);
}

} // namespace cleftsim
