// cleftsim._core: the experiments of Cleftsim for Python. It only converts:
// keyword arguments into a run description, which the run library checks and
// runs, and the run's results into numpy arrays and the library's provenance
// of the JSON outputs into a dict. Every range, rule and format is the
// library's.

#include "model/drawscan.h"
#include "model/random.h"
#include "run/fit.h"
#include "run/rundescription.h"
#include "run/runresults.h"
#include "run/statesfile.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace py = pybind11;
using namespace cleftsim;
using pybind11::literals::operator""_a;

namespace {

// Raised as ValueError: what was refused, why, and what is accepted.
[[noreturn]] void refuse(const RunProblem &problem)
{
    throw py::value_error(problem.text());
}

// Python's own text of a value, for the messages.
std::string shown(const py::handle &value)
{
    return py::str(py::repr(value));
}

bool isInteger(const py::handle &value)
{
    return PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr());
}

// The seeds a run takes, as the messages and the help write them.
std::string seedRange()
{
    return "0.." + std::to_string(std::numeric_limits<std::uint32_t>::max());
}

// An unsigned 32-bit seed from a Python int.
std::uint32_t seedFrom(const char *name, const py::handle &value)
{
    if (!isInteger(value))
        throw py::type_error(std::string(name) + " must be an int, not " + shown(py::type::of(value)));
    const std::string accepted = seedRange();
    int overflow = 0;
    const long long seed = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || seed < 0 || seed > static_cast<long long>(std::numeric_limits<std::uint32_t>::max()))
        refuse({std::string(name) + " " + shown(value), "out of range", accepted});
    return static_cast<std::uint32_t>(seed);
}

// The trial count from a Python int; a count beyond int is out of range as any other.
int trialsFrom(const py::handle &value)
{
    if (!isInteger(value))
        throw py::type_error("trials must be an int, not " + shown(py::type::of(value)));
    int overflow = 0;
    const long long trials = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow > 0 || trials > INT_MAX)
        return INT_MAX;
    if (overflow < 0 || trials < INT_MIN)
        return INT_MIN;
    return static_cast<int>(trials);
}

// Whether value is a decimal.Decimal.
bool isDecimal(const py::handle &value)
{
    // Kept for the life of the process: never released after the interpreter ends.
    static const auto *decimal = new py::object(py::module_::import("decimal").attr("Decimal"));
    return py::isinstance(value, *decimal);
}

// The numeric parameter of that name; nullptr for the switch (taken as
// background) and for unknown names.
const ParamInfo *numericParam(const std::string &name)
{
    for (const ParamInfo *info : numericParams())
        if (name == info->name)
            return info;
    return nullptr;
}

// A parameter's value as Python shows it: an int for the whole-numbered ones.
py::object paramValue(const ParamInfo &rule, double value)
{
    if (rule.decimals == 0)
        return py::int_(static_cast<long long>(value));
    return py::float_(value);
}

py::object paramDefault(const ParamInfo &rule)
{
    return paramValue(rule, fieldValue(DefaultParameterSet, rule.field));
}

// A Python builtin type, for the annotations of the signatures.
py::object builtinType(PyTypeObject &type)
{
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(&type));
}

// The value given for a parameter, taken by the run library's rule as the
// batch tool's are. A decimal.Decimal is read from its text, as the batch tool
// reads its arguments.
GivenValue givenValue(const ParamInfo &rule, const std::string &key, const py::handle &value)
{
    if (isDecimal(value)) {
        const std::string text = py::str(value);
        double number = 0;
        if (!readNumber(text, number))
            refuse({key + " " + text, "not a number", rangeText(rule)});
        return {&rule, number, key + " " + text};
    }
    if (PyBool_Check(value.ptr()) || !(PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())))
        throw py::type_error(key + " must be a number, not " + shown(py::type::of(value)));
    double number = PyFloat_Check(value.ptr()) ? PyFloat_AsDouble(value.ptr()) : PyLong_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred()) {
        // An int beyond the floats: out of range like any other.
        PyErr_Clear();
        number = py::int_(py::reinterpret_borrow<py::object>(value)) < py::int_(0)
            ? -std::numeric_limits<double>::max()
            : std::numeric_limits<double>::max();
    }
    return {&rule, number, key + " " + shown(value)};
}

// The keyword arguments of a run besides the parameters, each declared once:
// describe() reads them here, arguments() hands Python their signature and
// their lines of the help.
struct Argument {
    const char *name;
    bool recordsOnly; // taken by records() alone
    py::object (*fallback)(); // the default the signature shows
    py::object (*annotation)(); // the type the signature shows
    std::string (*help)(Experiment); // the line of the help; empty: said with the experiment
    void (*read)(const py::handle &value, RunRequest &request); // the value into the request
};

const Argument Arguments[] = {
    {"seed", false, [] { return py::object(py::none()); },
        [] { return builtinType(PyLong_Type) | py::none(); },
        [](Experiment) { return seedRange() + ", or None: a fresh seed"; },
        [](const py::handle &value, RunRequest &request) {
            if (!value.is_none())
                request.seed = seedFrom("seed", value);
        }},
    {"seeds", true, [] { return py::object(py::none()); },
        [] {
            const py::object sequence = py::module_::import("collections.abc").attr("Sequence");
            return py::object(sequence[builtinType(PyLong_Type)]) | py::none();
        },
        [](Experiment) { return std::string(); },
        [](const py::handle &value, RunRequest &request) {
            if (value.is_none())
                return;
            if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value))
                throw py::type_error("seeds must be a sequence of ints");
            std::vector<std::uint32_t> seeds;
            for (const py::handle s : py::reinterpret_borrow<py::sequence>(value))
                seeds.push_back(seedFrom("seeds", s));
            request.seeds = std::move(seeds);
        }},
    {"trials", false, [] { return py::object(py::none()); },
        [] { return builtinType(PyLong_Type) | py::none(); },
        [](Experiment e) {
            return "1.." + std::to_string(mostTrials(e)) + (e == Experiment::Isv ? " per potential" : "")
                + " (default " + std::to_string(defaultTrials(e))
                + (e == Experiment::Records ? ", or the number of seeds)" : ")");
        },
        [](const py::handle &value, RunRequest &request) {
            if (!value.is_none()) {
                request.trials = trialsFrom(value);
                request.trialsWhat = "trials " + shown(value);
            }
        }},
    {"background", false, [] { return py::object(py::bool_(DefaultParameterSet.BackgroundOn != 0)); },
        [] { return builtinType(PyBool_Type); },
        [](Experiment) {
            return std::string("the background conductance switched on (needed for Gb above 0)");
        },
        [](const py::handle &value, RunRequest &request) {
            if (!PyBool_Check(value.ptr()) && !isInteger(value))
                throw py::type_error("background must be a bool, not " + shown(py::type::of(value)));
            int overflow = 0;
            const long long on = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
            if (overflow != 0 || (on != 0 && on != 1))
                refuse({"background " + shown(value), "out of range", "False or True"});
            request.background = on == 1;
        }},
};

// The argument of that name that a run of the experiment takes besides the
// parameters; nullptr when there is none.
const Argument *argumentNamed(Experiment experiment, const std::string &name)
{
    for (const Argument &argument : Arguments)
        if (name == argument.name && (!argument.recordsOnly || experiment == Experiment::Records))
            return &argument;
    return nullptr;
}

// The keyword arguments of a run of the experiment in the order of its
// signature, the parameters last: (name, default, annotation, line of the help).
py::list argumentRows(Experiment experiment)
{
    py::list rows;
    for (const Argument &argument : Arguments)
        if (!argument.recordsOnly || experiment == Experiment::Records)
            rows.append(py::make_tuple(
                argument.name, argument.fallback(), argument.annotation(), argument.help(experiment)));
    for (const ParamInfo *rule : numericParams()) {
        const std::string unit = *rule->unit ? std::string(" [") + rule->unit + "]" : std::string();
        const std::string limit = crossLimitText(*rule);
        const std::string help = rule->meaning + unit + ": " + rangeText(*rule)
            + (limit.empty() ? "" : ", " + limit) + ", default " + shown(paramDefault(*rule));
        rows.append(py::make_tuple(rule->name, paramDefault(*rule),
            builtinType(rule->decimals == 0 ? PyLong_Type : PyFloat_Type), help));
    }
    return rows;
}

// The run that the keyword arguments of records(), isv() or histograms()
// describe, filled by the run library as the batch tool's is (defaults, a
// fresh seed when none is given, the rule for values, the checks). The
// Python layer has turned numpy scalars into Python numbers already.
RunDescription describe(Experiment experiment, const char *function, const py::args &args,
    const py::kwargs &kwargs, const ParameterSet &base = DefaultParameterSet)
{
    if (!args.empty())
        throw py::type_error(std::string(function) + "() takes keyword arguments only");
    RunRequest request;
    request.experiment = experiment;
    request.base = base;
    for (const auto &item : kwargs) {
        const std::string key = py::str(item.first);
        if (const Argument *argument = argumentNamed(experiment, key))
            argument->read(item.second, request);
        else if (const ParamInfo *rule = numericParam(key))
            request.values.push_back(givenValue(*rule, key, item.second));
        else
            throw py::type_error(
                std::string(function) + "() got an unexpected keyword argument '" + key + "'");
    }
    if (request.seed && request.seeds)
        throw py::type_error(std::string(function) + "() takes seed or seeds, not both");
    RunDescription run;
    RunProblem problem;
    if (!describeRun(request, run, &problem, "background=True"))
        refuse(problem);
    return run;
}

// Bumped by cancel_running(): every run under way stops at its next trial.
std::atomic<unsigned> cancelGeneration {0};

// What a grid hands its runs so that it can stop them, and only them.
struct CancelToken {
    std::atomic<bool> cancelled {false};
};

// The stop check of a run that runs without the GIL: after every trial it
// looks whether the runs were cancelled and, every 50 msec, takes the GIL
// to let Python handle a pending signal (Ctrl-C raises KeyboardInterrupt).
class InterruptWatch {
public:
    explicit InterruptWatch(std::shared_ptr<CancelToken> token = nullptr)
        : m_token(std::move(token))
    {
    }

    bool operator()()
    {
        if (cancelGeneration.load(std::memory_order_relaxed) != m_generation
            || (m_token && m_token->cancelled.load(std::memory_order_relaxed))) {
            m_cancelled = true;
            return true;
        }
        const auto now = Clock::now();
        if (now - m_lastLook < Interval)
            return false;
        m_lastLook = now;
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            m_signalled = true; // the exception is set and raised when the run returns
            return true;
        }
        return false;
    }

    // Raises the exception that stopped the run, if one did. Needs the GIL.
    void raiseIfStopped() const
    {
        if (m_signalled)
            throw py::error_already_set();
        if (m_cancelled) {
            PyErr_SetString(PyExc_KeyboardInterrupt, "the run was cancelled");
            throw py::error_already_set();
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds Interval {50};
    std::shared_ptr<CancelToken> m_token;
    unsigned m_generation = cancelGeneration.load();
    Clock::time_point m_lastLook = Clock::now();
    bool m_cancelled = false;
    bool m_signalled = false;
};

// Runs a checked description with the GIL released.
RunResult runReleased(const RunDescription &run, std::shared_ptr<CancelToken> token)
{
    InterruptWatch watch(std::move(token));
    RunResult result;
    {
        py::gil_scoped_release release;
        result = runExperiment(run, [&watch] { return watch(); });
    }
    watch.raiseIfStopped();
    return result;
}

// The provenance of the JSON outputs as a dict: the run library's text of it
// read by Python's json module, so that the members, their order and their
// types (ints for the whole-numbered parameters, floats for the others) are
// those of the files. A value taken is the one its text reads back as.
py::dict provenanceOf(const RunDescription &run)
{
    // Kept for the life of the process: never released after the interpreter ends.
    static const auto *loads = new py::object(py::module_::import("json").attr("loads"));
    return (*loads)(provenanceJson(run));
}

py::dict withProvenance(const RunDescription &run)
{
    py::dict out;
    out["provenance"] = provenanceOf(run);
    return out;
}

// Counts as int64 and reals as float64, whatever the C++ types.
template <class T, class Values> py::array_t<T> arrayOf(const Values &values, std::size_t count)
{
    py::array_t<T> array(static_cast<py::ssize_t>(count));
    T *data = array.mutable_data();
    for (std::size_t i = 0; i < count; ++i)
        data[i] = static_cast<T>(values[i]);
    return array;
}

template <class T, class V> py::array_t<T> arrayOf(const std::vector<V> &values)
{
    return arrayOf<T>(values, values.size());
}

const double NaN = std::numeric_limits<double>::quiet_NaN();

py::dict recordsResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const auto &traces = result.records.traces;
    std::vector<double> t(RecordsSteps);
    for (int k = 0; k < RecordsSteps; ++k)
        t[static_cast<std::size_t>(k)] = k * TimeStep;
    py::array_t<double> currents(
        {static_cast<py::ssize_t>(traces.size()), static_cast<py::ssize_t>(RecordsSteps)});
    double *data = currents.mutable_data();
    for (const CurrentTrace &trace : traces)
        data = std::copy(trace.begin(), trace.end(), data);
    out["t_ms"] = arrayOf<double>(t);
    out["currents_pA"] = currents;
    out["quanta"] = arrayOf<std::int64_t>(result.records.quanta);
    out["seeds"] = arrayOf<std::int64_t>(result.run.seeds);
    return out;
}

py::dict isvResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const auto &points = result.isv.points;
    std::vector<std::int64_t> V, trials;
    std::vector<double> quanta, peak, epsc, sdQuanta, sdPeak;
    for (const IsvPoint &point : points) {
        V.push_back(point.V);
        trials.push_back(point.trials);
        quanta.push_back(point.meanQuanta());
        peak.push_back(point.meanPeak());
        epsc.push_back(point.meanEpsc());
        sdQuanta.push_back(point.sdQuanta());
        sdPeak.push_back(point.sdPeak());
    }
    out["V2_mV"] = arrayOf<std::int64_t>(V);
    out["trials"] = arrayOf<std::int64_t>(trials);
    out["mean_quanta"] = arrayOf<double>(quanta);
    out["mean_peak_pA"] = arrayOf<double>(peak);
    out["mean_epsc_pA"] = arrayOf<double>(epsc);
    out["std_quanta"] = arrayOf<double>(sdQuanta);
    out["std_peak_pA"] = arrayOf<double>(sdPeak);
    out["std_epsc_pA"] = arrayOf<double>(sdPeak); // the background current is the same in every trial
    return out;
}

// The members of the histograms JSON beside its provenance, from the run's
// tables: the count lists as int64 arrays, the reals at full precision, and
// NaN (an empty current table) where the JSON has null.
py::dict histogramsResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const HistogramsResult &h = result.histograms;
    const ScatterStats stats = scatterStatistics(h);
    const auto N = static_cast<std::size_t>(h.N);
    const auto S = static_cast<std::size_t>(h.spikeSteps);
    const std::string note = histogramsNote(result.run);
    if (!note.empty())
        out["note"] = note;
    out["N"] = h.N;
    out["SpikeSteps"] = h.spikeSteps;
    out["quanta"] = arrayOf<std::int64_t>(h.quanta, N + 1);
    out["current"] = arrayOf<std::int64_t>(h.current, h.currentCollected ? 10 * N + 1 : 0);
    out["latency"] = arrayOf<std::int64_t>(h.latency, S + 1);
    py::array_t<std::int64_t> joint({static_cast<py::ssize_t>(N + 1), static_cast<py::ssize_t>(S + 1)});
    std::int64_t *cell = joint.mutable_data();
    for (std::size_t m = 0; m <= N; ++m)
        for (std::size_t s = 0; s <= S; ++s)
            *cell++ = h.joint[m][s];
    out["joint"] = joint;
    out["mean_quanta"] = h.meanQuanta();
    out["mean_peak_pA"] = h.currentCollected ? h.meanPeak() : NaN;
    out["mean_latency_ms"] = h.releasingTrials() > 0 ? h.meanLatencyMs() : NaN;
    out["r"] = stats.hasR ? stats.r : NaN;
    out["max_current_pA"] = h.maxCurrent;
    return out;
}

py::dict run(Experiment experiment, const char *function, const py::args &args, const py::kwargs &kwargs)
{
    // The grid's token, which no user passes: not an argument of the run.
    std::shared_ptr<CancelToken> token;
    PyObject *copy = PyDict_Copy(kwargs.ptr());
    if (!copy)
        throw py::error_already_set();
    const auto arguments = py::reinterpret_steal<py::kwargs>(copy);
    if (arguments.contains("_cancel")) {
        const py::object given = arguments.attr("pop")("_cancel");
        if (!given.is_none())
            token = given.cast<std::shared_ptr<CancelToken>>();
    }
    const RunDescription description = describe(experiment, function, args, arguments);
    // A draw scan forced by the environment that cannot be followed is
    // refused, as the batch tool refuses it, before anything runs.
    const std::string scanProblem = drawScanVariableProblem();
    if (!scanProblem.empty())
        throw py::value_error(scanProblem);
    const RunResult result = runReleased(description, token);
    switch (experiment) {
    case Experiment::Records: return recordsResult(result);
    case Experiment::Isv: return isvResult(result);
    case Experiment::Histograms: return histogramsResult(result);
    }
    return {};
}

Experiment experimentOf(const std::string &name)
{
    Experiment experiment = Experiment::Isv;
    RunProblem problem;
    if (!cleftsim::experimentNamed(name, experiment, &problem, "experiment"))
        refuse(problem);
    return experiment;
}

// A Python exception raised in a callback of a fit, left set in Python's
// error indicator; raised again once the fit has returned.
struct PythonRaised { };

// The points of a candidate as plain numbers, so that any worker of a
// cluster can send them back without loss: every member of IsvPoint.
py::tuple pointTuple(const IsvPoint &p)
{
    return py::make_tuple(p.V, p.trials, p.totalQuanta, p.failures, p.peakSum, p.background, p.quantaSquares,
        p.peakShift, p.shiftedPeakSum, p.shiftedPeakSquares, p.shiftedPeakCubes, p.shiftedPeakFourths,
        p.shiftedPeakQuanta, p.failureShiftedPeakSum, p.shiftedPeakSquaresQuanta,
        p.failureShiftedPeakSquares);
}

IsvPoint pointFrom(const py::handle &item)
{
    const py::tuple t = py::reinterpret_borrow<py::tuple>(item);
    IsvPoint p;
    p.V = t[0].cast<int>();
    p.trials = t[1].cast<int>();
    p.totalQuanta = t[2].cast<long long>();
    p.failures = t[3].cast<int>();
    p.peakSum = t[4].cast<double>();
    p.background = t[5].cast<double>();
    p.quantaSquares = t[6].cast<long long>();
    p.peakShift = t[7].cast<double>();
    p.shiftedPeakSum = t[8].cast<double>();
    p.shiftedPeakSquares = t[9].cast<double>();
    p.shiftedPeakCubes = t[10].cast<double>();
    p.shiftedPeakFourths = t[11].cast<double>();
    p.shiftedPeakQuanta = t[12].cast<double>();
    p.failureShiftedPeakSum = t[13].cast<double>();
    p.shiftedPeakSquaresQuanta = t[14].cast<double>();
    p.failureShiftedPeakSquares = t[15].cast<double>();
    return p;
}

// A parameter set as a dict of every field, and back.
py::dict parametersDict(const ParameterSet &p)
{
    py::dict out;
    out["BackgroundOn"] = static_cast<int>(p.BackgroundOn);
    for (const ParamInfo *rule : numericParams())
        out[rule->name] = fieldValue(p, rule->field);
    return out;
}

ParameterSet parametersFrom(const py::dict &values)
{
    ParameterSet p = DefaultParameterSet;
    p.BackgroundOn = values["BackgroundOn"].cast<int>() != 0 ? 1 : 0;
    for (const ParamInfo *rule : numericParams())
        setFieldValue(p, rule->field, values[rule->name].cast<double>());
    return p;
}

py::list potentialsList(const std::vector<SeededPotential> &potentials)
{
    py::list out;
    for (const SeededPotential &s : potentials)
        out.append(py::make_tuple(s.V, s.seed));
    return out;
}

// The columns of a table given to cleftsim.fit, as (name, values) pairs
// whose values are None, int, float or str: absent, numbers or texts.
std::vector<MeasuredColumn> measuredColumns(const py::object &given)
{
    std::vector<MeasuredColumn> columns;
    for (const py::handle item : given) {
        const py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        MeasuredColumn column;
        column.name = py::str(pair[0]);
        for (const py::handle value : pair[1]) {
            MeasuredValue cell;
            if (value.is_none()) {
            } else if (!PyBool_Check(value.ptr())
                && (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()))) {
                cell.kind = MeasuredValue::Kind::Number;
                cell.number = value.cast<double>();
            } else {
                cell.kind = MeasuredValue::Kind::Text;
                cell.text = py::str(value);
            }
            column.values.push_back(std::move(cell));
        }
        columns.push_back(std::move(column));
    }
    return columns;
}

// The fit as cleftsim.fit asks it; returns the JSON text of cleftsim-batch fit.
std::string fit(const py::object &dataPath, const py::object &dataColumns, const std::string &dataName,
    const py::list &free, const py::object &trials, const py::object &states, const py::object &state,
    int workers, const py::object &progress, const py::object &evaluate, const std::string &noise,
    const std::string &sensitivity, const py::kwargs &fixed)
{
    FitRequest request;
    RunProblem problem;
    if (!parseFitNoise(noise, &request.noise, &request.noiseValue, &problem)
        || !parseSensitivity(sensitivity, &request.sensitivity, &problem))
        refuse(problem);
    if (!dataPath.is_none()) {
        if (!readMeasuredData(dataPath.cast<std::string>(), request.data, &problem))
            refuse(problem);
    } else {
        request.data.name = dataName;
        if (!measuredDataFromColumns(measuredColumns(dataColumns), request.data, &problem)) {
            problem.what = dataName + ": " + problem.what;
            refuse(problem);
        }
    }
    for (const py::handle item : free) {
        const py::tuple t = py::reinterpret_borrow<py::tuple>(item);
        const std::string name = py::str(t[0]);
        const ParamInfo *rule = numericParam(name);
        if (!rule)
            throw py::value_error("free " + name + ": unknown parameter");
        FreeParameter f {rule, rule->min, rule->max};
        for (int end = 0; end < 2; ++end) {
            const py::handle given = t[1 + end];
            if (given.is_none())
                continue;
            if (PyBool_Check(given.ptr()) || !(PyLong_Check(given.ptr()) || PyFloat_Check(given.ptr())))
                throw py::type_error(
                    "free " + name + ": the range's ends must be numbers, not " + shown(py::type::of(given)));
            const double number = given.cast<double>();
            double &taken = end == 0 ? f.low : f.high;
            const std::string why = acceptValue(*rule, number, &taken);
            if (!why.empty())
                refuse(
                    {"free " + name + (end == 0 ? " low " : " high ") + shown(given), why, rangeText(*rule)});
        }
        request.free.push_back(f);
    }
    for (const auto &item : fixed) {
        const std::string key = py::str(item.first);
        for (const FreeParameter &f : request.free)
            if (key == f.info->name)
                throw py::type_error("fit() got " + key + " both in free and as a fixed value");
    }
    ParameterSet base = DefaultParameterSet;
    if (!states.is_none() || !state.is_none()) {
        if (states.is_none() || state.is_none())
            throw py::type_error("fit() takes states and state together");
        const std::string file = py::str(states);
        const std::string name = py::str(state);
        StatesSession session;
        if (!readStatesFile(file, session, &problem)) {
            problem.what = "states " + file + (problem.what.empty() ? "" : ": " + problem.what);
            refuse(problem);
        }
        const ParameterSet *stored = findState(session, name);
        if (!stored)
            refuse({"state " + name, "no such state in " + file, "the full name or the number of a state"});
        base = *stored;
        base.Name = DefaultParameterSet.Name;
        request.fixedFrom = "state \"" + name + "\" of " + file;
    }
    bool valuesGiven = false;
    for (const auto &item : fixed)
        valuesGiven = valuesGiven || (py::str(item.first).cast<std::string>() != "seed");
    if (valuesGiven)
        request.fixedFrom += " with the values given";
    const RunDescription fixedRun = describe(Experiment::Isv, "fit", py::args(), fixed, base);
    request.fixed = fixedRun.params;
    request.seed = fixedRun.seeds.front();
    if (!trials.is_none()) {
        request.trials = trialsFrom(trials);
    }
    if (!checkFit(request, &problem))
        refuse(problem);

    // Ctrl-C: the thread that called looks for signals; the others only
    // see that it did.
    InterruptWatch watch;
    std::atomic<bool> stopped {false};
    const std::thread::id caller = std::this_thread::get_id();
    const std::function<bool()> stop = [&] {
        if (stopped.load(std::memory_order_relaxed))
            return true;
        if (std::this_thread::get_id() == caller && watch())
            stopped = true;
        return stopped.load(std::memory_order_relaxed);
    };
    FitEvaluator evaluator;
    if (evaluate.is_none()) {
        evaluator = localFitEvaluator(request, workers, stop);
    } else {
        const std::vector<SeededPotential> potentials = fitPotentials(request);
        evaluator = [&, potentials](const std::vector<ParameterSet> &batch) {
            py::gil_scoped_acquire gil;
            std::vector<std::vector<IsvPoint>> results;
            try {
                py::list candidates;
                for (const ParameterSet &p : batch)
                    candidates.append(parametersDict(p));
                const py::object answer = evaluate(candidates, potentialsList(potentials), request.trials);
                for (const py::handle points : answer) {
                    std::vector<IsvPoint> one;
                    for (const py::handle point : points)
                        one.push_back(pointFrom(point));
                    results.push_back(std::move(one));
                }
            } catch (py::error_already_set &error) {
                error.restore();
                throw PythonRaised();
            }
            return results;
        };
    }
    const FitProgress report = [&](const FitProgressStep &step) {
        if (progress.is_none())
            return;
        py::gil_scoped_acquire gil;
        try {
            py::dict where;
            where["stage"] = step.stage;
            where["stage_index"] = step.stageIndex;
            where["stage_count"] = step.stageCount;
            where["done"] = step.done;
            where["total"] = step.total;
            where["evaluations"] = step.evaluations;
            progress(where);
        } catch (py::error_already_set &error) {
            error.restore();
            throw PythonRaised();
        }
    };
    FitResult result;
    bool raised = false;
    bool stoppedByWatch = false;
    {
        py::gil_scoped_release release;
        try {
            result = runFit(request, evaluator, report, stop);
        } catch (const PythonRaised &) {
            raised = true;
        } catch (const FitStopped &) {
            stoppedByWatch = true;
        }
    }
    if (raised)
        throw py::error_already_set();
    if (stoppedByWatch) {
        watch.raiseIfStopped();
        PyErr_SetString(PyExc_KeyboardInterrupt, "the fit was stopped");
        throw py::error_already_set();
    }
    return fitJson(result);
}

} // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The experiments of Cleftsim on the engine of the program and of cleftsim-batch.";
    m.attr("version") = programVersion();
    m.attr("experiment_names") = experimentNames();

    m.def(
        "defaults",
        [] {
            py::dict out;
            out["background"] = argumentNamed(Experiment::Isv, "background")->fallback();
            for (const ParamInfo *rule : numericParams())
                out[rule->name] = paramDefault(*rule);
            return out;
        },
        "The default parameter set as keyword arguments: background and every parameter by name.");

    m.def("mixed_seed", &mixSeed, py::arg("seed"), py::arg("index"),
        "The seed of item index (a grid's point, a Records trial) of a run with seed: the upper 32 bits\n"
        "of SplitMix64's mix of seed * 2**32 + index, the rule of the windows and of cleftsim-batch.");

    m.def("fresh_seed", &freshSeed,
        "A seed from the operating system's entropy, as a run without a seed takes.");

    m.def(
        "parameter_table",
        [] {
            py::list rows;
            for (const ParamInfo *rule : numericParams()) {
                py::dict row;
                row["name"] = rule->name;
                row["unit"] = rule->unit;
                row["meaning"] = rule->meaning;
                row["min"] = paramValue(*rule, rule->min);
                row["max"] = paramValue(*rule, rule->max);
                row["decimals"] = rule->decimals;
                row["default"] = paramDefault(*rule);
                row["range"] = rangeText(*rule);
                row["cross_limit"] = crossLimitText(*rule);
                rows.append(row);
            }
            return rows;
        },
        "Every parameter as the editors take it: name, unit, meaning, min, max, decimals, default, range\n"
        "and cross_limit, the limit that is not a range (\"not above Gmax\" for Gb; empty for most).");

    m.def(
        "arguments", [](const std::string &experiment) { return argumentRows(experimentOf(experiment)); },
        py::arg("experiment"),
        "The keyword arguments of a run of experiment in the order of its signature, the parameters last:\n"
        "(name, default, annotation, line of the help; empty where the experiment's help speaks of it).");

    m.def(
        "records",
        [](const py::args &args, const py::kwargs &kwargs) {
            return run(Experiment::Records, "records", args, kwargs);
        },
        R"(Records trials: records(seed=None, trials=1, background=False, **parameters)
or records(seeds=[...], ...), one seed per trial; trial r of seed S uses mixed_seed(S, r).
Returns a dict: t_ms (321 steps), currents_pA (trials x 321), quanta, seeds, provenance.)");

    m.def(
        "isv",
        [](const py::args &args, const py::kwargs &kwargs) {
            return run(Experiment::Isv, "isv", args, kwargs);
        },
        R"(The Is vs V2 sweep from +40 to -140 mV: isv(seed=None, trials=100, background=False, **parameters).
Returns a dict of arrays V2_mV, trials, mean_quanta, mean_peak_pA, mean_epsc_pA and the provenance.)");

    m.def(
        "histograms",
        [](const py::args &args, const py::kwargs &kwargs) {
            return run(Experiment::Histograms, "histograms", args, kwargs);
        },
        R"(One Histograms run: histograms(seed=None, trials=100, background=False, **parameters).
Returns every member of the JSON output (count lists as arrays) and the provenance.)");

    m.def(
        "check",
        [](const std::string &experiment, const py::kwargs &kwargs) {
            describe(experimentOf(experiment), experiment.c_str(), py::args(), kwargs);
        },
        py::arg("experiment"), "Checks the arguments of a run as the run itself would, without running it.");

    m.def(
        "batch_command",
        [](const std::string &experiment, const py::kwargs &kwargs) {
            return batchCommand(describe(experimentOf(experiment), experiment.c_str(), py::args(), kwargs));
        },
        py::arg("experiment"), "The cleftsim-batch command line that runs exactly these arguments.");

    m.def("fit", &fit, py::arg("data_path"), py::arg("data_columns"), py::arg("data_name"), py::arg("free"),
        py::arg("trials"), py::arg("states"), py::arg("state"), py::arg("workers"), py::arg("progress"),
        py::arg("evaluate"), py::arg("noise"), py::arg("sensitivity"),
        "The fit behind cleftsim.fit: returns the JSON text that cleftsim-batch fit writes for the same "
        "request.");

    m.def(
        "simulate_points",
        [](const py::dict &parameters, const py::list &potentials, int trials) {
            std::vector<SeededPotential> list;
            for (const py::handle item : potentials) {
                const py::tuple t = py::reinterpret_borrow<py::tuple>(item);
                list.push_back({t[0].cast<int>(), t[1].cast<std::uint32_t>()});
            }
            const ParameterSet p = parametersFrom(parameters);
            std::vector<IsvPoint> points;
            {
                py::gil_scoped_release release;
                points = runSeededIsvPoints(p, list, trials);
            }
            py::list out;
            for (const IsvPoint &point : points)
                out.append(pointTuple(point));
            return out;
        },
        py::arg("parameters"), py::arg("potentials"), py::arg("trials"),
        "Runs the trials of one fit candidate at its potentials [(V, seed), ...]; the points as tuples.");

    m.def(
        "fit_curve",
        [](const py::dict &parameters, std::uint32_t seed, int trials) {
            const ParameterSet p = parametersFrom(parameters);
            const std::vector<SeededPotential> potentials = fitCurvePotentials(seed);
            std::vector<IsvPoint> points;
            {
                py::gil_scoped_release release;
                points = runSeededIsvPoints(p, potentials, trials);
            }
            py::array_t<std::int64_t> V(static_cast<py::ssize_t>(points.size()));
            py::array_t<double> peak(static_cast<py::ssize_t>(points.size()));
            py::array_t<double> quanta(static_cast<py::ssize_t>(points.size()));
            for (std::size_t i = 0; i < points.size(); ++i) {
                V.mutable_at(static_cast<py::ssize_t>(i)) = points[i].V;
                peak.mutable_at(static_cast<py::ssize_t>(i)) = points[i].meanPeak();
                quanta.mutable_at(static_cast<py::ssize_t>(i)) = points[i].meanQuanta();
            }
            py::dict out;
            out["V2_mV"] = V;
            out["mean_peak_pA"] = peak;
            out["mean_quanta"] = quanta;
            return out;
        },
        py::arg("parameters"), py::arg("seed"), py::arg("trials"),
        "The model of a parameter set at every potential of the V2 editor, each with the seed a fit with "
        "this "
        "seed gives it: V2_mV, mean_peak_pA and mean_quanta.");

    py::class_<CancelToken, std::shared_ptr<CancelToken>>(m, "CancelToken",
        "Handed to runs as _cancel=token: token.cancel() stops those runs, and only those, at their next "
        "trial.")
        .def(py::init<>())
        .def("cancel", [](CancelToken &token) { token.cancelled = true; });

    m.def(
        "cancel_running", [] { ++cancelGeneration; },
        "Stops every run under way in this process at its next trial; each raises KeyboardInterrupt.");
}
