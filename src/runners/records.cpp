#include "runners/records.h"

#include "model/rounding.h"

#include <string>

namespace cleftsim {

namespace {

std::string headerLine(int count)
{
    return "161 " + std::to_string(count) + " 10000\r\n";
}

std::string recordLine(const CurrentTrace &trace)
{
    std::string line;
    line.reserve(161 * 9 + 2);
    for (int b = 0; b <= 160; ++b) {
        line += formatFixed(trace[static_cast<std::size_t>(2 * b)], 3);
        line += ' ';
    }
    line += "\r\n";
    return line;
}

} // namespace

bool writeRecordsFile(std::ostream &out, const CurrentTrace *traces, int count)
{
    const std::string header = headerLine(count);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    for (int r = 0; r < count && out; ++r) {
        const std::string line = recordLine(traces[r]);
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
    out.flush();
    return static_cast<bool>(out);
}

bool writeRecordsFile(std::ostream &out, const std::vector<CurrentTrace> &traces)
{
    return writeRecordsFile(out, traces.data(), static_cast<int>(traces.size()));
}

int recordsTrial(ModelState &state, Generator &rng, CurrentTrace &trace)
{
    NoObserver none;
    return recordsTrial(state, rng, trace, none);
}

RecordsResult runRecords(ModelState &state, const std::vector<std::uint32_t> &seeds)
{
    RecordsResult result;
    result.traces.resize(seeds.size());
    result.quanta.reserve(seeds.size());
    Generator rng;
    NoObserver none;
    for (std::size_t r = 0; r < seeds.size(); ++r)
        result.quanta.push_back(recordsRun(state, rng, seeds[r], result.traces[r], none));
    return result;
}

std::vector<std::uint32_t> consecutiveSeeds(std::uint32_t first, int count)
{
    std::vector<std::uint32_t> seeds;
    for (int r = 0; r < count; ++r)
        seeds.push_back(first + static_cast<std::uint32_t>(r));
    return seeds;
}

} // namespace cleftsim
