// Running under Python: a run with the GIL released, stopped by Ctrl-C, by
// cancel_running() or by the token of the grid that started it.

#include "common.h"

#include "model/drawscan.h"

#include <memory>
#include <string>
#include <utility>

namespace cleftsim::binding {

std::atomic<unsigned> cancelGeneration {0};

namespace {

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

py::dict run(Experiment experiment, const char *function, const py::args &args, const py::kwargs &kwargs,
    ResultDict convert)
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
    return convert(runReleased(description, token));
}

} // namespace

void defineRun(py::module_ &m, Experiment experiment, ResultDict convert, const char *doc)
{
    const char *name = experimentName(experiment);
    m.def(
        name,
        [experiment, name, convert](const py::args &args, const py::kwargs &kwargs) {
            return run(experiment, name, args, kwargs, convert);
        },
        doc);
}

void register_grids(py::module_ &m)
{
    py::class_<CancelToken, std::shared_ptr<CancelToken>>(m, "CancelToken",
        "Handed to runs as _cancel=token: token.cancel() stops those runs, and only those, at their next "
        "trial.")
        .def(py::init<>())
        .def("cancel", [](CancelToken &token) { token.cancelled = true; });

    m.def(
        "cancel_running", [] { ++cancelGeneration; },
        "Stops every run under way in this process at its next trial; each raises KeyboardInterrupt.");
}

} // namespace cleftsim::binding
