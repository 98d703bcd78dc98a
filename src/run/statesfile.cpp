#include "run/statesfile.h"

#include "model/rounding.h"
#include "model/storedstates.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

namespace cleftsim {

StatesSession sessionOf(const ModelState &state)
{
    StatesSession session;
    for (int slot = 0; slot <= state.StoredCount && slot < StoredSlots; ++slot) {
        session.states.push_back(state.StoredStates[static_cast<std::size_t>(slot)]);
        if (state.StoredStates[static_cast<std::size_t>(slot)].Name == state.LPI.Name)
            session.initial = slot;
    }
    if (!sameModel(state.LPC, state.LPI))
        session.current = state.LPC;
    return session;
}

namespace {

// The known members of a state and of the current parameters, in the order
// they are written.
std::vector<std::string> valueNames()
{
    std::vector<std::string> names {"BackgroundOn"};
    for (const ParamInfo *rule : numericParams())
        names.push_back(rule->name);
    return names;
}

const std::vector<std::string> &topNames()
{
    static const std::vector<std::string> names {
        "format", "version", "initial", "states", "current", "measured", "fit"};
    return names;
}

const std::vector<std::string> &stateNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n {"Name"};
        for (const std::string &v : valueNames())
            n.push_back(v);
        return n;
    }();
    return names;
}

const std::vector<std::string> &currentNames()
{
    static const std::vector<std::string> names = valueNames();
    return names;
}

// The members of an object in the order of names (those written are given,
// the others are empty), with the kept members put in their places.
std::vector<std::string> withKept(const std::vector<std::string> &names,
    const std::vector<std::string> &written, const std::vector<KeptMember> &kept)
{
    const auto place = [&](const KeptMember &k) {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == k.after)
                return static_cast<long>(i);
        return -1L; // before every known member
    };
    std::vector<std::string> members;
    for (long i = -1; i < static_cast<long>(names.size()); ++i) {
        if (i >= 0 && !written[static_cast<std::size_t>(i)].empty())
            members.push_back(written[static_cast<std::size_t>(i)]);
        for (const KeptMember &k : kept)
            if (place(k) == i)
                members.push_back(k.text);
    }
    return members;
}

std::string joined(const std::vector<std::string> &parts, const std::string &separator)
{
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? separator : std::string()) + parts[i];
    return text;
}

// The switch and every value with the decimals of its editor, as members.
std::vector<std::string> valueMembers(const ParameterSet &p)
{
    // The switch is written 0 or 1, as every version of the program wrote it.
    std::vector<std::string> members {"\"BackgroundOn\": " + std::to_string(p.BackgroundOn)};
    for (const ParamInfo *rule : numericParams())
        members.push_back(std::string("\"") + rule->name
            + "\": " + formatFixed(fieldValue(p, rule->field), rule->decimals));
    return members;
}

std::string numberList(const std::vector<double> &values)
{
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? ", " : "") + shortestNumber(values[i]);
    return "[" + text + "]";
}

std::string numberOrNull(double value)
{
    return std::isnan(value) ? std::string("null") : shortestNumber(value);
}

// What a fit says beside its estimates, as members of the fit: how the
// noise was asked and what it came to, the moves of the sensitivity asked,
// the one-sided limits, the estimates under the moves, and the warnings.
std::string fitCaveatsText(const FitResult &r)
{
    const FitRequest &q = r.request;
    std::vector<std::string> limits, sensitivity, warnings;
    for (std::size_t j = 0; j < q.free.size() && j < r.upperLimits.size(); ++j)
        if (!std::isnan(r.upperLimits[j]))
            limits.push_back(jsonString(q.free[j].info->name) + ": " + shortestNumber(r.upperLimits[j]));
    for (const FitSensitivity &m : r.sensitivity) {
        std::vector<std::string> estimates;
        for (std::size_t j = 0; j < q.free.size() && j < m.estimates.size(); ++j)
            estimates.push_back(jsonString(q.free[j].info->name) + ": [" + numberOrNull(m.estimates[j].first)
                + ", " + numberOrNull(m.estimates[j].second) + "]");
        sensitivity.push_back(jsonString(m.info->name) + ": {\"value\": " + shortestNumber(m.value)
            + ", \"moved\": [" + numberOrNull(m.moved.first) + ", " + numberOrNull(m.moved.second)
            + "], \"estimates\": {" + joined(estimates, ", ") + "}}");
    }
    for (const FitWarning &w : r.warnings)
        warnings.push_back("{\"code\": " + jsonString(w.code) + ", \"text\": " + jsonString(w.text) + "}");
    return "\"noise\": " + jsonString(noiseText(q.noise, q.noiseValue)) + ", \"sensitivity_moves\": "
        + jsonString(sensitivityText(q.sensitivity)) + ", \"noise_pA\": {\"used\": "
        + (r.noiseUsed ? "true" : "false") + ", \"estimate\": " + shortestNumber(r.noise)
        + ", \"interval\": " + numberList({r.noiseInterval.first, r.noiseInterval.second})
        + "}, \"upper_limits\": {" + joined(limits, ", ") + "},\n    \"sensitivity\": {"
        + joined(sensitivity, ", ") + "},\n    \"warnings\": [" + joined(warnings, ", ") + "]";
}

// The last fit as a member: its request but the data, and its result with
// the profiles, every number in the shortest form that reads back the same.
std::string fitMemberText(const FitResult &r)
{
    const FitRequest &q = r.request;
    std::vector<std::string> free, estimates, intervals, bounded, profiles;
    for (std::size_t j = 0; j < q.free.size(); ++j) {
        const std::string name = jsonString(q.free[j].info->name) + ": ";
        free.push_back(name + numberList({q.free[j].low, q.free[j].high}));
        estimates.push_back(name + shortestNumber(r.estimates[j]));
        intervals.push_back(name + numberList({r.intervals[j].first, r.intervals[j].second}));
        bounded.push_back(name + "[" + (r.bounded[j].first ? "true" : "false") + ", "
            + (r.bounded[j].second ? "true" : "false") + "]");
        std::vector<std::string> points;
        for (const ProfilePoint &point : r.profiles[j]) {
            std::vector<double> row = point.values;
            row.push_back(point.objective);
            points.push_back(numberList(row));
        }
        profiles.push_back(name + "[" + joined(points, ", ") + "]");
    }
    const auto object
        = [](const std::vector<std::string> &members) { return "{" + joined(members, ", ") + "}"; };
    return "{\"free\": " + object(free) + ", \"trials\": " + std::to_string(q.trials)
        + ", \"seed\": " + std::to_string(q.seed) + ", \"fixed_from\": " + jsonString(q.fixedFrom)
        + ", \"fixed\": " + object(valueMembers(q.fixed)) + ",\n    \"estimates\": " + object(estimates)
        + ", \"intervals\": " + object(intervals) + ", \"bounded\": " + object(bounded)
        + ", \"minus2_log_likelihood\": " + shortestNumber(r.objective)
        + ", \"chi2\": " + shortestNumber(r.chi2) + ", \"dof\": " + std::to_string(r.dof)
        + ", \"p_value\": " + shortestNumber(r.pValue) + ", \"evaluations\": " + std::to_string(r.evaluations)
        + ",\n    " + fitCaveatsText(r) + ",\n    \"profiles\": " + object(profiles) + "}";
}

} // namespace

std::string statesFileText(const StatesSession &session)
{
    const KeptMembers &kept = session.kept;
    std::string states = "\"states\": [\n";
    for (std::size_t i = 0; i < session.states.size(); ++i) {
        const ParameterSet &p = session.states[i];
        std::vector<std::string> written {"\"Name\": " + jsonString(p.Name)};
        for (std::string &m : valueMembers(p))
            written.push_back(std::move(m));
        static const std::vector<KeptMember> none;
        const std::vector<KeptMember> &extra = i < kept.states.size() ? kept.states[i] : none;
        states += "    {" + joined(withKept(stateNames(), written, extra), ", ");
        states += i + 1 < session.states.size() ? "},\n" : "}\n";
    }
    states += "  ]";
    std::vector<std::string> top {"\"format\": \"cleftsim-states\"",
        "\"version\": " + std::to_string(StatesFileVersion),
        "\"initial\": " + std::to_string(session.initial), states, std::string()};
    // The edits not stored, named by the initial state they were made from.
    if (session.current)
        top.back() = "\"current\": {"
            + joined(withKept(currentNames(), valueMembers(*session.current), kept.current), ", ") + "}";
    top.push_back(session.measured ? "\"measured\": " + measuredDataJson(*session.measured) : std::string());
    top.push_back(
        session.measured && session.fit ? "\"fit\": " + fitMemberText(*session.fit) : std::string());
    std::string text = "{\n";
    for (const std::string &member : withKept(topNames(), top, kept.top))
        text += (text.size() > 2 ? ",\n  " : "  ") + member;
    text += "\n}\n";
    return text;
}

namespace {

struct Refusal {
    RunProblem problem;
};

// Refuses the file: what was refused (empty for the file as a whole), why,
// and what is accepted where something short can be said.
[[noreturn]] void refuse(const std::string &what, const std::string &reason, const std::string &accepted = {})
{
    throw Refusal {RunProblem {what, reason, accepted}};
}

const JsonValue &need(
    const JsonValue &object, const std::string &key, JsonValue::Type type, const std::string &where)
{
    const JsonValue *v = object.member(key);
    if (!v)
        refuse(where, "\"" + key + "\" missing");
    if (v->type != type)
        refuse(
            where, "\"" + key + "\" is " + jsonTypeName(v->type) + ", " + jsonTypeName(type) + " expected");
    return *v;
}

// A number shown as it was read, for the messages.
std::string shown(double value)
{
    for (int d = 0; d <= 12; ++d)
        if (decimalsOf(value, d) <= d)
            return formatFixed(value, d);
    return formatFixed(value, 12);
}

// A name as a message quotes it: escaped as JSON, a long one cut short.
std::string quoted(const std::string &name)
{
    constexpr std::size_t Shown = 40;
    if (name.size() <= Shown)
        return jsonString(name);
    std::size_t cut = Shown;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut; // not inside a character
    return jsonString(name.substr(0, cut)) + "...";
}

// Refuses a state name that no file name, list entry or message should carry:
// control characters (C0, DEL, C1) or more than MaxStateNameLength
// characters. The JSON reader has made sure it is valid UTF-8.
void checkName(const std::string &name, const std::string &where)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool c1 = c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1)
            refuse(where, "the name " + quoted(name) + " holds a control character",
                "a name of printable characters");
        if ((c & 0xC0) != 0x80)
            ++characters;
    }
    if (characters > MaxStateNameLength)
        refuse(where, "the name " + quoted(name) + " is " + std::to_string(characters) + " characters long",
            "at most " + std::to_string(MaxStateNameLength));
}

// Reads the switch and the values of a state (the state of slot, or the
// current parameters) with every check the editors make.
void readValues(const JsonValue &v, ParameterSet &p, const std::string &where)
{
    const JsonValue *switchValue = v.member("BackgroundOn");
    if (switchValue && switchValue->type == JsonValue::Type::Bool) {
        p.BackgroundOn = switchValue->boolean ? 1 : 0;
    } else {
        const double on = need(v, "BackgroundOn", JsonValue::Type::Number, where).number;
        if (on != 0 && on != 1)
            refuse(where, "BackgroundOn " + shown(on) + " out of range", "0 or 1 (or false or true)");
        p.BackgroundOn = static_cast<std::uint8_t>(on);
    }
    for (const ParamInfo *rule : numericParams()) {
        const double value = need(v, rule->name, JsonValue::Type::Number, where).number;
        double taken = 0;
        const std::string problem = acceptValue(*rule, value, &taken);
        if (!problem.empty())
            refuse(where, rule->name + (" " + shown(value)) + " " + problem, rangeText(*rule));
        setFieldValue(p, rule->field, taken);
    }
    RunProblem problem;
    if (p.Gb > 0 && !p.BackgroundOn)
        refuse(where, "Gb " + formatFixed(p.Gb, 3) + " with the background switched off", "0.000");
    if (!checkBackground(p, "Gb " + formatFixed(p.Gb, 3), &problem))
        refuse(where, problem.what + " " + problem.reason, problem.accepted);
}

// The members of an object that names does not hold, as text says them,
// each with the known member before it.
std::vector<KeptMember> keptMembers(
    const JsonValue &object, const std::vector<std::string> &names, const std::string &text)
{
    std::vector<KeptMember> kept;
    std::string after;
    for (const auto &[key, value] : object.object) {
        bool known = false;
        for (const std::string &n : names)
            known = known || n == key;
        if (known)
            after = key;
        else
            kept.push_back({after, text.substr(value.memberBegin, value.end - value.memberBegin)});
    }
    return kept;
}

ParameterSet readState(const JsonValue &v, int slot)
{
    const std::string where = "state " + std::to_string(slot);
    if (v.type != JsonValue::Type::Object)
        refuse(where, "is " + std::string(jsonTypeName(v.type)) + ", an object expected");
    ParameterSet p;
    p.Name = need(v, "Name", JsonValue::Type::String, where).string;
    const std::string prefix = std::to_string(slot) + ": ";
    if (p.Name.compare(0, prefix.size(), prefix) != 0)
        refuse(where, "the name " + quoted(p.Name) + " does not begin with \"" + prefix + "\"");
    checkName(p.Name, where);
    readValues(v, p, where);
    return p;
}

// A number of an object that must be a whole number within low..high.
long long wholeMember(
    const JsonValue &object, const std::string &key, double low, double high, const std::string &where)
{
    const double value = need(object, key, JsonValue::Type::Number, where).number;
    if (value != std::floor(value) || value < low || value > high)
        refuse(where, "\"" + key + "\" " + shown(value) + " out of range",
            shown(low) + ".." + shown(high) + " (whole numbers)");
    return static_cast<long long>(value);
}

// The recording of a session: its points read by the rules of a measured
// data file, its name and digest as they were.
MeasuredData readMeasured(const JsonValue &v)
{
    const std::string where = "measured";
    if (v.type != JsonValue::Type::Object)
        refuse(where, "is " + std::string(jsonTypeName(v.type)) + ", an object expected");
    const std::string &file = need(v, "file", JsonValue::Type::String, where).string;
    const std::string &sha = need(v, "sha256", JsonValue::Type::String, where).string;
    if (sha.size() != 64 || sha.find_first_not_of("0123456789abcdef") != std::string::npos)
        refuse(where, "\"sha256\" is not 64 hexadecimal digits", "the SHA-256 of the recording's file");
    const JsonValue &points = need(v, "points", JsonValue::Type::Array, where);
    if (points.array.size() > std::size_t(MaxMeasuredRows))
        refuse(where, std::to_string(points.array.size()) + " points",
            "at most " + std::to_string(MaxMeasuredRows));
    // The members of a point and the columns of a file they stand for.
    const std::pair<const char *, const char *> members[]
        = {{"V2_mV", "V2_mV"}, {"n", "n"}, {"mean_peak_pA", "mean_peak_pA"}, {"sem_peak_pA", "sem_pA"},
            {"mean_quanta", "mean_quanta"}, {"sem_quanta", "sem_quanta"}, {"failure_rate", "failure_rate"}};
    std::vector<MeasuredColumn> columns;
    for (const auto &[member, column] : members)
        columns.push_back({column, {}});
    for (std::size_t i = 0; i < points.array.size(); ++i) {
        const JsonValue &point = points.array[i];
        const std::string at = where + ", points[" + std::to_string(i) + "]";
        if (point.type != JsonValue::Type::Object)
            refuse(at, "is " + std::string(jsonTypeName(point.type)) + ", an object expected");
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const JsonValue *value = point.member(members[c].first);
            MeasuredValue cell;
            if (value && value->type == JsonValue::Type::Number) {
                // n 0: the trials were not given.
                if (!(c == 1 && value->number == 0)) {
                    cell.kind = MeasuredValue::Kind::Number;
                    cell.number = value->number;
                }
            } else if (value && value->type != JsonValue::Type::Null) {
                refuse(at, "\"" + std::string(members[c].first) + "\" is " + jsonTypeName(value->type),
                    "a number or null");
            }
            columns[c].values.push_back(cell);
        }
    }
    MeasuredData data;
    RunProblem problem;
    if (!measuredDataFromColumns(columns, data, &problem))
        refuse(where + ", " + problem.what, problem.reason, problem.accepted);
    data.name = file;
    data.sha256 = sha;
    return data;
}

const JsonValue &memberOfFree(
    const JsonValue &fit, const char *key, const std::string &name, JsonValue::Type type)
{
    const JsonValue &object = need(fit, key, JsonValue::Type::Object, "fit");
    return need(object, name, type, std::string("fit, ") + key);
}

// A value of free parameter info, as its editor holds it.
double editorValue(const ParamInfo &info, const JsonValue &v, const std::string &where)
{
    if (v.type != JsonValue::Type::Number)
        refuse(where, "is " + std::string(jsonTypeName(v.type)) + ", a number expected");
    double taken = 0;
    const std::string why = acceptValue(info, v.number, &taken);
    if (!why.empty())
        refuse(where, shown(v.number) + " " + why, rangeText(info));
    return taken;
}

// A number or null (NaN) of a pair the fit member writes.
double numberOrNaN(const JsonValue &v, const std::string &where)
{
    if (v.type == JsonValue::Type::Null)
        return std::numeric_limits<double>::quiet_NaN();
    if (v.type != JsonValue::Type::Number)
        refuse(where, "is " + std::string(jsonTypeName(v.type)) + ", a number or null expected");
    return v.number;
}

std::pair<double, double> pairOf(const JsonValue &v, const std::string &where)
{
    if (v.type != JsonValue::Type::Array || v.array.size() != 2)
        refuse(where, "not a pair", "[low, high]");
    return {numberOrNaN(v.array[0], where), numberOrNaN(v.array[1], where)};
}

// What a fit says beside its estimates (fitCaveatsText). A member written
// before the fit had them has none of these: its fit compared the means
// alone, with no noise, no limits, no sensitivity and no warnings.
void readFitCaveats(const JsonValue &v, FitResult &r)
{
    FitRequest &q = r.request;
    const std::string where = "fit";
    q.noise = FitNoise::Off;
    q.sensitivity.clear();
    RunProblem problem;
    if (const JsonValue *noise = v.member("noise")) {
        if (noise->type != JsonValue::Type::String
            || !parseFitNoise(noise->string, &q.noise, &q.noiseValue, &problem))
            refuse(where + ", noise", problem.reason.empty() ? "not a text" : problem.reason,
                "auto, none or a noise in pA rms");
        if (q.noise == FitNoise::Fixed)
            r.noise = q.noiseValue;
    }
    if (const JsonValue *moves = v.member("sensitivity_moves"))
        if (moves->type != JsonValue::Type::String
            || !parseSensitivity(moves->string, &q.sensitivity, &problem))
            refuse(where + ", sensitivity_moves", problem.reason.empty() ? "not a text" : problem.reason,
                "none or PARAM=DELTA[%],...");
    if (const JsonValue *noise = v.member("noise_pA")) {
        if (noise->type != JsonValue::Type::Object)
            refuse(where + ", noise_pA", "not an object");
        const JsonValue &used = need(*noise, "used", JsonValue::Type::Bool, where + ", noise_pA");
        r.noiseUsed = used.boolean;
        r.noise = need(*noise, "estimate", JsonValue::Type::Number, where + ", noise_pA").number;
        r.noiseInterval = pairOf(need(*noise, "interval", JsonValue::Type::Array, where + ", noise_pA"),
            where + ", noise_pA interval");
        if (!(r.noise >= 0 && r.noiseInterval.first <= r.noise && r.noise <= r.noiseInterval.second))
            refuse(where + ", noise_pA", "the noise and its interval out of order",
                "0 <= interval <= estimate <= interval");
    }
    if (const JsonValue *limits = v.member("upper_limits")) {
        if (limits->type != JsonValue::Type::Object)
            refuse(where + ", upper_limits", "not an object");
        for (std::size_t j = 0; j < q.free.size(); ++j)
            if (const JsonValue *limit = limits->member(q.free[j].info->name)) {
                const double value = editorValue(*q.free[j].info, *limit, where + ", upper_limits");
                if (!(value >= r.estimates[j]))
                    refuse(where + ", upper_limits",
                        "below the estimate of " + std::string(q.free[j].info->name));
                r.upperLimits[j] = value;
            }
        for (const auto &[name, limit] : limits->object) {
            bool known = false;
            for (const FreeParameter &f : q.free)
                known = known || name == f.info->name;
            if (!known)
                refuse(where + ", upper_limits, " + quoted(name), "not a free parameter of the fit");
        }
    }
    if (const JsonValue *sensitivity = v.member("sensitivity")) {
        if (sensitivity->type != JsonValue::Type::Object)
            refuse(where + ", sensitivity", "not an object");
        for (const auto &[name, move] : sensitivity->object) {
            const std::string at = where + ", sensitivity, " + quoted(name);
            FitSensitivity s;
            s.info = findParam(name);
            if (!s.info || s.info->field == Param::BackgroundOn || move.type != JsonValue::Type::Object)
                refuse(at, "not a parameter moved with its estimates");
            s.value = need(move, "value", JsonValue::Type::Number, at).number;
            s.moved = pairOf(need(move, "moved", JsonValue::Type::Array, at), at + " moved");
            const JsonValue &estimates = need(move, "estimates", JsonValue::Type::Object, at);
            for (const FreeParameter &f : q.free)
                s.estimates.push_back(
                    pairOf(need(estimates, f.info->name, JsonValue::Type::Array, at), at + " estimates"));
            r.sensitivity.push_back(std::move(s));
        }
    }
    if (const JsonValue *warnings = v.member("warnings")) {
        if (warnings->type != JsonValue::Type::Array)
            refuse(where + ", warnings", "not a list");
        for (const JsonValue &w : warnings->array) {
            if (w.type != JsonValue::Type::Object)
                refuse(where + ", warnings", "an entry is not an object", "{\"code\": ..., \"text\": ...}");
            r.warnings.push_back({need(w, "code", JsonValue::Type::String, where + ", warnings").string,
                need(w, "text", JsonValue::Type::String, where + ", warnings").string});
        }
    }
}

// The last fit of a session, to the recording read before it.
FitResult readFit(const JsonValue &v, const MeasuredData &data)
{
    const std::string where = "fit";
    if (v.type != JsonValue::Type::Object)
        refuse(where, "is " + std::string(jsonTypeName(v.type)) + ", an object expected");
    FitResult r;
    FitRequest &q = r.request;
    q.data = data;
    const JsonValue &free = need(v, "free", JsonValue::Type::Object, where);
    for (const auto &[name, range] : free.object) {
        const ParamInfo *info = findParam(name);
        const std::string at = where + ", free " + quoted(name);
        if (!info || info->field == Param::BackgroundOn)
            refuse(at, "not a parameter a fit can move");
        if (range.type != JsonValue::Type::Array || range.array.size() != 2)
            refuse(at, "not a range", "[low, high]");
        q.free.push_back(
            {info, editorValue(*info, range.array[0], at), editorValue(*info, range.array[1], at)});
    }
    q.trials = static_cast<int>(wholeMember(v, "trials", 1, MaxRunTrials, where));
    q.seed = static_cast<std::uint32_t>(wholeMember(v, "seed", 0, 4294967295.0, where));
    q.fixedFrom = need(v, "fixed_from", JsonValue::Type::String, where).string;
    q.fixed.Name = DefaultParameterSet.Name;
    readValues(need(v, "fixed", JsonValue::Type::Object, where), q.fixed, where + ", fixed");
    RunProblem problem;
    if (!checkFit(q, &problem))
        refuse(where + ", " + problem.what, problem.reason, problem.accepted);
    for (const FreeParameter &f : q.free) {
        const std::string name = f.info->name;
        const std::string at = where + ", " + name;
        const double estimate
            = editorValue(*f.info, memberOfFree(v, "estimates", name, JsonValue::Type::Number), at);
        const JsonValue &interval = memberOfFree(v, "intervals", name, JsonValue::Type::Array);
        const JsonValue &bounded = memberOfFree(v, "bounded", name, JsonValue::Type::Array);
        if (interval.array.size() != 2 || bounded.array.size() != 2
            || bounded.array[0].type != JsonValue::Type::Bool
            || bounded.array[1].type != JsonValue::Type::Bool)
            refuse(
                at, "an interval or its bounds not a pair", "[low, high] and [true or false, true or false]");
        const double low = editorValue(*f.info, interval.array[0], at);
        const double high = editorValue(*f.info, interval.array[1], at);
        if (!(f.low <= low && low <= estimate && estimate <= high && high <= f.high))
            refuse(at, "the estimate, its interval and its range out of order",
                "low <= interval <= estimate <= interval <= high");
        r.estimates.push_back(estimate);
        r.intervals.emplace_back(low, high);
        r.bounded.emplace_back(bounded.array[0].boolean, bounded.array[1].boolean);
        // The member keeps no one-sided limits: the interval stands as read.
        r.upperLimits.push_back(std::numeric_limits<double>::quiet_NaN());
        const JsonValue &profile = memberOfFree(v, "profiles", name, JsonValue::Type::Array);
        std::vector<ProfilePoint> points;
        for (const JsonValue &row : profile.array) {
            if (row.type != JsonValue::Type::Array || row.array.size() != q.free.size() + 1)
                refuse(at, "a profile point is not " + std::to_string(q.free.size() + 1) + " numbers",
                    "the value of each free parameter and -2 log L");
            ProfilePoint point;
            for (std::size_t k = 0; k < q.free.size(); ++k)
                point.values.push_back(editorValue(*q.free[k].info, row.array[k], at + " profile"));
            if (row.array.back().type != JsonValue::Type::Number)
                refuse(at, "a profile's -2 log L is not a number");
            point.objective = row.array.back().number;
            points.push_back(std::move(point));
        }
        if (points.empty())
            refuse(at, "an empty profile");
        r.profiles.push_back(std::move(points));
    }
    const auto number = [&](const char *key) { return need(v, key, JsonValue::Type::Number, where).number; };
    r.objective = number("minus2_log_likelihood");
    r.chi2 = number("chi2");
    r.pValue = number("p_value");
    if (r.chi2 < 0 || r.pValue < 0 || r.pValue > 1)
        refuse(where, "chi2 below 0 or a p-value outside 0..1");
    r.dof = static_cast<int>(wholeMember(v, "dof", 1, MaxMeasuredRows * 3, where));
    r.evaluations = static_cast<int>(wholeMember(v, "evaluations", 0, 2147483647.0, where));
    readFitCaveats(v, r);
    return r;
}

StatesSession readSession(const std::string &text)
{
    if (text.size() > MaxStatesFileBytes)
        refuse("", "too large for a states file (" + std::to_string(text.size()) + " bytes)",
            "at most " + std::to_string(MaxStatesFileBytes) + " bytes");
    JsonValue doc;
    RunProblem json;
    if (!parseJson(text, doc, &json))
        refuse("not a valid JSON file" + (json.what.empty() ? "" : ": " + json.what), json.reason);
    if (doc.type != JsonValue::Type::Object)
        refuse("not a states file",
            "the JSON text is " + std::string(jsonTypeName(doc.type)) + ", an object expected");
    const JsonValue *format = doc.member("format");
    if (!format || format->type != JsonValue::Type::String || format->string != "cleftsim-states")
        refuse("not a states file", "\"format\" is not \"cleftsim-states\"");
    const double version = need(doc, "version", JsonValue::Type::Number, "").number;
    if (version != StatesFileVersion)
        refuse("",
            "format version " + shown(version) + " is not known; this program reads version "
                + std::to_string(StatesFileVersion));
    const JsonValue &states = need(doc, "states", JsonValue::Type::Array, "");
    if (states.array.empty())
        refuse("", "no states; the first state must be \"0: default\"");
    if (states.array.size() > static_cast<std::size_t>(StoredSlots))
        refuse(std::to_string(states.array.size()) + " states", "more than the table holds",
            "at most " + std::to_string(StoredSlots) + " (\"0: default\" and 15 stored)");
    StatesSession session;
    for (std::size_t i = 0; i < states.array.size(); ++i)
        session.states.push_back(readState(states.array[i], static_cast<int>(i)));
    session.kept.top = keptMembers(doc, topNames(), text);
    for (const JsonValue &state : states.array)
        session.kept.states.push_back(keptMembers(state, stateNames(), text));
    while (!session.kept.states.empty() && session.kept.states.back().empty())
        session.kept.states.pop_back();
    if (session.states.front() != DefaultParameterSet)
        refuse("", "state 0 is not the default set \"0: default\"");
    const double initial = need(doc, "initial", JsonValue::Type::Number, "").number;
    if (!(initial >= 0 && initial < double(session.states.size())) || initial != std::floor(initial))
        refuse("", "initial " + shown(initial) + " out of range",
            "0.." + std::to_string(session.states.size() - 1) + " (a slot of the states)");
    session.initial = static_cast<int>(initial);
    if (const JsonValue *current = doc.member("current")) {
        if (current->type != JsonValue::Type::Object)
            refuse("", "\"current\" is " + std::string(jsonTypeName(current->type)) + ", an object expected");
        ParameterSet p;
        p.Name = session.states[static_cast<std::size_t>(session.initial)].Name;
        readValues(*current, p, "current");
        session.current = p;
        session.kept.current = keptMembers(*current, currentNames(), text);
    }
    if (const JsonValue *measured = doc.member("measured"))
        session.measured = readMeasured(*measured);
    if (const JsonValue *fit = doc.member("fit")) {
        if (!session.measured)
            refuse("fit", "without the recording it was fitted to", "\"fit\" with \"measured\"");
        session.fit = readFit(*fit, *session.measured);
    }
    return session;
}

} // namespace

bool parseStatesFile(const std::string &text, StatesSession &session, RunProblem *problem)
{
    try {
        session = readSession(text);
        return true;
    } catch (const Refusal &r) {
        if (problem)
            *problem = r.problem;
        return false;
    }
}

bool readStatesFile(const std::string &path, StatesSession &session, RunProblem *problem)
{
    const auto fail = [&](const std::string &reason, const std::string &accepted = {}) {
        if (problem)
            *problem = {"", reason, accepted};
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(std::strerror(errno));
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MaxStatesFileBytes)
            break; // refused below without reading the rest
    }
    if (in.bad())
        return fail(std::strerror(errno));
    if (text.size() > MaxStatesFileBytes)
        return fail(
            "too large for a states file (more than " + std::to_string(MaxStatesFileBytes) + " bytes)",
            "at most " + std::to_string(MaxStatesFileBytes) + " bytes");
    return parseStatesFile(text, session, problem);
}

const ParameterSet *findState(const StatesSession &session, const std::string &nameOrNumber)
{
    for (const ParameterSet &p : session.states)
        if (p.Name == nameOrNumber)
            return &p;
    for (const ParameterSet &p : session.states)
        if (stateNumber(p.Name) == nameOrNumber)
            return &p;
    return nullptr;
}

} // namespace cleftsim
