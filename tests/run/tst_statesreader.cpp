#include "model/parametertable.h"
#include "run/rundescription.h"
#include "run/statesfile.h"

#include <QtTest>

#include <QTemporaryDir>

#include <optional>
#include <string>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)

// The states file reader on its own: every file it refuses, with what the
// message names, and what it reads from the files it takes. The main window's
// handling of both (nothing changes on a refusal) is tested with the window.
class TestStatesReader : public QObject {
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void accepted_data();
    void accepted();
    void filesFromDisk();
    void unknownMembersWriteBack_data();
    void unknownMembersWriteBack();
};

namespace {

// The file of the default set and "1: 0>Rg" (Rg 0.75), the second initial.
std::string goodText()
{
    StatesSession session;
    session.states = {DefaultParameterSet, DefaultParameterSet};
    session.states[1].Name = "1: 0>Rg";
    session.states[1].Rg = 0.75;
    session.initial = 1;
    return statesFileText(session);
}

std::string with(const std::string &from, const std::string &to)
{
    std::string text = goodText();
    const std::size_t at = text.find(from);
    if (at == std::string::npos)
        return "the test's text lacks " + from;
    return text.replace(at, from.size(), to);
}

// The good file with states 2.. up to count states, each a copy of the default set.
std::string withStates(int count)
{
    std::string more;
    for (int i = 2; i < count; ++i)
        more += ",\n    {\"Name\": \"" + std::to_string(i)
            + ": 1>\", \"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.50, \"V2\": -63, \"Emax\": 20, \"V1r\": "
              "-70, "
              "\"du\": 1.00, \"ex\": 5.00, \"gf\": 0.1500, \"Gmax\": 0.20, \"tc\": 2.50, \"Gb\": 0.000}";
    return with("0.000}\n  ]", "0.000}" + more + "\n  ]");
}

const std::string Values1 = "\"N\": 10, \"Rg\": 0.75, \"V2\": -63, \"Emax\": 20, \"V1r\": -70, \"du\": 1.00, "
                            "\"ex\": 5.00, \"gf\": 0.1500, \"Gmax\": 0.20, \"tc\": 2.50, \"Gb\": 0.000";

std::string withName(const std::string &jsonName)
{
    return with("\"Name\": \"1: 0>Rg\"", "\"Name\": " + jsonName);
}

} // namespace

void TestStatesReader::refusals_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("named"); // what the message must name

    const auto row = [](const char *name, const std::string &text, const QString &named) {
        QTest::newRow(name) << text << named;
    };
    row("not JSON", "161 1 10000\r\n0.000 \r\n", "not a valid JSON file: line 1, column 5");
    row("empty", "", "not a valid JSON file: the text ends too early");
    row("truncated", goodText().substr(0, goodText().size() / 2), "ends too early");
    row("not an object", "[1, 2]", "not a states file: the JSON text is an array");
    row("another format", with("cleftsim-states", "cleftsim-results"), "not a states file");
    row("format missing", with("\"format\": \"cleftsim-states\",", ""), "\"format\" is not");
    row("unknown version", with("\"version\": 1", "\"version\": 2"), "version 2");
    row("version with a leading zero", with("\"version\": 1", "\"version\": 01"),
        "line 3, column 14: a number with a leading zero");
    row("version as text", with("\"version\": 1", "\"version\": \"1\""), "\"version\" is a string");
    row("states missing", with("\"states\"", "\"rows\""), "\"states\" missing");
    row("no states", "{\"format\": \"cleftsim-states\", \"version\": 1, \"initial\": 0, \"states\": []}",
        "no states");
    row("a state not an object", with("{\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0, " + Values1 + "}", "7"),
        "state 1: is a number, an object expected");
    row("N as text", with("\"N\": 10, \"Rg\": 0.75", "\"N\": \"10\", \"Rg\": 0.75"),
        "state 1: \"N\" is a string");
    row("Name missing", with("\"Name\": \"1: 0>Rg\", ", ""), "state 1: \"Name\" missing");
    row("Rg missing", with("\"Rg\": 0.75, ", ""), "state 1: \"Rg\" missing");
    row("Rg out of range", with("\"Rg\": 0.75", "\"Rg\": 10.00"),
        "state 1: Rg 10 out of range; accepted 0.00..9.99");
    row("N fraction", with("\"N\": 10, \"Rg\": 0.75", "\"N\": 9.5, \"Rg\": 0.75"),
        "N 9.5 not a whole number");
    row("Rg too many decimals", with("\"Rg\": 0.75", "\"Rg\": 0.755"), "Rg 0.755 too many decimals");
    row("switch 2",
        with("\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0", "\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 2"),
        "BackgroundOn 2 out of range; accepted 0 or 1 (or false or true)");
    row("switch as text",
        with("\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0",
            "\"Name\": \"1: 0>Rg\", \"BackgroundOn\": \"true\""),
        "\"BackgroundOn\" is a string");
    row("switch null",
        with("\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0", "\"Name\": \"1: 0>Rg\", \"BackgroundOn\": null"),
        "\"BackgroundOn\" is null");
    row("Gb without the switch", with(Values1, std::string(Values1).replace(Values1.size() - 5, 5, "0.010")),
        "Gb 0.010 with the background switched off");
    row("Gb above Gmax",
        with("\"BackgroundOn\": 0, " + Values1,
            "\"BackgroundOn\": true, " + std::string(Values1).replace(Values1.size() - 5, 5, "0.300")),
        "Gb 0.300 above Gmax");
    row("too many states", withStates(17), "17 states: more than the table holds; accepted at most 16");
    row("first not the default", with("\"Rg\": 0.50", "\"Rg\": 0.60"), "state 0 is not the default set");
    row("name of another slot", with("1: 0>Rg", "3: 0>Rg"), "does not begin with \"1: \"");
    row("initial out of range", with("\"initial\": 1", "\"initial\": 2"),
        "initial 2 out of range; accepted 0..1");
    row("initial a fraction", with("\"initial\": 1", "\"initial\": 0.5"), "initial 0.5 out of range");
    row("huge", std::string(goodText()).insert(1, std::string(MaxStatesFileBytes, ' ')), "too large");
    // The same file must not mean two things to two readers.
    row("duplicate member", with("\"Rg\": 0.75", "\"Rg\": 0.75, \"Rg\": 3.00"),
        "line 7, column 65: the member \"Rg\" given twice");
    row("duplicate name", with("\"Name\": \"1: 0>Rg\"", "\"Name\": \"1: 0>Rg\", \"Name\": \"1: x\""),
        "the member \"Name\" given twice");
    row("duplicate top-level member", with("\"initial\": 1,", "\"initial\": 1, \"initial\": 0,"),
        "line 4, column 17: the member \"initial\" given twice");
    // Names a file name, a list entry or a message should not carry.
    row("name with a newline and a bell", withName("\"1: a\\nb\\u0007\""),
        "state 1: the name \"1: a\\u000ab\\u0007\" holds a control character");
    row("name with a raw newline", withName("\"1: a\nb\""), "a control character in a string");
    row("name with DEL", withName("\"1: a\\u007f\""), "holds a control character");
    row("name with a C1 control", withName("\"1: a\\u0085\""), "holds a control character");
    row("name with the last C1 control", withName("\"1: a\\u009f\""), "holds a control character");
    row("name with the last C1 control as UTF-8", withName("\"1: a\xC2\x9F\""), "holds a control character");
    row("name not UTF-8", withName("\"1: \xC3\x28\""), "line 7, column 18: not UTF-8 in a string");
    row("name with a lone surrogate", withName("\"1: \\udc00\""), "a low surrogate without a high one");
    row("name 256 characters", withName("\"1: " + std::string(253, 'x') + "\""),
        "is 256 characters long; accepted at most 255");
    row("name 256 characters of two bytes",
        withName("\"1: "
            + std::string(253 * 2, 'x')
                  .replace(0, 506,
                      [] {
                          std::string s;
                          for (int i = 0; i < 253; ++i)
                              s += "\xC3\xA9";
                          return s;
                      }())
            + "\""),
        "is 256 characters long");
    row("name of 500 kB", withName("\"1: " + std::string(500000, 'x') + "\""), "is 500003 characters long");
    // The current parameters are checked as a state is.
    row("current not an object", with("\n}\n", ",\n  \"current\": 1\n}\n"),
        "\"current\" is a number, an object expected");
    row("current out of range",
        with("\n}\n",
            ",\n  \"current\": {\"BackgroundOn\": 0, " + std::string(Values1).replace(15, 4, "10.00")
                + "}\n}\n"),
        "current: Rg 10 out of range");
    row("current without a value", with("\n}\n", ",\n  \"current\": {\"BackgroundOn\": 0, \"N\": 12}\n}\n"),
        "current: \"Rg\" missing");
    row("current with Gb but no switch",
        with("\n}\n",
            ",\n  \"current\": {\"BackgroundOn\": false, "
                + std::string(Values1).replace(Values1.size() - 5, 5, "0.010") + "}\n}\n"),
        "current: Gb 0.010 with the background switched off");
}

void TestStatesReader::refusals()
{
    QFETCH(std::string, text);
    QFETCH(QString, named);
    StatesSession session;
    session.initial = 7; // left as it was by a refusal
    RunProblem problem;
    QVERIFY(!parseStatesFile(text, session, &problem));
    const QString message = QString::fromStdString(problem.text());
    QVERIFY2(message.contains(named), qPrintable(message));
    QVERIFY(message.size() < 400);
    QVERIFY(!message.contains(QLatin1Char('\n')));
    QCOMPARE(session.initial, 7);
    QVERIFY(session.states.empty());
    QVERIFY(!parseStatesFile(text, session, nullptr));
}

void TestStatesReader::accepted_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("initial");
    QTest::addColumn<std::string>("name1"); // the name of state 1
    QTest::addColumn<int>("background1"); // the switch of state 1
    QTest::addColumn<int>("currentN"); // N of the current set; 0 when the file has none

    QTest::newRow("as written") << goodText() << 2 << 1 << std::string("1: 0>Rg") << 0 << 0;
    QTest::newRow("the README's example") << std::string(R"({
  "format": "cleftsim-states",
  "version": 1,
  "initial": 1,
  "states": [
    {"Name": "0: default", "BackgroundOn": 0, "N": 10, "Rg": 0.50, "V2": -63, "Emax": 20, "V1r": -70, "du": 1.00, "ex": 5.00, "gf": 0.1500, "Gmax": 0.20, "tc": 2.50, "Gb": 0.000},
    {"Name": "1: 0>Rg", "BackgroundOn": 0, "N": 10, "Rg": 1.50, "V2": -63, "Emax": 20, "V1r": -70, "du": 1.00, "ex": 5.00, "gf": 0.1500, "Gmax": 0.20, "tc": 2.50, "Gb": 0.000}
  ]
}
)") << 2 << 1 << std::string("1: 0>Rg") << 0
                                          << 0;
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + goodText() << 2 << 1 << std::string("1: 0>Rg") << 0
                                     << 0;
    QTest::newRow("switch false") << with(
        "\"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.75", "\"BackgroundOn\": false, \"N\": 10, \"Rg\": 0.75")
                                  << 2 << 1 << std::string("1: 0>Rg") << 0 << 0;
    QTest::newRow("switch true with Gb") << with("\"BackgroundOn\": 0, " + Values1,
        "\"BackgroundOn\": true, " + std::string(Values1).replace(Values1.size() - 5, 5, "0.020"))
                                         << 2 << 1 << std::string("1: 0>Rg") << 1 << 0;
    QTest::newRow("switch 1.0") << with(
        "\"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.75", "\"BackgroundOn\": 1.0, \"N\": 10, \"Rg\": 0.75")
                                << 2 << 1 << std::string("1: 0>Rg") << 1 << 0;
    QTest::newRow("16 states, the full table")
        << withStates(16) << 16 << 1 << std::string("1: 0>Rg") << 0 << 0;
    QTest::newRow("name of 255 characters") << withName("\"1: " + std::string(252, 'x') + "\"") << 2 << 1
                                            << "1: " + std::string(252, 'x') << 0 << 0;
    QTest::newRow("name with letters of other scripts")
        << withName("\"1: Ca\\u00b2\\u207a \xCE\xB1 \\ud83d\\ude00\"") << 2 << 1
        << std::string("1: Ca\xC2\xB2\xE2\x81\xBA \xCE\xB1 \xF0\x9F\x98\x80") << 0 << 0;
    QTest::newRow("a member this version does not know")
        << with("\"initial\": 1,", "\"initial\": 1, \"note\": \"x\",") << 2 << 1 << std::string("1: 0>Rg")
        << 0 << 0;
    QTest::newRow("current parameters") << with("\n}\n",
        ",\n  \"current\": {\"BackgroundOn\": 0, " + std::string(Values1).replace(5, 2, "12") + "}\n}\n")
                                        << 2 << 1 << std::string("1: 0>Rg") << 0 << 12;
}

void TestStatesReader::accepted()
{
    QFETCH(std::string, text);
    QFETCH(int, count);
    QFETCH(int, initial);
    QFETCH(std::string, name1);
    QFETCH(int, background1);
    QFETCH(int, currentN);
    StatesSession session;
    RunProblem problem;
    QVERIFY2(parseStatesFile(text, session, &problem), problem.text().c_str());
    QCOMPARE(int(session.states.size()), count);
    QCOMPARE(session.initial, initial);
    QVERIFY(session.states[0] == DefaultParameterSet);
    QVERIFY(session.states[1].Name == name1);
    QCOMPARE(int(session.states[1].BackgroundOn), background1);
    QCOMPARE(session.current.has_value(), currentN != 0);
    if (session.current) {
        QCOMPARE(session.current->N, currentN);
        QVERIFY(session.current->Name == session.states[std::size_t(initial)].Name);
    }
    // Every state is one the editors take.
    for (const ParameterSet &p : session.states) {
        RunDescription run;
        run.seeds = {1};
        run.params = p;
        QVERIFY(checkRun(run, &problem));
    }
    // Written back (the switch as 0 or 1), it reads as the same table.
    const std::string again = statesFileText(session);
    QVERIFY(again.find("\"BackgroundOn\": true") == std::string::npos);
    QVERIFY(again.find("\"BackgroundOn\": false") == std::string::npos);
    StatesSession reread;
    QVERIFY2(parseStatesFile(again, reread, &problem), problem.text().c_str());
    QVERIFY(reread.states == session.states);
    QCOMPARE(reread.initial, session.initial);
    QVERIFY(reread.current == session.current);
    QVERIFY(statesFileText(reread) == again);
}

void TestStatesReader::filesFromDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    StatesSession session;
    RunProblem problem;
    QVERIFY(!readStatesFile(dir.filePath("missing.json").toStdString(), session, &problem));
    QCOMPARE(QString::fromStdString(problem.text()), QStringLiteral("No such file or directory"));
    QVERIFY(!readStatesFile(dir.path().toStdString(), session, &problem)); // a folder
    QVERIFY(!problem.text().empty());

    QFile big(dir.filePath("big.json"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(qint64(MaxStatesFileBytes) * 64)); // not read before it is refused
    big.close();
    QVERIFY(!readStatesFile(big.fileName().toStdString(), session, &problem));
    QVERIFY2(problem.text().find("too large") != std::string::npos, problem.text().c_str());

    QFile good(dir.filePath("good.json"));
    QVERIFY(good.open(QIODevice::WriteOnly));
    good.write(QByteArray::fromStdString(goodText()));
    good.close();
    QVERIFY(readStatesFile(good.fileName().toStdString(), session, &problem));
    QCOMPARE(int(session.states.size()), 2);
}

void TestStatesReader::unknownMembersWriteBack_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<std::string>("written"); // empty: the text itself, byte for byte
    const std::string current = ",\n  \"current\": {\"BackgroundOn\": 0, " + Values1 + "}\n}\n";
    QTest::newRow("top level, in the middle")
        << with("\"initial\": 1,", "\"initial\": 1,\n  \"comment\": \"by hand\",") << std::string();
    QTest::newRow("top level, first")
        << with("{\n  \"format\"", "{\n  \"x-first\": null,\n  \"format\"") << std::string();
    QTest::newRow("top level, last, an object over lines")
        << with("  ]\n}", "  ],\n  \"later\": {\"a\": [1, 2.50,\n    \"\\u00e9\"], \"b\": {}}\n}")
        << std::string();
    QTest::newRow("in a state, first, middle and last") << with(
        "{\"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.75,",
        "{\"id\": 7, \"Name\": \"1: 0>Rg\", \"BackgroundOn\": 0, \"N\": 10, \"Rg\": 0.75, "
        "\"Rg_note\": \"stiffer\",") << std::string();
    QTest::newRow("in the last member of a state")
        << with("\"Gb\": 0.000}\n  ]", "\"Gb\": 0.000, \"z\": true}\n  ]") << std::string();
    QTest::newRow("in the current parameters")
        << with("\n}\n", std::string(current).replace(current.size() - 4, 0, ", \"tag\": \"t\""))
        << std::string();
    QTest::newRow("after the current parameters")
        << with("\n}\n", std::string(current).replace(current.size() - 3, 0, ",\n  \"end\": 0"))
        << std::string();
    // Written in the known order, each after the member it followed.
    QTest::newRow("members in another order")
        << with("\"version\": 1,\n  \"initial\": 1,", "\"initial\": 1,\n  \"c\": 3,\n  \"version\": 1,")
        << with("\"initial\": 1,", "\"initial\": 1,\n  \"c\": 3,");
}

void TestStatesReader::unknownMembersWriteBack()
{
    QFETCH(std::string, text);
    QFETCH(std::string, written);
    StatesSession session;
    RunProblem problem;
    QVERIFY2(parseStatesFile(text, session, &problem), problem.text().c_str());
    const std::string again = statesFileText(session);
    QCOMPARE(QString::fromStdString(again), QString::fromStdString(written.empty() ? text : written));
    // Without them, the file is the one this program writes for the table.
    StatesSession plain = session;
    plain.kept = {};
    QVERIFY(statesFileText(plain) != again);
    StatesSession reread;
    QVERIFY(parseStatesFile(statesFileText(plain), reread, &problem));
    QVERIFY(reread.kept == KeptMembers {});
}

QTEST_APPLESS_MAIN(TestStatesReader)
#include "tst_statesreader.moc"
