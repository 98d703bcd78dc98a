#include "run/json.h"

#include <charconv>

namespace cleftsim {

const JsonValue *JsonValue::member(const std::string &key) const
{
    for (const auto &m : object)
        if (m.first == key)
            return &m.second;
    return nullptr;
}

const char *jsonTypeName(JsonValue::Type type)
{
    switch (type) {
    case JsonValue::Type::Null: return "null";
    case JsonValue::Type::Bool: return "true or false";
    case JsonValue::Type::Number: return "a number";
    case JsonValue::Type::String: return "a string";
    case JsonValue::Type::Array: return "an array";
    case JsonValue::Type::Object: return "an object";
    }
    return "";
}

namespace {

constexpr int MaxDepth = 64;

class Reader {
public:
    explicit Reader(const std::string &text)
        : m_text(text)
    {
    }

    bool document(JsonValue &value)
    {
        skipSpace();
        if (!read(value, 0))
            return false;
        skipSpace();
        if (m_pos != m_text.size())
            return fail("text after the end of the JSON value");
        return true;
    }

    std::string error() const { return m_error; }

private:
    bool fail(const std::string &what)
    {
        if (!m_error.empty())
            return false;
        if (m_pos >= m_text.size()) {
            m_error = "the text ends too early (cut off?)";
            return false;
        }
        int line = 1;
        int column = 1;
        for (std::size_t i = 0; i < m_pos; ++i) {
            if (m_text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        m_error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
        return false;
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }

    void skipSpace()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_pos;
    }

    bool literal(const char *word)
    {
        for (const char *c = word; *c; ++c, ++m_pos)
            if (atEnd() || peek() != *c)
                return fail("not JSON");
        return true;
    }

    bool read(JsonValue &value, int depth)
    {
        if (atEnd())
            return fail("a value expected");
        switch (peek()) {
        case '{': return object(value, depth);
        case '[': return array(value, depth);
        case '"': value.type = JsonValue::Type::String; return string(value.string);
        case 't':
            value.type = JsonValue::Type::Bool;
            value.boolean = true;
            return literal("true");
        case 'f':
            value.type = JsonValue::Type::Bool;
            value.boolean = false;
            return literal("false");
        case 'n': value.type = JsonValue::Type::Null; return literal("null");
        default: return number(value);
        }
    }

    bool object(JsonValue &value, int depth)
    {
        if (depth >= MaxDepth)
            return fail("nested too deep");
        value.type = JsonValue::Type::Object;
        ++m_pos;
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                return fail("a member name in quotes expected");
            std::string key;
            if (!string(key))
                return false;
            skipSpace();
            if (peek() != ':')
                return fail("':' expected");
            ++m_pos;
            skipSpace();
            value.object.emplace_back(std::move(key), JsonValue());
            if (!read(value.object.back().second, depth + 1))
                return false;
            skipSpace();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            if (peek() == '}') {
                ++m_pos;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    bool array(JsonValue &value, int depth)
    {
        if (depth >= MaxDepth)
            return fail("nested too deep");
        value.type = JsonValue::Type::Array;
        ++m_pos;
        skipSpace();
        if (peek() == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipSpace();
            value.array.emplace_back();
            if (!read(value.array.back(), depth + 1))
                return false;
            skipSpace();
            if (peek() == ',') {
                ++m_pos;
                continue;
            }
            if (peek() == ']') {
                ++m_pos;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    bool hex4(unsigned &code)
    {
        code = 0;
        for (int i = 0; i < 4; ++i, ++m_pos) {
            const char c = peek();
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= unsigned(c - 'A' + 10);
            else
                return fail("four hex digits expected after \\u");
        }
        return true;
    }

    static void appendUtf8(std::string &out, unsigned code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool string(std::string &out)
    {
        ++m_pos; // the opening quote
        for (;;) {
            if (atEnd())
                return fail("");
            const unsigned char c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20)
                return fail("a control character in a string");
            if (c != '\\') {
                out += char(c);
                ++m_pos;
                continue;
            }
            ++m_pos;
            const char e = peek();
            ++m_pos;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned low = 0;
                    if (peek() != '\\' || (++m_pos, peek() != 'u'))
                        return fail("a surrogate pair expected");
                    ++m_pos;
                    if (!hex4(low))
                        return false;
                    if (low < 0xDC00 || low >= 0xE000)
                        return fail("a surrogate pair expected");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return fail("a lone surrogate");
                }
                appendUtf8(out, code);
                break;
            }
            default: --m_pos; return fail("an unknown escape");
            }
        }
    }

    bool number(JsonValue &value)
    {
        const std::size_t start = m_pos;
        const auto digits = [&] {
            const std::size_t from = m_pos;
            while (!atEnd() && peek() >= '0' && peek() <= '9')
                ++m_pos;
            return m_pos > from;
        };
        if (peek() == '-')
            ++m_pos;
        if (peek() == '0')
            ++m_pos;
        else if (!digits())
            return atEnd() ? fail("") : fail("not JSON");
        if (peek() == '.') {
            ++m_pos;
            if (!digits())
                return fail("digits expected after the decimal point");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_pos;
            if (peek() == '+' || peek() == '-')
                ++m_pos;
            if (!digits())
                return fail("digits expected in the exponent");
        }
        value.type = JsonValue::Type::Number;
        const char *first = m_text.data() + start;
        const char *last = m_text.data() + m_pos;
        const auto result = std::from_chars(first, last, value.number);
        if (result.ec != std::errc() || result.ptr != last) {
            m_pos = start;
            return fail("a number out of range");
        }
        value.number += 0.0;
        return true;
    }

    const std::string &m_text;
    std::size_t m_pos = 0;
    std::string m_error;
};

} // namespace

bool parseJson(const std::string &text, JsonValue &value, std::string *error)
{
    value = JsonValue();
    Reader reader(text);
    if (reader.document(value))
        return true;
    if (error)
        *error = reader.error();
    return false;
}

std::string jsonString(const std::string &text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

} // namespace cleftsim
