#include "run/json.h"

#include <QtTest>

#include <string>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)

// The JSON reader on its own: every way a text fails, with the place the
// message gives, and the values of texts it takes.
class TestJson : public QObject {
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void values_data();
    void values();
    void stringsRoundTrip_data();
    void stringsRoundTrip();
};

namespace {

std::string nested(int depth)
{
    return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
}

} // namespace

void TestJson::refusals_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("where"); // the problem's what: the line and column, or empty
    QTest::addColumn<QString>("reason");

    const auto row = [](const char *name, const std::string &text, const char *where, const char *reason) {
        QTest::newRow(name) << text << QString::fromLatin1(where) << QString::fromLatin1(reason);
    };
    const char *early = "the text ends too early (cut off?)";
    row("empty", "", "", early);
    row("only blanks", " \n\t", "", early);
    row("array cut off", "[1,", "", early);
    row("string cut off", "\"abc", "", early);
    row("escape cut off", "\"\\", "", early);
    row("hex cut off", "\"\\u12", "", early);
    row("pair cut off", "\"\\ud83d\\", "", early);
    row("literal cut off", "tru", "", early);
    row("minus alone", "-", "", early);
    row("not JSON", "161 1 10000", "line 1, column 5", "text after the end of the JSON value");
    row("a word", "hello", "line 1, column 1", "not JSON");
    row("bad literal", "[trux]", "line 1, column 5", "not JSON");
    row("value missing", "[1,]", "line 1, column 4", "not JSON");
    row("leading zero", "{\"version\": 01}", "line 1, column 13", "a number with a leading zero");
    row("negative leading zero", "[-007]", "line 1, column 2", "a number with a leading zero");
    row("leading zero on line 2", "{\n  \"N\": 010\n}", "line 2, column 8", "a number with a leading zero");
    row("no digits after the point", "[1.]", "line 1, column 4", "digits expected after the decimal point");
    row("no digits in the exponent", "[1e+]", "line 1, column 5", "digits expected in the exponent");
    row("number out of range", "[1e999]", "line 1, column 2", "a number out of range");
    row("plus sign", "[+1]", "line 1, column 2", "not JSON");
    row("unknown escape", "[\"a\\x\"]", "line 1, column 5", "an unknown escape");
    row("bad hex", "[\"\\u12G4\"]", "line 1, column 7", "four hex digits expected after \\u");
    row("lone low surrogate", "[\"ab\\udc00\"]", "line 1, column 5",
        "a low surrogate without a high one before it");
    row("lone high surrogate", "[\"\\ud83d\"]", "line 1, column 3",
        "a high surrogate without a low one after it");
    row("high then a letter", "[\"\\ud83dx\"]", "line 1, column 3",
        "a high surrogate without a low one after it");
    row("high then high", "[\"\\ud83d\\ud83d\"]", "line 1, column 3",
        "a high surrogate without a low one after it");
    row("high then not a surrogate", "[\"\\ud83d\\u0041\"]", "line 1, column 3",
        "a high surrogate without a low one after it");
    row("reversed pair", "[\"\\ude00\\ud83d\"]", "line 1, column 3",
        "a low surrogate without a high one before it");
    row("tab in a string", "[\"a\tb\"]", "line 1, column 4", "a control character in a string");
    row("newline in a string", "{\"Name\": \"1: a\nb\"}", "line 1, column 15",
        "a control character in a string");
    row("NUL in a string", std::string("[\"a\0b\"]", 7), "line 1, column 4",
        "a control character in a string");
    row("invalid UTF-8", "[\"a\xC3\x28\"]", "line 1, column 4", "not UTF-8 in a string");
    row("overlong UTF-8", "[\"\xC0\xAF\"]", "line 1, column 3", "not UTF-8 in a string");
    row("surrogate in UTF-8", "[\"\xED\xA0\x80\"]", "line 1, column 3", "not UTF-8 in a string");
    row("overlong three-byte UTF-8, E0 80", "[\"\xE0\x80\xAF\"]", "line 1, column 3",
        "not UTF-8 in a string");
    row("overlong three-byte UTF-8, E0 9F", "[\"\xE0\x9F\xBF\"]", "line 1, column 3",
        "not UTF-8 in a string");
    row("overlong four-byte UTF-8, F0 80", "[\"\xF0\x80\x80\xAF\"]", "line 1, column 3",
        "not UTF-8 in a string");
    row("overlong four-byte UTF-8, F0 8F", "[\"\xF0\x8F\xBF\xBF\"]", "line 1, column 3",
        "not UTF-8 in a string");
    row("above U+10FFFF", "[\"\xF4\x90\x80\x80\"]", "line 1, column 3", "not UTF-8 in a string");
    row("UTF-8 cut short", "[\"\xE2\x82\"]", "line 1, column 3", "not UTF-8 in a string");
    row("lone continuation byte", "[\"\x80\"]", "line 1, column 3", "not UTF-8 in a string");
    row("columns count characters", "[\"\xC3\xA9\xE2\x82\xAC\", x]", "line 1, column 8", "not JSON");
    row("too deep", nested(MaxJsonDepth + 1), "line 1, column 65", "nested too deep (at most 64 levels)");
    row(
        "objects too deep",
        [] {
            std::string t;
            for (int i = 0; i <= MaxJsonDepth; ++i)
                t += "{\"a\":";
            return t;
        }(),
        "line 1, column 321", "nested too deep (at most 64 levels)");
    row("trailing garbage", "{} x", "line 1, column 4", "text after the end of the JSON value");
    row("two values", "[1] [2]", "line 1, column 5", "text after the end of the JSON value");
    row("duplicate member", "{\"Rg\": 1.50, \"Rg\": 3.00}", "line 1, column 14",
        "the member \"Rg\" given twice");
    row("duplicate member nested", "[{\"a\": 1,\n \"b\": {\"c\": 1, \"c\": 1}}]", "line 2, column 16",
        "the member \"c\" given twice");
    row("duplicate member escaped", "{\"N\": 1, \"\\u004e\": 2}", "line 1, column 10",
        "the member \"N\" given twice");
    row("member name not quoted", "{Rg: 1}", "line 1, column 2", "a member name in quotes expected");
    row("colon missing", "{\"Rg\" 1}", "line 1, column 7", "':' expected");
    row("comma missing in an object", "{\"a\": 1 \"b\": 2}", "line 1, column 9", "',' or '}' expected");
    row("comma missing in an array", "[1 2]", "line 1, column 4", "',' or ']' expected");
    row("trailing comma", "{\"a\": 1,}", "line 1, column 9", "a member name in quotes expected");
    row("byte order mark twice", "\xEF\xBB\xBF\xEF\xBB\xBF{}", "line 1, column 1", "not JSON");
    row("after a byte order mark", "\xEF\xBB\xBF{x}", "line 1, column 2", "a member name in quotes expected");
    row("byte order mark in UTF-16", "\xFF\xFE{\0}\0", "line 1, column 1", "not JSON");
}

void TestJson::refusals()
{
    QFETCH(std::string, text);
    QFETCH(QString, where);
    QFETCH(QString, reason);
    JsonValue value;
    RunProblem problem;
    QVERIFY(!parseJson(text, value, &problem));
    QCOMPARE(QString::fromStdString(problem.what), where);
    QCOMPARE(QString::fromStdString(problem.reason), reason);
    QVERIFY(problem.accepted.empty());
    QCOMPARE(QString::fromStdString(problem.text()),
        where.isEmpty() ? reason : where + QStringLiteral(": ") + reason);
    // Without a place for the problem it refuses all the same.
    QVERIFY(!parseJson(text, value, nullptr));
}

void TestJson::values_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("shown"); // the value read, written back by the test's own printer

    QTest::newRow("zero") << std::string("0") << "0";
    QTest::newRow("minus zero") << std::string("-0") << "0";
    QTest::newRow("fraction") << std::string("0.1500") << "0.15";
    QTest::newRow("exponent") << std::string("-1.5E+2") << "-150";
    QTest::newRow("literals") << std::string("[true, false, null]") << "[true,false,null]";
    QTest::newRow("object order kept") << std::string("{\"b\": 1, \"a\": 2}") << "{b:1,a:2}";
    QTest::newRow("same name in two objects") << std::string("[{\"a\": 1}, {\"a\": 2}]") << "[{a:1},{a:2}]";
    QTest::newRow("byte order mark") << std::string("\xEF\xBB\xBF{\"a\": 1}") << "{a:1}";
    QTest::newRow("escapes") << std::string("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"") << "\"\\/\b\f\n\r\t";
    QTest::newRow("surrogate pair") << std::string("\"\\ud83d\\ude00\"") << "\xF0\x9F\x98\x80";
    QTest::newRow("escaped BMP") << std::string("\"\\u00e9\\u20AC\"") << "\xC3\xA9\xE2\x82\xAC";
    QTest::newRow("escaped NUL") << std::string("\"a\\u0000b\"") << QString::fromLatin1("a\0b", 3);
    QTest::newRow("UTF-8 as is") << std::string("\"\xC3\xA9\xF0\x9F\x98\x80\"") << "\xC3\xA9\xF0\x9F\x98\x80";
    QTest::newRow("deepest") << nested(MaxJsonDepth)
                             << QString::fromStdString(std::string(std::size_t(MaxJsonDepth), '[')
                                    + std::string(std::size_t(MaxJsonDepth), ']'));
    QTest::newRow("blanks around") << std::string(" \r\n\t[ 1 ,\n2 ] \n") << "[1,2]";
}

namespace {

QString show(const JsonValue &v)
{
    switch (v.type) {
    case JsonValue::Type::Null: return QStringLiteral("null");
    case JsonValue::Type::Bool: return v.boolean ? QStringLiteral("true") : QStringLiteral("false");
    case JsonValue::Type::Number: return QString::number(v.number, 'g', QLocale::FloatingPointShortest);
    case JsonValue::Type::String: return QString::fromStdString(v.string);
    case JsonValue::Type::Array: {
        QStringList items;
        for (const JsonValue &x : v.array)
            items << show(x);
        return QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case JsonValue::Type::Object: {
        QStringList items;
        for (const auto &[key, x] : v.object)
            items << QString::fromStdString(key) + QLatin1Char(':') + show(x);
        return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    }
    return QString();
}

} // namespace

void TestJson::values()
{
    QFETCH(std::string, text);
    QFETCH(QString, shown);
    JsonValue value;
    RunProblem problem;
    QVERIFY2(parseJson(text, value, &problem), problem.text().c_str());
    QCOMPARE(show(value), shown);
    if (value.type == JsonValue::Type::Number && value.number == 0)
        QVERIFY(!std::signbit(value.number)); // -0 reads as 0
}

void TestJson::stringsRoundTrip_data()
{
    QTest::addColumn<std::string>("text");
    QTest::newRow("plain") << std::string("1: 0>Rg");
    QTest::newRow("quotes and backslashes") << std::string("a\"b\\c");
    QTest::newRow("every control character") << [] {
        std::string s;
        for (int c = 0; c < 0x20; ++c)
            s += char(c);
        return s + "\x7F";
    }();
    QTest::newRow("non-ASCII") << std::string("\xC3\xA9\xF0\x9F\x98\x80");
}

void TestJson::stringsRoundTrip()
{
    QFETCH(std::string, text);
    JsonValue value;
    RunProblem problem;
    QVERIFY2(parseJson(jsonString(text), value, &problem), problem.text().c_str());
    QCOMPARE(value.type, JsonValue::Type::String);
    QVERIFY(value.string == text);
}

QTEST_APPLESS_MAIN(TestJson)
#include "tst_json.moc"
