// cleftsim._core: the experiments of Cleftsim for Python. It only converts:
// keyword arguments into a run description, which the run library checks and
// runs, and the run's results into numpy arrays and the library's provenance
// of the JSON outputs into a dict. Every range, rule and format is the
// library's.
//
// Each area registers its functions here: the common ones (defaults, the
// parameters, the arguments, the checks), one per experiment, the fit and
// the grids' cancelling.

#include "common.h"

namespace cleftsim::binding {

// Each area's functions, into the module (each in the file of its name).
void register_common(py::module_ &m);
void register_records(py::module_ &m);
void register_isv(py::module_ &m);
void register_histograms(py::module_ &m);
void register_fit(py::module_ &m);
void register_grids(py::module_ &m);

} // namespace cleftsim::binding

PYBIND11_MODULE(_core, m)
{
    using namespace cleftsim::binding;
    m.doc() = "The experiments of Cleftsim on the engine of the program and of cleftsim-batch.";
    register_common(m);
    register_records(m);
    register_isv(m);
    register_histograms(m);
    register_fit(m);
    register_grids(m);
}
