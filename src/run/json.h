#pragma once

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

    // The member of an object by its key (the first of that key); nullptr when absent.
    const JsonValue *member(const std::string &key) const;
};

// The name of a type as messages write it: "a number", "a string", ...
const char *jsonTypeName(JsonValue::Type type);

// Reads the JSON text of one value (RFC 8259; arrays and objects nested at
// most 64 deep). Returns false with a message naming what is wrong and where
// ("line 3, column 7: ...") in *error; the text "ends too early" when it is cut off.
bool parseJson(const std::string &text, JsonValue &value, std::string *error);

// A JSON string literal of text, quotes included.
std::string jsonString(const std::string &text);

} // namespace cleftsim
