// The reading of a run's keyword arguments, the conversions every area
// shares, and the module's functions that belong to no experiment: the
// defaults, the parameters, the arguments, the seeds, the checks.

#include "common.h"

#include "model/random.h"

#include <climits>
#include <cstdint>
#include <limits>
#include <string>

namespace cleftsim::binding {

namespace {

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

// Whether value is a decimal.Decimal.
bool isDecimal(const py::handle &value)
{
    // Kept for the life of the process: never released after the interpreter ends.
    static const auto *decimal = new py::object(py::module_::import("decimal").attr("Decimal"));
    return py::isinstance(value, *decimal);
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

Experiment experimentOf(const std::string &name)
{
    Experiment experiment = Experiment::Isv;
    RunProblem problem;
    if (!cleftsim::experimentNamed(name, experiment, &problem, "experiment"))
        refuse(problem);
    return experiment;
}

// The experiment table as Python asks it: a dict per experiment in the
// order of its enumeration, with its name and its trials.
py::list experimentRows()
{
    py::list rows;
    for (const ExperimentEntry &entry : experimentTable()) {
        py::dict row;
        row["name"] = entry.name;
        row["most_trials"] = entry.mostTrials;
        row["default_trials"] = entry.defaultTrials;
        row["seed_per_trial"] = entry.seedPerTrial;
        row["text_format"]
            = entry.textFormat ? py::object(py::str(entry.textFormat)) : py::object(py::none());
        rows.append(row);
    }
    return rows;
}

} // namespace

std::string shown(const py::handle &value)
{
    return py::str(py::repr(value));
}

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

const ParamInfo *numericParam(const std::string &name)
{
    for (const ParamInfo *info : numericParams())
        if (name == info->name)
            return info;
    return nullptr;
}

RunDescription describe(Experiment experiment, const char *function, const py::args &args,
    const py::kwargs &kwargs, const ParameterSet &base)
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

void register_common(py::module_ &m)
{
    m.attr("version") = programVersion();
    m.attr("experiment_names") = experimentNames();

    m.def("experiment_table", &experimentRows,
        "Every experiment in order: name, most_trials, default_trials (trials of a run given none),\n"
        "seed_per_trial (one seed per trial, else one per run) and text_format (None: JSON alone).");

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
}

} // namespace cleftsim::binding
