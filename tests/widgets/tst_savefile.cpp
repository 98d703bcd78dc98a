#include "widgets/savefile.h"

#include <QtTest>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace cleftsim;

namespace {

// The bytes a save writes: size of them, none a zero.
QByteArray content(int size)
{
    QByteArray bytes(size, 'x');
    for (int i = 0; i < size; i += 61)
        bytes[i] = '\n';
    return bytes;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(not readable)");
}

const QByteArray OldContent = "the states saved before\n";

// Saves size bytes over "old.json" of folder (which holds OldContent) and
// to "new.json". Writes one line per save to standard output: "saved" or the
// message of the failure, then whether old.json is as it was and the names
// left in the folder.
int savesInto(const char *folder, int size)
{
    const QDir dir(QString::fromLocal8Bit(folder));
    for (const char *name : {"old.json", "new.json"}) {
        QString error;
        const bool saved = saveFileAtomically(dir.filePath(name), content(size), &error);
        std::printf("%s\n", saved ? "saved" : qPrintable(error));
    }
    std::printf("%s\n", readAll(dir.filePath("old.json")) == OldContent ? "old kept" : "old replaced");
    std::printf("%s\n", qPrintable(dir.entryList(QDir::Files | QDir::Hidden, QDir::Name).join(' ')));
    return 0;
}

// Inside a file system of its own: makes "old.json", fills the rest of the
// disk with one file until the system refuses a byte more, frees room bytes
// of it again (the disk nearly full: a save's first bytes fit, the rest
// not), then saves as savesInto.
int fullDiskSaves(const char *folder, int size, int room)
{
    const QDir dir(QString::fromLocal8Bit(folder));
    {
        QFile old(dir.filePath("old.json"));
        if (!old.open(QIODevice::WriteOnly) || old.write(OldContent) != OldContent.size())
            return 3;
    }
    const QByteArray filler = QFile::encodeName(dir.filePath("filler"));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return 3;
    const QByteArray page(4096, 'f');
    while (::write(fd, page.constData(), page.size()) > 0) { }
    while (::write(fd, "f", 1) > 0) { }
    const off_t full = ::lseek(fd, 0, SEEK_END);
    if (room > 0 && (full < room || ::ftruncate(fd, full - room) != 0))
        return 3;
    ::close(fd);
    return savesInto(folder, size);
}

} // namespace

// The atomic save: whatever its size, a save that fails keeps the file it was
// to replace, leaves nothing behind and names the file and the reason.
class TestSaveFile : public QObject {
    Q_OBJECT
private slots:
    void failedSavesNameTheirReason_data();
    void failedSavesNameTheirReason();
    void fullDiskNamesItsReason_data();
    void fullDiskNamesItsReason();
    void savedBytesAreTheData_data();
    void savedBytesAreTheData();
    void proposalsStayInFoldersThatExist_data();
    void proposalsStayInFoldersThatExist();
};

void TestSaveFile::failedSavesNameTheirReason_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("reason");
    // Below and above the toolkit's buffer of 16 KiB, where a small write
    // reaches the disk only when the file is flushed.
    for (const int size : {100, 16383, 16385, 40000}) {
        QTest::addRow("read-only folder, %d bytes", size) << "read-only" << size << "Permission denied";
        QTest::addRow("missing folder, %d bytes", size) << "missing" << size << "No such file or directory";
    }
}

void TestSaveFile::failedSavesNameTheirReason()
{
    QFETCH(QString, where);
    QFETCH(int, size);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (where == "missing") {
        const QString path = dir.filePath("gone/states.json");
        QString error;
        QVERIFY(!saveFileAtomically(path, content(size), &error));
        QCOMPARE(error, QDir::toNativeSeparators(path) + " could not be saved: " + reason);
        QVERIFY(!QFileInfo::exists(dir.filePath("gone")));
        return;
    }
    // A read-only folder, saved into by a child that is not the superuser
    // (who writes anywhere): as the user itself, or as a user of a name
    // space of its own.
    QFile old(dir.filePath("old.json"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    QCOMPARE(old.write(OldContent), OldContent.size());
    old.close();
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    QProcess child;
    const QStringList saves {"--saves", dir.path(), QString::number(size)};
    if (::geteuid() == 0) {
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty())
            QSKIP("the superuser writes into a read-only folder, and no unshare");
        child.start(unshare,
            QStringList {
                "--user", "--map-user=1000", "--map-group=1000", QCoreApplication::applicationFilePath()}
                + saves);
    } else {
        child.start(QCoreApplication::applicationFilePath(), saves);
    }
    QVERIFY(child.waitForFinished(120000));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    if (child.exitCode() == 1)
        QSKIP(qPrintable("no user of the test's own here: " + child.readAllStandardError()));
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 2; ++i) {
        const QString file = dir.filePath(i == 0 ? "old.json" : "new.json");
        QCOMPARE(lines[i], QDir::toNativeSeparators(file) + " could not be saved: " + reason);
    }
    QCOMPARE(lines[2], QStringLiteral("old kept"));
    QCOMPARE(lines[3], QStringLiteral("old.json"));
}

void TestSaveFile::fullDiskNamesItsReason_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("room"); // bytes free on the disk
    for (const int size : {1, 100, 4096, 16383, 16385, 40000})
        QTest::addRow("%d bytes, full", size) << size << 0;
    // The first page fits, the rest not: the system takes part of a write.
    for (const int size : {8000, 16383, 16385, 40000})
        QTest::addRow("%d bytes, a page free", size) << size << 4096;
}

void TestSaveFile::fullDiskNamesItsReason()
{
    QFETCH(int, size);
    QFETCH(int, room);
    // A disk of its own, full: a small file system in a mount namespace of
    // the test's own, where the test is the superuser of nothing else.
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        QSKIP("no unshare to make a file system of the test's own");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess child;
    child.setProgram(unshare);
    child.setArguments({"--user", "--map-root-user", "--mount", "/bin/sh", "-c",
        "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 42; exec \"$2\" --full-disk \"$1\" \"$3\" \"$4\"",
        "sh", dir.path(), QCoreApplication::applicationFilePath(), QString::number(size),
        QString::number(room)});
    child.start();
    QVERIFY(child.waitForFinished(120000));
    if (child.exitCode() == 42 || child.exitCode() == 1)
        QSKIP(qPrintable("no file system of the test's own here: " + child.readAllStandardError()));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 2; ++i) {
        const QString file = QDir(dir.path()).filePath(i == 0 ? "old.json" : "new.json");
        QCOMPARE(lines[i], QDir::toNativeSeparators(file) + " could not be saved: No space left on device");
    }
    // Nothing replaced, nothing left behind.
    QCOMPARE(lines[2], QStringLiteral("old kept"));
    QCOMPARE(lines[3], QStringLiteral("filler old.json"));
}

void TestSaveFile::savedBytesAreTheData_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("existing");
    for (const int size : {0, 1, 4095, 4096, 4097, 16385})
        for (const bool existing : {false, true})
            QTest::addRow("%d bytes%s", size, existing ? " over a file" : "") << size << existing;
}

void TestSaveFile::savedBytesAreTheData()
{
    QFETCH(int, size);
    QFETCH(bool, existing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("saved.json");
    if (existing) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write(content(50000)), 50000);
    }
    QString error;
    QVERIFY2(saveFileAtomically(path, content(size), &error), qPrintable(error));
    QVERIFY(error.isEmpty());
    QCOMPARE(readAll(path), content(size));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"saved.json"});
}

void TestSaveFile::proposalsStayInFoldersThatExist_data()
{
    QTest::addColumn<QString>("proposed"); // under the test's folder
    QTest::addColumn<QString>("expected"); // "~/" for the home folder
    QTest::newRow("folder there") << "there/states.json"
                                  << "there/states.json";
    QTest::newRow("folder missing") << "Documents/states.json"
                                    << "~/states.json";
    QTest::newRow("folder is a file") << "file/states.json"
                                      << "~/states.json";
    QTest::newRow("file missing, folder there") << "there/new.json"
                                                << "there/new.json";
}

void TestSaveFile::proposalsStayInFoldersThatExist()
{
    QFETCH(QString, proposed);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("there"));
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(existingFolderOrHome(dir.filePath(proposed)),
        expected.startsWith("~/") ? QDir::home().filePath(expected.mid(2)) : dir.filePath(expected));
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--saves") == 0)
        return savesInto(argv[2], std::atoi(argv[3]));
    if (argc == 5 && std::strcmp(argv[1], "--full-disk") == 0)
        return fullDiskSaves(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    QCoreApplication app(argc, argv);
    TestSaveFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savefile.moc"
