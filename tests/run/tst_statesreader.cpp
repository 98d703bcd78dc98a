#include "model/parametertable.h"
#include "run/fit.h"
#include "run/rundescription.h"
#include "run/statesfile.h"

#include <QtTest>

#include <QTemporaryDir>

#include <cmath>
#include <limits>
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
    void recordingAndFitReadBack();
    void fitOfAnOlderFile();
    void recordingAndFitRefusals_data();
    void recordingAndFitRefusals();
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

// The good file's session with a recording (its file gone since) and a
// fit of Rg and N to it.
StatesSession sessionWithFit()
{
    StatesSession session;
    RunProblem problem;
    parseStatesFile(goodText(), session, &problem);
    MeasuredData data;
    data.name = "/gone/cell 3, \"a\".csv";
    parseMeasuredData("V2_mV,mean_peak_pA,std_pA,n,mean_quanta,sem_quanta\n-100,-40.25,6,30,3.5,0.25\n"
                      "0,0,1,30,,\n-60,-25.5,6,30,,\n20,4,1,30,,\n",
        data, &problem);
    data.name = "/gone/cell 3, \"a\".csv";
    session.measured = data;
    FitResult r;
    r.request.data = data;
    r.request.free = {{&paramInfo(Param::Rg), 0.5, 3.0}, {&paramInfo(Param::N), 6, 14}};
    r.request.trials = 500;
    r.request.seed = 4294967295u;
    r.request.fixed = DefaultParameterSet;
    r.request.fixed.Gmax = 0.25;
    r.request.fixedFrom = "the current parameters (1: 0>Rg)";
    r.estimates = {1.77, 10};
    r.intervals = {{1.48, 2.04}, {9, 12}};
    r.bounded = {{true, true}, {false, true}};
    r.profiles = {{{{1.48, 10}, 30.125}, {{1.77, 10}, 26.25}, {{2.04, 11}, 30.1}},
        {{{1.6, 9}, 28.5}, {{1.77, 10}, 26.25}, {{1.9, 12}, 30.0}}};
    r.objective = 26.25;
    r.chi2 = 8.921143;
    r.dof = 3;
    r.pValue = 0.030352;
    r.evaluations = 321;
    // What the fit says beside its estimates: the noise fitted, a one-sided
    // limit, the estimates under a fixed parameter's moves (one move the
    // editors refuse) and warnings with characters JSON escapes.
    r.request.noise = FitNoise::Fitted;
    r.request.sensitivity = {{&paramInfo(Param::Gmax), 10, true}, {&paramInfo(Param::tc), 0.5, false}};
    r.noiseUsed = true;
    r.noise = 2.37;
    r.noiseInterval = {1.5, 3.25};
    r.upperLimits = {2.04, std::numeric_limits<double>::quiet_NaN()};
    const double none = std::numeric_limits<double>::quiet_NaN();
    r.sensitivity = {{&paramInfo(Param::Gmax), 0.25, {0.23, 0.28}, {{1.6, 1.95}, {9, 11}}},
        {&paramInfo(Param::tc), 2.5, {none, 3.0}, {{none, 1.81}, {none, 10}}}};
    r.warnings = {{"sensitive_to_fixed", "Rg moves from 1.60 to 1.95 when Gmax moves"},
        {"poor_fit", "p = 0.0303 \"quoted\"\tand tabbed"}};
    session.fit = r;
    return session;
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

void TestStatesReader::recordingAndFitReadBack()
{
    const StatesSession session = sessionWithFit();
    QCOMPARE(int(session.measured->points.size()), 4);
    const std::string text = statesFileText(session);
    StatesSession read;
    RunProblem problem;
    QVERIFY2(parseStatesFile(text, read, &problem), problem.text().c_str());
    // Byte for byte, and every value as it was.
    QCOMPARE(QString::fromStdString(statesFileText(read)), QString::fromStdString(text));
    QVERIFY(read.kept == KeptMembers {});
    QVERIFY(read.measured && read.fit);
    QCOMPARE(read.measured->name, session.measured->name);
    QCOMPARE(read.measured->sha256, session.measured->sha256);
    for (std::size_t i = 0; i < 4; ++i) {
        const MeasuredPoint &a = read.measured->points[i], &b = session.measured->points[i];
        QCOMPARE(a.V, b.V);
        QCOMPARE(a.n, b.n);
        QCOMPARE(a.meanPeak, b.meanPeak);
        QCOMPARE(a.semPeak, b.semPeak);
        QCOMPARE(a.hasQuanta, b.hasQuanta);
        if (a.hasQuanta) {
            QCOMPARE(a.meanQuanta, b.meanQuanta);
            QCOMPARE(a.semQuanta, b.semQuanta);
        }
    }
    const FitResult &f = *read.fit, &g = *session.fit;
    QCOMPARE(f.request.free.size(), std::size_t(2));
    QCOMPARE(f.request.free[1].info, &paramInfo(Param::N));
    QCOMPARE(f.request.free[1].low, 6.0);
    QCOMPARE(f.request.seed, 4294967295u);
    QCOMPARE(f.request.trials, 500);
    QVERIFY(f.request.fixed == g.request.fixed);
    QCOMPARE(f.request.fixedFrom, g.request.fixedFrom);
    QCOMPARE(f.request.data.sha256, g.request.data.sha256);
    QVERIFY(f.estimates == g.estimates);
    QVERIFY(f.intervals == g.intervals);
    QVERIFY(f.bounded == g.bounded);
    QCOMPARE(f.profiles.size(), g.profiles.size());
    for (std::size_t j = 0; j < 2; ++j)
        for (std::size_t k = 0; k < 3; ++k) {
            QVERIFY(f.profiles[j][k].values == g.profiles[j][k].values);
            QCOMPARE(f.profiles[j][k].objective, g.profiles[j][k].objective);
        }
    QCOMPARE(f.chi2, g.chi2);
    QCOMPARE(f.pValue, g.pValue);
    QCOMPARE(f.dof, 3);
    QCOMPARE(f.evaluations, 321);
    QCOMPARE(f.objective, g.objective);
    QCOMPARE(int(f.request.noise), int(FitNoise::Fitted));
    QCOMPARE(sensitivityText(f.request.sensitivity), std::string("Gmax=10%,tc=0.5"));
    QVERIFY(f.noiseUsed);
    QCOMPARE(f.noise, 2.37);
    QVERIFY(f.noiseInterval == g.noiseInterval);
    QCOMPARE(f.upperLimits.size(), std::size_t(2));
    QCOMPARE(f.upperLimits[0], 2.04);
    QVERIFY(std::isnan(f.upperLimits[1]));
    QCOMPARE(f.sensitivity.size(), std::size_t(2));
    for (std::size_t i = 0; i < 2; ++i) {
        const FitSensitivity &a = f.sensitivity[i], &b = g.sensitivity[i];
        QCOMPARE(a.info, b.info);
        QCOMPARE(a.value, b.value);
        const auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
        QVERIFY(same(a.moved.first, b.moved.first) && same(a.moved.second, b.moved.second));
        QCOMPARE(a.estimates.size(), std::size_t(2));
        for (std::size_t j = 0; j < 2; ++j)
            QVERIFY(same(a.estimates[j].first, b.estimates[j].first)
                && same(a.estimates[j].second, b.estimates[j].second));
    }
    QCOMPARE(f.warnings.size(), std::size_t(2));
    for (std::size_t i = 0; i < 2; ++i) {
        QCOMPARE(f.warnings[i].code, g.warnings[i].code);
        QCOMPARE(f.warnings[i].text, g.warnings[i].text);
    }
    // The Fit window shows what was read: the limit, the noise, the warnings.
    const std::string summary = fitSummaryText(f);
    QVERIFY2(summary.find("Rg < 2.04 GOhm (95 %)") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("Recording noise 2.37 pA rms, 95 % interval 1.50 to 3.25") != std::string::npos,
        summary.c_str());
    QVERIFY2(summary.find("Warning (poor_fit): p = 0.0303") != std::string::npos, summary.c_str());
    QVERIFY2(fitCommand(f.request).find("--sensitivity Gmax=10%,tc=0.5") != std::string::npos,
        fitCommand(f.request).c_str());

    // A fit is written with its recording only; an older file has neither.
    StatesSession fitAlone = session;
    fitAlone.measured.reset();
    QVERIFY(statesFileText(fitAlone).find("\"fit\"") == std::string::npos);
    StatesSession older;
    QVERIFY(parseStatesFile(goodText(), older, &problem));
    QVERIFY(!older.measured && !older.fit);
}

void TestStatesReader::fitOfAnOlderFile()
{
    // A fit member written before the fit kept its noise, limits,
    // sensitivity and warnings: it reads, with none of them, its fit the
    // likelihood of the means alone.
    std::string text = statesFileText(sessionWithFit());
    const std::size_t from = text.find("\"noise\": ");
    const std::size_t to = text.find("\"profiles\": ");
    QVERIFY(from != std::string::npos && to != std::string::npos && from < to);
    text.erase(from, to - from);
    StatesSession read;
    RunProblem problem;
    QVERIFY2(parseStatesFile(text, read, &problem), problem.text().c_str());
    QVERIFY(read.fit);
    const FitResult &f = *read.fit;
    QCOMPARE(f.upperLimits.size(), std::size_t(2));
    QVERIFY(std::isnan(f.upperLimits[0]) && std::isnan(f.upperLimits[1]));
    QVERIFY(f.warnings.empty());
    QVERIFY(f.sensitivity.empty());
    QVERIFY(!f.noiseUsed);
    QCOMPARE(int(f.request.noise), int(FitNoise::Off));
    QVERIFY(f.request.sensitivity.empty());
    const std::string summary = fitSummaryText(f);
    QVERIFY2(
        summary.find("Rg = 1.77 GOhm, 95 % interval 1.48 to 2.04") != std::string::npos, summary.c_str());
    QVERIFY2(summary.find("Recording noise") == std::string::npos, summary.c_str());
    QVERIFY2(summary.find("Warning") == std::string::npos, summary.c_str());
    // Its command reruns it as it ran: the means alone, no sensitivity.
    const std::string command = fitCommand(f.request);
    QVERIFY2(command.find("--noise none --sensitivity none") != std::string::npos, command.c_str());
}

void TestStatesReader::recordingAndFitRefusals_data()
{
    QTest::addColumn<std::string>("from");
    QTest::addColumn<std::string>("to");
    QTest::addColumn<QString>("message"); // the start of the refusal

    QTest::newRow("a fit without its recording") << std::string("\"measured\": ") << std::string("\"x\": ")
                                                 << QStringLiteral("fit: without the recording");
    QTest::newRow("a point the reader refuses")
        << std::string("{\"V2_mV\": -60,") << std::string("{\"V2_mV\": -151,")
        << QStringLiteral("measured, row 3, column V2_mV: -151: out of range");
    QTest::newRow("a point of text") << std::string("\"mean_peak_pA\": -25.5")
                                     << std::string("\"mean_peak_pA\": \"x\"")
                                     << QStringLiteral("measured, points[2]: \"mean_peak_pA\" is a string");
    QTest::newRow("a digest cut short")
        << std::string("\"sha256\": \"") << std::string("\"sha256\": \"0")
        << QStringLiteral("measured: \"sha256\" is not 64 hexadecimal digits");
    QTest::newRow("an estimate off the grid")
        << std::string("\"estimates\": {\"Rg\": 1.77") << std::string("\"estimates\": {\"Rg\": 1.775")
        << QStringLiteral("fit, Rg: 1.775 too many decimals");
    QTest::newRow("an estimate outside its interval")
        << std::string("\"estimates\": {\"Rg\": 1.77") << std::string("\"estimates\": {\"Rg\": 2.05")
        << QStringLiteral("fit, Rg: the estimate, its interval");
    QTest::newRow("an estimate at its interval's end")
        << std::string("\"estimates\": {\"Rg\": 1.77") << std::string("\"estimates\": {\"Rg\": 2.04")
        << QStringLiteral("read");
    QTest::newRow("the clamp potential free")
        << std::string("\"free\": {\"Rg\"") << std::string("\"free\": {\"V2\": [-100, 0], \"Rg\"")
        << QStringLiteral("fit, free V2");
    QTest::newRow("a profile point short")
        << std::string("[[1.48, 10, 30.125]") << std::string("[[1.48, 30.125]")
        << QStringLiteral("fit, Rg: a profile point is not 3 numbers");
    QTest::newRow("trials above the range")
        << std::string("\"trials\": 500") << std::string("\"trials\": 10001")
        << QStringLiteral("fit: \"trials\" 10001 out of range");
    QTest::newRow("the most trials") << std::string("\"trials\": 500") << std::string("\"trials\": 10000")
                                     << QStringLiteral("read");
    QTest::newRow("a seed above 32 bits")
        << std::string("\"seed\": 4294967295") << std::string("\"seed\": 4294967296")
        << QStringLiteral("fit: \"seed\" 4294967296 out of range");
    QTest::newRow("a fixed value the editor refuses")
        << std::string("\"Gmax\": 0.25") << std::string("\"Gmax\": 10")
        << QStringLiteral("fit, fixed: Gmax 10");
    QTest::newRow("a noise of no kind") << std::string("\"noise\": \"auto\"")
                                        << std::string("\"noise\": \"loud\"") << QStringLiteral("fit, noise");
    QTest::newRow("a noise fixed at a value")
        << std::string("\"noise\": \"auto\"") << std::string("\"noise\": \"2.5\"") << QStringLiteral("read");
    QTest::newRow("a sensitivity of no parameter")
        << std::string("\"sensitivity_moves\": \"Gmax=10%,tc=0.5\"")
        << std::string("\"sensitivity_moves\": \"Gx=10%\"") << QStringLiteral("fit, sensitivity_moves");
    QTest::newRow("the noise outside its interval")
        << std::string("\"estimate\": 2.37") << std::string("\"estimate\": 3.5")
        << QStringLiteral("fit, noise_pA: the noise and its interval out of order");
    QTest::newRow("the noise at its interval's end")
        << std::string("\"estimate\": 2.37") << std::string("\"estimate\": 3.25") << QStringLiteral("read");
    QTest::newRow("an upper limit below the estimate")
        << std::string("\"upper_limits\": {\"Rg\": 2.04") << std::string("\"upper_limits\": {\"Rg\": 1.76")
        << QStringLiteral("fit, upper_limits: below the estimate of Rg");
    QTest::newRow("an upper limit at the estimate")
        << std::string("\"upper_limits\": {\"Rg\": 2.04") << std::string("\"upper_limits\": {\"Rg\": 1.77")
        << QStringLiteral("read");
    QTest::newRow("an upper limit of a fixed parameter")
        << std::string("\"upper_limits\": {\"Rg\": 2.04") << std::string("\"upper_limits\": {\"Gb\": 0.01")
        << QStringLiteral("fit, upper_limits, \"Gb\": not a free parameter");
    QTest::newRow("a sensitivity without a free parameter's estimates")
        << std::string("\"estimates\": {\"Rg\": [1.6, 1.95], ") << std::string("\"estimates\": {")
        << QStringLiteral("fit, sensitivity, \"Gmax\": \"Rg\" missing");
    QTest::newRow("a warning of no text")
        << std::string("\"text\": \"Rg moves") << std::string("\"text\": 1, \"x\": \"")
        << QStringLiteral("fit, warnings: \"text\" is a number");
    QTest::newRow("a p-value above 1")
        << std::string("\"p_value\": 0.030352") << std::string("\"p_value\": 1.5")
        << QStringLiteral("fit: chi2 below 0 or a p-value outside 0..1");
}

void TestStatesReader::recordingAndFitRefusals()
{
    QFETCH(std::string, from);
    QFETCH(std::string, to);
    QFETCH(QString, message);
    std::string text = statesFileText(sessionWithFit());
    const std::size_t at = text.find(from);
    QVERIFY2(at != std::string::npos, from.c_str());
    text.replace(at, from.size(), to);
    StatesSession read;
    RunProblem problem;
    const bool ok = parseStatesFile(text, read, &problem);
    const QString got = ok ? QStringLiteral("read") : QString::fromStdString(problem.text());
    QVERIFY2(got.startsWith(message), qPrintable(got));
    QVERIFY(ok || read.states.empty());
}

QTEST_APPLESS_MAIN(TestStatesReader)
#include "tst_statesreader.moc"
