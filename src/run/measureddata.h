#pragma once

#include "run/problem.h"

#include <cstddef>
#include <functional>
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

// A recording holds a row per clamp potential, 191 at most; a file of more
// data rows, or of more bytes than these (the isv JSON of cleftsim-batch
// takes under 50 KiB), is not one and is refused as soon as its reading
// passes the bound, without reading on.
constexpr int MaxMeasuredRows = 200;
constexpr std::size_t MaxMeasuredBytes = std::size_t(4) << 20; // a CSV file
constexpr std::size_t MaxMeasuredJsonBytes = std::size_t(256) << 10; // a JSON file, read whole
// A header of more columns than this is no table of a recording.
constexpr int MaxMeasuredColumns = 1000;

// Where the bytes of measured data come from: fills buffer with up to size
// bytes and returns how many, 0 at the end; sets *failed where they cannot
// be read.
using MeasuredByteSource = std::function<std::size_t(char *buffer, std::size_t size, bool *failed)>;

// Reads measured data as its bytes come, in bounded memory: a CSV file with
// a header row (# comment lines, UTF-8, a byte order mark skipped) whose
// fields are separated by commas, semicolons or tabs, the one the header
// uses most; with semicolons or tabs a decimal comma reads as a decimal
// point; fields may be quoted as RFC 4180 has it ("a, b", "say ""x""", line
// ends inside). The columns V2_mV, mean_peak_pA and sem_pA, or std_pA with n
// (trials is taken for n, as the isv CSV of cleftsim-batch writes it), and
// optionally mean_quanta with sem_quanta or std_quanta (or n), failure_rate
// with n; other columns are passed over. Or the isv JSON of cleftsim-batch,
// whose points give trials and the standard deviations. Returns false with
// *problem naming the row, the column and the reason on the first fault.
// data.name is kept; data.sha256 is the digest of the bytes.
bool readMeasuredBytes(const MeasuredByteSource &source, MeasuredData &data, RunProblem *problem);

// The same from the bytes of a file held in memory.
bool parseMeasuredData(const std::string &bytes, MeasuredData &data, RunProblem *problem);

// Reads the measured data file at path (a regular file, also behind a
// symbolic link); data.name is the path as given.
bool readMeasuredData(const std::string &path, MeasuredData &data, RunProblem *problem);

// A value of a column held in memory (a cell of a table): absent, a number
// or a text, which is read as a CSV field with a full stop is.
struct MeasuredValue {
    enum class Kind { Absent, Number, Text };
    Kind kind = Kind::Absent;
    double number = 0;
    std::string text;
};

struct MeasuredColumn {
    std::string name;
    std::vector<MeasuredValue> values; // one per row
};

// Measured data from columns of equal length (a table of a notebook), by
// the rules of the file's rows, a NaN number taken as absent; rows are
// named by their place ("row 3") and data.sha256 is the digest of the
// columns written as CSV text (names, then a line per row, the numbers in
// their shortest form, texts quoted where they must be).
bool measuredDataFromColumns(
    const std::vector<MeasuredColumn> &columns, MeasuredData &data, RunProblem *problem);

// How many measured values a fit compares with the model: each point's
// peak current (but at 0 mV, where every current is 0), its mean number of
// quanta and its failure rate where given.
int measuredValueCount(const MeasuredData &data);

// The data as a JSON object: the file's name and SHA-256 and the points with
// the values read (null for a standard error not given; the quanta and the
// failure rate only where given).
std::string measuredDataJson(const MeasuredData &data);

} // namespace cleftsim
