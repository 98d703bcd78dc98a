#include "run/measureddata.h"

#include "model/parametertable.h"
#include "run/json.h"
#include "run/rundescription.h"
#include "run/sha256.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include <sys/stat.h>

namespace cleftsim {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// A value of the file as read, with where it stands for the messages.
struct Cell {
    bool present = false;
    bool number = false; // read as a number (not NaN or infinite)
    double value = 0;
    std::string text;
};

// One data row: its cells by column name and how to name it in a message.
struct Row {
    std::string where; // "row 3 (line 5)", "points[2]"
    std::map<std::string, Cell> cells;
};

const char Accepted[] = "a CSV file with the columns V2_mV, mean_peak_pA and sem_pA (or std_pA with n)";

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A number as a C locale reads it; NaN and infinities are read but marked.
Cell cellOf(const std::string &text)
{
    Cell cell;
    cell.present = !text.empty();
    cell.text = text;
    if (text.empty())
        return cell;
    const char *first = text.data() + (text[0] == '+' ? 1 : 0);
    double value = 0;
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    if (result.ec == std::errc() && result.ptr == text.data() + text.size()) {
        cell.value = value + 0.0;
        cell.number = std::isfinite(value);
        if (!cell.number)
            cell.text = std::isnan(value) ? "nan" : "infinite";
    }
    return cell;
}

bool readCsv(const std::string &text, std::vector<Row> &rows, RunProblem *problem)
{
    std::vector<std::string> header;
    std::size_t start = 0;
    int line = 0;
    int dataRow = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string content = trimmed(text.substr(start, end - start));
        start = end + 1;
        ++line;
        if (content.empty() || content[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = content.find(',', from);
            fields.push_back(
                trimmed(content.substr(from, comma == std::string::npos ? comma : comma - from)));
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        if (header.empty()) {
            std::set<std::string> seen;
            for (const std::string &name : fields)
                if (!name.empty() && !seen.insert(name).second) {
                    if (problem)
                        *problem
                            = {"line " + std::to_string(line) + ", column " + name, "named twice", Accepted};
                    return false;
                }
            header = fields;
            continue;
        }
        ++dataRow;
        Row row;
        row.where = "row " + std::to_string(dataRow) + " (line " + std::to_string(line) + ")";
        if (fields.size() != header.size()) {
            if (problem)
                *problem = {row.where,
                    std::to_string(fields.size()) + " fields where the header has "
                        + std::to_string(header.size()),
                    "one field per column, separated by commas"};
            return false;
        }
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (!header[i].empty())
                row.cells[header[i]] = cellOf(fields[i]);
        rows.push_back(std::move(row));
    }
    if (header.empty()) {
        if (problem)
            *problem = {"the data", "no header row", Accepted};
        return false;
    }
    return true;
}

// The points of the isv JSON output of cleftsim-batch as rows: trials is n,
// and the standard deviations over the trials give the spread.
bool readIsvJson(const std::string &text, std::vector<Row> &rows, RunProblem *problem)
{
    JsonValue json;
    if (!parseJson(text, json, problem))
        return false;
    const JsonValue *points = json.type == JsonValue::Type::Object ? json.member("points") : nullptr;
    if (!points || points->type != JsonValue::Type::Array) {
        if (problem)
            *problem
                = {"the JSON data", "no \"points\" array (not an isv output of cleftsim-batch)", Accepted};
        return false;
    }
    const std::pair<const char *, const char *> columns[]
        = {{"V2_mV", "V2_mV"}, {"trials", "n"}, {"mean_peak_pA", "mean_peak_pA"}, {"std_peak_pA", "std_pA"},
            {"mean_quanta", "mean_quanta"}, {"std_quanta", "std_quanta"}};
    for (std::size_t i = 0; i < points->array.size(); ++i) {
        const JsonValue &point = points->array[i];
        Row row;
        row.where = "points[" + std::to_string(i) + "]";
        if (point.type != JsonValue::Type::Object) {
            if (problem)
                *problem = {row.where, "not an object", "a point of an isv output"};
            return false;
        }
        for (const auto &[member, column] : columns) {
            const JsonValue *value = point.member(member);
            if (!value || value->type == JsonValue::Type::Null)
                continue;
            Cell cell;
            cell.present = true;
            if (value->type == JsonValue::Type::Number) {
                cell.number = true;
                cell.value = value->number;
                cell.text = shortestNumber(value->number);
            } else {
                cell.text = jsonTypeName(value->type);
            }
            row.cells[column] = cell;
        }
        rows.push_back(std::move(row));
    }
    return true;
}

// Checks the rows and takes their points.
class RowReader {
public:
    explicit RowReader(RunProblem *problem)
        : m_problem(problem)
    {
    }

    bool fail(
        const Row &row, const std::string &column, const std::string &reason, const std::string &accepted)
    {
        if (m_problem)
            *m_problem = {row.where + ", column " + column, reason, accepted};
        return false;
    }

    // A number of the column, or nothing where the column is absent or empty.
    bool number(const Row &row, const std::string &column, std::optional<double> &value)
    {
        const auto it = row.cells.find(column);
        value.reset();
        if (it == row.cells.end() || !it->second.present)
            return true;
        const Cell &cell = it->second;
        if (!cell.number) {
            const bool notFinite = cell.text == "nan" || cell.text == "infinite";
            return fail(row, column,
                notFinite ? "not a finite number" : "\"" + cell.text + "\": not a number",
                "a finite number with a full stop");
        }
        value = cell.value;
        return true;
    }

    bool read(const Row &row, int index, std::set<int> &seen, MeasuredPoint &point)
    {
        point.row = index;
        std::optional<double> V, mean, sem, sd, n, quanta, semQuanta, sdQuanta, failures;
        if (!number(row, "V2_mV", V) || !number(row, "mean_peak_pA", mean) || !number(row, "sem_pA", sem)
            || !number(row, "std_pA", sd) || !number(row, "n", n) || !number(row, "mean_quanta", quanta)
            || !number(row, "sem_quanta", semQuanta) || !number(row, "std_quanta", sdQuanta)
            || !number(row, "failure_rate", failures))
            return false;
        const ParamInfo &V2 = paramInfo(Param::V2);
        if (!V)
            return fail(row, "V2_mV", "missing", rangeText(V2));
        double taken = 0;
        const std::string why = acceptValue(V2, *V, &taken);
        if (!why.empty())
            return fail(row, "V2_mV", shortestNumber(*V) + ": " + why, rangeText(V2));
        point.V = static_cast<int>(taken);
        if (!seen.insert(point.V).second)
            return fail(row, "V2_mV", std::to_string(point.V) + ": repeated", "each potential at most once");
        if (!mean)
            return fail(row, "mean_peak_pA", "missing", "the mean peak current in pA");
        point.meanPeak = *mean;
        if (n) {
            if (*n != std::floor(*n) || *n < 2 || *n > 1e9)
                return fail(row, "n", shortestNumber(*n) + ": not a whole number of at least 2",
                    "the trials recorded, at least 2");
            point.n = static_cast<int>(*n);
        }
        const auto spread = [&](const char *column, const std::optional<double> &value) {
            return !value || *value >= 0 ? true
                                         : fail(row, column, shortestNumber(*value) + ": below 0", "above 0");
        };
        if (!spread("sem_pA", sem) || !spread("std_pA", sd) || !spread("sem_quanta", semQuanta)
            || !spread("std_quanta", sdQuanta))
            return false;
        if (sd && !point.n)
            return fail(
                row, "n", "missing (std_pA needs the trials recorded)", "n, the trials recorded, at least 2");
        point.semPeak = sem ? *sem : sd ? *sd / std::sqrt(double(point.n)) : NaN;
        point.stdPeak = sd ? *sd : NaN;
        // The spread of a mean is the model's where n is known; else the
        // recorded standard error is the one the fit uses, and must say something.
        if (!point.n && !sem)
            return fail(row, "sem_pA", "missing (no spread of the mean)", "sem_pA above 0, or std_pA with n");
        if (!point.n && point.V != 0 && !(point.semPeak > 0))
            return fail(row, "sem_pA", "0: no spread (without n the fit weighs the mean by it)", "above 0");
        if (quanta) {
            if (*quanta < 0 || *quanta > paramInfo(Param::N).max)
                return fail(row, "mean_quanta", shortestNumber(*quanta) + ": out of range",
                    "0.." + shortestNumber(paramInfo(Param::N).max));
            point.hasQuanta = true;
            point.meanQuanta = *quanta;
            point.semQuanta = semQuanta ? *semQuanta
                : sdQuanta && point.n   ? *sdQuanta / std::sqrt(double(point.n))
                                        : NaN;
            if (!point.n && !(point.semQuanta > 0))
                return fail(row, "sem_quanta",
                    semQuanta ? "0: no spread" : "missing (mean_quanta needs sem_quanta or n)",
                    "sem_quanta above 0, or n");
        } else if (semQuanta || sdQuanta) {
            return fail(
                row, "mean_quanta", "missing (a spread of the quanta is given)", "mean_quanta with it");
        }
        if (failures) {
            if (*failures < 0 || *failures > 1)
                return fail(row, "failure_rate", shortestNumber(*failures) + ": out of range", "0..1");
            if (!point.n)
                return fail(row, "n", "missing (failure_rate needs the trials recorded)", "n, at least 2");
            point.hasFailures = true;
            point.failureRate = *failures;
        }
        return true;
    }

private:
    RunProblem *m_problem;
};

} // namespace

bool parseMeasuredData(const std::string &bytes, MeasuredData &data, RunProblem *problem)
{
    std::string text = bytes;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::vector<Row> rows;
    const auto first = text.find_first_not_of(" \t\r\n");
    const bool json = first != std::string::npos && text[first] == '{';
    if (!(json ? readIsvJson(bytes, rows, problem) : readCsv(text, rows, problem)))
        return false;
    if (!json && !rows.empty()) {
        // The isv CSV of cleftsim-batch names the trials recorded "trials".
        for (Row &row : rows) {
            auto trials = row.cells.find("trials");
            if (trials == row.cells.end())
                continue;
            if (row.cells.count("n")) {
                if (problem)
                    *problem = {row.where + ", column trials", "given with n", "one of n and trials"};
                return false;
            }
            row.cells["n"] = trials->second;
        }
        for (const char *required : {"V2_mV", "mean_peak_pA"})
            if (!rows.front().cells.count(required)) {
                if (problem)
                    *problem = {std::string("column ") + required, "missing", Accepted};
                return false;
            }
    }
    if (rows.empty()) {
        if (problem)
            *problem = {"the data", "no data rows", "a row per clamp potential"};
        return false;
    }
    MeasuredData read;
    read.sha256 = sha256Hex(bytes);
    read.name = data.name;
    std::set<int> seen;
    RowReader reader(problem);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        MeasuredPoint point;
        if (!reader.read(rows[i], static_cast<int>(i) + 1, seen, point))
            return false;
        read.points.push_back(point);
    }
    data = std::move(read);
    return true;
}

bool readMeasuredData(const std::string &path, MeasuredData &data, RunProblem *problem)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (problem)
            *problem = {path,
                ::stat(path.c_str(), &info) != 0 ? "cannot be read (no such file?)" : "not a regular file",
                "a measured data file"};
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        if (problem)
            *problem = {path, "cannot be read", "a measured data file"};
        return false;
    }
    MeasuredData read;
    read.name = path;
    if (!parseMeasuredData(bytes, read, problem)) {
        if (problem)
            problem->what = path + ": " + problem->what;
        return false;
    }
    data = std::move(read);
    return true;
}

int measuredValueCount(const MeasuredData &data)
{
    int count = 0;
    for (const MeasuredPoint &point : data.points)
        count += (point.V != 0 ? 1 : 0) + (point.hasQuanta ? 1 : 0) + (point.hasFailures ? 1 : 0);
    return count;
}

std::string measuredDataJson(const MeasuredData &data)
{
    const auto number = [](double x) { return std::isfinite(x) ? shortestNumber(x) : std::string("null"); };
    std::string text = "{\"file\": " + jsonString(data.name) + ", \"sha256\": " + jsonString(data.sha256)
        + ", \"points\": [";
    for (std::size_t i = 0; i < data.points.size(); ++i) {
        const MeasuredPoint &p = data.points[i];
        text += std::string(i > 0 ? "," : "") + "\n    {\"V2_mV\": " + std::to_string(p.V)
            + ", \"n\": " + std::to_string(p.n) + ", \"mean_peak_pA\": " + number(p.meanPeak)
            + ", \"sem_peak_pA\": " + number(p.semPeak);
        if (p.hasQuanta)
            text += ", \"mean_quanta\": " + number(p.meanQuanta) + ", \"sem_quanta\": " + number(p.semQuanta);
        if (p.hasFailures)
            text += ", \"failure_rate\": " + number(p.failureRate);
        text += "}";
    }
    return text + (data.points.empty() ? "]}" : "\n  ]}");
}

} // namespace cleftsim
