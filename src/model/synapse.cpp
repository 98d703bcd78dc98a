#include "model/synapse.h"

#include <cmath>

namespace cleftsim {

double SpikePotential(const ParameterSet &p, double t)
{
    if (t < SpikeOnset)
        return p.V1r;
    if (t < SpikeOnset + p.du)
        return p.Emax;
    return p.V1r;
}

double ReleaseProbability(const ParameterSet &p, int spikeSteps, double V)
{
    const double c = 1.0 - std::exp(std::log(1.0 - p.gf) / spikeSteps);
    return std::exp((V - p.Emax) / p.ex) * c;
}

double SpikeReleaseProbability(const ParameterSet &p, int spikeSteps, double V)
{
    const double q = ReleaseProbability(p, spikeSteps, V);
    return 1.0 - std::exp(spikeSteps * std::log(1.0 - q));
}

double ConductanceShape(const ParameterSet &p, double t)
{
    const double x = t / p.tc;
    return x * std::exp(1.0 - x);
}

double SynapticConductance(const ParameterSet &p, const SiteTable &sites, int k)
{
    double G = p.Gb * p.N;
    for (int j = 1; j <= p.N; ++j) {
        if (!sites[j].Available)
            G += (p.Gmax - p.Gb) * ConductanceShape(p, (k - sites[j].ReleaseStep) * TimeStep);
    }
    return G;
}

double SynapticCurrent(const ParameterSet &p, double G, double V)
{
    return V * G / (1.0 + p.Rg * G);
}

double FailureRate(const ParameterSet &p, double V)
{
    const double g = p.Gb * p.N;
    const double Ib = V * g / (p.Rg * g + 1.0);
    const double Vpk = p.Emax - p.Rg * Ib;
    const double a = std::exp((Vpk - p.Emax) / p.ex);
    return std::exp(p.N * a * std::log(1.0 - p.gf));
}

} // namespace cleftsim
