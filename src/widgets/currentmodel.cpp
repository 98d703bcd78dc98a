#include "widgets/currentmodel.h"

#include "model/random.h"
#include "model/synapse.h"

namespace cleftsim {

ModelState &model()
{
    static ModelState state;
    return state;
}

SeedChoice &seedChoice()
{
    static SeedChoice choice;
    return choice;
}

std::uint32_t runSeed()
{
    const SeedChoice &c = seedChoice();
    return c.fixed ? c.seed : seedFromClock();
}

double SpikePotential(double t)
{
    return SpikePotential(model().LPC, t);
}

double ReleaseProbability(double V)
{
    return ReleaseProbability(model().LPC, model().SpikeSteps, V);
}

double SpikeReleaseProbability(double V)
{
    return SpikeReleaseProbability(model().LPC, model().SpikeSteps, V);
}

double ConductanceShape(double t)
{
    return ConductanceShape(model().LPC, t);
}

double SynapticConductance(int k)
{
    return SynapticConductance(model().LPC, model().Sites, k);
}

double SynapticCurrent(double G, double V)
{
    return SynapticCurrent(model().LPC, G, V);
}

double FailureRate(double V)
{
    return FailureRate(model().LPC, V);
}

} // namespace cleftsim
