#pragma once

#include "model/parameterset.h"
#include "model/parametertable.h"
#include "run/fitobjective.h"
#include "run/measureddata.h"
#include "run/problem.h"
#include "runners/isvsweep.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace cleftsim {

// A parameter the fit moves, over the values its editor can hold from low to high.
struct FreeParameter {
    const ParamInfo *info = nullptr;
    double low = 0;
    double high = 0;
};

// The scale of a parameter's editor grid: 10 to the power of its decimals.
int editorScale(const ParamInfo &info);

// A value as its editor writes it.
std::string editorText(const ParamInfo &info, double value);

// Trials per measured potential and candidate by default: the simulation's
// standard error of a mean then lies well below a recording's of tens of trials.
constexpr int DefaultFitTrials = 2000;

// The rise of -2 log L over its minimum that bounds a 95 % profile interval:
// the 0.95 quantile of chi-square with one degree of freedom.
constexpr double ProfileThreshold = 3.841458820694124;

// How the recording noise, an rms current added to every recorded trial by
// the amplifier and the electrode, enters the likelihood: fitted as a
// nuisance parameter where the data give the trials' spread with n (the
// default), fixed at a value, or left out (the model's spread alone).
enum class FitNoise { Fitted, Fixed, Off };

// A fixed parameter moved to see how far the estimates follow it: by delta
// in its unit, or by delta percent of its value.
struct SensitivityMove {
    const ParamInfo *info = nullptr;
    double delta = 0;
    bool percent = false;
};

// The moves asked by default: Gmax by 10 %, N by 1 (each where it is fixed).
std::vector<SensitivityMove> defaultSensitivity();

// The noise as the batch tool's --noise takes it: "auto" (fitted), "none"
// (off), or a value in pA rms (fixed, 0..1e6). False with *problem filled
// for anything else.
bool parseFitNoise(const std::string &text, FitNoise *noise, double *value, RunProblem *problem);
// The noise of a request as parseFitNoise reads it back.
std::string noiseText(FitNoise noise, double value);

// The moves as --sensitivity takes them: "none", or PARAM=DELTA[%],...
// (numeric parameters but V2, each once, DELTA above 0). False with
// *problem filled on the first fault.
bool parseSensitivity(const std::string &text, std::vector<SensitivityMove> *moves, RunProblem *problem);
// The moves as parseSensitivity reads them back ("none" for none).
std::string sensitivityText(const std::vector<SensitivityMove> &moves);

// What a fit is asked: the data, the free parameters with their ranges, the
// parameter set that holds every other value, the trials and the seed.
struct FitRequest {
    MeasuredData data;
    std::vector<FreeParameter> free;
    ParameterSet fixed = DefaultParameterSet; // the free parameters' values here play no part
    std::string fixedFrom = "defaults"; // where the fixed values came from, in words
    int trials = DefaultFitTrials;
    std::uint32_t seed = 0;
    FitNoise noise = FitNoise::Fitted;
    double noiseValue = 0; // the noise with FitNoise::Fixed [pA rms per trial]
    std::vector<SensitivityMove> sensitivity = defaultSensitivity();
    int bootstrap = 0; // recordings simulated at the estimates and refitted; 0: none
};

// Checks a request: at least one free parameter, each known, numeric, not
// the clamp potential (each point has its own) and named once, its range
// within its editor's and low not above high; the trials 1..10000; at least
// one more measured value than free parameters; the fixed set one the
// windows take. False with *problem filled on the first fault.
bool checkFit(const FitRequest &request, RunProblem *problem);

// The measured potentials with the seeds of their trials: the point at V
// draws from mixSeed(seed, 40 - V), the same for every candidate.
std::vector<SeededPotential> fitPotentials(const FitRequest &request);

// Every potential the V2 editor holds, from SweepFirstV down, with the seeds
// a fit with this seed gives them: the model of a fitted set as a curve
// through the fit's own values at the measured potentials.
std::vector<SeededPotential> fitCurvePotentials(std::uint32_t seed);

// Simulates the measured potentials for each parameter set of a batch, in
// the order given: result i holds the points of set i, one per potential of
// fitPotentials. Fewer results, or a point missing, mean the run was stopped.
using FitEvaluator = std::function<std::vector<std::vector<IsvPoint>>(const std::vector<ParameterSet> &)>;

// The evaluator on this machine: the sets of a batch on `workers` threads
// (0: one per core), each with runSeededIsvPoints; stop is passed to every run.
FitEvaluator localFitEvaluator(
    const FitRequest &request, int workers, const std::function<bool()> &stop = {});

// A point of a parameter's profile: the values of every free parameter (the
// others re-optimised) and -2 log L there.
struct ProfilePoint {
    std::vector<double> values;
    double objective = 0;
};

// A word of caution on a result: a code a program can test, and a sentence.
struct FitWarning {
    std::string code; // "poor_fit", "at_range_end", "sign", ...
    std::string text;
};

// How the estimates followed a fixed parameter moved both ways: refitted
// from the estimates with the same seeds.
struct FitSensitivity {
    const ParamInfo *info = nullptr;
    double value = 0; // as fixed
    std::pair<double, double> moved; // the values down and up; NaN for a move the editors refuse
    std::vector<std::pair<double, double>> estimates; // per free parameter, at the two moved values
};

// The estimates of recordings like the one fitted, simulated at its
// estimates and refitted, and the intervals they give.
struct FitBootstrap {
    int replicates = 0; // 0: no bootstrap asked
    std::vector<std::vector<double>> estimates; // per replicate, per free parameter
    std::vector<std::pair<double, double>> intervals; // per free parameter: 95 %, percentile
    long long evaluations = 0; // candidates the refits simulated
};

// What a fit found.
struct FitResult {
    FitRequest request;
    std::vector<double> estimates; // per free parameter, in the order of request.free
    double objective = 0; // -2 log L at the estimates
    double chi2 = 0; // sum of the squared residuals at the estimates
    int dof = 0; // measured values less free parameters
    double pValue = 0;
    std::vector<FitTerm> terms; // at the estimates
    std::vector<std::pair<double, double>> intervals; // 95 % profile intervals
    // Each end bounded by the data, not by the end of a range the editors
    // or the user set; an end at a physical bound (Rg or Gb at 0) is no
    // range's end: the interval is then an upper limit.
    std::vector<std::pair<bool, bool>> bounded;
    std::vector<double> upperLimits; // per free parameter: the 95 % upper limit, NaN where none
    std::vector<std::vector<ProfilePoint>> profiles; // per free parameter, by its value
    std::vector<int> coarsePoints; // the search's coarse grid, values per free parameter
    std::vector<int> profileSteps; // the profile walk's step, editor steps per free parameter
    int evaluations = 0; // candidates simulated
    long long trialsRun = 0;
    bool noiseUsed = false; // the recorded spread entered the likelihood
    double noise = 0; // the recording noise at the estimates [pA rms per trial]
    std::pair<double, double> noiseInterval; // its 95 % profile interval, with the noise fitted
    std::vector<FitSensitivity> sensitivity;
    std::vector<FitWarning> warnings;
    FitBootstrap bootstrap;
};

// Whether a parameter's 0 is a physical bound (no resistance of the cleft,
// no background conductance), not the end of an editor's range.
bool physicalZero(const ParamInfo &info);

// Thrown by runFit when its stop check says so or its evaluator was stopped.
class FitStopped : public std::exception {
public:
    const char *what() const noexcept override { return "the fit was stopped"; }
};

// Told after every batch of candidates: where the search is.
struct FitProgressStep {
    std::string stage; // "coarse grid", "refinement", "profile Rg", "bootstrap", ...
    int stageIndex = 0; // 0-based
    int stageCount = 0; // stages this fit will run (known at the start)
    int done = 0; // candidates (or replicates) done in this stage
    int total = 0; // what this stage will take, 0 where it cannot be known in advance
    int evaluations = 0; // candidates simulated in all so far
};
using FitProgress = std::function<void(const FitProgressStep &)>;

// What the replicates of a bootstrap need of the fit: its request, its
// estimates, the recording noise there and the model's mean peak current
// and quanta at each measured potential (per point of request.data).
struct BootstrapPlan {
    FitRequest request;
    std::vector<double> estimates;
    double noise = 0; // [pA rms per trial]
    std::vector<double> modelPeak;
    std::vector<double> modelQuanta;
};

// The refit of one replicate: its estimates and the candidates it simulated.
struct ReplicateFit {
    std::vector<double> estimates;
    int evaluations = 0;
};

// Fits the replicates of a plan (numbered from 1), in the order given;
// done(k) tells that k of them are done. Fewer results mean it was stopped.
using FitReplicates = std::function<std::vector<ReplicateFit>(
    const BootstrapPlan &plan, const std::vector<int> &replicates, const std::function<void(int)> &done)>;

// Fits a checked request: every candidate runs with the same seeds (common
// random numbers); a coarse grid over the free parameters' ranges, then
// refinement on the editors' grid around the best until no neighbour is
// better; then each free parameter's profile, the others re-optimised at
// every value, walked from the best to where -2 log L has risen by twice
// ProfileThreshold or the range ends, its crossings of ProfileThreshold
// found to one editor step. A profile that finds a better set than the best
// restarts the refinement there. Deterministic: the same request gives the
// same result, however the evaluator spreads the batches. With
// request.bootstrap B above 0, B recordings simulated at the estimates are
// refitted last, by `replicates` (without it on every core here).
FitResult runFit(const FitRequest &request, const FitEvaluator &evaluate, const FitProgress &progress = {},
    const std::function<bool()> &stop = {}, const FitReplicates &replicates = {});

// The parameter set a fit's estimates make: the fixed set with the free values.
ParameterSet fittedParameters(const FitResult &result);

// The cleftsim-batch command lines: the fit itself (every fixed value that
// differs from the default set given by name, so that no states file is
// needed), and the sweep of the fitted set with the fit's seed and trials.
std::string fitCommand(const FitRequest &request);
std::string fittedSweepCommand(const FitResult &result);

// The result in plain text as the Fit window shows it: each estimate with
// its 95 % interval (or one-sided limit), the recording noise, the goodness
// of fit, the warnings, the data, the trials, the seed and the fixed values.
std::string fitSummaryText(const FitResult &result);

// The result as JSON: provenance, estimates, intervals, bounded, chi2, dof,
// p_value, points (the terms) and profiles.
std::string fitJson(const FitResult &result);

} // namespace cleftsim
