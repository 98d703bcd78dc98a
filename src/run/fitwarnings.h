#pragma once

#include "run/fit.h"

#include <vector>

namespace cleftsim {

// A recorded spread of a mean (sem_pA) that differs from std_pA / sqrt(n) by
// more than this share is not the same trials' (n - 1 against n in the
// standard deviation makes a few percent at most).
constexpr double SpreadTolerance = 0.10;

// The words of caution on a result, in this order: poor_fit (p below 0.01),
// at_range_end (an estimate on the end of a range that is not a physical
// bound), spread_zero, spread_inconsistent, excess_spread (with the noise
// off, recorded spreads beyond the model's), sign (inward currents written
// as positive), units (currents a thousand times off the model's),
// sensitive_to_fixed (an estimate that travels more than half the width of
// its interval, or of its upper limit, between the sensitivity's two moves
// of a fixed parameter). best holds the
// points simulated at the estimates.
std::vector<FitWarning> fitWarnings(
    const FitResult &result, const IsvRecordingObjective &objective, const std::vector<IsvPoint> &best);

} // namespace cleftsim
