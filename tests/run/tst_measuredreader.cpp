#include "run/measureddata.h"
#include "run/sha256.h"

#include <QTemporaryDir>
#include <QtTest>

#include <string>
#include <vector>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)

// The reader of measured data as laboratories write it: the separators of
// spreadsheets, decimal commas, quoted fields, tables held in memory, and
// files too large to be a recording, refused before they are read whole.
class TestMeasuredReader : public QObject {
    Q_OBJECT
private slots:
    void forms_data();
    void forms();
    void refusals_data();
    void refusals();
    void bounds_data();
    void bounds();
    void largeSourcesAreReadOnlyToTheirBound_data();
    void largeSourcesAreReadOnlyToTheirBound();
    void aLargeFileIsRefusedByItsPath();
    void columns_data();
    void columns();
};

namespace {

QString refusalOf(const std::string &text)
{
    MeasuredData data;
    RunProblem problem;
    if (parseMeasuredData(text, data, &problem))
        return QStringLiteral("read");
    return QString::fromStdString(problem.text());
}

// The rows of a recording at potentials from -150 mV up, one a row, the
// 191 potentials of the V2 editor over and over.
std::string rowsFrom(int first, int count, const char *separator = ",")
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(-150 + ((first + i) % 191)) + separator + "-10" + separator + "1\n";
    return text;
}

// A source of `size` bytes: the text given, then `fill` to the end; counts
// the bytes handed out.
struct CountingSource {
    std::string head;
    char fill = ' ';
    std::size_t size = 0;
    std::size_t given = 0;

    std::size_t operator()(char *buffer, std::size_t room, bool *)
    {
        const std::size_t n = std::min(room, size - given);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = given + i;
            buffer[i] = at < head.size() ? head[at] : fill;
        }
        given += n;
        return n;
    }
};

} // namespace

void TestMeasuredReader::forms_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("V"); // of the last point
    QTest::addColumn<double>("mean"); // of the last point
    QTest::addColumn<double>("sem"); // of the last point

    QTest::newRow("semicolons with decimal commas")
        << std::string("V2_mV;mean_peak_pA;sem_pA\n-100;-40,5;2,25\n-60;-25,75;1,5\n") << 2 << -60 << -25.75
        << 1.5;
    QTest::newRow("semicolons with decimal points")
        << std::string("V2_mV;mean_peak_pA;sem_pA\n-60;-25.75;1.5\n") << 1 << -60 << -25.75 << 1.5;
    QTest::newRow("tabs with decimal commas")
        << std::string("V2_mV\tmean_peak_pA\tsem_pA\tcell\r\n-60\t-25,75\t1,5\tcell 1, left\r\n") << 1 << -60
        << -25.75 << 1.5;
    QTest::newRow("R's quoted header and quoted numbers")
        << std::string("\"V2_mV\",\"mean_peak_pA\",\"sem_pA\"\n\"-60\", \"-25.75\" ,\"1.5\"\n") << 1 << -60
        << -25.75 << 1.5;
    QTest::newRow("a text column with commas") << std::string(
        "V2_mV,note,mean_peak_pA,sem_pA\n-100,\"cell 3, good seal\",-40,2\n-60,\"a, b, c\",-25.75,1.5\n")
                                               << 2 << -60 << -25.75 << 1.5;
    QTest::newRow("a quoted field over two lines with a doubled quote") << std::string(
        "V2_mV,note,mean_peak_pA,sem_pA\n-100,\"the \"\"first\"\"\ncell\",-40,2\n-60,,-25.75,1.5\n")
                                                                        << 2 << -60 << -25.75 << 1.5;
    QTest::newRow("a separator in a quoted column name")
        << std::string("\"V2_mV\";\"a;b\";mean_peak_pA;sem_pA\n-60;x;-25,75;1,5\n") << 1 << -60 << -25.75
        << 1.5;
    QTest::newRow("blank rows of a spreadsheet passed over")
        << std::string("V2_mV;mean_peak_pA;sem_pA\n-100;-40;2\n;;\n -60;-25,75;1,5\n;  ;\n") << 2 << -60
        << -25.75 << 1.5;
    QTest::newRow("commas with the separator used most")
        << std::string("V2_mV,mean_peak_pA,sem_pA,a;b\n-60,-25.75,1.5,x\n") << 1 << -60 << -25.75 << 1.5;
    QTest::newRow("a byte order mark before semicolons")
        << std::string("\xEF\xBB\xBFV2_mV;mean_peak_pA;sem_pA\n-60;-25,75;1,5") << 1 << -60 << -25.75 << 1.5;
}

void TestMeasuredReader::forms()
{
    QFETCH(std::string, text);
    QFETCH(int, points);
    QFETCH(int, V);
    QFETCH(double, mean);
    QFETCH(double, sem);
    MeasuredData data;
    RunProblem problem;
    QVERIFY2(parseMeasuredData(text, data, &problem), problem.text().c_str());
    QCOMPARE(int(data.points.size()), points);
    QCOMPARE(data.points.back().V, V);
    QCOMPARE(data.points.back().meanPeak, mean);
    QCOMPARE(data.points.back().semPeak, sem);
    QCOMPARE(data.points.back().row, points);
    QCOMPARE(data.sha256, sha256Hex(text));
}

void TestMeasuredReader::refusals_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("message"); // the start of RunProblem::text()

    const auto row = [](const char *name, const std::string &text, const char *message) {
        QTest::newRow(name) << text << QString::fromUtf8(message);
    };
    row("a decimal comma between commas", "V2_mV,mean_peak_pA,sem_pA\n-60,\"-10,5\",1\n",
        "row 1 (line 2), column mean_peak_pA: \"-10,5\": not a number; accepted a finite number with a full "
        "stop (or a decimal comma where semicolons or tabs");
    row("two decimal commas", "V2_mV;mean_peak_pA;sem_pA\n-60;-1,000,5;1\n",
        "row 1 (line 2), column mean_peak_pA: \"-1,000,5\": not a number");
    row("a decimal comma and point", "V2_mV;mean_peak_pA;sem_pA\n-60;-1.000,5;1\n",
        "row 1 (line 2), column mean_peak_pA: \"-1.000,5\": not a number");
    row("two separators equally often", "V2_mV;mean_peak_pA,sem_pA\n-60;-10,1\n",
        "line 1: the header uses two separators equally often");
    row("a tab header against semicolon rows", "V2_mV\tmean_peak_pA\tsem_pA\n-60;-10;1\n",
        "row 1 (line 2): 1 fields where the header has 3; accepted one field per column, separated by tabs");
    row("semicolons missing a field", "V2_mV;mean_peak_pA;sem_pA\n-60;-10\n",
        "row 1 (line 2): 2 fields where the header has 3; accepted one field per column, separated by "
        "semicolons");
    row("a column missing names the separator", "V2 mV;mean_peak_pA;sem_pA\n-60;-10;1\n",
        "column V2_mV: missing (the header, separated by semicolons, names \"V2 mV\", \"mean_peak_pA\", "
        "\"sem_pA\")");
    row("a quote not closed", "V2_mV,mean_peak_pA,sem_pA\n-60,\"-10,1\n-20,-5,1\n",
        "row 1 (line 2): a quoted field is not closed at the end of the data");
    row("a quote inside a field", "V2_mV,mean_peak_pA,sem_pA\n-60,-1\"0,1\n",
        "row 1 (line 2): a quote inside a field that does not begin with one");
    row("text after a closing quote", "V2_mV,mean_peak_pA,sem_pA\n-60,\"-10\"x,1\n",
        "row 1 (line 2): text after the closing quote of a field");
    row("a column name not closed", "\"V2_mV,mean_peak_pA,sem_pA\n-60,-10,1\n",
        "line 1: a quoted column name not closed on its line");
    row("the line of a row after a field over two lines",
        "V2_mV,note,mean_peak_pA,sem_pA\n-100,\"a\nb\",-40,2\n-60,,x,1\n",
        "row 2 (line 4), column mean_peak_pA: \"x\": not a number");
    row("a text with a line end shown on one line", "V2_mV,mean_peak_pA,sem_pA\n-60,\"-1\n0\",1\n",
        "row 1 (line 2), column mean_peak_pA: \"-1\\u000a0\": not a number");
    row("a long text cut short", "V2_mV,mean_peak_pA,sem_pA\n-60," + std::string(50, 'x') + ",1\n",
        ("row 1 (line 2), column mean_peak_pA: \"" + std::string(40, 'x') + "\"...: not a number").c_str());
    row("a column name with a quote named twice", "\"a\"\"b\",\"a\"\"b\",V2_mV\n",
        "line 1, column \"a\\\"b\": named twice");
    row("a quoted empty field is not a blank row", "V2_mV;mean_peak_pA;sem_pA\n-60;-10;1\n\"\";;\n",
        "row 2 (line 3), column V2_mV: missing");
}

void TestMeasuredReader::refusals()
{
    QFETCH(std::string, text);
    QFETCH(QString, message);
    const QString got = refusalOf(text);
    QVERIFY2(got.startsWith(message), qPrintable(got));
}

void TestMeasuredReader::bounds_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("message"); // the start of the refusal, or "read"

    const std::string header = "V2_mV,mean_peak_pA,sem_pA\n";
    // 191 potentials at most: the 192nd to the 200th row repeat one, and the
    // 201st is one row too many whatever it holds.
    QTest::newRow("191 rows") << header + rowsFrom(0, 191) << QStringLiteral("read");
    QTest::newRow("200 rows") << header + rowsFrom(0, 191) + rowsFrom(0, 9)
                              << QStringLiteral("row 192 (line 193), column V2_mV: -150: repeated");
    std::string many = header + rowsFrom(0, 201);
    QTest::newRow("201 rows stop the reading")
        << many + "not even read" << QStringLiteral("row 201 (line 202): more than 200 data rows");
    QTest::newRow("comments and blank rows do not count") << header + "# one\n,,\n\n" + rowsFrom(0, 191)
            + std::string(300, '\n') + ",,\n" << QStringLiteral("read");

    // 4 MiB = 4194304 bytes of CSV: a comment fills the file to the byte.
    const std::string rows = header + rowsFrom(0, 3);
    QTest::newRow("4 MiB of CSV") << rows + "#" + std::string(4194304 - rows.size() - 2, 'x') + "\n"
                                  << QStringLiteral("read");
    QTest::newRow("4 MiB and a byte of CSV") << rows + "#" + std::string(4194304 - rows.size() - 1, 'x')
            + "\n" << QStringLiteral("the data: larger than 4 MiB (read so far: 3 data rows)");

    // 256 KiB = 262144 bytes of JSON.
    const std::string json = "{\"points\": [{\"V2_mV\": -60, \"trials\": 20, \"mean_peak_pA\": -10, "
                             "\"std_peak_pA\": 4}]}";
    QTest::newRow("256 KiB of JSON") << json + std::string(262144 - json.size(), ' ')
                                     << QStringLiteral("read");
    QTest::newRow("256 KiB and a byte of JSON")
        << json + std::string(262145 - json.size(), ' ') << QStringLiteral("the data: larger than 256 KiB");
    std::string points = "{\"points\": [";
    for (int i = 0; i < 201; ++i)
        points += std::string(i > 0 ? "," : "") + "{\"V2_mV\": " + std::to_string(-150 + i % 191)
            + ", \"trials\": 20, \"mean_peak_pA\": -10, \"std_peak_pA\": 4}";
    QTest::newRow("201 JSON points") << points + "]}" << QStringLiteral("points[200]: more than 200 points");

    std::string columns;
    for (int i = 0; i < 997; ++i)
        columns += "c" + std::to_string(i) + ",";
    QTest::newRow("1000 columns") << columns + "V2_mV,mean_peak_pA,sem_pA\n" + std::string(997, ',')
            + "-60,-10,1\n" << QStringLiteral("read");
    QTest::newRow("1001 columns") << "x," + columns + "V2_mV,mean_peak_pA,sem_pA\n"
                                  << QStringLiteral("line 1: more than 1000 columns");
}

void TestMeasuredReader::bounds()
{
    QFETCH(std::string, text);
    QFETCH(QString, message);
    const QString got = refusalOf(text);
    QVERIFY2(got.startsWith(message), qPrintable(got));
}

void TestMeasuredReader::largeSourcesAreReadOnlyToTheirBound_data()
{
    QTest::addColumn<std::string>("head");
    QTest::addColumn<char>("fill");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("readKiB"); // at most

    // Each source is 100 MB; the reader asks for 64 KiB at a time.
    QTest::newRow("rows without end")
        << std::string("V2_mV,mean_peak_pA,sem_pA\n") + rowsFrom(0, 191) + rowsFrom(0, 10000) << '\n'
        << QStringLiteral("row 201 (line 202): more than 200 data rows") << 64;
    QTest::newRow("one line without end") << std::string("V2_mV,mean_peak_pA,sem_pA\n-60,") << '9'
                                          << QStringLiteral("the data: larger than 4 MiB") << 4096;
    QTest::newRow("blanks without end")
        << std::string() << ' ' << QStringLiteral("the data: larger than 4 MiB") << 4096;
    QTest::newRow("JSON without end")
        << std::string("{\"points\": [") << ' ' << QStringLiteral("the data: larger than 256 KiB") << 256;
}

void TestMeasuredReader::largeSourcesAreReadOnlyToTheirBound()
{
    QFETCH(std::string, head);
    QFETCH(char, fill);
    QFETCH(QString, message);
    QFETCH(int, readKiB);
    CountingSource source {head, fill, std::size_t(100) * 1000 * 1000};
    MeasuredData data;
    RunProblem problem;
    QVERIFY(!readMeasuredBytes(std::ref(source), data, &problem));
    QVERIFY2(QString::fromStdString(problem.text()).startsWith(message), problem.text().c_str());
    // The bound and the one piece of 64 KiB that passed it, no more.
    QVERIFY2(source.given <= std::size_t(readKiB + 64) * 1024, qPrintable(QString::number(source.given)));
}

void TestMeasuredReader::aLargeFileIsRefusedByItsPath()
{
    // 100 MB of a file with holes: nothing is written to the disk.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("huge.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("V2_mV,mean_peak_pA,sem_pA\n-60,-10,1\n#");
    QVERIFY(file.resize(100 * 1000 * 1000));
    file.close();
    MeasuredData data;
    RunProblem problem;
    QVERIFY(!readMeasuredData(path.toStdString(), data, &problem));
    QCOMPARE(QString::fromStdString(problem.text()),
        path
            + QStringLiteral(
                ": larger than 4 MiB (read so far: 1 data rows); accepted a recording of at most "
                "200 rows, 4 MiB as CSV"));
}

void TestMeasuredReader::columns_data()
{
    using Kind = MeasuredValue::Kind;
    const auto number = [](double x) { return MeasuredValue {Kind::Number, x, {}}; };
    const auto text = [](const char *t) { return MeasuredValue {Kind::Text, 0, t}; };
    const MeasuredValue absent;
    const double nan = std::nan("");

    QTest::addColumn<std::vector<MeasuredColumn>>("columns");
    QTest::addColumn<QString>("message"); // the start of the refusal, or "read"
    QTest::addColumn<std::string>("csv"); // the text whose digest the data take

    QTest::newRow("a text column with commas")
        << std::vector<MeasuredColumn> {{"V2_mV", {number(-100), number(-60)}},
               {"note", {text("a, b"), text("say \"x\"")}}, {"mean_peak_pA", {number(-40.5), number(-25)}},
               {"sem_pA", {number(2), text(" 1.5 ")}}}
        << QStringLiteral("read")
        << std::string(
               "V2_mV,note,mean_peak_pA,sem_pA\n-100,\"a, b\",-40.5,2\n-60,\"say \"\"x\"\"\",-25, 1.5 \n");
    QTest::newRow("NaN and None as absent")
        << std::vector<MeasuredColumn> {{"V2_mV", {number(-60), number(0)}},
               {"mean_peak_pA", {number(-25), number(0)}}, {"std_pA", {number(6), absent}},
               {"n", {number(36), number(30)}}, {"mean_quanta", {number(nan), absent}}}
        << QStringLiteral("read")
        << std::string("V2_mV,mean_peak_pA,std_pA,n,mean_quanta\n-60,-25,6,36,\n0,0,,30,\n");
    QTest::newRow("trials for n") << std::vector<MeasuredColumn> {{"V2_mV", {number(-60)}},
        {"trials", {number(100)}}, {"mean_peak_pA", {number(-25)}}}
                                  << QStringLiteral("read")
                                  << std::string("V2_mV,trials,mean_peak_pA\n-60,100,-25\n");
    QTest::newRow("a text that is no number")
        << std::vector<MeasuredColumn> {{"V2_mV", {number(-60), number(-20)}},
               {"mean_peak_pA", {number(-25), text("abc")}}, {"sem_pA", {number(1), number(1)}}}
        << QStringLiteral("row 2, column mean_peak_pA: \"abc\": not a number") << std::string();
    QTest::newRow("an infinite number")
        << std::vector<MeasuredColumn> {{"V2_mV", {number(-60)}}, {"mean_peak_pA", {number(-25)}},
               {"sem_pA", {number(HUGE_VAL)}}}
        << QStringLiteral("row 1, column sem_pA: not a finite number") << std::string();
    QTest::newRow("columns of two lengths")
        << std::vector<MeasuredColumn> {{"V2_mV", {number(-60), number(-20)}},
               {"mean_peak_pA", {number(-25)}}}
        << QStringLiteral("column mean_peak_pA: 1 values where column V2_mV has 2") << std::string();
    QTest::newRow("a column missing")
        << std::vector<MeasuredColumn> {{"V2", {number(-60)}}, {"mean_peak_pA", {number(-25)}}}
        << QStringLiteral("column V2_mV: missing (the columns are \"V2\", \"mean_peak_pA\")")
        << std::string();
    QTest::newRow("no columns") << std::vector<MeasuredColumn> {}
                                << QStringLiteral("column V2_mV: missing (the columns are no column)")
                                << std::string();
    QTest::newRow("a column twice") << std::vector<MeasuredColumn> {{"V2_mV", {number(-60)}},
        {"V2_mV", {number(-20)}}} << QStringLiteral("column V2_mV: named twice")
                                    << std::string();
    std::vector<MeasuredValue> many(201, number(-60));
    std::vector<MeasuredValue> sems(201, number(1));
    QTest::newRow("201 rows") << std::vector<MeasuredColumn> {{"V2_mV", many}, {"mean_peak_pA", many},
        {"sem_pA", sems}} << QStringLiteral("row 201: more than 200 data rows")
                              << std::string();
    many.pop_back();
    sems.pop_back();
    QTest::newRow("200 rows") << std::vector<MeasuredColumn> {{"V2_mV", many}, {"mean_peak_pA", many},
        {"sem_pA", sems}} << QStringLiteral("row 2, column V2_mV: -60: repeated")
                              << std::string();
}

void TestMeasuredReader::columns()
{
    QFETCH(std::vector<MeasuredColumn>, columns);
    QFETCH(QString, message);
    QFETCH(std::string, csv);
    MeasuredData data;
    data.name = "<DataFrame>";
    RunProblem problem;
    const bool read = measuredDataFromColumns(columns, data, &problem);
    QCOMPARE(
        read ? QStringLiteral("read") : QString::fromStdString(problem.text()).left(message.size()), message);
    if (!read)
        return;
    QCOMPARE(data.name, std::string("<DataFrame>"));
    QCOMPARE(data.sha256, sha256Hex(csv));
    // The same table as CSV text gives the same points.
    MeasuredData fromText;
    QVERIFY2(parseMeasuredData(csv, fromText, &problem), problem.text().c_str());
    QCOMPARE(fromText.points.size(), data.points.size());
    for (std::size_t i = 0; i < data.points.size(); ++i) {
        const MeasuredPoint &a = data.points[i];
        const MeasuredPoint &b = fromText.points[i];
        QCOMPARE(a.V, b.V);
        QCOMPARE(a.n, b.n);
        QCOMPARE(a.meanPeak, b.meanPeak);
        QCOMPARE(std::isnan(a.semPeak), std::isnan(b.semPeak));
        if (!std::isnan(a.semPeak))
            QCOMPARE(a.semPeak, b.semPeak);
        QCOMPARE(a.hasQuanta, b.hasQuanta);
    }
}

Q_DECLARE_METATYPE(std::vector<MeasuredColumn>)

QTEST_GUILESS_MAIN(TestMeasuredReader)
#include "tst_measuredreader.moc"
