#include "run/fitwarnings.h"

#include "model/rounding.h"
#include "run/json.h"

#include <algorithm>
#include <cmath>

namespace cleftsim {

namespace {

// The p-value below which the model does not explain the data.
constexpr double PoorFitP = 0.01;

// A recorded current is compared in sign and scale with the model's only
// where the model's mean lies this many of its spreads in the likelihood
// from 0: near the reversal potential either sign is expected.
constexpr double ClearCurrent = 3;

// A median ratio of recorded to model currents below UnitsSmall, or above
// its inverse, is a scale off by a unit's factor, not a model's error.
constexpr double UnitsSmall = 0.03;

std::string potentialList(const std::vector<int> &potentials)
{
    std::string text;
    for (std::size_t i = 0; i < potentials.size(); ++i)
        text += (i > 0 ? ", " : "") + std::to_string(potentials[i]);
    return text + " mV";
}

std::string pText(double p)
{
    return p < 0.0001 ? std::string("below 0.0001") : "= " + formatFixed(p, 4);
}

} // namespace

namespace {

// The model does not explain the data; an estimate on its range's end.
void qualityWarnings(std::vector<FitWarning> &warnings, const FitResult &result)
{
    const FitRequest &request = result.request;
    const auto warn = [&](const char *code, const std::string &text) { warnings.push_back({code, text}); };
    if (result.pValue < PoorFitP)
        warn("poor_fit",
            "p " + pText(result.pValue) + " (chi-square " + formatFixed(result.chi2, 2) + " with "
                + std::to_string(result.dof)
                + " degrees of freedom): the model does not explain the data within their errors, and the "
                  "intervals assume it does");

    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const FreeParameter &f = request.free[j];
        const double estimate = result.estimates[j];
        const bool atLow = estimate == f.low && !(f.low == 0 && physicalZero(*f.info));
        if (atLow || estimate == f.high)
            warn("at_range_end",
                std::string(f.info->name) + " = " + editorText(*f.info, estimate) + " lies on the "
                    + (atLow ? "low" : "high") + " end of its range " + editorText(*f.info, f.low) + " .. "
                    + editorText(*f.info, f.high) + ": the best value may lie beyond it");
    }
}

// The recorded spread: none, not that of the same trials, or beyond the
// model's with no noise fitted.
void spreadWarnings(std::vector<FitWarning> &warnings, const FitResult &result,
    const IsvRecordingObjective &objective, const std::vector<IsvPoint> &best)
{
    const FitRequest &request = result.request;
    const auto warn = [&](const char *code, const std::string &text) { warnings.push_back({code, text}); };
    std::vector<int> zero;
    for (const MeasuredPoint &point : request.data.points) {
        if (point.V == 0 || point.n < 2)
            continue;
        const double spread = std::isnan(point.stdPeak) ? point.semPeak : point.stdPeak;
        if (spread == 0)
            zero.push_back(point.V);
        if (point.stdPeak > 0 && point.semPeak != point.stdPeak / std::sqrt(double(point.n))) {
            const double expected = point.stdPeak / std::sqrt(double(point.n));
            if (std::fabs(point.semPeak / expected - 1) > SpreadTolerance)
                warn("spread_inconsistent",
                    "sem_pA " + shortestNumber(point.semPeak) + " at " + std::to_string(point.V)
                        + " mV is not std_pA / sqrt(n) = " + formatFixed(expected, 3)
                        + ": not the spread of the same trials; the fit takes std_pA with n");
        }
    }
    if (!zero.empty())
        warn("spread_zero",
            "the recorded spread of the peak current is 0 at " + potentialList(zero)
                + ": trials of a synapse are never all alike; the spread there is left out of the "
                  "likelihood");

    if (request.noise == FitNoise::Off) {
        const double p = objective.excessSpreadP(best);
        if (p < PoorFitP)
            warn("excess_spread",
                "the recorded spread of the trials lies beyond the model's (p " + pText(p)
                    + "): recording noise? Fit it (--noise auto, noise=\"auto\")");
    }
}

// Currents of the opposite sign or a thousand times off the model's.
void signAndUnitsWarnings(std::vector<FitWarning> &warnings, const FitResult &result)
{
    const FitRequest &request = result.request;
    const auto warn = [&](const char *code, const std::string &text) { warnings.push_back({code, text}); };
    // The model's own spread of a recorded mean, without the noise: the
    // trials' over n and the simulation's, or the recorded standard error.
    const auto modelSpread = [&](const FitTerm &term) {
        for (const MeasuredPoint &point : request.data.points)
            if (point.V == term.V && point.n > 0)
                return term.modelSem * std::sqrt(double(request.trials) / point.n + 1);
        return std::sqrt(term.dataSem * term.dataSem + term.modelSem * term.modelSem);
    };
    int clear = 0, opposite = 0;
    std::vector<double> ratios;
    for (const FitTerm &term : result.terms) {
        if (term.quantity != "peak_pA" || !(std::fabs(term.model) > ClearCurrent * modelSpread(term)))
            continue;
        ++clear;
        if (term.data * term.model < 0)
            ++opposite;
        else
            ratios.push_back(std::fabs(term.data / term.model));
    }
    if (opposite * 2 > clear)
        warn("sign",
            "the recorded currents have the opposite sign of the model's at " + std::to_string(opposite)
                + " of " + std::to_string(clear)
                + " potentials: inward currents are negative (amplitudes written as positive numbers?)");
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        const double median = ratios[ratios.size() / 2];
        if (median < UnitsSmall || median > 1 / UnitsSmall)
            warn("units",
                "the recorded currents are about " + formatFixed(median < 1 ? 1 / median : median, 0)
                    + " times " + (median < 1 ? "smaller" : "larger") + " than the model's: "
                    + (median < 1 ? "currents in nA rather than pA?" : "currents in fA rather than pA?"));
    }
}

// An estimate that moves by more than half its interval when a fixed
// parameter moves.
void sensitivityWarnings(std::vector<FitWarning> &warnings, const FitResult &result)
{
    const FitRequest &request = result.request;
    const auto warn = [&](const char *code, const std::string &text) { warnings.push_back({code, text}); };
    for (const FitSensitivity &s : result.sensitivity)
        for (std::size_t j = 0; j < request.free.size(); ++j) {
            const ParamInfo &fixed = *s.info, &free = *request.free[j].info;
            const auto [down, up] = s.estimates[j];
            // How far the estimate travels over the moves (between the two
            // refits, or twice from the estimate to the one refit the
            // editors allow) against the width of its interval (for an
            // upper limit, the interval from 0: the limit), both in steps of
            // the parameter's editor, so that the threshold is exact.
            const double travel = std::isnan(down) && std::isnan(up) ? 0
                : std::isnan(down)                                   ? 2 * std::fabs(up - result.estimates[j])
                : std::isnan(up) ? 2 * std::fabs(down - result.estimates[j])
                                 : std::fabs(up - down);
            const double scale = editorScale(free);
            const long long travelSteps = std::llround(travel * scale);
            const long long widthSteps
                = std::llround((result.intervals[j].second - result.intervals[j].first) * scale);
            if (!(2 * travelSteps > widthSteps))
                continue;
            const bool limit = j < result.upperLimits.size() && !std::isnan(result.upperLimits[j]);
            const auto moved
                = [&](double v) { return std::isnan(v) ? std::string("-") : editorText(fixed, v); };
            const auto estimate
                = [&](double v) { return std::isnan(v) ? std::string("-") : editorText(free, v); };
            warn("sensitive_to_fixed",
                std::string(free.name) + " moves from " + estimate(down) + " to " + estimate(up) + " when "
                    + fixed.name + " moves from " + moved(s.moved.first) + " to " + moved(s.moved.second)
                    + ", more than half its 95 % " + (limit ? "upper limit " : "interval ")
                    + (limit ? editorText(free, result.upperLimits[j])
                             : editorText(free, result.intervals[j].first) + " .. "
                                + editorText(free, result.intervals[j].second))
                    + ": the " + (limit ? "limit" : "interval") + " holds only if " + fixed.name + " is "
                    + editorText(fixed, s.value) + ". Free " + fixed.name + " in the fit too, or measure it "
                    + "more closely");
        }
}

} // namespace

std::vector<FitWarning> fitWarnings(
    const FitResult &result, const IsvRecordingObjective &objective, const std::vector<IsvPoint> &best)
{
    std::vector<FitWarning> warnings;
    qualityWarnings(warnings, result);
    spreadWarnings(warnings, result, objective, best);
    signAndUnitsWarnings(warnings, result);
    sensitivityWarnings(warnings, result);
    return warnings;
}

} // namespace cleftsim
