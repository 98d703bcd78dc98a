#pragma once

#include "model/parameterset.h"
#include "model/random.h"

#include <array>

namespace cleftsim {

// The tables and sums of one Histograms run.
struct HistogramsResult {
    int trials = 0;
    int N = 0;
    int spikeSteps = 0;
    bool currentCollected = false; // false when V2 = 0: no current scale
    double maxCurrent = 0; // V2 / (1 / Gmax / N + Rg) [pA]
    std::array<int, 21> quanta {}; // QuantaHistogram[m]
    std::array<int, 201> current {}; // CurrentHistogram[b]
    std::array<int, 41> latency {}; // LatencyHistogram[s]
    std::array<std::array<int, 41>, 21> joint {}; // JointHistogram[m][s]
    long long sumQuanta = 0;
    double sumPeak = 0;
    long long sumLatency = 0; // over the trials with m >= 1

    // Trials with at least one release.
    int releasingTrials() const { return trials - quanta[0]; }
    // Mean number of quanta per trial.
    double meanQuanta() const { return trials > 0 ? double(sumQuanta) / trials : 0.0; }
    // Mean peak current per trial [pA].
    double meanPeak() const { return trials > 0 ? sumPeak / trials : 0.0; }
    // Mean latency step over the trials with a release; only when there are such trials.
    double meanLatencyStep() const { return double(sumLatency) / releasingTrials(); }
    // The same in msec, taken at the middle of its step.
    double meanLatencyMs() const { return meanLatencyStep() * 0.05 + 0.025; }
};

// Trials per labelled tick of the count axes: 1, 10, 100, 1000 (or 10000).
int TickStep(int trialCount);
// Full scale of the current histogram: all N quanta at peak, without background [pA].
double MaxCurrent(const ParameterSet &p);
// Current of the background conductance of all sites at V2 [pA]. It is
// worked out as the current law does for the conductance Gb * N, so a
// failure's peak falls exactly on it.
double HistogramsBackgroundCurrent(const ParameterSet &p);

// The current bin of a peak current: Round(10 * N * peak / maxCurrent).
int currentBin(int N, double peak, double maxCurrent);

// Trials of a Histograms run between two of its resting places.
constexpr int HistogramsPauseTrials = 50;

// How the caller of a Histograms run stops it. The window does not: its
// trials take no messages.
class HistogramsObserver {
public:
    virtual ~HistogramsObserver() = default;
    // After every 50th trial: false ends the run there, its tables holding
    // the trials run so far.
    virtual bool pause();
};

// Runs trialCount trials at V2 with state.LPC, state.SpikeSteps and
// state.Sites, drawing from rng as it stands (the caller seeds it).
HistogramsResult runHistograms(ModelState &state, Generator &rng, int trialCount);
HistogramsResult runHistograms(
    ModelState &state, Generator &rng, int trialCount, HistogramsObserver &observer);

// Statistics of the included cells (m >= 1, s < spikeSteps) of the joint table.
struct ScatterStats {
    long long S0 = 0, Sm = 0, Sl = 0, Smm = 0, Sml = 0, Sll = 0;
    bool any = false; // S0 > 0: a mean point exists
    bool hasR = false; // both variances positive
    double r = 0;
    double meanM = 0, meanS = 0;
    double A1 = 0, A2 = 0, theta = 0; // two-sigma semi-axes and direction of A1
    int maxCount = 0; // largest count over the included cells
};
ScatterStats scatterStatistics(const HistogramsResult &result);

// A point of the (m, s) plane.
struct ScatterPoint {
    double m = 0;
    double s = 0;
};
// Point k (0..500) of the two-sigma ellipse, psi = k * 2 pi / 500; only
// when stats.any.
ScatterPoint ellipsePoint(const ScatterStats &stats, int k);

} // namespace cleftsim
