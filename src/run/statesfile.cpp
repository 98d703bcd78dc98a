#include "run/statesfile.h"

#include "model/rounding.h"
#include "model/storedstates.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

namespace cleftsim {

StatesSession sessionOf(const ModelState &state)
{
    StatesSession session;
    for (int slot = 0; slot <= state.StoredCount && slot < StoredSlots; ++slot) {
        session.states.push_back(state.StoredStates[static_cast<std::size_t>(slot)]);
        if (state.StoredStates[static_cast<std::size_t>(slot)].Name == state.LPI.Name)
            session.initial = slot;
    }
    return session;
}

std::string statesFileText(const StatesSession &session)
{
    std::string text = "{\n";
    text += "  \"format\": \"cleftsim-states\",\n";
    text += "  \"version\": " + std::to_string(StatesFileVersion) + ",\n";
    text += "  \"initial\": " + std::to_string(session.initial) + ",\n";
    text += "  \"states\": [\n";
    for (std::size_t i = 0; i < session.states.size(); ++i) {
        const ParameterSet &p = session.states[i];
        text += "    {\"Name\": " + jsonString(p.Name)
            + ", \"BackgroundOn\": " + std::to_string(p.BackgroundOn);
        for (const ParamInfo *rule : numericParams())
            text += std::string(", \"") + rule->name
                + "\": " + formatFixed(fieldValue(p, rule->field), rule->decimals);
        text += i + 1 < session.states.size() ? "},\n" : "}\n";
    }
    text += "  ]\n}\n";
    return text;
}

namespace {

struct Refusal {
    std::string text;
};

[[noreturn]] void refuse(const std::string &text)
{
    throw Refusal {text};
}

const JsonValue &need(
    const JsonValue &object, const std::string &key, JsonValue::Type type, const std::string &where)
{
    const JsonValue *v = object.member(key);
    if (!v)
        refuse(where + "\"" + key + "\" missing");
    if (v->type != type)
        refuse(
            where + "\"" + key + "\" is " + jsonTypeName(v->type) + ", " + jsonTypeName(type) + " expected");
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

ParameterSet readState(const JsonValue &v, int slot)
{
    const std::string where = "state " + std::to_string(slot) + ": ";
    if (v.type != JsonValue::Type::Object)
        refuse(where + "is " + std::string(jsonTypeName(v.type)) + ", an object expected");
    ParameterSet p;
    p.Name = need(v, "Name", JsonValue::Type::String, where).string;
    const std::string prefix = std::to_string(slot) + ": ";
    if (p.Name.compare(0, prefix.size(), prefix) != 0)
        refuse(where + "the name \"" + p.Name + "\" does not begin with \"" + prefix + "\"");
    const double on = need(v, "BackgroundOn", JsonValue::Type::Number, where).number;
    if (on != 0 && on != 1)
        refuse(where + "BackgroundOn " + shown(on) + " out of range; accepted 0 or 1");
    p.BackgroundOn = static_cast<std::uint8_t>(on);
    for (const ParamInfo *rule : numericParams()) {
        const double value = need(v, rule->name, JsonValue::Type::Number, where).number;
        double taken = 0;
        const std::string problem = acceptValue(*rule, value, &taken);
        if (!problem.empty())
            refuse(
                where + rule->name + " " + shown(value) + " " + problem + "; accepted " + rangeText(*rule));
        setFieldValue(p, rule->field, taken);
    }
    RunProblem problem;
    if (p.Gb > 0 && !p.BackgroundOn)
        refuse(where + "Gb " + formatFixed(p.Gb, 3) + " with the background switched off; accepted 0.000");
    if (!checkBackground(p, "Gb " + formatFixed(p.Gb, 3), &problem))
        refuse(where + problem.what + " " + problem.reason + "; accepted " + problem.accepted);
    return p;
}

StatesSession readSession(const std::string &text)
{
    if (text.size() > MaxStatesFileBytes)
        refuse("too large for a states file (" + std::to_string(text.size()) + " bytes; at most "
            + std::to_string(MaxStatesFileBytes) + ")");
    JsonValue doc;
    std::string error;
    if (!parseJson(text, doc, &error))
        refuse("not a valid JSON file: " + error);
    if (doc.type != JsonValue::Type::Object)
        refuse("not a states file: the JSON text is " + std::string(jsonTypeName(doc.type))
            + ", an object expected");
    const JsonValue *format = doc.member("format");
    if (!format || format->type != JsonValue::Type::String || format->string != "cleftsim-states")
        refuse("not a states file: \"format\" is not \"cleftsim-states\"");
    const double version = need(doc, "version", JsonValue::Type::Number, "").number;
    if (version != StatesFileVersion)
        refuse("format version " + shown(version) + " is not known; this program reads version "
            + std::to_string(StatesFileVersion));
    const JsonValue &states = need(doc, "states", JsonValue::Type::Array, "");
    if (states.array.empty())
        refuse("no states; the first state must be \"0: default\"");
    if (states.array.size() > static_cast<std::size_t>(StoredSlots))
        refuse(std::to_string(states.array.size()) + " states; the table holds at most "
            + std::to_string(StoredSlots) + " (\"0: default\" and 15 stored)");
    StatesSession session;
    for (std::size_t i = 0; i < states.array.size(); ++i)
        session.states.push_back(readState(states.array[i], static_cast<int>(i)));
    if (session.states.front() != DefaultParameterSet)
        refuse("state 0 is not the default set \"0: default\"");
    const double initial = need(doc, "initial", JsonValue::Type::Number, "").number;
    if (!(initial >= 0 && initial < double(session.states.size())) || initial != std::floor(initial))
        refuse("initial " + shown(initial) + " out of range; accepted 0.."
            + std::to_string(session.states.size() - 1) + " (a slot of the states)");
    session.initial = static_cast<int>(initial);
    return session;
}

} // namespace

bool parseStatesFile(const std::string &text, StatesSession &session, std::string *problem)
{
    try {
        session = readSession(text);
        return true;
    } catch (const Refusal &r) {
        if (problem)
            *problem = r.text;
        return false;
    }
}

bool readStatesFile(const std::string &path, StatesSession &session, std::string *problem)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (problem)
            *problem = std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MaxStatesFileBytes)
            break; // refused below without reading the rest
    }
    if (in.bad()) {
        if (problem)
            *problem = std::strerror(errno);
        return false;
    }
    if (text.size() > MaxStatesFileBytes) {
        if (problem)
            *problem
                = "too large for a states file (more than " + std::to_string(MaxStatesFileBytes) + " bytes)";
        return false;
    }
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
