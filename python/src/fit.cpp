// The fit of measured data, as cleftsim.fit asks it, and the simulation of
// one candidate's points for a fit whose candidates run elsewhere (a Dask
// cluster).

#include "common.h"

#include "run/fit.h"
#include "run/fitbootstrap.h"
#include "run/statesfile.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace cleftsim::binding {

namespace {

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

// The measured data of a fit: the file at dataPath, else the columns given.
void readFitData(const py::object &dataPath, const py::object &dataColumns, const std::string &dataName,
    MeasuredData &data)
{
    RunProblem problem;
    if (!dataPath.is_none()) {
        if (!readMeasuredData(dataPath.cast<std::string>(), data, &problem))
            refuse(problem);
    } else {
        data.name = dataName;
        if (!measuredDataFromColumns(measuredColumns(dataColumns), data, &problem)) {
            problem.what = dataName + ": " + problem.what;
            refuse(problem);
        }
    }
}

// A free parameter given as (name, low, high), each end None for the end of
// its editor's range.
FreeParameter freeParameter(const py::handle &item)
{
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
            refuse({"free " + name + (end == 0 ? " low " : " high ") + shown(given), why, rangeText(*rule)});
    }
    return f;
}

// The set the fixed values are written over: the default set, or the stored
// state of a states file (named in request.fixedFrom).
ParameterSet fixedBase(const py::object &states, const py::object &state, FitRequest &request)
{
    if (states.is_none() && state.is_none())
        return DefaultParameterSet;
    if (states.is_none() || state.is_none())
        throw py::type_error("fit() takes states and state together");
    const std::string file = py::str(states);
    const std::string name = py::str(state);
    StatesSession session;
    RunProblem problem;
    if (!readStatesFile(file, session, &problem)) {
        problem.what = "states " + file + (problem.what.empty() ? "" : ": " + problem.what);
        refuse(problem);
    }
    const ParameterSet *stored = findState(session, name);
    if (!stored)
        refuse({"state " + name, "no such state in " + file, "the full name or the number of a state"});
    ParameterSet base = *stored;
    base.Name = DefaultParameterSet.Name;
    request.fixedFrom = "state \"" + name + "\" of " + file;
    return base;
}

// What a fit's keyword arguments ask, checked in the order of the batch
// tool's checks: the noise and the sensitivity, the data, the free
// parameters, the fixed ones (never also free), the state, the trials.
struct FitArguments {
    py::object dataPath, dataColumns;
    std::string dataName;
    py::list free;
    py::object trials, states, state;
    std::string noise, sensitivity;
    py::int_ bootstrap;
};

FitRequest fitRequest(const FitArguments &given, const py::kwargs &fixed)
{
    FitRequest request;
    RunProblem problem;
    if (!parseFitNoise(given.noise, &request.noise, &request.noiseValue, &problem)
        || !parseSensitivity(given.sensitivity, &request.sensitivity, &problem))
        refuse(problem);
    readFitData(given.dataPath, given.dataColumns, given.dataName, request.data);
    for (const py::handle item : given.free)
        request.free.push_back(freeParameter(item));
    for (const auto &item : fixed) {
        const std::string key = py::str(item.first);
        for (const FreeParameter &f : request.free)
            if (key == f.info->name)
                throw py::type_error("fit() got " + key + " both in free and as a fixed value");
    }
    const ParameterSet base = fixedBase(given.states, given.state, request);
    bool valuesGiven = false;
    for (const auto &item : fixed)
        valuesGiven = valuesGiven || (py::str(item.first).cast<std::string>() != "seed");
    if (valuesGiven)
        request.fixedFrom += " with the values given";
    const RunDescription fixedRun = describe(Experiment::Isv, "fit", py::args(), fixed, base);
    request.fixed = fixedRun.params;
    request.seed = fixedRun.seeds.front();
    if (!given.trials.is_none()) {
        request.trials = trialsFrom(given.trials);
    }
    int overflow = 0;
    const long long replicates = PyLong_AsLongLongAndOverflow(given.bootstrap.ptr(), &overflow);
    if (overflow || replicates < INT_MIN || replicates > INT_MAX)
        refuse({"bootstrap " + py::str(static_cast<const py::object &>(given.bootstrap)).cast<std::string>(),
            "out of range", "0 (none) .. " + std::to_string(MaxBootstrapReplicates) + " replicates"});
    request.bootstrap = static_cast<int>(replicates);
    if (!checkFit(request, &problem))
        refuse(problem);
    return request;
}

// Ctrl-C during a fit: the thread that called looks for signals; the others
// only see that it did.
class FitStopCheck {
public:
    bool operator()()
    {
        if (m_stopped.load(std::memory_order_relaxed))
            return true;
        if (std::this_thread::get_id() == m_caller && m_watch())
            m_stopped = true;
        return m_stopped.load(std::memory_order_relaxed);
    }
    // Raises the exception of a signal or a cancel that stopped the fit, if one did.
    void raiseIfStopped() const { m_watch.raiseIfStopped(); }

private:
    InterruptWatch m_watch;
    std::atomic<bool> m_stopped {false};
    const std::thread::id m_caller = std::this_thread::get_id();
};

// The candidates simulated by Python's evaluate(candidates, potentials,
// trials), as a fit on a cluster has them simulated. evaluate and request
// outlive the fit that calls it.
FitEvaluator pythonEvaluator(const py::object &evaluate, const FitRequest &request)
{
    const std::vector<SeededPotential> potentials = fitPotentials(request);
    return [&evaluate, &request, potentials](const std::vector<ParameterSet> &batch) {
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

// The fit's progress handed to Python's progress(dict), when given; progress
// outlives the fit.
FitProgress progressReport(const py::object &progress)
{
    return [&progress](const FitProgressStep &step) {
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
}

// The replicates of a bootstrap handed to Python's run(plan_text,
// replicates, done), which returns [(estimates, evaluations), ...].
FitReplicates pythonReplicates(const py::object &run)
{
    return [&run](const BootstrapPlan &plan, const std::vector<int> &replicates,
               const std::function<void(int)> &done) {
        py::gil_scoped_acquire gil;
        std::vector<ReplicateFit> fits;
        try {
            const py::cpp_function tell([done](int count) {
                py::gil_scoped_release release;
                if (done)
                    done(count);
            });
            py::list indices;
            for (int r : replicates)
                indices.append(r);
            for (const py::handle item : run(bootstrapPlanText(plan), indices, tell)) {
                const py::tuple t = py::reinterpret_borrow<py::tuple>(item);
                ReplicateFit fit;
                for (const py::handle value : t[0])
                    fit.estimates.push_back(value.cast<double>());
                fit.evaluations = t[1].cast<int>();
                fits.push_back(std::move(fit));
            }
        } catch (py::error_already_set &error) {
            error.restore();
            throw PythonRaised();
        }
        return fits;
    };
}

// The fit as cleftsim.fit asks it; returns the JSON text of cleftsim-batch fit.
std::string fit(const py::object &dataPath, const py::object &dataColumns, const std::string &dataName,
    const py::list &free, const py::object &trials, const py::object &states, const py::object &state,
    int workers, const py::object &progress, const py::object &evaluate, const std::string &noise,
    const std::string &sensitivity, const py::int_ &bootstrap, const py::object &replicates,
    const py::kwargs &fixed)
{
    const FitRequest request = fitRequest(
        {dataPath, dataColumns, dataName, free, trials, states, state, noise, sensitivity, bootstrap}, fixed);
    FitStopCheck check;
    const std::function<bool()> stop = [&check] { return check(); };
    const FitEvaluator evaluator
        = evaluate.is_none() ? localFitEvaluator(request, workers, stop) : pythonEvaluator(evaluate, request);
    const FitProgress report = progressReport(progress);
    FitResult result;
    bool raised = false;
    bool stoppedByWatch = false;
    {
        py::gil_scoped_release release;
        try {
            result = runFit(request, evaluator, report, stop,
                replicates.is_none() ? localFitReplicates(workers, stop) : pythonReplicates(replicates));
        } catch (const PythonRaised &) {
            raised = true;
        } catch (const FitStopped &) {
            stoppedByWatch = true;
        }
    }
    if (raised)
        throw py::error_already_set();
    if (stoppedByWatch) {
        check.raiseIfStopped();
        PyErr_SetString(PyExc_KeyboardInterrupt, "the fit was stopped");
        throw py::error_already_set();
    }
    return fitJson(result);
}

} // namespace

void register_fit(py::module_ &m)
{
    m.def("fit", &fit, py::arg("data_path"), py::arg("data_columns"), py::arg("data_name"), py::arg("free"),
        py::arg("trials"), py::arg("states"), py::arg("state"), py::arg("workers"), py::arg("progress"),
        py::arg("evaluate"), py::arg("noise"), py::arg("sensitivity"), py::arg("bootstrap"),
        py::arg("replicates"),
        "The fit behind cleftsim.fit: returns the JSON text that cleftsim-batch fit writes for the same "
        "request.");

    m.def(
        "fit_replicates",
        [](const std::string &planText, const py::list &given) {
            BootstrapPlan plan;
            RunProblem problem;
            if (!readBootstrapPlan(planText, plan, &problem))
                refuse(problem);
            std::vector<int> replicates;
            for (const py::handle r : given)
                replicates.push_back(r.cast<int>());
            std::vector<ReplicateFit> fits;
            {
                py::gil_scoped_release release;
                for (int r : replicates)
                    fits.push_back(fitReplicate(plan, r));
            }
            py::list out;
            for (const ReplicateFit &fit : fits) {
                py::list estimates;
                for (double value : fit.estimates)
                    estimates.append(value);
                out.append(py::make_tuple(estimates, fit.evaluations));
            }
            return out;
        },
        py::arg("plan"), py::arg("replicates"),
        "Simulates and refits replicates (numbered from 1) of a bootstrap plan on one thread: "
        "[(estimates, evaluations), ...].");

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
}

} // namespace cleftsim::binding
