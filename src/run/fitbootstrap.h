#pragma once

#include "run/fit.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cleftsim {

// The most recordings a bootstrap simulates and refits: a thousand give
// the ends of a 95 % interval to about a percentile; ten times that is
// the most any study asks.
constexpr int MaxBootstrapReplicates = 10000;

// Checks the bootstrap of a request: 0..MaxBootstrapReplicates replicates,
// and where there are any, no potential recorded with more trials than a
// run takes (each replicate simulates the recording's trials). False with
// *problem filled otherwise.
bool checkBootstrap(const FitRequest &request, RunProblem *problem);

// The seed of replicate r (1..B) of a fit with seed S: mixSeed(S, 2^20 + r),
// past the indices of the fit's potentials (40 - V, under 200). Its refit
// draws its candidates' trials as a fit with seed mixSeed(it, 0) does; its
// recording draws from mixSeed(it, 1).
std::uint32_t replicateSeed(std::uint32_t seed, int replicate);

// What the replicates of a fit need of it.
BootstrapPlan bootstrapPlan(const FitResult &result);

// The plan as text and back, number for number, so that a worker of a
// cluster refits the replicates it is given as this process would. The
// reading checks the request as checkFit does.
std::string bootstrapPlanText(const BootstrapPlan &plan);
bool readBootstrapPlan(const std::string &text, BootstrapPlan &plan, RunProblem *problem);

// Replicate r's recording: the design of the data fitted (the potentials,
// the trials n at each, the columns given), drawn from the model at the
// estimates. Where n is given, n trials are run with the seeds of
// runSeededIsvTrials from mixSeed(recording seed, point index), each peak
// with Gaussian recording noise of the plan's rms added (from mixSeed(trial
// seed, 1) and mixSeed(trial seed, 2)), and the means, standard deviations,
// standard errors and failure rate are those of the trials; without n the
// means are the model's with Gaussian errors of the recorded standard errors
// (from mixSeed(point seed, 1) and (point seed, 2)), which they keep.
MeasuredData replicateRecording(const BootstrapPlan &plan, int replicate);

// The estimates of a request as the fit finds them before its profiles:
// the coarse grid and the refinement. *evaluations counts the candidates.
std::vector<double> fitEstimates(const FitRequest &request, const FitEvaluator &evaluate, int *evaluations,
    const std::function<bool()> &stop = {});

// Replicate r simulated and refitted with the plan's free parameters,
// ranges, trials and noise, no sensitivity, on one thread. Throws
// FitStopped when stop says so.
ReplicateFit fitReplicate(const BootstrapPlan &plan, int replicate, const std::function<bool()> &stop = {});

// The replicates on `workers` threads of this machine (0: one per core),
// each replicate on one; done is told on the calling thread.
FitReplicates localFitReplicates(int workers, const std::function<bool()> &stop = {});

// The 95 % percentile interval of a bootstrap's estimates: of the B values
// sorted, the k-th and the (B + 1 - k)-th with k = floor((B + 1) / 40),
// kept within 1..B (below B = 39 the interval is the least to the largest).
std::pair<double, double> percentileInterval(std::vector<double> values);

// The bootstrap of a fit: its plan's replicates fitted by `replicates`,
// done(k) told as they finish. Throws FitStopped when fewer come back.
FitBootstrap runBootstrap(
    const FitResult &result, const FitReplicates &replicates, const std::function<void(int)> &done = {});

// The bootstrap as a JSON object, and in a line per free parameter.
std::string bootstrapJson(const FitResult &result);
std::string bootstrapSummaryText(const FitResult &result);

} // namespace cleftsim
