#pragma once

#include "run/problem.h"

#include <limits>
#include <string>
#include <vector>

namespace cleftsim {

// One clamp potential of a recording: the means over the trials recorded
// there and how well they are known.
struct MeasuredPoint {
    int V = 0; // clamp potential [mV]
    int row = 0; // data row it was read from, counted from 1
    int n = 0; // trials recorded; 0 where not given
    double meanPeak = 0; // mean peak synaptic current, negative for inward [pA]
    // The recorded standard error of the mean peak current [pA]: sem_pA, or
    // std_pA / sqrt(n); NaN where neither is given (n then lets the model
    // tell the spread).
    double semPeak = std::numeric_limits<double>::quiet_NaN();
    double stdPeak = std::numeric_limits<double>::quiet_NaN(); // std_pA as given; NaN where not given
    bool hasQuanta = false;
    double meanQuanta = 0; // mean number of quanta
    double semQuanta
        = std::numeric_limits<double>::quiet_NaN(); // its recorded standard error; NaN where not given
    bool hasFailures = false;
    double failureRate = 0; // share of the recorded trials without a release (needs n)
};

// A recording of mean peak currents at several clamp potentials, in the
// order of the file.
struct MeasuredData {
    std::string name; // the file's name as given, or what the data came from
    std::string sha256; // of the file's bytes
    std::vector<MeasuredPoint> points;
};

// Reads measured data from the bytes of a file: a CSV file with a header row
// (comma-separated, # comment lines, UTF-8, a byte order mark skipped) of
// the columns V2_mV, mean_peak_pA and sem_pA, or std_pA with n (trials is
// taken for n, as the isv CSV of cleftsim-batch writes it), and optionally
// mean_quanta with sem_quanta or std_quanta (or n), failure_rate with n;
// other columns are passed over. Or the isv JSON of cleftsim-batch, whose
// points give trials and the standard deviations. Returns false with
// *problem naming the row, the column and the reason on the first fault.
bool parseMeasuredData(const std::string &bytes, MeasuredData &data, RunProblem *problem);

// Reads the measured data file at path (a regular file, also behind a
// symbolic link); data.name is the path as given.
bool readMeasuredData(const std::string &path, MeasuredData &data, RunProblem *problem);

// How many measured values a fit compares with the model: each point's
// peak current (but at 0 mV, where every current is 0), its mean number of
// quanta and its failure rate where given.
int measuredValueCount(const MeasuredData &data);

// The data as a JSON object: the file's name and SHA-256 and the points with
// the values read (null for a standard error not given; the quanta and the
// failure rate only where given).
std::string measuredDataJson(const MeasuredData &data);

} // namespace cleftsim
