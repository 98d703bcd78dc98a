#include "run/json.h"

#include <charconv>
#include <set>

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

// The bytes of the UTF-8 character that starts at text[pos] (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when the bytes
// there are not one.
std::size_t utf8Length(const std::string &text, std::size_t pos)
{
    const auto byte
        = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned c = byte(pos);
    const auto tail = [&](std::size_t i) { return byte(i) >= 0x80 && byte(i) <= 0xBF; };
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return tail(pos + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned hi = c == 0xED ? 0x9F : 0xBF;
        return byte(pos + 1) >= lo && byte(pos + 1) <= hi && tail(pos + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = c == 0xF4 ? 0x8F : 0xBF;
        return byte(pos + 1) >= lo && byte(pos + 1) <= hi && tail(pos + 2) && tail(pos + 3) ? 4 : 0;
    }
    return 0;
}

class Reader {
public:
    explicit Reader(const std::string &text)
        : m_text(text)
    {
    }

    bool document(JsonValue &value)
    {
        // A byte order mark, as some editors write at the start of UTF-8.
        if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0)
            m_start = m_pos = 3;
        skipSpace();
        if (!read(value, 0))
            return false;
        skipSpace();
        if (m_pos != m_text.size())
            return fail("text after the end of the JSON value");
        return true;
    }

    const RunProblem &problem() const { return m_problem; }

private:
    // Notes the first fault, at the reading position, and returns false.
    bool fail(const std::string &reason)
    {
        if (m_failed)
            return false;
        m_failed = true;
        if (m_pos >= m_text.size()) {
            m_problem = {"", "the text ends too early (cut off?)", ""};
            return false;
        }
        // Columns count characters: the continuation bytes of UTF-8 do not.
        int line = 1;
        int column = 1;
        for (std::size_t i = m_start; i < m_pos; ++i) {
            const unsigned char c = static_cast<unsigned char>(m_text[i]);
            if (c == '\n') {
                ++line;
                column = 1;
            } else if (c < 0x80 || c > 0xBF) {
                ++column;
            }
        }
        m_problem = {"line " + std::to_string(line) + ", column " + std::to_string(column), reason, ""};
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
        value.begin = m_pos;
        if (!readValue(value, depth))
            return false;
        value.end = m_pos;
        return true;
    }

    bool readValue(JsonValue &value, int depth)
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
        if (depth >= MaxJsonDepth)
            return fail("nested too deep (at most " + std::to_string(MaxJsonDepth) + " levels)");
        value.type = JsonValue::Type::Object;
        ++m_pos;
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return true;
        }
        // A member named twice would mean one thing here and another to a
        // reader that lets the last one win.
        std::set<std::string> names;
        for (;;) {
            skipSpace();
            if (peek() != '"')
                return fail("a member name in quotes expected");
            const std::size_t keyStart = m_pos;
            std::string key;
            if (!string(key))
                return false;
            if (!names.insert(key).second) {
                m_pos = keyStart;
                return fail("the member " + jsonString(key) + " given twice");
            }
            skipSpace();
            if (peek() != ':')
                return fail("':' expected");
            ++m_pos;
            skipSpace();
            value.object.emplace_back(std::move(key), JsonValue());
            value.object.back().second.memberBegin = keyStart;
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
        if (depth >= MaxJsonDepth)
            return fail("nested too deep (at most " + std::to_string(MaxJsonDepth) + " levels)");
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
                const std::size_t n = utf8Length(m_text, m_pos);
                if (n == 0)
                    return fail("not UTF-8 in a string");
                out.append(m_text, m_pos, n);
                m_pos += n;
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
                // A surrogate is refused at its escape, "\\u" included.
                const std::size_t escape = m_pos - 2;
                unsigned code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xDC00 && code < 0xE000) {
                    m_pos = escape;
                    return fail("a low surrogate without a high one before it");
                }
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned low = 0;
                    if (m_pos + 1 >= m_text.size()) {
                        m_pos = m_text.size();
                        return fail("");
                    }
                    if (m_text[m_pos] == '\\' && m_text[m_pos + 1] == 'u') {
                        m_pos += 2;
                        if (!hex4(low))
                            return false;
                    }
                    if (low < 0xDC00 || low >= 0xE000) {
                        m_pos = escape;
                        return fail("a high surrogate without a low one after it");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
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
        if (peek() == '0') {
            ++m_pos;
            if (peek() >= '0' && peek() <= '9') {
                m_pos = start;
                return fail("a number with a leading zero");
            }
        } else if (!digits())
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
    std::size_t m_start = 0; // after a byte order mark
    std::size_t m_pos = 0;
    bool m_failed = false;
    RunProblem m_problem;
};

} // namespace

bool parseJson(const std::string &text, JsonValue &value, RunProblem *problem)
{
    value = JsonValue();
    Reader reader(text);
    if (reader.document(value))
        return true;
    if (problem)
        *problem = reader.problem();
    return false;
}

std::string shortestNumber(double x)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, x + 0.0);
    return std::string(buffer, result.ptr);
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
