#include "run/fit.h"

#include "model/rounding.h"
#include "run/fitbootstrap.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace cleftsim {

namespace {

// A real with the given decimals, or null for NaN.
std::string fixedOrNull(double x, int decimals)
{
    return std::isnan(x) ? std::string("null") : formatFixed(x, decimals);
}

// Whether info is free in the request (the clamp potential always is: each point has its own).
bool isFree(const FitRequest &request, const ParamInfo *info)
{
    bool free = info->field == Param::V2;
    for (const FreeParameter &f : request.free)
        free = free || f.info == info;
    return free;
}

std::string withUnit(const ParamInfo &info, const std::string &value)
{
    return value + (info.unit[0] ? std::string(" ") + info.unit : std::string());
}

const char *noiseMode(FitNoise noise)
{
    return noise == FitNoise::Fitted ? "fitted" : noise == FitNoise::Fixed ? "fixed" : "none";
}

// Why the noise has no estimate where it was asked for.
const char NoSpreadNote[] = "no potential gives the trials' spread with n: the recorded standard errors are "
                            "taken as known, the noise within them";

} // namespace

std::string fitSummaryText(const FitResult &result)
{
    const FitRequest &request = result.request;
    std::string text;
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const ParamInfo &info = *request.free[j].info;
        if (j < result.upperLimits.size() && !std::isnan(result.upperLimits[j])) {
            text += std::string(info.name) + " < " + withUnit(info, editorText(info, result.upperLimits[j]))
                + " (95 %): the data do not exclude " + info.name + " = 0; best value "
                + editorText(info, result.estimates[j]) + "\n";
            continue;
        }
        text += std::string(info.name) + " = " + withUnit(info, editorText(info, result.estimates[j]))
            + ", 95 % interval " + editorText(info, result.intervals[j].first) + " to "
            + editorText(info, result.intervals[j].second);
        const bool lowOpen = !result.bounded[j].first, highOpen = !result.bounded[j].second;
        if (lowOpen || highOpen)
            text += std::string(" (not bounded by the data ")
                + (lowOpen && highOpen ? "at either end"
                        : lowOpen      ? "below"
                                       : "above")
                + ")";
        text += "\n";
    }
    if (result.noiseUsed && request.noise == FitNoise::Fitted)
        text += "Recording noise " + formatFixed(result.noise, 2) + " pA rms, 95 % interval "
            + formatFixed(result.noiseInterval.first, 2) + " to "
            + formatFixed(result.noiseInterval.second, 2) + "\n";
    else if (request.noise == FitNoise::Fixed)
        text += "Recording noise fixed at " + formatFixed(result.noise, 2) + " pA rms\n";
    else if (request.noise == FitNoise::Fitted)
        text += std::string("Recording noise not fitted: ") + NoSpreadNote + "\n";
    text += bootstrapSummaryText(result);
    text += "chi-square " + formatFixed(result.chi2, 2) + ", " + std::to_string(result.dof)
        + " degrees of freedom, p-value " + fixedOrNull(result.pValue, 3) + "\n";
    // The warnings before the record of the request: they are what a reader must not miss.
    for (const FitWarning &warning : result.warnings)
        text += "Warning (" + warning.code + "): " + warning.text + "\n";
    text += "Data " + request.data.name + " (" + std::to_string(measuredValueCount(request.data))
        + " values); " + std::to_string(request.trials) + " trials per potential, seed "
        + std::to_string(request.seed) + "; " + std::to_string(result.evaluations) + " candidates.\n";
    std::string fixed;
    for (const ParamInfo *info : numericParams())
        if (!isFree(request, info))
            fixed += (fixed.empty() ? "" : ", ") + std::string(info->name) + " "
                + editorText(*info, fieldValue(request.fixed, info->field));
    text += "Fixed, from " + request.fixedFrom + ": " + fixed
        + (request.fixed.BackgroundOn ? ", background conductance on" : "");
    return text;
}

std::string fitCommand(const FitRequest &request)
{
    const auto quoted = [](const std::string &text) {
        bool plain = !text.empty();
        for (char c : text)
            plain = plain
                && (std::isalnum(static_cast<unsigned char>(c))
                    || std::string("/._-+:,=").find(c) != std::string::npos);
        if (plain)
            return text;
        std::string q = "'";
        for (char c : text)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    std::string command = "cleftsim-batch fit --data " + quoted(request.data.name) + " --free ";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const FreeParameter &f = request.free[j];
        command += (j > 0 ? "," : "") + std::string(f.info->name) + "=" + editorText(*f.info, f.low) + ":"
            + editorText(*f.info, f.high);
    }
    command += " --trials " + std::to_string(request.trials) + " --seed " + std::to_string(request.seed);
    if (request.fixed.BackgroundOn)
        command += " --background";
    for (const ParamInfo *info : numericParams()) {
        const double value = fieldValue(request.fixed, info->field);
        if (!isFree(request, info) && value != fieldValue(DefaultParameterSet, info->field))
            command += std::string(" --") + info->name + " " + editorText(*info, value);
    }
    if (request.noise != FitNoise::Fitted)
        command += " --noise " + noiseText(request.noise, request.noiseValue);
    const std::string moves = sensitivityText(request.sensitivity);
    if (moves != sensitivityText(defaultSensitivity()))
        command += " --sensitivity " + moves;
    if (request.bootstrap > 0)
        command += " --bootstrap " + std::to_string(request.bootstrap);
    return command;
}

std::string fittedSweepCommand(const FitResult &result)
{
    RunDescription run;
    run.experiment = Experiment::Isv;
    run.seeds = {result.request.seed};
    run.trials = result.request.trials;
    run.params = fittedParameters(result);
    run.params.V2 = DefaultParameterSet.V2;
    return batchCommand(run);
}

namespace {

// A member of the JSON object with one value per free parameter, by name.
std::string perFreeJson(const FitRequest &request, const std::function<std::string(std::size_t)> &member)
{
    std::string t = "{";
    for (std::size_t j = 0; j < request.free.size(); ++j)
        t += std::string(j > 0 ? ", " : "") + jsonString(request.free[j].info->name) + ": " + member(j);
    return t + "}";
}

// Where the fit came from: the data, the seed, the fixed and free
// parameters, the search, and the commands that run it again.
std::string fitProvenanceJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    std::string text = "  \"provenance\": {\n";
    text += "    \"program\": \"Cleftsim\",\n";
    text += std::string("    \"version\": ") + jsonString(programVersion()) + ",\n";
    text += "    \"experiment\": \"fit\",\n";
    text += "    \"data\": {\"file\": " + jsonString(request.data.name) + ", \"sha256\": "
        + jsonString(request.data.sha256) + ", \"points\": " + std::to_string(request.data.points.size())
        + ", \"values\": " + std::to_string(measuredValueCount(request.data)) + "},\n";
    text += "    \"seed\": " + std::to_string(request.seed) + ",\n";
    text += "    \"trials\": " + std::to_string(request.trials) + ",\n";
    text += "    \"fixed_from\": " + jsonString(request.fixedFrom) + ",\n";
    text += "    \"BackgroundOn\": " + std::to_string(request.fixed.BackgroundOn) + ",\n";
    text += "    \"fixed\": {";
    bool first = true;
    for (const ParamInfo *info : numericParams()) {
        if (isFree(request, info))
            continue;
        text += std::string(first ? "" : ", ") + jsonString(info->name) + ": "
            + editorText(*info, fieldValue(request.fixed, info->field));
        first = false;
    }
    text += "},\n    \"free\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const FreeParameter &f = request.free[j];
        text += std::string(j > 0 ? ", " : "") + jsonString(f.info->name) + ": [" + editorText(*f.info, f.low)
            + ", " + editorText(*f.info, f.high) + "]";
    }
    text += "},\n    \"search\": {\"coarse_points\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j)
        text += std::string(j > 0 ? ", " : "") + jsonString(request.free[j].info->name) + ": "
            + std::to_string(result.coarsePoints[j]);
    text += "}, \"profile_step\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const ParamInfo &info = *request.free[j].info;
        text += std::string(j > 0 ? ", " : "") + jsonString(info.name) + ": "
            + editorText(info, double(result.profileSteps[j]) / editorScale(info));
    }
    text += "}, \"threshold\": " + formatFixed(ProfileThreshold, 6)
        + ", \"evaluations\": " + std::to_string(result.evaluations)
        + ", \"trials_run\": " + std::to_string(result.trialsRun) + "},\n";
    text += "    \"command\": " + jsonString(fittedSweepCommand(result)) + ",\n";
    text += "    \"fit_command\": " + jsonString(fitCommand(request)) + "\n  },\n";

    return text;
}

// The estimates with their intervals and which ends the data bound.
std::string fitEstimatesJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    const auto perFree
        = [&](const std::function<std::string(std::size_t)> &member) { return perFreeJson(request, member); };
    std::string text;
    text += "  \"estimates\": " + perFree([&](std::size_t j) {
        return editorText(*request.free[j].info, result.estimates[j]);
    }) + ",\n";
    text += "  \"intervals\": " + perFree([&](std::size_t j) {
        const ParamInfo &info = *request.free[j].info;
        return "[" + editorText(info, result.intervals[j].first) + ", "
            + editorText(info, result.intervals[j].second) + "]";
    }) + ",\n";
    text += "  \"bounded\": " + perFree([&](std::size_t j) {
        return std::string(result.bounded[j].first && result.bounded[j].second ? "true" : "false");
    }) + ",\n";
    text += "  \"unbounded_ends\": " + perFree([&](std::size_t j) {
        std::string ends;
        if (!result.bounded[j].first)
            ends += "\"low\"";
        if (!result.bounded[j].second)
            ends += std::string(ends.empty() ? "" : ", ") + "\"high\"";
        return "[" + ends + "]";
    }) + ",\n";
    text += "  \"minus2_log_likelihood\": " + formatFixed(result.objective, 6) + ",\n";
    text += "  \"chi2\": " + formatFixed(result.chi2, 6) + ",\n";
    text += "  \"dof\": " + std::to_string(result.dof) + ",\n";
    text += "  \"p_value\": " + fixedOrNull(result.pValue, 6) + ",\n";
    return text;
}

// What qualifies the estimates: the recording noise, the one-sided limits,
// the weight of the fixed parameters, the bootstrap and the warnings.
std::string fitCaveatsJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    const auto perFree
        = [&](const std::function<std::string(std::size_t)> &member) { return perFreeJson(request, member); };
    std::string text;
    text += "  \"noise_pA\": {\"mode\": " + jsonString(noiseMode(request.noise));
    if (result.noiseUsed)
        text += ", \"estimate\": " + formatFixed(result.noise, 2) + ", \"interval\": ["
            + formatFixed(result.noiseInterval.first, 2) + ", " + formatFixed(result.noiseInterval.second, 2)
            + "]";
    else if (request.noise != FitNoise::Off)
        text += ", \"estimate\": null, \"interval\": null, \"note\": " + jsonString(NoSpreadNote);
    text += "},\n";
    std::string limits;
    for (std::size_t j = 0; j < request.free.size(); ++j)
        if (j < result.upperLimits.size() && !std::isnan(result.upperLimits[j]))
            limits += std::string(limits.empty() ? "" : ", ") + jsonString(request.free[j].info->name) + ": "
                + editorText(*request.free[j].info, result.upperLimits[j]);
    text += "  \"upper_limits\": {" + limits + "},\n";
    text += "  \"sensitivity\": {";
    for (std::size_t i = 0; i < result.sensitivity.size(); ++i) {
        const FitSensitivity &s = result.sensitivity[i];
        const auto fixedOrNullOf = [](const ParamInfo &info, double v) {
            return std::isnan(v) ? std::string("null") : editorText(info, v);
        };
        text += std::string(i > 0 ? ", " : "") + jsonString(s.info->name) + ": {\"value\": "
            + editorText(*s.info, s.value) + ", \"moved\": [" + fixedOrNullOf(*s.info, s.moved.first) + ", "
            + fixedOrNullOf(*s.info, s.moved.second) + "], \"estimates\": " + perFree([&](std::size_t j) {
                  const ParamInfo &info = *request.free[j].info;
                  return "[" + fixedOrNullOf(info, s.estimates[j].first) + ", "
                      + fixedOrNullOf(info, s.estimates[j].second) + "]";
              })
            + "}";
    }
    text += "},\n";
    if (result.bootstrap.replicates > 0)
        text += "  \"bootstrap\": " + bootstrapJson(result) + ",\n";
    text += "  \"warnings\": [";
    for (std::size_t i = 0; i < result.warnings.size(); ++i)
        text += std::string(i > 0 ? ",\n    " : "\n    ")
            + "{\"code\": " + jsonString(result.warnings[i].code)
            + ", \"text\": " + jsonString(result.warnings[i].text) + "}";
    text += std::string(result.warnings.empty() ? "" : "\n  ") + "],\n";
    return text;
}

// Each compared quantity, and each free parameter's profile.
std::string fitPointsAndProfilesJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    std::string text;
    text += "  \"points\": [\n";
    for (std::size_t i = 0; i < result.terms.size(); ++i) {
        const FitTerm &t = result.terms[i];
        text += "    {\"V2_mV\": " + std::to_string(t.V) + ", \"quantity\": " + jsonString(t.quantity)
            + ", \"data\": " + formatFixed(t.data, 6) + ", \"data_sem\": " + fixedOrNull(t.dataSem, 6)
            + ", \"model\": " + formatFixed(t.model, 6) + ", \"model_sem\": " + formatFixed(t.modelSem, 6)
            + ", \"sd\": " + formatFixed(t.sd, 6) + ", \"residual\": " + formatFixed(t.residual, 6) + "}"
            + (i + 1 < result.terms.size() ? ",\n" : "\n");
    }
    text += "  ],\n  \"profiles\": {\n";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        text += "    " + jsonString(request.free[j].info->name) + ": [\n";
        const auto &points = result.profiles[j];
        for (std::size_t i = 0; i < points.size(); ++i) {
            text += "      {";
            for (std::size_t k = 0; k < request.free.size(); ++k)
                text += jsonString(request.free[k].info->name) + ": "
                    + editorText(*request.free[k].info, points[i].values[k]) + ", ";
            text += "\"delta\": " + formatFixed(points[i].objective - result.objective, 6) + "}"
                + (i + 1 < points.size() ? ",\n" : "\n");
        }
        text += std::string("    ]") + (j + 1 < request.free.size() ? ",\n" : "\n");
    }
    return text;
}

} // namespace

std::string fitJson(const FitResult &result)
{
    return "{\n" + fitProvenanceJson(result) + fitEstimatesJson(result) + fitCaveatsJson(result)
        + fitPointsAndProfilesJson(result) + "  }\n}\n";
}

} // namespace cleftsim
