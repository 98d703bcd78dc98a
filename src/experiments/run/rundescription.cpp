#include "experiments/run/rundescription.h"

#include "experiments/engine/records.h"
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

std::vector<std::uint32_t> consecutiveSeeds(std::uint32_t first, int count)
{
    std::vector<std::uint32_t> seeds;
    for (int r = 1; r <= count; ++r)
        seeds.push_back(first + static_cast<std::uint32_t>(r - 1));
    return seeds;
}

const std::vector<ParamRule> &paramRules()
{
    static const std::vector<ParamRule> rules = {
        {"N", Param::N, 1, 20, 0},
        {"Rg", Param::Rg, 0, 9.99, 2},
        {"V2", Param::V2, -150, 40, 0},
        {"Emax", Param::Emax, -40, 40, 0},
        {"V1r", Param::V1r, -100, 40, 0},
        {"du", Param::du, 0.10, 2.00, 2},
        {"ex", Param::ex, 1.00, 9.99, 2},
        {"gf", Param::gf, 0, 0.9999, 4},
        {"Gmax", Param::Gmax, 0.01, 9.99, 2},
        {"tc", Param::tc, 0.50, 9.99, 2},
        {"Gb", Param::Gb, 0, 9.999, 3},
    };
    return rules;
}

const ParamRule *findParamRule(std::string_view name)
{
    for (const ParamRule &rule : paramRules())
        if (name == rule.name)
            return &rule;
    return nullptr;
}

std::string acceptedText(const ParamRule &rule)
{
    std::string text = formatFixed(rule.lo, rule.decimals) + ".." + formatFixed(rule.hi, rule.decimals);
    if (rule.decimals == 0)
        return text + " (whole numbers)";
    return text + " (at most " + std::to_string(rule.decimals) + " decimals)";
}

void setParamValue(ParameterSet &p, Param field, double value)
{
    switch (field) {
    case Param::N: p.N = static_cast<std::int32_t>(value); break;
    case Param::Rg: p.Rg = value; break;
    case Param::V2: p.V2 = value; break;
    case Param::Emax: p.Emax = value; break;
    case Param::V1r: p.V1r = value; break;
    case Param::du: p.du = value; break;
    case Param::ex: p.ex = value; break;
    case Param::gf: p.gf = value; break;
    case Param::Gmax: p.Gmax = value; break;
    case Param::tc: p.tc = value; break;
    case Param::Gb: p.Gb = value; break;
    case Param::BackgroundOn: p.BackgroundOn = value != 0; break;
    }
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

std::string valueProblem(const ParamRule &rule, double value, int decimals)
{
    if (decimals > rule.decimals)
        return rule.decimals == 0 ? "not a whole number" : "too many decimals";
    if (!(value >= rule.lo && value <= rule.hi))
        return "out of range";
    return {};
}

std::string RunProblem::text() const
{
    return what + ": " + reason + "; accepted " + accepted;
}

bool checkBackground(const ParameterSet &p, const std::string &gbWhat, RunProblem *problem)
{
    const auto fail = [&](const char *reason, const std::string &accepted) {
        if (problem)
            *problem = {gbWhat, reason, accepted};
        return false;
    };
    if (p.Gb > 0 && !p.BackgroundOn)
        return fail("needs --background", "0.000 without --background");
    if (p.Gb > p.Gmax)
        return fail("above Gmax", "0.000.." + formatFixed(p.Gmax, 3) + " (not above Gmax)");
    return true;
}

bool checkRun(const RunDescription &run, RunProblem *problem)
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
    for (const ParamRule &rule : paramRules()) {
        const double value = fieldValue(p, rule.field);
        const int decimals = decimalsOf(value, rule.decimals);
        const std::string reason = valueProblem(rule, value, decimals);
        if (!reason.empty()) {
            const std::string shown = std::isfinite(value) ? formatFixed(value, std::min(decimals, 17))
                                                           : std::string(std::isnan(value) ? "nan" : "inf");
            return fail(std::string(rule.name) + " " + shown, reason, acceptedText(rule));
        }
    }
    return checkBackground(p, "Gb " + formatFixed(p.Gb, 3), problem);
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
    for (const ParamRule &rule : paramRules()) {
        const double value = fieldValue(run.params, rule.field);
        if (value != fieldValue(DefaultParameterSet, rule.field))
            command += std::string(" --") + rule.name + " " + formatFixed(value, rule.decimals);
    }
    return command;
}

const char *programVersion()
{
    return CLEFTSIM_VERSION;
}

} // namespace cleftsim
