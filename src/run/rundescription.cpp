#include "run/rundescription.h"

#include "engine/records.h"
#include "model/rounding.h"

#include <charconv>
#include <cmath>

namespace cleftsim {

const char *experimentName(Experiment e)
{
    switch (e) {
    case Experiment::Records: return "records";
    case Experiment::Isv: return "isv";
    case Experiment::Histograms: return "histograms";
    }
    return "";
}

std::vector<const ParamInfo *> numericParams()
{
    std::vector<const ParamInfo *> params;
    for (const ParamInfo &info : parameterTable())
        if (info.field != Param::BackgroundOn)
            params.push_back(&info);
    return params;
}

namespace {

// Whether text reads back as exactly value (whatever the locale).
bool readsAs(const std::string &text, double value)
{
    double read = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), read);
    return result.ec == std::errc() && read == value;
}

} // namespace

int decimalsOf(double value, int maxDecimals)
{
    if (!std::isfinite(value))
        return maxDecimals + 1;
    for (int d = 0; d <= maxDecimals; ++d)
        if (readsAs(formatFixed(value, d), value))
            return d;
    return maxDecimals + 1;
}

std::string valueProblem(const ParamInfo &info, double value, int decimals)
{
    if (decimals > info.decimals)
        return info.decimals == 0 ? "not a whole number" : "too many decimals";
    if (!(value >= info.min && value <= info.max))
        return "out of range";
    return {};
}

bool checkBackground(
    const ParameterSet &p, const std::string &gbWhat, RunProblem *problem, const char *switchText)
{
    const auto fail = [&](const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {gbWhat, reason, accepted};
        return false;
    };
    if (p.Gb > 0 && !p.BackgroundOn)
        return fail(std::string("needs ") + switchText, std::string("0.000 without ") + switchText);
    if (p.Gb > p.Gmax)
        return fail("above Gmax", "0.000.." + formatFixed(p.Gmax, 3) + " (not above Gmax)");
    return true;
}

bool checkRun(const RunDescription &run, RunProblem *problem, const char *switchText)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    const std::string name = experimentName(run.experiment);
    if (run.experiment == Experiment::Records) {
        if (run.trials < 1 || run.trials > MaxRecords)
            return fail("trials " + std::to_string(run.trials), "out of range", "1..100 for records");
        if (run.seeds.size() != static_cast<std::size_t>(run.trials))
            return fail("seeds",
                std::to_string(run.seeds.size()) + " seeds for " + std::to_string(run.trials) + " trials",
                "one seed per trial for records");
    } else {
        if (run.trials < 1 || run.trials > MaxRunTrials)
            return fail("trials " + std::to_string(run.trials), "out of range", "1..10000 for " + name);
        if (run.seeds.size() != 1)
            return fail("seeds", std::to_string(run.seeds.size()) + " seeds", "one seed for " + name);
    }
    const ParameterSet &p = run.params;
    if (p.BackgroundOn > 1)
        return fail("BackgroundOn " + std::to_string(p.BackgroundOn), "out of range", "0 or 1");
    for (const ParamInfo *rule : numericParams()) {
        const double value = fieldValue(p, rule->field);
        const int decimals = decimalsOf(value, rule->decimals);
        const std::string reason = valueProblem(*rule, value, decimals);
        if (!reason.empty()) {
            const std::string shown = std::isfinite(value) ? formatFixed(value, std::min(decimals, 17))
                                                           : std::string(std::isnan(value) ? "nan" : "inf");
            return fail(std::string(rule->name) + " " + shown, reason, rangeText(*rule));
        }
    }
    return checkBackground(p, "Gb " + formatFixed(p.Gb, 3), problem, switchText);
}

namespace {

bool consecutive(const std::vector<std::uint32_t> &seeds)
{
    for (std::size_t i = 1; i < seeds.size(); ++i)
        if (seeds[i] != static_cast<std::uint32_t>(seeds[0] + i))
            return false;
    return true;
}

} // namespace

std::string batchCommand(const RunDescription &run)
{
    std::string command = std::string("cleftsim-batch ") + experimentName(run.experiment);
    if (run.experiment == Experiment::Records) {
        if (!run.seeds.empty() && consecutive(run.seeds)) {
            command += " --seed " + std::to_string(run.seeds.front());
            if (run.trials != 1)
                command += " --trials " + std::to_string(run.trials);
        } else {
            command += " --seeds ";
            for (std::size_t i = 0; i < run.seeds.size(); ++i)
                command += (i > 0 ? "," : "") + std::to_string(run.seeds[i]);
        }
    } else {
        if (!run.seeds.empty())
            command += " --seed " + std::to_string(run.seeds.front());
        command += " --trials " + std::to_string(run.trials);
    }
    if (run.params.BackgroundOn)
        command += " --background";
    for (const ParamInfo *rule : numericParams()) {
        const double value = fieldValue(run.params, rule->field);
        if (value != fieldValue(DefaultParameterSet, rule->field))
            command += std::string(" --") + rule->name + " " + formatFixed(value, rule->decimals);
    }
    return command;
}

const char *programVersion()
{
    return CLEFTSIM_VERSION;
}

} // namespace cleftsim
