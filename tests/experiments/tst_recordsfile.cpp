#include "experiments/recordsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace cleftsim;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A trace whose even steps carry b * step [pA] and whose odd steps carry a
// value that must never reach the file.
CurrentTrace rampTrace(double step)
{
    CurrentTrace t {};
    for (int k = 0; k < RecordsSteps; ++k)
        t[k] = (k % 2 == 0) ? (k / 2) * step : 999.0;
    return t;
}

QByteArray rampLine(double step)
{
    QByteArray line;
    for (int b = 0; b <= 160; ++b)
        line += QByteArray::number(b * step, 'f', 3) + ' ';
    return line + "\r\n";
}

} // namespace

class TestRecordsFile : public QObject {
    Q_OBJECT
private slots:
    void proposedName_data();
    void proposedName();
    void freeName();
    void fileBytes_data();
    void fileBytes();
    void replacesExistingFile();
    void unwritableFolderReportsError();
    void failedWriteKeepsOldFile();
};

void TestRecordsFile::proposedName_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("file");
    QTest::newRow("default") << "0: default"
                             << "0_default.txt";
    QTest::newRow("derived") << "3: 2>RgV2"
                             << "3_2RgV2.txt";
    QTest::newRow("two digits") << "12: 11>n7Gb"
                                << "12_11n7Gb.txt";
    QTest::newRow("switch on") << "1: 0>+"
                               << "1_0+.txt";
    QTest::newRow("only first arrow") << "2: 1>a>b"
                                      << "2_1a_b.txt";
    // Names from a states file keep only what every desktop system takes.
    QTest::newRow("control characters") << "1: a\nb\a"
                                        << "1_a_b_.txt";
    QTest::newRow("another folder") << "1: ../../etc"
                                    << "1_______etc.txt";
    QTest::newRow("Windows' reserved characters") << "1: <a|b>?*\"c\\"
                                                  << "1__a_b___c_.txt";
    QTest::newRow("other scripts") << QString::fromUtf8("1: \xCE\xB1\xF0\x9F\x98\x80") << "1___.txt";
    QTest::newRow("255 characters") << QStringLiteral("1: ") + QString(252, QLatin1Char('x'))
                                    << QStringLiteral("1_") + QString(198, QLatin1Char('x'))
            + QStringLiteral(".txt");
}

void TestRecordsFile::proposedName()
{
    QFETCH(QString, state);
    QFETCH(QString, file);
    QCOMPARE(proposedRecordsName(state), file);
}

void TestRecordsFile::freeName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = QStringLiteral("3_2RgV2.txt");
    QCOMPARE(freeRecordsName(dir.path(), name), name);
    writeText(dir.filePath(name), "x");
    QCOMPARE(freeRecordsName(dir.path(), name), QStringLiteral("3_2RgV2(1).txt"));
    writeText(dir.filePath(QStringLiteral("3_2RgV2(1).txt")), "x");
    QCOMPARE(freeRecordsName(dir.path(), name), QStringLiteral("3_2RgV2(2).txt"));
    writeText(dir.filePath(QStringLiteral("3_2RgV2(2).txt")), "x");
    writeText(dir.filePath(QStringLiteral("3_2RgV2(4).txt")), "x");
    QCOMPARE(freeRecordsName(dir.path(), name), QStringLiteral("3_2RgV2(3).txt"));
    // A file of another name does not count.
    QCOMPARE(freeRecordsName(dir.path(), QStringLiteral("0_default.txt")), QStringLiteral("0_default.txt"));
}

void TestRecordsFile::fileBytes_data()
{
    QTest::addColumn<QList<double>>("steps");
    QTest::newRow("one trial") << QList<double> {-0.25};
    QTest::newRow("three trials") << QList<double> {-0.25, 0.125, -1.5};
}

void TestRecordsFile::fileBytes()
{
    QFETCH(QList<double>, steps);
    std::vector<CurrentTrace> traces;
    QByteArray expected = "161 " + QByteArray::number(steps.size()) + " 10000\r\n";
    for (double s : steps) {
        traces.push_back(rampTrace(s));
        expected += rampLine(s);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.txt"));
    QString error;
    QVERIFY2(saveRecordsFile(path, traces.data(), int(traces.size()), &error), qPrintable(error));
    const QByteArray bytes = readAll(path);
    QCOMPARE(bytes, expected);
    QVERIFY(bytes.startsWith("161 " + QByteArray::number(steps.size()) + " 10000\r\n0.000 "));
    QCOMPARE(bytes.count("\r\n"), steps.size() + 1);
    QVERIFY(!bytes.contains("999"));
}

void TestRecordsFile::replacesExistingFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.txt"));
    writeText(path, QByteArray(100000, 'o'));
    const CurrentTrace trace = rampTrace(0.5);
    QString error;
    QVERIFY2(saveRecordsFile(path, &trace, 1, &error), qPrintable(error));
    QCOMPARE(readAll(path), "161 1 10000\r\n" + rampLine(0.5));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("records.txt")});
}

void TestRecordsFile::unwritableFolderReportsError()
{
    // A folder that cannot exist: its parent is a regular file.
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain"));
    writeText(plain, "not a folder");
    const CurrentTrace trace = rampTrace(1.0);
    QString error;
    QVERIFY(!saveRecordsFile(plain + QStringLiteral("/records.txt"), &trace, 1, &error));
    QVERIFY2(error.startsWith(QDir::toNativeSeparators(plain + QStringLiteral("/records.txt"))),
        qPrintable(error));
    QCOMPARE(readAll(plain), QByteArray("not a folder"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {QStringLiteral("plain")});
}

void TestRecordsFile::failedWriteKeepsOldFile()
{
    // A disk that fills up while the records are written: the file size
    // limit makes every write beyond 4 KB fail, as a full disk would.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.txt"));
    const QByteArray old = "161 1 10000\r\nold records\r\n";
    writeText(path, old);
    std::vector<CurrentTrace> traces(MaxRecords, rampTrace(-1.25));

    rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool ok = saveRecordsFile(path, traces.data(), int(traces.size()), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QVERIFY(!error.isEmpty());
    // The file and the system's reason, not a placeholder.
    QVERIFY2(error.startsWith(QDir::toNativeSeparators(path) + QStringLiteral(" could not be saved: ")),
        qPrintable(error));
    QVERIFY2(!error.endsWith(QStringLiteral("Unknown error")), qPrintable(error));
    QCOMPARE(readAll(path), old);
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("records.txt")});
}

QTEST_MAIN(TestRecordsFile)
#include "tst_recordsfile.moc"
