#pragma once

#include "run/problem.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace cleftsim {

// A value read from JSON text.
struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string; // the text of a string
    std::vector<JsonValue> array;
    std::vector<std::pair<std::string, JsonValue>> object; // members in the order of the text
    // Where the value stands in the text read: bytes [begin, end); for a
    // member of an object, memberBegin is where its name starts, so that
    // [memberBegin, end) is the member as it was written.
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t memberBegin = 0;

    // The member of an object by its key; nullptr when absent. The reader
    // refuses an object that names a member twice, so there is one at most.
    const JsonValue *member(const std::string &key) const;
};

// The name of a type as messages write it: "a number", "a string", ...
const char *jsonTypeName(JsonValue::Type type);

// Arrays and objects nest at most this deep.
constexpr int MaxJsonDepth = 64;

// Reads the JSON text of one value (RFC 8259, UTF-8; a byte order mark at the
// start is skipped). Refuses, besides what is not JSON, an object naming a
// member twice, a number with a leading zero, a string that is not valid
// UTF-8 or holds a lone surrogate, and nesting deeper than MaxJsonDepth.
// Returns false with *problem (when given) saying where and what: what
// "line 3, column 7" (lines and columns counted in characters from 1, the
// byte order mark not counted), reason what is wrong there; a text cut off
// has an empty what and the reason "the text ends too early (cut off?)".
bool parseJson(const std::string &text, JsonValue &value, RunProblem *problem);

// The shortest text of a finite number that reads back as exactly that
// number ("0.1", "1e-07", "-3"), whatever the locale.
std::string shortestNumber(double x);

// A JSON string literal of text, quotes included.
std::string jsonString(const std::string &text);

} // namespace cleftsim
