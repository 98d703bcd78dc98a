#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cleftsim {

// Time step of every trial and of every time-resolved preview [msec].
constexpr double TimeStep = 0.05;
// Time at which the presynaptic spike begins in every trial [msec].
constexpr double SpikeOnset = 1.0;
// Largest number of release sites a synapse can have.
constexpr int MaxSites = 20;
// Number of slots of the stored-state table (slot 0 holds the default set).
constexpr int StoredSlots = 16;

// One complete set of model parameters.
struct ParameterSet {
    std::string Name = "0: default"; // slot number, ": ", origin of the state
    std::uint8_t BackgroundOn = 0; // background-conductance switch, 0 or 1
    std::int32_t N = 10; // number of release sites, 1..20
    double Rg = 0.5; // resistance of the synaptic gap [GOhm]
    double V2 = -63; // clamped postsynaptic potential [mV]
    double Emax = 20; // presynaptic potential at the top of the spike [mV]
    double V1r = -70; // presynaptic resting potential [mV]
    double du = 1.0; // duration of the presynaptic spike [msec]
    double ex = 5.0; // potential step that multiplies the release rate by e [mV]
    double gf = 0.15; // probability that one site releases during one spike at Emax
    double Gmax = 0.20; // peak subsynaptic conductance of one quantum [nS]
    double tc = 2.5; // time to peak of the quantal conductance [msec]
    double Gb = 0.0; // background conductance of one site [nS]
};

// Compares every field, the name included, with exact equality.
bool operator==(const ParameterSet &a, const ParameterSet &b);
bool operator!=(const ParameterSet &a, const ParameterSet &b);
// Compares the model fields only (switch, N and the ten reals), not the name.
bool sameModel(const ParameterSet &a, const ParameterSet &b);

// The constant set every program run starts from.
extern const ParameterSet DefaultParameterSet;

// The parameter fields, in the order of the parameter set.
enum class Param { BackgroundOn, N, Rg, V2, Emax, V1r, du, ex, gf, Gmax, tc, Gb };

// Reads a real field by its code (BackgroundOn and N as numbers).
double fieldValue(const ParameterSet &p, Param f);
// The code of a field as it appears in state names ("Rg", "V2", ...; "n" for N).
const char *fieldCode(Param f);

// One release site of the trial being computed.
struct Site {
    bool Available = true; // the site has not released in this trial
    std::int32_t ReleaseStep = 0; // time-step index of its release
};

// Entries 1..20 are used; entry 0 is never read, so site j is Sites[j].
using SiteTable = std::array<Site, MaxSites + 1>;

// Number of time steps of the spike: Round(du / TimeStep).
int spikeStepsFor(double du);

// The model state: the current and the initial parameters, the stored
// states and the sites of the trial being computed. The program keeps one
// for its windows; the batch tool and the tests make their own.
struct ModelState {
    ParameterSet LPC; // current parameters
    ParameterSet LPI; // initial parameters: last stored or restored
    std::array<ParameterSet, StoredSlots> StoredStates; // slot 0: the default set
    int StoredCount = 0; // states stored by the user, 0..15
    int SpikeSteps = 20; // Round(du / TimeStep) of LPC, kept by the setters below
    SiteTable Sites; // sites of the trial being computed

    // Puts the state back to its start-up values.
    void reset();
    // Writes one field of LPC (and SpikeSteps with du).
    void setField(Param f, double value);
    // Makes p the current parameters (and SpikeSteps follow its du).
    void setCurrent(const ParameterSet &p);
};

} // namespace cleftsim
