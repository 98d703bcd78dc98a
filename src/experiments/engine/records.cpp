#include "experiments/engine/records.h"

#include "model/rounding.h"

namespace cleftsim {

bool writeRecordsFile(std::ostream &out, const CurrentTrace *traces, int count)
{
    out << "161 " << count << " 10000\r\n";
    for (int r = 0; r < count && out; ++r) {
        for (int b = 0; b <= 160; ++b)
            out << formatFixed(traces[r][2 * b], 3) << ' ';
        out << "\r\n";
    }
    out.flush();
    return static_cast<bool>(out);
}

bool writeRecordsFile(std::ostream &out, const std::vector<CurrentTrace> &traces)
{
    return writeRecordsFile(out, traces.data(), static_cast<int>(traces.size()));
}

} // namespace cleftsim
