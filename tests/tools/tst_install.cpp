// Installs the built program into a temporary prefix, as a packager or a
// user with `cmake --install` would, and checks what lands there.
#include <QtTest>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void installedBatchToolRuns();
    void desktopEntryValidates();

private:
    QTemporaryDir m_prefix;
};

static int run(
    const QString &program, const QStringList &args, QByteArray *out = nullptr, QByteArray *err = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(300000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QByteArray out, err;
    const int rc = run(QStringLiteral("cmake"),
        {QStringLiteral("--install"), QStringLiteral(CLEFTSIM_BINARY_DIR), QStringLiteral("--prefix"),
            m_prefix.path()},
        &out, &err);
    QVERIFY2(rc == 0, (out + err).constData());
}

void TestInstall::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("program") << "bin/cleftsim";
    QTest::newRow("batch tool") << "bin/cleftsim-batch";
    QTest::newRow("desktop entry") << "share/applications/cleftsim.desktop";
    QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/cleftsim.svg";
    QTest::newRow("manual page") << "share/man/man1/cleftsim-batch.1";
    QTest::newRow("program's manual page") << "share/man/man1/cleftsim.1";
    QTest::newRow("AppStream metadata") << "share/metainfo/example.cleftsim.Cleftsim.metainfo.xml";
}

void TestInstall::installedFiles()
{
    QFETCH(QString, path);
    const QFileInfo info(m_prefix.filePath(path));
    QVERIFY2(info.isFile(), qPrintable(path));
    QVERIFY(info.size() > 0);
    if (path.startsWith(QLatin1String("bin/")))
        QVERIFY(info.isExecutable());
}

void TestInstall::installedBatchToolRuns()
{
    QByteArray out, err;
    const int rc = run(
        m_prefix.filePath(QStringLiteral("bin/cleftsim-batch")), {QStringLiteral("--help")}, &out, &err);
    QCOMPARE(rc, 0);
    QVERIFY(out.contains("cleftsim-batch"));
    QVERIFY(out.contains("histograms"));
}

void TestInstall::desktopEntryValidates()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing (package desktop-file-utils)");
    QByteArray out, err;
    const int rc = run(
        validator, {m_prefix.filePath(QStringLiteral("share/applications/cleftsim.desktop"))}, &out, &err);
    QVERIFY2(rc == 0, (out + err).constData());
    // Hints are fine; errors and warnings are not.
    QVERIFY2(!out.contains("error") && !out.contains("warning"), out.constData());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
