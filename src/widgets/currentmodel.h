#pragma once

#include "model/parameterset.h"

#include <cstdint>

namespace cleftsim {

// The one model state that every window of the program reads and the editors
// write.
ModelState &model();

// Where the Runs of the experiment windows take their seeds: from the clock
// (as the program always did) or from a fixed seed S that the user chose.
struct SeedChoice {
    bool fixed = false;
    std::uint32_t seed = 0;
};

// The one choice of the program, set from the main window's File menu.
SeedChoice &seedChoice();

// The seed of a sweep or a Histograms Run by that choice: a fixed seed S
// itself, as cleftsim-batch --seed S seeds them; otherwise the clock's. (A
// Records figure mixes its trials' seeds from S: RecordsWindow.)
std::uint32_t runSeed();

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
