// cleftsim-batch: the three experiments of Cleftsim from the command line,
// on the same engine as the windows, so that a seed reproduces a Run draw
// for draw.

#include "model/drawscan.h"
#include "model/rounding.h"
#include "run/experimenttable.h"
#include "run/fit.h"
#include "run/fitbootstrap.h"
#include "run/runresults.h"
#include "run/statesfile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace cleftsim;

namespace {

const char UsageStart[] = R"(Usage: cleftsim-batch EXPERIMENT [--seed S] [--trials T] [--format F]
           [--states FILE --state NAME] [--background] [--PARAM VALUE ...]
       cleftsim-batch records --seeds S1,S2,... [--format F]
           [--states FILE --state NAME] [--background] [--PARAM VALUE ...]
       cleftsim-batch fit --data FILE --free PARAM[=LOW:HIGH][,...] [--trials T]
           [--seed S] [--workers W] [--noise auto|none|VALUE]
           [--sensitivity none|PARAM=DELTA[%],...] [--states FILE --state NAME]
           [--background] [--PARAM VALUE ...]
       cleftsim-batch --help | --version

Runs one experiment of Cleftsim with the rules of its window and writes the
results to standard output.

EXPERIMENT   records | isv | histograms
  records      the Records text file of T Runs (header "161 T 10000", CRLF
               line ends, 161 currents in pA per Run)
  isv          the Is vs V2 sweep as CSV: V2_mV,trials,mean_quanta,
               mean_peak_pA,mean_epsc_pA for V2 = 40, 39, ..., -140 mV
               (as JSON also std_quanta, std_peak_pA, std_epsc_pA: the
               standard deviations over the trials of each potential)
  histograms   one Histograms run as a JSON object; at V2 > 0 every current
               is outward and the peak current counts inward current only,
               so every peak is 0 pA, and a "note" after the provenance says so
  fit          fits the free parameters to measured mean peak currents at
               several clamp potentials and writes the result as JSON (see
               "Fitting measured data" below)

Every JSON output begins with where it came from: "program", "version",
"experiment", "trials", "seed" (records: "seeds", one per Run),
"BackgroundOn" and "parameters" (every parameter by name).

Options:
  --seed S       unsigned 32-bit seed, 0..4294967295; without it a fresh seed
                 from the system's entropy, different for runs started
                 together (the JSON output records it). records seeds Run r
                 with the seed mixed from S and r (SplitMix64, as Python's
                 point_seed(S, r); before 1.7.0: S + r - 1); isv and
                 histograms seed once with S before the first trial.
  --seeds S1,S2,...
                 records only: one seed per Run, 1 to 100 seeds; Run r is
                 seeded with the r-th. Not together with --seed or --trials.
  --trials T     records: number of Runs, 1..100 (default 1);
                 isv, histograms: trials, 1..10000 (default 100)
  --format F     records: text (the records file, default) or json (the
                 currents of each Run as an array of numbers); isv: csv
                 (default) or json; histograms: json
  --states FILE --state NAME
                 start from a stored state of a states file saved by the
                 program's "Save States..." (NAME: its full name, such as
                 "2: 1>Rg", or its number); the other options override it
  --background   background conductance switched on (needed for --Gb above 0)
  --help, -h     this text
  --version      the program's version, alone on the command line

)";

// The rest of the help, after the table of parameters.
const char UsageEnd[] = R"(A value is taken when it is one its editor can hold: N, V2, Emax and V1r
whole numbers, the others with at most as many decimals as the ranges above
show (so every run can be repeated in the windows), always with a full stop.
Numbers are written as Python's float() takes them (1.50, .5, 2., 1.5e0);
trailing zeros do not count (1.500, 10.0 for N), and a number within a
relative 1e-9 of such a value, or the single-precision float nearest to it
(0.30000001192092896 for 0.30), is taken as that value (the JSON output
records the value taken); a refusal names the nearest value accepted. A value may also be given as --PARAM=VALUE; when
an option is repeated, the last one counts. A value outside its range, with
more decimals, not finite, Gb above Gmax, Gb above 0 without --background, a
malformed number or an unknown option is refused with exit status 2,
nothing on standard output and one line on standard error.

Fitting measured data:
    --data FILE    a CSV file with a header row and a row per clamp potential:
                   V2_mV (whole mV within the V2 range), mean_peak_pA (negative
                   for inward) and its spread, sem_pA or std_pA with n (the
                   trials recorded); optionally mean_quanta with sem_quanta (or
                   n) and failure_rate with n. # lines are comments. Fields
                   separated by commas, semicolons or tabs (the one the header
                   uses most; with semicolons or tabs a decimal comma is read
                   as a point), quoted as spreadsheets quote them; at most 200
                   rows and 4 MiB. The isv CSV and JSON of this tool are data
                   too (trials is n; JSON at most 256 KiB).
    --free LIST    the parameters to fit, separated by commas, each with its
                   range as PARAM=LOW:HIGH or alone for its editor's range
                   (Rg, N, ... : every parameter but V2); the others keep the
                   default set, the state of --state or the values given
    --trials T     simulated trials per clamp potential and candidate,
                   1..10000 (default 2000)
    --seed S       the seed of the simulated trials, the same for every
                   candidate; without it a fresh one, recorded in the output
    --workers W    threads that simulate candidates side by side (default one
                   per core; the result does not depend on it)
    --noise auto|none|VALUE
                   the recording noise, pA rms added to every recorded trial:
                   auto fits it as a nuisance parameter from the recorded
                   spreads (std_pA, or sem_pA, with n; the default), VALUE
                   fixes it, none leaves it and the recorded spreads out
    --sensitivity none|PARAM=DELTA[%],...
                   fixed parameters moved both ways by DELTA (in their unit,
                   or % of their value), the fit's estimates refitted at each
                   (default Gmax=10%,N=1; none: skipped)
    --bootstrap B  B recordings of the data's design (potentials, trials n,
                   columns) simulated at the estimates with the fitted noise,
                   each from seeds of its own, refitted, and the 95 %
                   percentile intervals of their estimates written as
                   "bootstrap"; 0..10000 (default 0: none). The replicates
                   run side by side on the --workers threads
    The means of a potential are compared jointly with their covariance as
    simulated: a mean over n recorded trials has its trials' spread (with the
    noise's on the current) over sqrt(n); where n is not given the recorded
    standard error is taken as known. The output holds the estimates, their
    95 % profile intervals ("bounded": false where an interval reaches the end
    of its range; at Rg or Gb = 0 the interval is an upper limit,
    "upper_limits"), chi2, dof, p_value, noise_pA, sensitivity, warnings, the
    points, the profiles and the provenance with the isv command of the fitted
    set. Each warning also goes to standard error as a line warning: TEXT (CODE);
    a progress line goes there when it is a terminal.

Exit status: 0 success, 1 standard output could not be written (a full
disk), 2 usage or range error. When the reader of standard output is gone
(cleftsim-batch ... | head), the tool ends quietly by SIGPIPE, as other
tools do.
)";

// The help: the options, then every parameter with its meaning, unit, range
// and default from the table the editors take them from, then the rules.
// The columns are as wide as their longest entry, so they stay in line
// whatever the table holds.
std::string usage()
{
    struct Row {
        std::string name, meaning, range, fallback;
    };
    std::vector<Row> rows;
    std::size_t widths[3] = {0, 0, 0};
    for (const ParamInfo *info : numericParams()) {
        Row row;
        row.name = std::string("--") + info->name;
        row.meaning = info->meaning;
        if (*info->unit)
            row.meaning += std::string(" [") + info->unit + "]";
        row.range = formatFixed(info->min, info->decimals) + ".." + formatFixed(info->max, info->decimals);
        if (const std::string limit = crossLimitText(*info); !limit.empty())
            row.range += ", " + limit;
        row.fallback = formatFixed(fieldValue(DefaultParameterSet, info->field), info->decimals);
        widths[0] = std::max(widths[0], row.name.size());
        widths[1] = std::max(widths[1], row.meaning.size());
        widths[2] = std::max(widths[2], row.range.size());
        rows.push_back(row);
    }
    const auto padded
        = [](const std::string &s, std::size_t width) { return s + std::string(width - s.size(), ' '); };
    std::string text = UsageStart;
    text += "Parameters (the others keep the default set or the state of --state):\n";
    for (const Row &row : rows)
        text += "  " + padded(row.name, widths[0]) + " " + padded(row.meaning, widths[1]) + " "
            + padded(row.range, widths[2]) + " (default " + row.fallback + ")\n";
    return text + "\n" + UsageEnd;
}

// A refusal of the command line, in the core's words; main writes it as the
// one line for stderr.
class Refused : public std::exception {
public:
    explicit Refused(RunProblem problem)
        : m_problem(std::move(problem))
        , m_text("cleftsim-batch: " + m_problem.text())
    {
    }
    const char *what() const noexcept override { return m_text.c_str(); }

private:
    RunProblem m_problem;
    std::string m_text;
};

[[noreturn]] void refuse(const std::string &what, const std::string &reason, const std::string &accepted)
{
    throw Refused({what, reason, accepted});
}

[[noreturn]] void refuse(const RunProblem &problem)
{
    throw Refused(problem);
}

// Reads a whole number within lo..hi; refuses with the option's name.
long long readWhole(const std::string &option, const std::string &text, long long lo, long long hi,
    const std::string &accepted)
{
    std::size_t i = (!text.empty() && text[0] == '+') ? 1 : 0;
    long long value = 0;
    const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (text.empty() || result.ec == std::errc::invalid_argument || result.ptr != text.data() + text.size()
        || (i == 1 && text.size() > 1 && text[1] == '-'))
        refuse(option + " " + text, "not a whole number", accepted);
    if (result.ec == std::errc::result_out_of_range || value < lo || value > hi)
        refuse(option + " " + text, "out of range", accepted);
    return value;
}

// Reads the comma-separated seeds of --seeds, one per Records trial.
std::vector<std::uint32_t> readSeeds(const std::string &text)
{
    const std::string accepted = "1 to 100 seeds 0..4294967295, separated by commas";
    std::vector<std::uint32_t> seeds;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item
            = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty())
            refuse("--seeds " + text, "a seed missing", accepted);
        seeds.push_back(static_cast<std::uint32_t>(readWhole("--seeds", item, 0, 4294967295LL, accepted)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (seeds.size() > static_cast<std::size_t>(MaxRecords))
        refuse("--seeds", std::to_string(seeds.size()) + " seeds", accepted);
    return seeds;
}

// --states FILE --state NAME, as given.
struct StatesChoice {
    std::string file;
    std::string name;
    bool fileGiven = false;
    bool nameGiven = false;
};

// What the command line asks for.
struct Request {
    RunRequest run;
    bool help = false;
    bool version = false;
    bool experimentGiven = false;
    bool seedsGiven = false;
    std::string formatText; // as given; empty: the experiment's default
    OutputFormat format = OutputFormat::Text;
    std::string GbText; // as given, for the messages of the cross checks
    StatesChoice states;
};

// The formats each experiment can be written in, the default first.
std::string formatsOf(Experiment e)
{
    const ExperimentEntry &entry = experimentEntry(e);
    return (entry.textFormat ? std::string(entry.textFormat) + ", " : std::string()) + "json for "
        + entry.name;
}

OutputFormat readFormat(Experiment e, const std::string &text)
{
    if (text.empty() || text == "json")
        return text.empty() ? OutputFormat::Text : OutputFormat::Json;
    const char *textFormat = experimentEntry(e).textFormat;
    if (textFormat && text == textFormat)
        return OutputFormat::Text;
    refuse("--format " + text, std::string("not a format of ") + experimentName(e), formatsOf(e));
}

// The formats of every experiment: "text, json for records; csv, json for isv; ...".
std::string everyFormat()
{
    std::string text;
    for (const ExperimentEntry &entry : experimentTable())
        text += (text.empty() ? "" : "; ") + formatsOf(entry.experiment);
    return text;
}

// The trial ranges of every experiment, the experiments of one range
// together: "1..100 for records, 1..10000 for isv and histograms".
std::string everyTrialRange()
{
    std::vector<std::pair<int, std::vector<std::string>>> ranges;
    for (const ExperimentEntry &entry : experimentTable()) {
        if (ranges.empty() || ranges.back().first != entry.mostTrials)
            ranges.push_back({entry.mostTrials, {}});
        ranges.back().second.push_back(entry.name);
    }
    std::string text;
    for (const auto &[most, names] : ranges) {
        text += (text.empty() ? "1.." : ", 1..") + std::to_string(most) + " for ";
        for (std::size_t i = 0; i < names.size(); ++i)
            text += (i == 0 ? "" : i + 1 < names.size() ? ", " : " and ") + names[i];
    }
    return text;
}

// The stored state NAME of a states file, as the base of a run; gbWhat
// names its Gb for the cross checks when --Gb is not given.
ParameterSet stateOfFile(
    const std::string &file, const std::string &name, const std::string &GbText, std::string &gbWhat)
{
    StatesSession session;
    RunProblem why;
    if (!readStatesFile(file, session, &why))
        refuse({"--states " + file + (why.what.empty() ? "" : ": " + why.what), why.reason, why.accepted});
    const ParameterSet *state = findState(session, name);
    if (!state) {
        std::string names;
        for (const ParameterSet &p : session.states)
            names += (names.empty() ? "" : ", ") + p.Name;
        refuse(
            "--state " + name, "no such state in " + file, "the full name or the number of one of " + names);
    }
    ParameterSet base = *state;
    base.Name = DefaultParameterSet.Name;
    if (GbText.empty())
        gbWhat = "Gb " + formatFixed(base.Gb, 3) + " of state \"" + state->Name + "\"";
    return base;
}

// An option of a command line other than the switch and the parameters:
// its name, what its value may be, and what it does with the value.
struct OptionRow {
    const char *name;
    std::string accepted;
    std::function<void(const std::string &value, const std::string &accepted)> take;
};

// The options of one command line besides the switch and the parameters,
// which every command line takes alike, and how its refusals name them.
struct OptionRules {
    std::vector<OptionRow> rows; // each taking a value
    const char *unknown; // the reason given for an unknown option
    std::string known; // what is accepted instead of an unknown option
    std::string valueMissing; // accepted when a value is missing; empty: the option's accepted
    // Takes an argument that is no option; none: it is refused as an unknown option.
    std::function<void(const std::string &arg)> positional;
};

// An option of a row, with its value.
struct Option {
    const OptionRow *row;
    std::string value;
};

// The options a command line knows, for the message on an unknown one: the
// others given, then every parameter.
std::string withParamOptions(const char *others)
{
    std::string text = others;
    for (const ParamInfo *info : numericParams())
        text += std::string(", --") + info->name;
    return text;
}

// Reads the option at args[i], given as --NAME VALUE or --NAME=VALUE, and
// moves i past its value. The switch --background and the parameters go
// into values (each value refused here already, so that the first bad option
// is the one named; GbText keeps the text of --Gb for the cross checks);
// for them it returns nothing. Refuses an option not in rules.rows.
std::optional<Option> readOption(const std::vector<std::string> &args, std::size_t &i,
    const OptionRules &rules, RunRequest &values, std::string &GbText)
{
    const std::string &arg = args[i];
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    const std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inlineValue = true;
    }
    if (name == "--background") {
        if (inlineValue)
            refuse(arg, "takes no value", "--background alone");
        values.background = true;
        return std::nullopt;
    }
    const ParamInfo *param = name.rfind("--", 0) == 0 ? findParam(std::string_view(name).substr(2)) : nullptr;
    if (param && param->field == Param::BackgroundOn)
        param = nullptr; // the switch is --background
    const auto row = std::find_if(
        rules.rows.begin(), rules.rows.end(), [&](const OptionRow &r) { return name == r.name; });
    if (!param && row == rules.rows.end())
        refuse(arg, rules.unknown, rules.known);
    if (!inlineValue) {
        if (i + 1 >= args.size())
            refuse(name, "value missing",
                param                            ? rangeText(*param)
                    : rules.valueMissing.empty() ? row->accepted
                                                 : rules.valueMissing);
        value = args[++i];
    }
    if (!param)
        return Option {&*row, value};
    double number = 0;
    if (!readNumber(value, number))
        refuse(name + " " + value, param->decimals == 0 ? "not a whole number" : "not a number",
            rangeText(*param));
    const std::string problem = acceptValue(*param, number, nullptr);
    if (!problem.empty())
        refuse(name + " " + value, problem, rangeText(*param));
    values.values.push_back({param, number, name + " " + value});
    if (param->field == Param::Gb)
        GbText = value;
    return std::nullopt;
}

// The one reader of every command line: every argument in turn, an option
// handed to its row, anything else to the rules' positional.
void readOptions(
    const std::vector<std::string> &args, const OptionRules &rules, RunRequest &values, std::string &GbText)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (rules.positional && (arg.size() < 2 || arg[0] != '-')) {
            rules.positional(arg);
            continue;
        }
        if (const std::optional<Option> option = readOption(args, i, rules, values, GbText))
            option->row->take(option->value, option->row->accepted);
    }
}

// The seed of --seed, a whole number 0..4294967295.
std::uint32_t readSeed(const std::string &value, const std::string &accepted)
{
    return static_cast<std::uint32_t>(readWhole("--seed", value, 0, 4294967295LL, accepted));
}

// --states FILE and --state NAME, as rows of a command line's options.
OptionRow statesRow(StatesChoice &states)
{
    return {
        "--states", "the path of a states file", [&states](const std::string &value, const std::string &) {
            states.file = value;
            states.fileGiven = true;
        }};
}

OptionRow stateRow(StatesChoice &states)
{
    return {"--state", "the full name or the number of a state",
        [&states](const std::string &value, const std::string &) {
            states.name = value;
            states.nameGiven = true;
        }};
}

// Refuses --states without --state and --state without --states.
void checkStatesPair(const StatesChoice &states)
{
    if (states.fileGiven != states.nameGiven)
        refuse(states.fileGiven ? "--states" : "--state",
            states.fileGiven ? "without --state" : "without --states",
            "--states FILE together with --state NAME");
}

// The options of an experiment's command line, each read into request; the
// argument that is no option is the experiment.
OptionRules runOptions(Request &request)
{
    return {
        {{"--seed", "0..4294967295",
             [&request](const std::string &value, const std::string &accepted) {
                 request.run.seed = readSeed(value, accepted);
             }},
            {"--seeds", "1 to 100 seeds 0..4294967295, separated by commas",
                [&request](const std::string &value, const std::string &) {
                    request.run.seeds = readSeeds(value);
                    request.seedsGiven = true;
                }},
            {"--trials", everyTrialRange(),
                [&request](const std::string &value, const std::string &accepted) {
                    request.run.trials = readWhole("--trials", value, 1, MaxRunTrials, accepted);
                    request.run.trialsWhat = "--trials " + value;
                }},
            {"--format", everyFormat(),
                [&request](const std::string &value, const std::string &) { request.formatText = value; }},
            statesRow(request.states), stateRow(request.states)},
        "unknown option",
        withParamOptions("EXPERIMENT, --seed, --seeds, --trials, --format, --states, --state, --background, "
                         "--help, --version"),
        std::string(), [&request](const std::string &arg) {
            if (request.experimentGiven)
                refuse("EXPERIMENT " + arg, "a second experiment", "one of " + experimentNames());
            RunProblem problem;
            if (!experimentNamed(arg, request.run.experiment, &problem, "EXPERIMENT"))
                refuse(problem);
            request.experimentGiven = true;
        }};
}

Request parse(int argc, char **argv)
{
    Request request;
    RunRequest &run = request.run;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string &a : args)
        if (a == "--help" || a == "-h") {
            request.help = true;
            return request;
        }
    if (args.size() == 1 && args[0] == "--version") {
        request.version = true;
        return request;
    }
    readOptions(args, runOptions(request), run, request.GbText);
    if (!request.experimentGiven)
        refuse("EXPERIMENT", "missing", experimentNames());
    const Experiment experiment = run.experiment;
    if (request.seedsGiven) {
        const std::string accepted = "either --seeds S1,S2,... or --seed S with --trials T";
        if (!experimentEntry(experiment).seedPerTrial)
            refuse(
                "--seeds", std::string("not for ") + experimentName(experiment), "--seeds for records only");
        if (run.seed)
            refuse("--seeds with --seed", "both given", accepted);
        if (run.trials)
            refuse("--seeds with --trials", "both given (the seeds count the trials)", accepted);
    }
    request.format = readFormat(experiment, request.formatText);
    if (!request.GbText.empty())
        run.GbWhat = "--Gb " + request.GbText;
    checkStatesPair(request.states);
    if (request.states.fileGiven)
        run.base = stateOfFile(request.states.file, request.states.name, request.GbText, run.GbWhat);
    return request;
}

// Writes all of text to stdout; false when it could not be written.
bool emit(const std::string &text)
{
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
    if (written != text.size() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        if (error == EPIPE) {
            // The reader is gone (| head): end quietly by the signal that
            // ends other tools there, which the shell does not report.
            std::signal(SIGPIPE, SIG_DFL);
            std::raise(SIGPIPE);
            return false;
        }
        std::fprintf(stderr, "cleftsim-batch: cannot write the output: %s\n",
            error ? std::strerror(error) : "write error");
        return false;
    }
    return true;
}

// The fit subcommand: its own options, the same refusals.
struct FitOptions {
    FitRequest request;
    std::string dataPath;
    int workers = 0;
};

// Reads --free: NAME or NAME=LOW:HIGH, separated by commas.
std::vector<FreeParameter> readFree(const std::string &text)
{
    std::vector<FreeParameter> free;
    std::string names;
    for (const ParamInfo *info : numericParams())
        if (info->field != Param::V2)
            names += (names.empty() ? "" : ", ") + std::string(info->name);
    const std::string accepted = "PARAM or PARAM=LOW:HIGH, separated by commas, PARAM one of " + names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const ParamInfo *info = findParam(name);
        if (item.empty())
            refuse("--free " + text, "a parameter missing", accepted);
        if (!info || info->field == Param::BackgroundOn)
            refuse("--free " + item, "unknown parameter", accepted);
        FreeParameter f {info, info->min, info->max};
        if (eq != std::string::npos) {
            const std::string range = item.substr(eq + 1);
            const std::size_t colon = range.find(':');
            double low = 0, high = 0;
            if (colon == std::string::npos || !readNumber(range.substr(0, colon), low)
                || !readNumber(range.substr(colon + 1), high))
                refuse("--free " + item, "not a range LOW:HIGH", rangeText(*info));
            for (double *end : {&low, &high}) {
                const std::string problem = acceptValue(*info, *end, end);
                if (!problem.empty())
                    refuse("--free " + item, problem, rangeText(*info));
            }
            f.low = low;
            f.high = high;
        }
        free.push_back(f);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return free;
}

// What the fit's command line asks for, as read.
struct FitArguments {
    FitOptions options;
    RunRequest values; // the fixed values, taken by the run library's rules
    std::optional<std::uint32_t> seed;
    std::string GbText;
    StatesChoice states;
    bool freeGiven = false;
};

// The options of the fit's command line, each read into fit.
OptionRules fitOptions(FitArguments &fit)
{
    return {{{"--data", "see --help",
                 [&fit](const std::string &value, const std::string &) { fit.options.dataPath = value; }},
                {"--free", "see --help",
                    [&fit](const std::string &value, const std::string &) {
                        fit.options.request.free = readFree(value);
                        fit.freeGiven = true;
                    }},
                {"--trials", "1.." + std::to_string(MaxRunTrials) + " for fit",
                    [&fit](const std::string &value, const std::string &accepted) {
                        fit.options.request.trials
                            = static_cast<int>(readWhole("--trials", value, 1, MaxRunTrials, accepted));
                    }},
                {"--seed", "0..4294967295",
                    [&fit](const std::string &value, const std::string &accepted) {
                        fit.seed = readSeed(value, accepted);
                    }},
                {"--workers", "1..1024",
                    [&fit](const std::string &value, const std::string &accepted) {
                        fit.options.workers
                            = static_cast<int>(readWhole("--workers", value, 1, 1024, accepted));
                    }},
                statesRow(fit.states), stateRow(fit.states),
                {"--noise", "see --help",
                    [&fit](const std::string &value, const std::string &) {
                        RunProblem problem;
                        if (!parseFitNoise(
                                value, &fit.options.request.noise, &fit.options.request.noiseValue, &problem))
                            refuse("--" + problem.what, problem.reason, problem.accepted);
                    }},
                {"--sensitivity", "see --help",
                    [&fit](const std::string &value, const std::string &) {
                        RunProblem problem;
                        if (!parseSensitivity(value, &fit.options.request.sensitivity, &problem))
                            refuse("--" + problem.what, problem.reason, problem.accepted);
                    }},
                {"--bootstrap", "0.." + std::to_string(MaxBootstrapReplicates),
                    [&fit](const std::string &value, const std::string &accepted) {
                        fit.options.request.bootstrap = static_cast<int>(
                            readWhole("--bootstrap", value, 0, MaxBootstrapReplicates, accepted));
                    }}},
        "unknown option of fit",
        withParamOptions("--data, --free, --trials, --seed, --workers, --states, --state, --noise, "
                         "--sensitivity, --bootstrap, --background, --help"),
        "see --help", nullptr};
}

FitOptions parseFit(const std::vector<std::string> &args)
{
    FitArguments fit;
    FitOptions &options = fit.options;
    FitRequest &request = options.request;
    RunRequest &values = fit.values;
    const std::optional<std::uint32_t> &seed = fit.seed;
    const std::string &GbText = fit.GbText;
    readOptions(args, fitOptions(fit), values, fit.GbText);
    if (options.dataPath.empty())
        refuse("--data", "missing", "--data FILE, the measured data");
    if (!fit.freeGiven)
        refuse("--free", "missing", "--free PARAM[=LOW:HIGH][,...], the parameters to fit");
    for (const GivenValue &given : values.values)
        for (const FreeParameter &f : request.free)
            if (given.info == f.info)
                refuse(given.what, std::string(f.info->name) + " is free",
                    "a fixed value for a parameter not in --free");
    checkStatesPair(fit.states);
    if (!GbText.empty())
        values.GbWhat = "--Gb " + GbText;
    if (fit.states.fileGiven) {
        values.base = stateOfFile(fit.states.file, fit.states.name, GbText, values.GbWhat);
        request.fixedFrom = "state \"" + fit.states.name + "\" of " + fit.states.file;
    }
    if (!values.values.empty())
        request.fixedFrom += " with the values given";
    // The fixed set through the run library's rules, as any run's.
    values.experiment = Experiment::Isv;
    values.seed = seed ? *seed : 0u;
    RunDescription fixed;
    RunProblem problem;
    if (!describeRun(values, fixed, &problem))
        refuse(problem);
    request.fixed = fixed.params;
    request.seed = seed ? *seed : freshSeed();
    if (!readMeasuredData(options.dataPath, request.data, &problem))
        refuse(problem);
    if (!checkFit(request, &problem))
        refuse(problem);
    return options;
}

int fitMain(const std::vector<std::string> &args)
{
    FitOptions options;
    try {
        options = parseFit(args);
    } catch (const Refused &refused) {
        std::fprintf(stderr, "%s\n", refused.what());
        return 2;
    }
    const bool terminal = isatty(fileno(stderr)) != 0;
    const FitProgress progress = [terminal](const FitProgressStep &step) {
        if (terminal)
            std::fprintf(stderr, "\rcleftsim-batch fit: %s (stage %d of %d), %d candidates simulated\033[K",
                step.stage.c_str(), step.stageIndex + 1, step.stageCount, step.evaluations);
    };
    const FitResult result = runFit(options.request, localFitEvaluator(options.request, options.workers),
        progress, {}, localFitReplicates(options.workers));
    if (terminal)
        std::fprintf(stderr, "\n");
    for (const FitWarning &warning : result.warnings)
        std::fprintf(stderr, "warning: %s (%s)\n", warning.text.c_str(), warning.code.c_str());
    return emit(fitJson(result)) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // A closed pipe is seen as EPIPE when the output is written (emit).
    std::signal(SIGPIPE, SIG_IGN);
    // A draw scan forced by the environment that this processor lacks (or
    // that does not exist) is refused before anything runs, so that a
    // comparison of machines never runs on another scan than the one named.
    const std::string scanProblem = drawScanVariableProblem();
    if (!scanProblem.empty()) {
        std::fprintf(stderr, "cleftsim-batch: %s\n", scanProblem.c_str());
        return 2;
    }
    if (argc > 1 && std::string(argv[1]) == "fit") {
        const std::vector<std::string> args(argv + 2, argv + argc);
        if (std::find(args.begin(), args.end(), "--help") == args.end()
            && std::find(args.begin(), args.end(), "-h") == args.end())
            return fitMain(args);
    }
    RunDescription run;
    Request request;
    try {
        request = parse(argc, argv);
        if (request.help)
            return emit(usage()) ? 0 : 1;
        if (request.version)
            return emit(std::string("cleftsim-batch (Cleftsim) ") + programVersion() + "\n") ? 0 : 1;
        // The defaults, a fresh seed when none was given, and the checks:
        // the same as for a run from Python.
        RunProblem problem;
        if (!describeRun(request.run, run, &problem))
            refuse(problem);
    } catch (const Refused &refused) {
        std::fprintf(stderr, "%s\n", refused.what());
        return 2;
    }
    return emit(runOutput(runExperiment(run), request.format)) ? 0 : 1;
}
