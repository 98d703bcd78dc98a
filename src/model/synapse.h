#pragma once

#include "model/parameterset.h"

namespace cleftsim {

// Presynaptic potential of the rectangular spike at time t since the start
// of the trial [mV]: V1r before SpikeOnset, Emax for du, V1r after.
double SpikePotential(const ParameterSet &p, double t);

// Probability that one available site releases within one time step when
// the presynaptic membrane sees V [mV]; not bounded above.
double ReleaseProbability(const ParameterSet &p, int spikeSteps, double V);

// Probability that one site releases at least once during a spike of
// spikeSteps steps held at V; defined only where ReleaseProbability(V) <= 1.
double SpikeReleaseProbability(const ParameterSet &p, int spikeSteps, double V);

// Normalised time course of one quantum, t msec after its release: 0 at t = 0,
// 1 at t = tc.
double ConductanceShape(const ParameterSet &p, double t);

// Total subsynaptic conductance at step k for the releases recorded in sites [nS].
double SynapticConductance(const ParameterSet &p, const SiteTable &sites, int k);

// Current through the conductance G [nS] in series with Rg when the clamp
// holds V [mV] [pA].
double SynapticCurrent(const ParameterSet &p, double G, double V);

// Closed-form probability that none of the N sites releases during one spike
// at clamp potential V, with the background current's shift of the spike top.
double FailureRate(const ParameterSet &p, double V);

} // namespace cleftsim
