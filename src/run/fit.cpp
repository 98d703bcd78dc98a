#include "run/fit.h"

#include "model/random.h"
#include "model/rounding.h"
#include "run/experimenttable.h"
#include "run/fitbootstrap.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <thread>

namespace cleftsim {

int editorScale(const ParamInfo &info)
{
    int scale = 1;
    for (int d = 0; d < info.decimals; ++d)
        scale *= 10;
    return scale;
}

std::string editorText(const ParamInfo &info, double value)
{
    return formatFixed(value, info.decimals);
}

// The largest noise a request takes [pA rms]: far beyond any recording's.
constexpr double MaxNoise = 1e6;

bool parseFitNoise(const std::string &text, FitNoise *noise, double *value, RunProblem *problem)
{
    if (text == "auto" || text == "none") {
        *noise = text == "auto" ? FitNoise::Fitted : FitNoise::Off;
        *value = 0;
        return true;
    }
    double number = 0;
    const auto end = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || end.ec != std::errc() || end.ptr != text.data() + text.size() || !(number >= 0)
        || number > MaxNoise) {
        if (problem)
            *problem = {"noise " + text, "not auto, none or a noise in pA",
                "auto (fitted), none, or 0.." + shortestNumber(MaxNoise) + " pA rms per trial"};
        return false;
    }
    *noise = FitNoise::Fixed;
    *value = number;
    return true;
}

std::string noiseText(FitNoise noise, double value)
{
    return noise == FitNoise::Fitted ? "auto" : noise == FitNoise::Off ? "none" : shortestNumber(value);
}

bool parseSensitivity(const std::string &text, std::vector<SensitivityMove> *moves, RunProblem *problem)
{
    moves->clear();
    if (text == "none")
        return true;
    const auto fail = [&](const std::string &what, const std::string &reason) {
        if (problem)
            *problem = {"sensitivity " + what, reason, "none, or PARAM=DELTA[%],... (e.g. Gmax=10%,N=1)"};
        moves->clear();
        return false;
    };
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        const std::string item = text.substr(from, comma == std::string::npos ? comma : comma - from);
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos)
            return fail(item, "not PARAM=DELTA");
        const std::string name = item.substr(0, equals);
        std::string delta = item.substr(equals + 1);
        const ParamInfo *info = findParam(name);
        if (!info || info->field == Param::V2 || info->field == Param::BackgroundOn)
            return fail(item, "not a parameter the fit can hold fixed");
        for (const SensitivityMove &move : *moves)
            if (move.info == info)
                return fail(item, "named twice");
        SensitivityMove move;
        move.info = info;
        move.percent = !delta.empty() && delta.back() == '%';
        if (move.percent)
            delta.pop_back();
        const auto end = std::from_chars(delta.data(), delta.data() + delta.size(), move.delta);
        if (delta.empty() || end.ec != std::errc() || end.ptr != delta.data() + delta.size()
            || !(move.delta > 0) || move.delta > (move.percent ? 100.0 : info->max - info->min))
            return fail(item, "the move must be above 0, at most 100 % or the editor's range");
        moves->push_back(move);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

std::string sensitivityText(const std::vector<SensitivityMove> &moves)
{
    std::string text;
    for (const SensitivityMove &move : moves)
        text += (text.empty() ? "" : ",") + std::string(move.info->name) + "=" + shortestNumber(move.delta)
            + (move.percent ? "%" : "");
    return text.empty() ? "none" : text;
}

bool checkFit(const FitRequest &request, RunProblem *problem)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    std::string names;
    for (const ParamInfo *info : numericParams())
        if (info->field != Param::V2)
            names += (names.empty() ? "" : ", ") + std::string(info->name);
    if (request.free.empty())
        return fail("free", "no free parameter", "one or more of " + names);
    for (std::size_t i = 0; i < request.free.size(); ++i) {
        const FreeParameter &f = request.free[i];
        if (!f.info || f.info->field == Param::BackgroundOn)
            return fail("free", "not a parameter", names);
        const std::string name = f.info->name;
        if (f.info->field == Param::V2)
            return fail("free V2", "the clamp potential of every point is the data's", names);
        for (std::size_t k = 0; k < i; ++k)
            if (request.free[k].info == f.info)
                return fail("free " + name, "named twice", "each parameter once");
        double low = 0, high = 0;
        const std::string lowProblem = acceptValue(*f.info, f.low, &low);
        if (!lowProblem.empty())
            return fail("free " + name + " low " + shortestNumber(f.low), lowProblem, rangeText(*f.info));
        const std::string highProblem = acceptValue(*f.info, f.high, &high);
        if (!highProblem.empty())
            return fail("free " + name + " high " + shortestNumber(f.high), highProblem, rangeText(*f.info));
        if (low != f.low || high != f.high)
            return fail("free " + name, "range not on the editor's values", rangeText(*f.info));
        if (f.info->field == Param::Gb && high > 0 && !request.fixed.BackgroundOn)
            return fail("free Gb", "the background conductance is switched off",
                "the background switched on (--background, background=True), or Gb=0:0");
        if (low > high)
            return fail("free " + name + " " + editorText(*f.info, low) + ":" + editorText(*f.info, high),
                "low above high", "LOW:HIGH within " + rangeText(*f.info));
    }
    if (request.noise == FitNoise::Fixed && !(request.noiseValue >= 0 && request.noiseValue <= MaxNoise))
        return fail("noise " + shortestNumber(request.noiseValue), "out of range",
            "0.." + shortestNumber(MaxNoise) + " pA rms per trial");
    // The moves as the batch tool's option would take them.
    for (const SensitivityMove &move : request.sensitivity)
        if (!move.info)
            return fail("sensitivity", "not a parameter", names);
    std::vector<SensitivityMove> moves;
    if (!parseSensitivity(sensitivityText(request.sensitivity), &moves, problem))
        return false;
    if (request.trials < 1 || request.trials > MaxRunTrials)
        return fail("trials " + std::to_string(request.trials), "out of range",
            "1.." + std::to_string(MaxRunTrials) + " for fit");
    if (!checkBootstrap(request, problem))
        return false;
    const int values = measuredValueCount(request.data);
    const int needed = static_cast<int>(request.free.size()) + 1;
    if (values < needed)
        return fail(request.data.name.empty() ? "the data" : request.data.name,
            std::to_string(values) + " measured values for " + std::to_string(request.free.size())
                + " free parameters",
            "at least " + std::to_string(needed) + " (one more than the free parameters)");
    // The fixed set as it is; a candidate the editors refuse (Gb above a
    // free Gmax) is passed over by the search.
    RunDescription run;
    run.experiment = Experiment::Isv;
    run.seeds = {request.seed};
    run.trials = request.trials;
    run.params = request.fixed;
    RunProblem why;
    if (!checkRun(run, &why, "--background"))
        return fail(why.what, why.reason, why.accepted);
    return true;
}

namespace {

SeededPotential fitPotential(std::uint32_t seed, int V)
{
    return {V, mixSeed(seed, static_cast<std::uint32_t>(SweepFirstV - V))};
}

} // namespace

std::vector<SeededPotential> fitPotentials(const FitRequest &request)
{
    std::vector<SeededPotential> potentials;
    for (const MeasuredPoint &point : request.data.points)
        potentials.push_back(fitPotential(request.seed, point.V));
    return potentials;
}

std::vector<SeededPotential> fitCurvePotentials(std::uint32_t seed)
{
    std::vector<SeededPotential> potentials;
    for (int V = SweepFirstV; V >= static_cast<int>(paramInfo(Param::V2).min); --V)
        potentials.push_back(fitPotential(seed, V));
    return potentials;
}

FitEvaluator localFitEvaluator(const FitRequest &request, int workers, const std::function<bool()> &stop)
{
    const std::vector<SeededPotential> potentials = fitPotentials(request);
    const int trials = request.trials;
    if (workers <= 0)
        workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // The work is shared out by candidate and potential, so that a batch of
    // one candidate (a step of a profile) keeps every thread busy too.
    return [potentials, trials, workers, stop](const std::vector<ParameterSet> &batch) {
        std::vector<std::vector<IsvPoint>> results(batch.size(), std::vector<IsvPoint>(potentials.size()));
        const std::size_t units = batch.size() * potentials.size();
        std::atomic<std::size_t> next {0};
        std::atomic<bool> stopped {false};
        const auto work = [&] {
            for (std::size_t u = next++; u < units; u = next++) {
                const std::size_t c = u / potentials.size(), k = u % potentials.size();
                const std::vector<IsvPoint> point
                    = experimentEntry(Experiment::Isv).seededPoints(batch[c], {potentials[k]}, trials, stop);
                if (point.empty())
                    stopped = true;
                else
                    results[c][k] = point.front();
            }
        };
        const std::size_t helpers = std::min<std::size_t>(static_cast<std::size_t>(workers), units) - 1;
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < helpers; ++t)
            threads.emplace_back(work);
        work();
        for (std::thread &thread : threads)
            thread.join();
        if (stopped)
            results.clear(); // a stopped run: the search sees no results and stops
        return results;
    };
}

ParameterSet fittedParameters(const FitResult &result)
{
    ParameterSet p = result.request.fixed;
    for (std::size_t j = 0; j < result.request.free.size() && j < result.estimates.size(); ++j)
        setFieldValue(p, result.request.free[j].info->field, result.estimates[j]);
    return p;
}

} // namespace cleftsim
