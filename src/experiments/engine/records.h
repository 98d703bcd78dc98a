#pragma once

#include "model/parameterset.h"
#include "model/random.h"

#include <array>
#include <ostream>
#include <vector>

namespace cleftsim {

// Steps of a Records trial: 0..320, 16 msec.
constexpr int RecordsSteps = 321;
// Trials a Records figure holds.
constexpr int MaxRecords = 100;

// The synaptic current of every step of one Records trial [pA].
using CurrentTrace = std::array<double, RecordsSteps>;

// Writes the Records text file: the header "161 R 10000", then one line per
// trace with the current of every second step in "0.000", each followed by a
// blank; CRLF line ends. Returns false when the stream failed.
bool writeRecordsFile(std::ostream &out, const CurrentTrace *traces, int count);
bool writeRecordsFile(std::ostream &out, const std::vector<CurrentTrace> &traces);

} // namespace cleftsim
