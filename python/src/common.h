#pragma once

// What the areas of cleftsim._core share: the reading of a run's keyword
// arguments, the run with the GIL released and its stop checks, the
// provenance and the arrays of the results. Each area registers its
// functions in the module with its own register_...().

#include "run/experimenttable.h"
#include "run/rundescription.h"
#include "run/runresults.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cleftsim::binding {

namespace py = pybind11;

// Raised as ValueError: what was refused, why, and what is accepted.
[[noreturn]] inline void refuse(const RunProblem &problem)
{
    throw py::value_error(problem.text());
}

// Python's own text of a value, for the messages.
std::string shown(const py::handle &value);

// The trial count from a Python int; a count beyond int is out of range as any other.
int trialsFrom(const py::handle &value);

// The numeric parameter of that name; nullptr for the switch (taken as
// background) and for unknown names.
const ParamInfo *numericParam(const std::string &name);

// The run that the keyword arguments of records(), isv() or histograms()
// describe, filled by the run library as the batch tool's is (defaults, a
// fresh seed when none is given, the rule for values, the checks). The
// Python layer has turned numpy scalars into Python numbers already.
RunDescription describe(Experiment experiment, const char *function, const py::args &args,
    const py::kwargs &kwargs, const ParameterSet &base = DefaultParameterSet);

// Bumped by cancel_running(): every run under way stops at its next trial.
extern std::atomic<unsigned> cancelGeneration;

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

// The provenance of the JSON outputs as a dict: the run library's text of it
// read by Python's json module, so that the members, their order and their
// types (ints for the whole-numbered parameters, floats for the others) are
// those of the files. A value taken is the one its text reads back as.
py::dict provenanceOf(const RunDescription &run);

// A dict that holds the provenance of the run alone, for its results to join.
py::dict withProvenance(const RunDescription &run);

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

// The results of a run of one experiment as Python takes them.
using ResultDict = py::dict (*)(const RunResult &result);

// Defines the function of the experiment, named as the experiment table
// names it: keyword arguments only, described and checked by the run
// library, run with the GIL released, the results converted by convert.
void defineRun(py::module_ &m, Experiment experiment, ResultDict convert, const char *doc);

} // namespace cleftsim::binding
