#include "run/measureddata.h"

#include "model/parametertable.h"
#include "run/json.h"
#include "run/rundescription.h"
#include "run/sha256.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
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

const char Accepted[] = "a CSV file with the columns V2_mV, mean_peak_pA and sem_pA (or std_pA with n), "
                        "separated by commas, semicolons or tabs";

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A text of the file as a message shows it, on one line: quoted as JSON
// quotes it, a long one cut short (not inside a character).
std::string shownText(const std::string &text)
{
    constexpr std::size_t Shown = 40;
    if (text.size() <= Shown)
        return jsonString(text);
    std::size_t cut = Shown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return jsonString(text.substr(0, cut)) + "...";
}

// A column's name as a message shows it: as it is when it is short and
// printable, else quoted and cut short.
std::string columnName(const std::string &name)
{
    const bool plain = name.size() <= 40
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"'; });
    return plain ? name : shownText(name);
}

// A number as a C locale reads it, or with a decimal comma where the fields
// are separated by semicolons or tabs; NaN and infinities are read but marked.
Cell cellOf(const std::string &text, bool decimalComma)
{
    Cell cell;
    cell.present = !text.empty();
    cell.text = text;
    if (text.empty())
        return cell;
    std::string number = text;
    if (decimalComma && number.find('.') == std::string::npos) {
        const auto comma = number.find(',');
        if (comma != std::string::npos && number.find(',', comma + 1) == std::string::npos)
            number[comma] = '.';
    }
    const char *first = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    const auto result = std::from_chars(first, number.data() + number.size(), value);
    if (result.ec == std::errc() && result.ptr == number.data() + number.size()) {
        cell.value = value + 0.0;
        cell.number = std::isfinite(value);
        if (!cell.number)
            cell.text = std::isnan(value) ? "nan" : "infinite";
    }
    return cell;
}

// The columns the reader takes; every other column is passed over.
bool takenColumn(const std::string &name)
{
    static const std::set<std::string> Taken = {"V2_mV", "mean_peak_pA", "sem_pA", "std_pA", "n", "trials",
        "mean_quanta", "sem_quanta", "std_quanta", "failure_rate"};
    return Taken.count(name) > 0;
}

const char *separatorName(char separator)
{
    return separator == ';' ? "semicolons" : separator == '\t' ? "tabs" : "commas";
}

// The separator of a header line: the one of comma, semicolon and tab it
// uses most outside quotes (a comma where it uses none); 0 where two are
// used equally often.
char separatorOf(const std::string &header)
{
    std::map<char, int> count {{',', 0}, {';', 0}, {'\t', 0}};
    bool quoted = false;
    for (char c : header) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && count.count(c))
            ++count[c];
    }
    char best = ',';
    for (char c : {';', '\t'})
        if (count[c] > count[best])
            best = c;
    for (const auto &[c, n] : count)
        if (c != best && n > 0 && n == count[best])
            return 0;
    return best;
}

// Splits records into fields as RFC 4180 quotes them, a physical line at a
// time: a field that begins with a quote ends at the quote that is not
// doubled and may hold separators and line ends; blanks around a field are
// not part of it. Keeps the text of the first `keep` fields and counts the
// others, so that a row of many fields takes no more memory than a short one.
class FieldSplitter {
public:
    explicit FieldSplitter(char separator)
        : m_separator(separator)
    {
    }

    void keepFields(std::size_t keep) { m_keep = keep; }

    // Takes a line (without its line end); true when the record is complete
    // (or refused: see error()), false when a quoted field goes on.
    bool line(const std::string &text)
    {
        for (char c : text) {
            step(c);
            if (!m_error.empty())
                return true;
        }
        if (m_state == State::Quoted) {
            m_field += '\n';
            return false;
        }
        endField();
        return true;
    }

    // The fields of the record completed, and a fresh start for the next.
    std::vector<std::string> take()
    {
        std::vector<std::string> fields = std::move(m_fields);
        m_fields.clear();
        m_count = 0;
        m_allEmpty = true;
        return fields;
    }

    std::size_t count() const { return m_count; }
    bool allEmpty() const { return m_allEmpty; }
    bool open() const { return m_state == State::Quoted; } // inside a quoted field
    const std::string &error() const { return m_error; }

private:
    enum class State { Start, Plain, Quoted, QuoteSeen, Closed };

    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

    void step(char c)
    {
        if (c == m_separator && m_state != State::Quoted) {
            endField();
            return;
        }
        switch (m_state) {
        case State::Start:
            if (c == '"') {
                m_state = State::Quoted;
                m_quoted = true;
            } else if (!blank(c)) {
                m_field += c;
                m_state = State::Plain;
            }
            break;
        case State::Plain:
            if (c == '"')
                m_error = "a quote inside a field that does not begin with one";
            else
                m_field += c;
            break;
        case State::Quoted:
            if (c == '"')
                m_state = State::QuoteSeen;
            else
                m_field += c;
            break;
        case State::QuoteSeen:
            if (c == '"') {
                m_field += '"';
                m_state = State::Quoted;
            } else if (blank(c)) {
                m_state = State::Closed;
            } else {
                m_error = "text after the closing quote of a field";
            }
            break;
        case State::Closed:
            if (!blank(c))
                m_error = "text after the closing quote of a field";
            break;
        }
    }

    void endField()
    {
        std::string field = m_quoted ? m_field : trimmed(m_field);
        m_allEmpty = m_allEmpty && !m_quoted && field.empty();
        if (m_count < m_keep)
            m_fields.push_back(std::move(field));
        ++m_count;
        m_field.clear();
        m_quoted = false;
        m_state = State::Start;
    }

    char m_separator;
    std::size_t m_keep = std::numeric_limits<std::size_t>::max();
    State m_state = State::Start;
    bool m_quoted = false;
    bool m_allEmpty = true;
    std::string m_field;
    std::vector<std::string> m_fields;
    std::size_t m_count = 0;
    std::string m_error;
};

// Reads a CSV file line by line into rows, keeping the cells of the columns
// taken.
class CsvReader {
public:
    CsvReader(std::vector<Row> &rows, RunProblem *problem)
        : m_rows(rows)
        , m_problem(problem)
    {
    }

    // One physical line, without its line end; false once refused.
    bool line(const std::string &text)
    {
        ++m_line;
        if (!m_splitter || !m_splitter->open()) {
            const auto first = text.find_first_not_of(" \t\r");
            if (first == std::string::npos || text[first] == '#')
                return true;
            m_recordLine = m_line;
            if (m_header.empty())
                return header(text);
        }
        if (!m_splitter->line(text))
            return true;
        return record();
    }

    bool finish()
    {
        if (m_splitter && m_splitter->open())
            return fail(
                "row " + std::to_string(m_dataRows + 1) + " (line " + std::to_string(m_recordLine) + ")",
                "a quoted field is not closed at the end of the data",
                "a closing quote for every opening one");
        if (m_header.empty())
            return fail("the data", "no header row", Accepted);
        return true;
    }

    char separator() const { return m_separator; }
    const std::vector<std::string> &header() const { return m_header; }

private:
    bool fail(const std::string &what, const std::string &reason, const std::string &accepted)
    {
        if (m_problem)
            *m_problem = {what, reason, accepted};
        return false;
    }

    std::string lineName() const { return "line " + std::to_string(m_recordLine); }

    bool header(const std::string &text)
    {
        m_separator = separatorOf(text);
        if (m_separator == 0)
            return fail(lineName(), "the header uses two separators equally often",
                "one of commas, semicolons and tabs between the column names");
        m_splitter = std::make_unique<FieldSplitter>(m_separator);
        if (!m_splitter->line(text) || !m_splitter->error().empty())
            return fail(lineName(),
                m_splitter->error().empty() ? "a quoted column name not closed on its line"
                                            : "header: " + m_splitter->error(),
                "column names quoted as RFC 4180 has it (\"name\", a quote written \"\")");
        if (m_splitter->count() > std::size_t(MaxMeasuredColumns))
            return fail(lineName(), "more than " + std::to_string(MaxMeasuredColumns) + " columns",
                "a table of a recording");
        std::vector<std::string> names = m_splitter->take();
        std::set<std::string> seen;
        for (const std::string &name : names)
            if (!name.empty() && !seen.insert(name).second)
                return fail(lineName() + ", column " + columnName(name), "named twice", Accepted);
        m_header = std::move(names);
        m_splitter->keepFields(m_header.size());
        return true;
    }

    bool record()
    {
        const std::string where = "row " + std::to_string(m_dataRows + 1) + " (" + lineName() + ")";
        if (!m_splitter->error().empty())
            return fail(where, m_splitter->error(),
                "fields quoted as RFC 4180 has it (\"a, b\", a quote written \"\")");
        const std::size_t count = m_splitter->count();
        const bool allEmpty = m_splitter->allEmpty();
        std::vector<std::string> fields = m_splitter->take();
        if (allEmpty) // a blank row of a spreadsheet, separators only
            return true;
        if (++m_dataRows > MaxMeasuredRows)
            return fail(where, "more than " + std::to_string(MaxMeasuredRows) + " data rows",
                "a row per clamp potential, at most " + std::to_string(MaxMeasuredRows));
        if (count != m_header.size())
            return fail(where,
                std::to_string(count) + " fields where the header has " + std::to_string(m_header.size()),
                std::string("one field per column, separated by ") + separatorName(m_separator)
                    + " as in the header");
        Row row;
        row.where = where;
        const bool decimalComma = m_separator != ',';
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (takenColumn(m_header[i]))
                row.cells[m_header[i]] = cellOf(fields[i], decimalComma);
        m_rows.push_back(std::move(row));
        return true;
    }

    std::vector<Row> &m_rows;
    RunProblem *m_problem;
    std::unique_ptr<FieldSplitter> m_splitter;
    std::vector<std::string> m_header;
    char m_separator = ',';
    int m_line = 0;
    int m_recordLine = 0;
    int m_dataRows = 0;
};

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
                notFinite ? "not a finite number" : shownText(cell.text) + ": not a number",
                "a finite number with a full stop (or a decimal comma where semicolons or tabs separate "
                "the fields)");
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

// Column names for a message: at most eight, each quoted.
std::string namesText(const std::vector<std::string> &names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < 8; ++i)
        text += (i > 0 ? ", " : "") + shownText(names[i]);
    if (names.size() > 8)
        text += " and " + std::to_string(names.size() - 8) + " more";
    return names.empty() ? "no column" : text;
}

// A text as a CSV field, quoted where it holds a comma, a quote or a line end.
std::string csvField(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// The isv CSV of cleftsim-batch names the trials recorded "trials": taken
// for n, but not beside it.
bool trialsAsN(Row &row, RunProblem *problem)
{
    const auto trials = row.cells.find("trials");
    if (trials == row.cells.end())
        return true;
    if (row.cells.count("n")) {
        if (problem)
            *problem = {row.where + ", column trials", "given with n", "one of n and trials"};
        return false;
    }
    row.cells["n"] = trials->second;
    return true;
}

// Checks the rows and takes their points.
bool takeRows(
    const std::vector<Row> &rows, const std::string &sha256, MeasuredData &data, RunProblem *problem)
{
    if (rows.empty()) {
        if (problem)
            *problem = {"the data", "no data rows", "a row per clamp potential"};
        return false;
    }
    MeasuredData read;
    read.sha256 = sha256;
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

} // namespace

namespace {

// The refusal of a file past the bound of its form.
RunProblem tooLarge(bool json, std::size_t rows)
{
    return {"the data",
        std::string("larger than ") + (json ? "256 KiB" : "4 MiB") + " (read so far: " + std::to_string(rows)
            + " data rows)",
        std::string("a recording of at most ") + std::to_string(MaxMeasuredRows) + " rows, "
            + (json ? "256 KiB as JSON" : "4 MiB as CSV")};
}

// The rows read, checked as a whole: not too many points in the JSON form;
// in the CSV form the trials as n, and the columns no recording goes without.
bool checkRows(bool json, const CsvReader &csv, std::vector<Row> &rows, RunProblem *problem)
{
    if (json && rows.size() > std::size_t(MaxMeasuredRows)) {
        if (problem)
            *problem = {"points[" + std::to_string(MaxMeasuredRows) + "]",
                "more than " + std::to_string(MaxMeasuredRows) + " points",
                "a point per clamp potential, at most " + std::to_string(MaxMeasuredRows)};
        return false;
    }
    if (!json) {
        for (Row &row : rows)
            if (!trialsAsN(row, problem))
                return false;
        for (const char *required : {"V2_mV", "mean_peak_pA"})
            if (std::find(csv.header().begin(), csv.header().end(), required) == csv.header().end()) {
                if (problem)
                    *problem = {std::string("column ") + required,
                        "missing (the header, separated by " + std::string(separatorName(csv.separator()))
                            + ", names " + namesText(csv.header()) + ")",
                        Accepted};
                return false;
            }
    }
    return true;
}

} // namespace

bool readMeasuredBytes(const MeasuredByteSource &source, MeasuredData &data, RunProblem *problem)
{
    static const std::string ByteOrderMark = "\xEF\xBB\xBF";
    enum class Form { Unknown, Csv, Json } form = Form::Unknown;
    std::vector<Row> rows;
    CsvReader csv(rows, problem);
    std::string line; // the physical line read so far (CSV), or the whole text (JSON)
    std::string start; // the bytes before the form is known: a byte order mark and blanks
    Sha256 digest;
    std::size_t total = 0;
    bool refused = false;
    const auto takeCsv = [&](const char *bytes, std::size_t size) {
        const char *end = bytes + size;
        while (bytes < end && !refused) {
            const char *lineEnd = std::find(bytes, end, '\n');
            line.append(bytes, lineEnd);
            if (lineEnd == end)
                break;
            refused = !csv.line(line);
            line.clear();
            bytes = lineEnd + 1;
        }
    };
    const auto take = [&](const char *bytes, std::size_t size) {
        if (form == Form::Csv) {
            takeCsv(bytes, size);
        } else if (form == Form::Json) {
            line.append(bytes, size);
        } else {
            start.append(bytes, size);
            const bool mark = start.compare(0, ByteOrderMark.size(), ByteOrderMark) == 0;
            if (!mark && start.size() < ByteOrderMark.size()
                && ByteOrderMark.compare(0, start.size(), start) == 0)
                return; // perhaps a byte order mark, not yet whole
            const std::size_t from = mark ? ByteOrderMark.size() : 0;
            const std::size_t first = start.find_first_not_of(" \t\r\n", from);
            if (first == std::string::npos)
                return;
            form = start[first] == '{' ? Form::Json : Form::Csv;
            const std::string text = start.substr(from);
            start.clear();
            if (form == Form::Json)
                line = text;
            else
                takeCsv(text.data(), text.size());
        }
    };
    std::vector<char> buffer(std::size_t(64) << 10);
    for (;;) {
        bool failed = false;
        const std::size_t got = source(buffer.data(), buffer.size(), &failed);
        if (failed) {
            if (problem)
                *problem = {"the data", "cannot be read", "a measured data file"};
            return false;
        }
        if (got == 0)
            break;
        const std::size_t limit = form == Form::Json ? MaxMeasuredJsonBytes : MaxMeasuredBytes;
        const std::size_t taken = std::min(got, limit > total ? limit - total : 0);
        digest.add(buffer.data(), taken);
        take(buffer.data(), taken);
        total += taken;
        if (refused)
            return false;
        if (taken < got) {
            // The JSON form is known from its first byte, so its bound holds from there.
            if (problem)
                *problem = tooLarge(form == Form::Json, rows.size());
            return false;
        }
    }
    if (form == Form::Unknown) {
        form = Form::Csv;
        takeCsv(start.data(), start.size());
    }
    if (form == Form::Csv) {
        if (refused || (!line.empty() && !csv.line(line)) || !csv.finish())
            return false;
    } else if (!readIsvJson(line, rows, problem)) {
        return false;
    }
    if (!checkRows(form == Form::Json, csv, rows, problem))
        return false;
    return takeRows(rows, digest.hex(), data, problem);
}

bool parseMeasuredData(const std::string &bytes, MeasuredData &data, RunProblem *problem)
{
    std::size_t at = 0;
    return readMeasuredBytes(
        [&](char *buffer, std::size_t size, bool *) {
            const std::size_t n = std::min(size, bytes.size() - at);
            std::copy(bytes.data() + at, bytes.data() + at + n, buffer);
            at += n;
            return n;
        },
        data, problem);
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
    MeasuredData read;
    read.name = path;
    const bool ok = readMeasuredBytes(
        [&](char *buffer, std::size_t size, bool *failed) {
            in.read(buffer, static_cast<std::streamsize>(size));
            if (in.bad() || (!in && !in.eof()))
                *failed = true;
            return static_cast<std::size_t>(in.gcount());
        },
        read, problem);
    if (!ok) {
        if (problem)
            problem->what = path + (problem->what == "the data" ? "" : ": " + problem->what);
        return false;
    }
    data = std::move(read);
    return true;
}

bool measuredDataFromColumns(
    const std::vector<MeasuredColumn> &columns, MeasuredData &data, RunProblem *problem)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    std::set<std::string> seen;
    for (const MeasuredColumn &column : columns) {
        if (!seen.insert(column.name).second)
            return fail("column " + columnName(column.name), "named twice", Accepted);
        if (column.values.size() != columns.front().values.size())
            return fail("column " + columnName(column.name),
                std::to_string(column.values.size()) + " values where column "
                    + columnName(columns.front().name) + " has "
                    + std::to_string(columns.front().values.size()),
                "columns of one length");
    }
    for (const char *required : {"V2_mV", "mean_peak_pA"})
        if (!seen.count(required))
            return fail(std::string("column ") + required,
                "missing (the columns are " + namesText({seen.begin(), seen.end()}) + ")", Accepted);
    const std::size_t count = columns.front().values.size();
    if (count > std::size_t(MaxMeasuredRows))
        return fail("row " + std::to_string(MaxMeasuredRows + 1),
            "more than " + std::to_string(MaxMeasuredRows) + " data rows",
            "a row per clamp potential, at most " + std::to_string(MaxMeasuredRows));
    std::vector<Row> rows(count);
    // The digest is that of the columns as CSV text: the same table gives
    // the same digest wherever it came from.
    Sha256 digest;
    const auto add = [&](const std::string &text) { digest.add(text.data(), text.size()); };
    for (std::size_t c = 0; c < columns.size(); ++c)
        add((c > 0 ? "," : "") + csvField(columns[c].name));
    add("\n");
    for (std::size_t i = 0; i < count; ++i) {
        Row &row = rows[i];
        row.where = "row " + std::to_string(i + 1);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const MeasuredValue &value = columns[c].values[i];
            Cell cell;
            std::string text;
            if (value.kind == MeasuredValue::Kind::Text) {
                cell = cellOf(trimmed(value.text), false);
                text = csvField(value.text);
            } else if (value.kind == MeasuredValue::Kind::Number && !std::isnan(value.number)) {
                cell.present = true;
                cell.number = std::isfinite(value.number);
                cell.value = value.number + 0.0;
                cell.text = cell.number ? shortestNumber(value.number) : "infinite";
                text = shortestNumber(value.number);
            }
            add((c > 0 ? "," : "") + text);
            if (takenColumn(columns[c].name))
                row.cells[columns[c].name] = cell;
        }
        add("\n");
        if (!trialsAsN(row, problem))
            return false;
    }
    return takeRows(rows, digest.hex(), data, problem);
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
