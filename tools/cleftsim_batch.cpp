// cleftsim-batch: the three experiments of Cleftsim from the command line,
// on the same engine as the windows, so that a seed reproduces a Run draw
// for draw.

#include "experiments/engine/histogramsrun.h"
#include "experiments/engine/isvsweep.h"
#include "experiments/engine/records.h"
#include "model/parameterset.h"
#include "model/parametertable.h"
#include "model/random.h"
#include "model/rounding.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace cleftsim;

namespace {

const char Usage[]
    = R"(Usage: cleftsim-batch EXPERIMENT [--seed S] [--trials T] [--background] [--PARAM VALUE ...]

Runs one experiment of Cleftsim with the rules of its window and writes the
results to standard output.

EXPERIMENT   records | isv | histograms
  records      the Records text file of T Runs (header "161 T 10000", CRLF
               line ends, 161 currents in pA per Run)
  isv          the Is vs V2 sweep as CSV: V2_mV,trials,mean_quanta,
               mean_peak_pA,mean_epsc_pA for V2 = 40, 39, ..., -140 mV
  histograms   one Histograms run as a JSON object

Options:
  --seed S       unsigned 32-bit seed, 0..4294967295; without it the seed is
                 taken from the clock (milliseconds since midnight UTC) as a
                 Run's is. records seeds with S before Run 1 and with
                 S + r - 1 (mod 2^32) before Run r; isv and histograms seed
                 once with S before the first trial.
  --trials T     records: number of Runs, 1..100 (default 1);
                 isv, histograms: trials, 1..10000 (default 100)
  --background   background conductance switched on (needed for --Gb above 0)
  --help, -h     this text

Parameters (the others keep the default set):
  --N     release sites                  1..20        (default 10)
  --Rg    gap resistance [GOhm]          0.00..9.99   (default 0.50)
  --V2    clamp potential [mV]           -150..40     (default -63)
  --Emax  spike top [mV]                 -40..40      (default 20)
  --V1r   resting potential [mV]         -100..40     (default -70)
  --du    spike duration [msec]          0.10..2.00   (default 1.00)
  --ex    release exponent step [mV]     1.00..9.99   (default 5.00)
  --gf    release norm factor            0.0000..0.9999 (default 0.1500)
  --Gmax  quantal peak conductance [nS]  0.01..9.99, not below Gb (default 0.20)
  --tc    conductance time to peak [msec] 0.50..9.99  (default 2.50)
  --Gb    background conductance [nS]    0.000..9.999, not above Gmax (default 0.000)

A value is written as its editor takes it: N, V2, Emax and V1r as whole
numbers, the others with at most as many decimals as the ranges above show
(so every run can be repeated in the windows), always with a full stop. A
value may also be given as --PARAM=VALUE; when an option is repeated, the
last one counts. A value outside its range, Gb above Gmax, Gb above 0 without
--background, a malformed number or an unknown option is refused with exit
status 2, nothing on standard output and one line on standard error.

Exit status: 0 success, 1 standard output could not be written (a full
disk, a closed pipe), 2 usage or range error.
)";

// A refusal of the command line; its text is the one line for stderr.
struct UsageError {
    std::string text;
};

[[noreturn]] void refuse(const std::string &what, const std::string &reason, const std::string &accepted)
{
    throw UsageError {"cleftsim-batch: " + what + ": " + reason + "; accepted " + accepted};
}

// Reads a decimal number: an optional sign, digits, and optionally a full
// stop with digits. Sets decimals to the number of digits after the stop.
bool readDecimal(const std::string &text, double &value, int &decimals)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const std::size_t digitsStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == digitsStart)
        return false;
    decimals = 0;
    if (i < text.size() && text[i] == '.') {
        const std::size_t fractionStart = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        decimals = static_cast<int>(i - fractionStart);
        if (decimals == 0)
            return false;
    }
    if (i != text.size())
        return false;
    const char *first = text.data() + (text[0] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        return false;
    value += 0.0; // -0 reads as 0
    return true;
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

enum class Experiment { Records, Isv, Histograms };

// What the command line asks for.
struct Request {
    Experiment experiment = Experiment::Isv;
    bool help = false;
    bool seeded = false;
    std::uint32_t seed = 0;
    bool trialsGiven = false;
    std::string trialsText;
    ParameterSet params = DefaultParameterSet;
    std::string GbText; // as given, for the messages of the cross checks
};

const char ExperimentNames[] = "records, isv, histograms";

// The options the command line knows, for the message on an unknown one.
std::string knownOptions()
{
    std::string text = "EXPERIMENT, --seed, --trials, --background, --help";
    for (const ParamInfo &info : parameterTable())
        if (info.field != Param::BackgroundOn)
            text += std::string(", --") + info.name;
    return text;
}

Request parse(int argc, char **argv)
{
    Request request;
    bool haveExperiment = false;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string &a : args)
        if (a == "--help" || a == "-h") {
            request.help = true;
            return request;
        }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            if (haveExperiment)
                refuse("EXPERIMENT " + arg, "a second experiment", std::string("one of ") + ExperimentNames);
            if (arg == "records")
                request.experiment = Experiment::Records;
            else if (arg == "isv")
                request.experiment = Experiment::Isv;
            else if (arg == "histograms")
                request.experiment = Experiment::Histograms;
            else
                refuse("EXPERIMENT " + arg, "unknown experiment", ExperimentNames);
            haveExperiment = true;
            continue;
        }
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
            request.params.BackgroundOn = 1;
            continue;
        }
        const ParamInfo *param
            = name.rfind("--", 0) == 0 ? findParam(std::string_view(name).substr(2)) : nullptr;
        if (param && param->field == Param::BackgroundOn)
            param = nullptr; // the switch is --background
        const bool known = param || name == "--seed" || name == "--trials";
        if (!known)
            refuse(arg, "unknown option", knownOptions());
        const std::string accepted = param ? rangeText(*param)
            : name == "--seed"             ? std::string("0..4294967295")
                               : std::string("1..100 for records, 1..10000 for isv and histograms");
        if (!inlineValue) {
            if (i + 1 >= args.size())
                refuse(name, "value missing", accepted);
            value = args[++i];
        }
        if (name == "--seed") {
            request.seed = static_cast<std::uint32_t>(readWhole(name, value, 0, 4294967295LL, accepted));
            request.seeded = true;
        } else if (name == "--trials") {
            readWhole(name, value, 1, 10000, accepted);
            request.trialsGiven = true;
            request.trialsText = value;
        } else {
            double number = 0;
            int decimals = 0;
            if (!readDecimal(value, number, decimals))
                refuse(name + " " + value, param->decimals == 0 ? "not a whole number" : "not a number",
                    accepted);
            if (decimals > param->decimals)
                refuse(name + " " + value, param->decimals == 0 ? "not a whole number" : "too many decimals",
                    accepted);
            if (!(number >= param->min && number <= param->max))
                refuse(name + " " + value, "out of range", accepted);
            setFieldValue(request.params, param->field, number);
            if (param->field == Param::Gb)
                request.GbText = value;
        }
    }
    if (!haveExperiment)
        refuse("EXPERIMENT", "missing", ExperimentNames);
    if (request.trialsGiven && request.experiment == Experiment::Records)
        readWhole("--trials", request.trialsText, 1, MaxRecords, "1..100 for records");
    const ParameterSet &p = request.params;
    if (p.Gb > 0 && !p.BackgroundOn)
        refuse("--Gb " + request.GbText, "needs --background", "0.000 without --background");
    if (p.Gb > p.Gmax) // Gb is above 0 here, so it was given
        refuse(
            "--Gb " + request.GbText, "above Gmax", "0.000.." + formatFixed(p.Gmax, 3) + " (not above Gmax)");
    return request;
}

// JSON text of an array of counts.
template <class Counts> std::string countList(const Counts &counts, int used)
{
    std::string text = "[";
    for (int i = 0; i < used; ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(counts[static_cast<std::size_t>(i)]);
    }
    return text + "]";
}

std::string real6(double x)
{
    return formatFixed(x, 6);
}

std::string recordsOutput(ModelState &state, std::uint32_t seed, int runs)
{
    const RecordsResult records = runRecords(state, consecutiveSeeds(seed, runs));
    std::ostringstream out;
    writeRecordsFile(out, records.traces);
    return out.str();
}

std::string isvOutput(ModelState &state, std::uint32_t seed, int trials)
{
    Generator rng(seed);
    std::string text = "V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA\n";
    for (const IsvPoint &point : runIsvSweep(state, rng, trials)) {
        text += std::to_string(point.V) + "," + std::to_string(point.trials) + "," + real6(point.meanQuanta())
            + "," + real6(point.meanPeak()) + "," + real6(point.meanEpsc()) + "\n";
    }
    return text;
}

std::string histogramsOutput(ModelState &state, std::uint32_t seed, int trials)
{
    Generator rng(seed);
    const HistogramsResult h = runHistograms(state, rng, trials);
    const ScatterStats stats = scatterStatistics(h);
    const int N = h.N;
    const int S = h.spikeSteps;
    std::string text = "{\n";
    text += "  \"trials\": " + std::to_string(h.trials) + ",\n";
    text += "  \"seed\": " + std::to_string(seed) + ",\n";
    text += "  \"N\": " + std::to_string(N) + ",\n";
    text += "  \"SpikeSteps\": " + std::to_string(S) + ",\n";
    text += "  \"quanta\": " + countList(h.quanta, N + 1) + ",\n";
    text += "  \"current\": " + (h.currentCollected ? countList(h.current, 10 * N + 1) : std::string("null"))
        + ",\n";
    text += "  \"latency\": " + countList(h.latency, S + 1) + ",\n";
    text += "  \"joint\": [\n";
    for (int m = 0; m <= N; ++m)
        text += "    " + countList(h.joint[static_cast<std::size_t>(m)], S + 1) + (m < N ? ",\n" : "\n");
    text += "  ],\n";
    text += "  \"mean_quanta\": " + real6(h.meanQuanta()) + ",\n";
    text += "  \"mean_peak_pA\": " + (h.currentCollected ? real6(h.meanPeak()) : std::string("null")) + ",\n";
    text += "  \"mean_latency_ms\": "
        + (h.releasingTrials() > 0 ? real6(h.meanLatencyMs()) : std::string("null")) + ",\n";
    text += "  \"r\": " + (stats.hasR ? real6(stats.r) : std::string("null")) + ",\n";
    text += "  \"max_current_pA\": " + real6(h.maxCurrent) + "\n";
    text += "}\n";
    return text;
}

// Writes all of text to stdout; false when it could not be written.
bool emit(const std::string &text)
{
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
    if (written != text.size() || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        std::fprintf(stderr, "cleftsim-batch: cannot write the output: %s\n",
            error ? std::strerror(error) : "write error");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // A closed pipe is an output that cannot be written: status 1, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    Request request;
    try {
        request = parse(argc, argv);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "%s\n", e.text.c_str());
        return 2;
    }
    if (request.help)
        return emit(Usage) ? 0 : 1;

    ModelState state;
    state.LPC = request.params;
    state.LPI = request.params;
    state.SpikeSteps = spikeStepsFor(request.params.du);
    const std::uint32_t seed = request.seeded ? request.seed : seedFromClock();
    int trials = request.experiment == Experiment::Records ? 1 : 100;
    if (request.trialsGiven)
        trials = std::stoi(request.trialsText);

    std::string text;
    switch (request.experiment) {
    case Experiment::Records: text = recordsOutput(state, seed, trials); break;
    case Experiment::Isv: text = isvOutput(state, seed, trials); break;
    case Experiment::Histograms: text = histogramsOutput(state, seed, trials); break;
    }
    return emit(text) ? 0 : 1;
}
