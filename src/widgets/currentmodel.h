#pragma once

#include "model/parameterset.h"

namespace cleftsim {

// The one model state that every window of the program reads and the editors
// write.
ModelState &model();

// The laws of the synapse on that state (LPC, SpikeSteps, Sites), as the
// windows' previews use them.
double SpikePotential(double t);
double ReleaseProbability(double V);
double SpikeReleaseProbability(double V);
double ConductanceShape(double t);
double SynapticConductance(int k);
double SynapticCurrent(double G, double V);
double FailureRate(double V);

} // namespace cleftsim
