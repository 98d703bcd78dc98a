// cleftsim._core: the experiments of Cleftsim for Python. It only converts:
// keyword arguments into a run description, which the run library checks and
// runs, and the run's results into numpy arrays and the provenance of the
// JSON outputs into a dict. Every range, rule and format is the library's.

#include "model/random.h"
#include "run/rundescription.h"
#include "run/runresults.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <limits>
#include <string>

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

// An unsigned 32-bit seed from a Python int.
std::uint32_t seedFrom(const char *name, const py::handle &value)
{
    if (!isInteger(value))
        throw py::type_error(std::string(name) + " must be an int, not " + shown(py::type::of(value)));
    const std::string accepted = "0.." + std::to_string(std::numeric_limits<std::uint32_t>::max());
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

// The numeric parameter of that name; nullptr for the switch (taken as
// background) and for unknown names.
const ParamInfo *numericParam(const std::string &name)
{
    for (const ParamInfo *info : numericParams())
        if (name == info->name)
            return info;
    return nullptr;
}

// The run that the keyword arguments of records(), isv() or histograms() describe.
RunDescription describe(
    Experiment experiment, const char *function, const py::args &args, const py::kwargs &kwargs)
{
    if (!args.empty())
        throw py::type_error(std::string(function) + "() takes keyword arguments only");
    RunDescription run;
    run.experiment = experiment;
    bool seedGiven = false;
    bool seedsGiven = false;
    bool trialsGiven = false;
    std::uint32_t seed = 0;
    py::object trialsValue;
    for (const auto &item : kwargs) {
        const std::string key = py::str(item.first);
        const py::handle value = item.second;
        if (key == "seed") {
            if (!value.is_none()) {
                seed = seedFrom("seed", value);
                seedGiven = true;
            }
        } else if (key == "seeds" && experiment == Experiment::Records) {
            if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value))
                throw py::type_error("seeds must be a sequence of ints");
            run.seeds.clear();
            for (const py::handle s : py::reinterpret_borrow<py::sequence>(value))
                run.seeds.push_back(seedFrom("seeds", s));
            seedsGiven = true;
        } else if (key == "trials") {
            run.trials = trialsFrom(value);
            trialsValue = py::reinterpret_borrow<py::object>(value);
            trialsGiven = true;
        } else if (key == "background") {
            if (!PyBool_Check(value.ptr()) && !isInteger(value))
                throw py::type_error("background must be a bool, not " + shown(py::type::of(value)));
            const long long on = value.cast<long long>();
            if (on != 0 && on != 1)
                refuse({"background " + shown(value), "out of range", "False or True"});
            run.params.BackgroundOn = static_cast<std::uint8_t>(on);
        } else if (const ParamInfo *rule = numericParam(key)) {
            if (PyBool_Check(value.ptr()) || !(PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())))
                throw py::type_error(key + " must be a number, not " + shown(py::type::of(value)));
            // A value the editor would refuse is refused before it is written into the set.
            const double number = value.cast<double>();
            const std::string reason = valueProblem(*rule, number, decimalsOf(number, rule->decimals));
            if (!reason.empty())
                refuse({key + " " + shown(value), reason, rangeText(*rule)});
            setFieldValue(run.params, rule->field, number);
        } else {
            throw py::type_error(
                std::string(function) + "() got an unexpected keyword argument '" + key + "'");
        }
    }
    if (seedGiven && seedsGiven)
        throw py::type_error(std::string(function) + "() takes seed or seeds, not both");
    if (seedsGiven) {
        if (!trialsGiven)
            run.trials = static_cast<int>(run.seeds.size());
    } else {
        if (!trialsGiven)
            run.trials = experiment == Experiment::Records ? 1 : 100;
        // Without a seed a run is seeded from the clock, as a window's Run is.
        const std::uint32_t first = seedGiven ? seed : seedFromClock();
        if (experiment == Experiment::Records)
            run.seeds = consecutiveSeeds(first, run.trials >= 1 && run.trials <= MaxRecords ? run.trials : 0);
        else
            run.seeds = {first};
    }
    RunProblem problem;
    if (!checkRun(run, &problem, "background=True")) {
        if (trialsGiven && problem.what.rfind("trials ", 0) == 0)
            problem.what = "trials " + shown(trialsValue);
        refuse(problem);
    }
    return run;
}

// Bumped by cancel_running(): every run under way stops at its next trial.
std::atomic<unsigned> cancelGeneration {0};

// The stop check of a run that runs without the GIL: after every trial it
// looks whether the runs were cancelled and, every 50 msec, takes the GIL
// to let Python handle a pending signal (Ctrl-C raises KeyboardInterrupt).
class InterruptWatch {
public:
    bool operator()()
    {
        if (cancelGeneration.load(std::memory_order_relaxed) != m_generation) {
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
    unsigned m_generation = cancelGeneration.load();
    Clock::time_point m_lastLook = Clock::now();
    bool m_cancelled = false;
    bool m_signalled = false;
};

// Runs a checked description with the GIL released.
RunResult runReleased(const RunDescription &run)
{
    InterruptWatch watch;
    RunResult result;
    {
        py::gil_scoped_release release;
        result = runExperiment(run, [&watch] { return watch(); });
    }
    watch.raiseIfStopped();
    return result;
}

py::object parseJson(const std::string &text)
{
    return py::module_::import("json").attr("loads")(text);
}

py::dict withProvenance(const RunDescription &run)
{
    py::dict out;
    out["provenance"] = parseJson(provenanceJson(run));
    return out;
}

template <class T> py::array_t<T> vectorArray(const std::vector<T> &values)
{
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

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
    out["t_ms"] = vectorArray(t);
    out["currents_pA"] = currents;
    out["quanta"] = vectorArray(result.records.quanta);
    out["seeds"] = vectorArray(result.run.seeds);
    return out;
}

py::dict isvResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const auto &points = result.isv.points;
    std::vector<int> V, trials;
    std::vector<double> quanta, peak, epsc;
    for (const IsvPoint &point : points) {
        V.push_back(point.V);
        trials.push_back(point.trials);
        quanta.push_back(point.meanQuanta());
        peak.push_back(point.meanPeak());
        epsc.push_back(point.meanEpsc());
    }
    out["V2_mV"] = vectorArray(V);
    out["trials"] = vectorArray(trials);
    out["mean_quanta"] = vectorArray(quanta);
    out["mean_peak_pA"] = vectorArray(peak);
    out["mean_epsc_pA"] = vectorArray(epsc);
    return out;
}

// The members of the histograms JSON beside its provenance, the count lists
// as integer arrays and the reals at full precision where the JSON has them.
py::dict histogramsResult(const RunResult &result)
{
    py::dict out = withProvenance(result.run);
    const py::dict provenance = out["provenance"];
    const py::dict json = parseJson(histogramsJson(result.run, result.histograms));
    const HistogramsResult &h = result.histograms;
    const ScatterStats stats = scatterStatistics(h);
    const py::dict exact;
    exact["mean_quanta"] = h.meanQuanta();
    exact["mean_peak_pA"] = h.meanPeak();
    exact["mean_latency_ms"] = h.releasingTrials() > 0 ? h.meanLatencyMs() : 0.0;
    exact["r"] = stats.r;
    exact["max_current_pA"] = h.maxCurrent;
    const py::module_ np = py::module_::import("numpy");
    for (const auto &item : json) {
        if (provenance.contains(item.first))
            continue;
        py::object value = py::reinterpret_borrow<py::object>(item.second);
        if (py::isinstance<py::list>(value))
            value = np.attr("array")(value, "dtype"_a = "int64");
        else if (!value.is_none() && exact.contains(item.first))
            value = exact[item.first];
        out[item.first] = value;
    }
    return out;
}

py::dict run(Experiment experiment, const char *function, const py::args &args, const py::kwargs &kwargs)
{
    const RunDescription description = describe(experiment, function, args, kwargs);
    const RunResult result = runReleased(description);
    switch (experiment) {
    case Experiment::Records: return recordsResult(result);
    case Experiment::Isv: return isvResult(result);
    case Experiment::Histograms: return histogramsResult(result);
    }
    return {};
}

Experiment experimentNamed(const std::string &name)
{
    for (Experiment e : {Experiment::Records, Experiment::Isv, Experiment::Histograms})
        if (name == experimentName(e))
            return e;
    throw py::value_error("experiment " + name + ": unknown experiment; accepted records, isv, histograms");
}

} // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The experiments of Cleftsim on the engine of the program and of cleftsim-batch.";
    m.attr("version") = programVersion();

    m.def(
        "defaults",
        [] {
            py::dict out;
            out["background"] = DefaultParameterSet.BackgroundOn != 0;
            for (const ParamInfo *rule : numericParams()) {
                const double value = fieldValue(DefaultParameterSet, rule->field);
                if (rule->decimals == 0)
                    out[rule->name] = static_cast<int>(value);
                else
                    out[rule->name] = value;
            }
            return out;
        },
        "The default parameter set as keyword arguments: background and every parameter by name.");

    m.def(
        "records",
        [](const py::args &args, const py::kwargs &kwargs) {
            return run(Experiment::Records, "records", args, kwargs);
        },
        R"(Records trials: records(seed=None, trials=1, background=False, **parameters)
or records(seeds=[...], ...), one seed per trial; trial r of seed S uses S + r - 1.
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
            describe(experimentNamed(experiment), experiment.c_str(), py::args(), kwargs);
        },
        py::arg("experiment"), "Checks the arguments of a run as the run itself would, without running it.");

    m.def(
        "batch_command",
        [](const std::string &experiment, const py::kwargs &kwargs) {
            return batchCommand(
                describe(experimentNamed(experiment), experiment.c_str(), py::args(), kwargs));
        },
        py::arg("experiment"), "The cleftsim-batch command line that runs exactly these arguments.");

    m.def(
        "cancel_running", [] { ++cancelGeneration; },
        "Stops every run under way in this process at its next trial; each raises KeyboardInterrupt.");
}
