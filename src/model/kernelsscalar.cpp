// The plain kernels, for every processor: the reference of the vector
// scans, and the scan of a processor without them.

#include "model/drawscan.h"
#include "model/instructionsets.h"
#include "model/kernelset.h"
#include "model/peaktrial.h"
#include "model/smallstates.h"
#include "model/stepdecision.h"
#include "model/trialtables.h"
#include "model/trialwork.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "model/kernels.h"
#include "model/peakloop.h"

namespace cleftsim::detail {

namespace {
using ScalarKernels = kernels::KernelSet<kernels::scanScalar, kernels::scanEachScalar,
    kernels::stepStatesScalar, kernels::statesBelowScalar, kernels::addQuantaScalar, kernels::setQuantaScalar,
    kernels::largestScalar, kernels::atLeastScalar, kernels::eachBoundsScalar, kernels::laneSitesScalar>;
} // namespace

DrawScan scalarScan()
{
    return kernels::scanOf<ScalarKernels>("scalar", "");
}

} // namespace cleftsim::detail
