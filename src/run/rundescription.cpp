#include "run/rundescription.h"

#include "model/rounding.h"
#include "run/experimenttable.h"
#include "runners/records.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif

namespace cleftsim {

const char *experimentName(Experiment e)
{
    return experimentEntry(e).name;
}

std::string experimentNames()
{
    std::string names;
    for (const ExperimentEntry &entry : experimentTable())
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    return names;
}

bool experimentNamed(const std::string &name, Experiment &experiment, RunProblem *problem, const char *label)
{
    for (const ExperimentEntry &entry : experimentTable())
        if (name == entry.name) {
            experiment = entry.experiment;
            return true;
        }
    if (problem)
        *problem = {std::string(label) + " " + name, "unknown experiment", experimentNames()};
    return false;
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

std::string acceptValue(const ParamInfo &info, double given, double *taken)
{
    if (!std::isfinite(given))
        return "not a finite number";
    // The value with the editor's decimals nearest to the one given, read
    // back from its text as the editor reads what it shows.
    const std::string text = formatFixed(given, info.decimals);
    double nearest = 0;
    std::from_chars(text.data(), text.data() + text.size(), nearest);
    nearest += 0.0; // -0 is 0
    double step = 1;
    for (int d = 0; d < info.decimals; ++d)
        step /= 10;
    // A float32 stands for the value whose nearest float32 it is.
    const bool single = static_cast<double>(static_cast<float>(given)) == given
        && static_cast<float>(nearest) == static_cast<float>(given);
    if (given != nearest && !single
        && !(std::fabs(given - nearest) <= ValueTolerance * std::max(std::fabs(nearest), step))) {
        const double accepted = std::min(std::max(nearest, info.min), info.max);
        return std::string(info.decimals == 0 ? "not a whole number" : "too many decimals")
            + " (nearest accepted " + formatFixed(accepted, info.decimals) + ")";
    }
    if (!(nearest >= info.min && nearest <= info.max))
        return "out of range";
    if (taken)
        *taken = nearest;
    return {};
}

bool readNumber(const std::string &text, double &value)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const bool negative = i > 0 && text[0] == '-';
    std::string word = text.substr(i);
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    if (word == "nan" || word == "inf" || word == "infinity") {
        value = word == "nan" ? std::numeric_limits<double>::quiet_NaN()
                              : (negative ? -1 : 1) * std::numeric_limits<double>::infinity();
        return true;
    }
    const auto digits = [&text, &i] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - start;
    };
    const std::size_t first = i;
    std::size_t count = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        count += digits();
    }
    if (count == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    if (i != text.size())
        return false;
    // from_chars takes neither a plus nor a number without digits before the
    // full stop in every library: it reads the digits with a zero in front.
    const std::string plain = "0" + text.substr(first);
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond the floats: infinite, as Python's float() reads it; with a
        // negative exponent below them: zero.
        const bool tiny = plain.find("e-") != std::string::npos || plain.find("E-") != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc() || result.ptr != plain.data() + plain.size()) {
        return false;
    }
    if (negative)
        value = -value;
    value += 0.0; // -0 reads as 0
    return true;
}

std::vector<std::uint32_t> recordsSeeds(std::uint32_t seed, int count)
{
    std::vector<std::uint32_t> seeds;
    for (int r = 1; r <= count; ++r)
        seeds.push_back(mixSeed(seed, static_cast<std::uint32_t>(r)));
    return seeds;
}

std::uint32_t freshSeed()
{
    std::uint32_t seed = 0;
#if __has_include(<sys/random.h>)
    if (getrandom(&seed, sizeof seed, 0) == static_cast<ssize_t>(sizeof seed))
        return seed;
#endif
    std::random_device entropy;
    return static_cast<std::uint32_t>(entropy());
}

std::string crossLimitText(const ParamInfo &info)
{
    if (info.field == Param::Gmax)
        return "not below Gb";
    if (info.field == Param::Gb)
        return "not above Gmax";
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
        return fail("above Gmax",
            "0.000.." + formatFixed(p.Gmax, 3) + " (" + crossLimitText(paramInfo(Param::Gb)) + ")");
    return true;
}

int mostTrials(Experiment e)
{
    return experimentEntry(e).mostTrials;
}

int defaultTrials(Experiment e)
{
    return experimentEntry(e).defaultTrials;
}

std::string trialRangeText(Experiment e)
{
    return "1.." + std::to_string(mostTrials(e)) + " for " + experimentName(e);
}

bool checkRun(const RunDescription &run, RunProblem *problem, const char *switchText)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    const std::string name = experimentName(run.experiment);
    if (run.trials < 1 || run.trials > mostTrials(run.experiment))
        return fail("trials " + std::to_string(run.trials), "out of range", trialRangeText(run.experiment));
    if (experimentEntry(run.experiment).seedPerTrial) {
        if (run.seeds.size() != static_cast<std::size_t>(run.trials))
            return fail("seeds",
                std::to_string(run.seeds.size()) + " seeds for " + std::to_string(run.trials) + " trials",
                "one seed per trial for " + name);
    } else if (run.seeds.size() != 1) {
        return fail("seeds", std::to_string(run.seeds.size()) + " seeds", "one seed for " + name);
    }
    const ParameterSet &p = run.params;
    if (p.BackgroundOn > 1)
        return fail("BackgroundOn " + std::to_string(p.BackgroundOn), "out of range", "0 or 1");
    for (const ParamInfo *rule : numericParams()) {
        // A description holds the values as taken: exactly what the editor holds.
        const double value = fieldValue(p, rule->field);
        const int decimals = decimalsOf(value, rule->decimals);
        double taken = 0;
        std::string reason = acceptValue(*rule, value, &taken);
        if (reason.empty() && taken != value)
            reason = rule->decimals == 0 ? "not a whole number" : "too many decimals";
        if (!reason.empty()) {
            const std::string shown = std::isfinite(value) ? formatFixed(value, std::min(decimals, 17))
                                                           : std::string(std::isnan(value) ? "nan" : "inf");
            return fail(std::string(rule->name) + " " + shown, reason, rangeText(*rule));
        }
    }
    return checkBackground(p, "Gb " + formatFixed(p.Gb, 3), problem, switchText);
}

bool describeRun(const RunRequest &request, RunDescription &run, RunProblem *problem, const char *switchText)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    RunDescription out;
    out.experiment = request.experiment;
    out.params = request.base;
    if (request.background)
        out.params.BackgroundOn = 1;
    for (const GivenValue &given : request.values) {
        double taken = 0;
        const std::string reason = acceptValue(*given.info, given.value, &taken);
        if (!reason.empty())
            return fail(given.what, reason, rangeText(*given.info));
        setFieldValue(out.params, given.info->field, taken);
    }
    const std::string GbWhat
        = request.GbWhat.empty() ? "Gb " + formatFixed(out.params.Gb, 3) : request.GbWhat;
    if (!checkBackground(out.params, GbWhat, problem, switchText))
        return false;
    const bool records = experimentEntry(out.experiment).seedPerTrial;
    if (request.seeds && request.seeds->empty())
        return fail("seeds", "none given", "1 to " + std::to_string(MaxRecords) + " seeds for records");
    const long long trials = request.trials ? *request.trials
        : request.seeds                     ? static_cast<long long>(request.seeds->size())
                                            : defaultTrials(out.experiment);
    if (trials < 1 || trials > mostTrials(out.experiment))
        return fail(request.trialsWhat.empty() ? "trials " + std::to_string(trials) : request.trialsWhat,
            "out of range", trialRangeText(out.experiment));
    out.trials = static_cast<int>(trials);
    if (request.seeds) {
        out.seeds = *request.seeds;
    } else {
        const std::uint32_t seed = request.seed ? *request.seed : freshSeed();
        out.seeds = records ? recordsSeeds(seed, out.trials) : std::vector<std::uint32_t> {seed};
        if (records)
            out.recordsSeed = seed;
    }
    if (!checkRun(out, problem, switchText))
        return false;
    run = std::move(out);
    return true;
}

std::string batchCommand(const RunDescription &run)
{
    std::string command = std::string("cleftsim-batch ") + experimentName(run.experiment);
    if (experimentEntry(run.experiment).seedPerTrial) {
        if (run.recordsSeed && run.seeds == recordsSeeds(*run.recordsSeed, run.trials)) {
            command += " --seed " + std::to_string(*run.recordsSeed);
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
