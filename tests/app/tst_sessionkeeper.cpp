#include "app/mainwindow.h"
#include "app/sessionkeeper.h"
#include "app/startup.h"
#include "restoreeditors.h"
#include "run/statesfile.h"
#include "widgets/currentmodel.h"

#include <QtTest>

#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace cleftsim;
using namespace cleftsim::test;

namespace {

// A session with one state stored besides the default set, initial.
StatesSession storedSession(int n)
{
    StatesSession session;
    session.states = {DefaultParameterSet, DefaultParameterSet};
    session.states[1].Name = "1: 0>n" + std::to_string(n);
    session.states[1].N = n;
    session.initial = 1;
    return session;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The stored states of a states file; empty when it cannot be read.
std::vector<ParameterSet> statesIn(const QString &path)
{
    StatesSession session;
    if (!readStatesFile(QFile::encodeName(path).toStdString(), session, nullptr))
        return {};
    return session.states;
}

} // namespace

// How the session outlives every end of the program: the signals that end it
// (the real program, started and signalled), a kill and the question at the
// next start, the copy written after every change.
class TestSessionKeeper : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signalsEndAsQuit_data();
    void signalsEndAsQuit();
    void signalWithNoStatesFileNamed();
    void signalClosesTheQuestion();
    void oneStatesFileAtMost_data();
    void oneStatesFileAtMost();
    void killedProgramIsOfferedBack_data();
    void killedProgramIsOfferedBack();
    void questionOnlyAfterAnUncleanEnd_data();
    void questionOnlyAfterAnUncleanEnd();
    void restoreAndDiscard_data();
    void restoreAndDiscard();
    void everyChangeIsWrittenSoon_data();
    void everyChangeIsWrittenSoon();
    void anotherProgramKeepsItsOwn();
    void lastSessionAtTheEnd_data();
    void lastSessionAtTheEnd();
    void recoveryBoxWordsAndButtons();

private:
    // The files a run of the program leaves in the data folder.
    QStringList dataFiles() const;
    // Stores a state with n sites through Scheme Settings.
    void storeState(int n);
    // Starts the real program with home as its home and home/data as its
    // data folder, opening the states file file, written with a state of n
    // sites stored.
    static void startProgram(QProcess &program, const QString &home, const QString &file, int n);
    // Ends the program as a crash would: the window set goes without its
    // end, the data folder stays.
    void crash();

    std::unique_ptr<MainWindow> m_main;
    QStringList m_errors;
    QStringList m_questions;
    bool m_restore = true;
    QTemporaryDir m_dir;
};

void TestSessionKeeper::initTestCase()
{
    applyClassicLook(*qApp);
    fixNumberFormat();
    setApplicationTitle(); // the program's data folder, "CS"
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath("data")));
    QVERIFY(SessionKeeper::lastSessionPath().startsWith(m_dir.filePath("data/CS/")));
}

void TestSessionKeeper::init()
{
    m_main = createWindowSet();
    m_main->setErrorPresenter([this](const QString &message) { m_errors << message; });
    m_main->sessionKeeper()->setRecoveryAsker([this](const QString &question) {
        m_questions << question;
        return m_restore;
    });
    m_main->setConfirmer([](const QString &) { return true; });
    m_errors.clear();
    m_questions.clear();
    m_restore = true;
}

void TestSessionKeeper::cleanup()
{
    crash();
    QDir(m_dir.filePath("data")).removeRecursively();
}

void TestSessionKeeper::crash()
{
    m_main.reset();
    windows() = WindowSet {};
}

QStringList TestSessionKeeper::dataFiles() const
{
    return QDir(m_dir.filePath("data/CS")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void TestSessionKeeper::startProgram(QProcess &program, const QString &home, const QString &file, int n)
{
    if (!file.isEmpty()) {
        QFile f(file);
        if (f.open(QIODevice::WriteOnly))
            f.write(QByteArray::fromStdString(statesFileText(storedSession(n))));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/data");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(CLEFTSIM_BINARY_DIR "/src/app/cleftsim"),
        file.isEmpty() ? QStringList {} : QStringList {file});
}

void TestSessionKeeper::storeState(int n)
{
    restoreScheme(n, 0.50, -63);
    QVERIFY(m_main->Store());
}

void TestSessionKeeper::signalsEndAsQuit_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::newRow("SIGTERM") << int(SIGTERM) << 0;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 0;
    QTest::newRow("SIGINT") << int(SIGINT) << 0;
}

void TestSessionKeeper::signalsEndAsQuit()
{
    QFETCH(int, signal);
    QFETCH(int, status);
    // The real program in a home of its own, opening a states file with a
    // state stored besides the default set.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString file = home.filePath("states.json");
    QProcess program;
    startProgram(program, home.path(), file, 17);
    QVERIFY(program.waitForStarted(60000));
    // Ready when the copy of the running session holds the stored state.
    const QString copy = home.filePath("data/CS/unclosed-session.json");
    const QString last = home.filePath("data/CS/last-session.json");
    QTRY_VERIFY_WITH_TIMEOUT(statesIn(copy).size() == 2, 120000);
    QVERIFY(!QFileInfo::exists(last));
    QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    // The session is the last one, the copy and the mark are gone, the
    // states file is as it was.
    const std::vector<ParameterSet> states = statesIn(last);
    QCOMPARE(states.size(), std::size_t(2));
    QCOMPARE(states[1].N, 17);
    QCOMPARE(QDir(home.filePath("data/CS")).entryList(QDir::Files | QDir::Hidden),
        QStringList {"last-session.json"});
    QCOMPARE(readAll(file).toStdString(), statesFileText(storedSession(17)));
}

void TestSessionKeeper::signalWithNoStatesFileNamed()
{
    // Started as from the desktop, with no states file: it runs (its running
    // mark is there) until the signal, and ends cleanly.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess program;
    startProgram(program, home.path(), QString(), 0);
    QVERIFY(program.waitForStarted(60000));
    const QString mark = home.filePath("data/CS/" + QFileInfo(SessionKeeper::runningMarkPath()).fileName());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(mark), 120000);
    QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(mark));
}

void TestSessionKeeper::signalClosesTheQuestion()
{
    // A session left by a run that did not end normally: the real program
    // asks about it, and a SIGTERM comes while it asks.
    QVERIFY(QDir().mkpath(m_dir.filePath("data/CS")));
    const QByteArray left = QByteArray::fromStdString(statesFileText(storedSession(12)));
    {
        QFile mark(SessionKeeper::runningMarkPath());
        QVERIFY(mark.open(QIODevice::WriteOnly));
        QFile copy(SessionKeeper::unclosedSessionPath());
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(left);
    }
    QProcess program;
    startProgram(program, m_dir.path(), m_dir.filePath("asked.json"), 15);
    QVERIFY(program.waitForStarted(60000));
    // Asking when the copy has gone aside.
    const auto aside = [this] {
        const QStringList files = dataFiles().filter("discarded-session-");
        return files.size() == 1 ? m_dir.filePath("data/CS/" + files[0]) : QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!aside().isEmpty(), 120000);
    QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // The question closed as Discard: the session left stays aside, nothing
    // else was opened or kept, the mark is gone.
    QCOMPARE(readAll(aside()), left);
    QCOMPARE(dataFiles(), QStringList {QFileInfo(aside()).fileName()});
}

void TestSessionKeeper::oneStatesFileAtMost_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::newRow("two") << QStringList {"a.json", "b.json"};
    QTest::newRow("three, after a toolkit option")
        << QStringList {"-platform", "offscreen", "a.json", "b.json", "c.json"};
}

void TestSessionKeeper::oneStatesFileAtMost()
{
    QFETCH(QStringList, files);
    QProcess program;
    program.start(QStringLiteral(CLEFTSIM_BINARY_DIR "/src/app/cleftsim"), files);
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    QVERIFY2(program.readAllStandardError().contains("cleftsim: one states file at most, not "),
        "the refusal says why");
    QVERIFY(dataFiles().isEmpty());
}

void TestSessionKeeper::killedProgramIsOfferedBack_data()
{
    QTest::addColumn<bool>("restore");
    QTest::newRow("Restore") << true;
    QTest::newRow("Discard") << false;
}

void TestSessionKeeper::killedProgramIsOfferedBack()
{
    QFETCH(bool, restore);
    // The real program, killed once its copy holds the stored state; the
    // same data folder as this test's window set.
    QProcess program;
    startProgram(program, m_dir.path(), m_dir.filePath("killed.json"), 19);
    QVERIFY(program.waitForStarted(60000));
    const QString copy = SessionKeeper::unclosedSessionPath();
    QTRY_VERIFY_WITH_TIMEOUT(statesIn(copy).size() == 2, 120000);
    const QByteArray left = readAll(copy);
    program.kill();
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::CrashExit);
    QCOMPARE(dataFiles(), (QStringList {"session.lock", "unclosed-session.json"}));

    m_restore = restore;
    QCOMPARE(m_main->sessionKeeper()->start(), restore);
    QCOMPARE(m_questions.size(), 1);
    QVERIFY2(m_questions[0].startsWith("Cleftsim did not close normally. Restore the session as it was at "),
        qPrintable(m_questions[0]));
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(model().StoredCount, restore ? 1 : 0);
    QCOMPARE(model().LPC.N, restore ? 19 : DefaultParameterSet.N);
    QCOMPARE(m_main->listBox()->count(), restore ? 2 : 1);
    QVERIFY(m_main->sessionFile().isEmpty());
    const QStringList files = dataFiles();
    if (restore) {
        // The running session's copy again; nothing kept aside.
        QCOMPARE(files, (QStringList {"session.lock", "unclosed-session.json"}));
        QCOMPARE(statesIn(copy).size(), std::size_t(2));
    } else {
        // Kept aside, byte for byte, beside the last session.
        QCOMPARE(files.size(), 2);
        QVERIFY2(
            files[0].startsWith("discarded-session-") && files[0].endsWith(".json"), qPrintable(files[0]));
        QCOMPARE(files[1], QStringLiteral("session.lock"));
        QCOMPARE(readAll(m_dir.filePath("data/CS/" + files[0])), left);
    }
    // A normal end takes the mark and the copy away.
    QVERIFY(m_main->close());
    QCOMPARE(dataFiles().contains("session.lock"), false);
    QCOMPARE(dataFiles().contains("unclosed-session.json"), false);
    QCOMPARE(dataFiles().contains("last-session.json"), restore);
}

void TestSessionKeeper::questionOnlyAfterAnUncleanEnd_data()
{
    QTest::addColumn<bool>("markLeft"); // the mark of a run that did not end normally
    QTest::addColumn<bool>("copyLeft"); // the copy of its session
    QTest::addColumn<bool>("asked");
    QTest::newRow("both left") << true << true << true;
    QTest::newRow("mark only: nothing to restore") << true << false << false;
    QTest::newRow("copy only") << false << true << false;
    QTest::newRow("neither") << false << false << false;
}

void TestSessionKeeper::questionOnlyAfterAnUncleanEnd()
{
    QFETCH(bool, markLeft);
    QFETCH(bool, copyLeft);
    QFETCH(bool, asked);
    QVERIFY(QDir().mkpath(m_dir.filePath("data/CS")));
    if (markLeft) {
        QFile mark(SessionKeeper::runningMarkPath());
        QVERIFY(mark.open(QIODevice::WriteOnly));
    }
    if (copyLeft) {
        QFile copy(SessionKeeper::unclosedSessionPath());
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(QByteArray::fromStdString(statesFileText(storedSession(11))));
    }
    QCOMPARE(m_main->sessionKeeper()->start(), asked);
    QVERIFY(m_main->sessionKeeper()->running());
    QCOMPARE(m_questions.size(), int(asked));
    QCOMPARE(model().StoredCount, int(asked));
    QVERIFY(m_errors.isEmpty());
}

void TestSessionKeeper::restoreAndDiscard_data()
{
    QTest::addColumn<bool>("restore");
    QTest::addColumn<bool>("edited"); // an edit not stored after the Store
    QTest::newRow("Restore") << true << false;
    QTest::newRow("Restore, with an edit") << true << true;
    QTest::newRow("Discard") << false << false;
}

void TestSessionKeeper::restoreAndDiscard()
{
    QFETCH(bool, restore);
    QFETCH(bool, edited);
    // A run stores a state, its copy is written, and it ends without its end.
    QVERIFY(!m_main->sessionKeeper()->start());
    QVERIFY(m_questions.isEmpty());
    storeState(12);
    if (edited)
        restoreScheme(14, 1.25, -63);
    const ModelState before = model();
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->sessionKeeper()->changePending(), 60000);
    QCOMPARE(statesIn(SessionKeeper::unclosedSessionPath()).size(), std::size_t(2));
    crash();

    init();
    m_restore = restore;
    QCOMPARE(m_main->sessionKeeper()->start(), restore);
    QCOMPARE(m_questions.size(), 1);
    const ModelState &m = model();
    if (restore) {
        QVERIFY(m.StoredStates == before.StoredStates);
        QVERIFY(m.LPI == before.LPI);
        QVERIFY(m.LPC == before.LPC);
        QCOMPARE(m_main->listBox()->item(1)->text(), QStringLiteral("1: 0>n12"));
    } else {
        QCOMPARE(m.StoredCount, 0);
        QVERIFY(m.LPC == DefaultParameterSet);
    }
    // Asked once: the next start after a normal end asks nothing.
    QVERIFY(m_main->close());
    crash();
    init();
    QVERIFY(!m_main->sessionKeeper()->start());
    QVERIFY(m_questions.isEmpty());
    QVERIFY(m_main->close());
}

void TestSessionKeeper::everyChangeIsWrittenSoon_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("stored"); // in the copy
    QTest::addColumn<int>("n"); // the current set's n in the copy
    QTest::newRow("an edit") << "edit" << 0 << 13;
    QTest::newRow("a Store") << "store" << 1 << 13;
    QTest::newRow("a Restore") << "restore" << 1 << 10;
    QTest::newRow("an opened states file") << "open" << 1 << 14;
    QTest::newRow("back to the default set") << "default" << -1 << 0;
}

void TestSessionKeeper::everyChangeIsWrittenSoon()
{
    QFETCH(QString, change);
    QFETCH(int, stored);
    QFETCH(int, n);
    SessionKeeper *keeper = m_main->sessionKeeper();
    QVERIFY(!keeper->start());
    const QString copy = SessionKeeper::unclosedSessionPath();
    // Before the change the copy holds an earlier state (or none).
    if (change == "restore" || change == "default") {
        storeState(13);
        QVERIFY(keeper->writeUnclosedSession());
        QVERIFY(QFileInfo::exists(copy));
    }
    const QByteArray earlier = readAll(copy);
    QVERIFY(!keeper->changePending());
    if (change == "edit") {
        restoreScheme(13, 0.50, -63);
    } else if (change == "store") {
        storeState(13);
    } else if (change == "restore") {
        m_main->listBox()->setCurrentRow(0);
        m_main->RestoreBtnClick();
    } else if (change == "open") {
        const QString file = m_dir.filePath("opened.json");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(statesFileText(storedSession(14))));
        f.close();
        QVERIFY(m_main->openStates(file));
    } else {
        // Stored states back to none: the set is the default, nothing to keep.
        const QString file = m_dir.filePath("default.json");
        StatesSession none;
        none.states = {DefaultParameterSet};
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(statesFileText(none)));
        f.close();
        QVERIFY(m_main->openStates(file));
    }
    // Not at once: a moment later, with what came with it.
    QVERIFY(keeper->changePending());
    QCOMPARE(readAll(copy), earlier);
    QTRY_VERIFY_WITH_TIMEOUT(!keeper->changePending(), 60000);
    if (stored < 0) {
        QVERIFY(!QFileInfo::exists(copy));
        return;
    }
    StatesSession session;
    QVERIFY(readStatesFile(QFile::encodeName(copy).toStdString(), session, nullptr));
    QCOMPARE(int(session.states.size()) - 1, stored);
    QCOMPARE(session.current ? session.current->N : session.states[std::size_t(session.initial)].N, n);
    QVERIFY(m_errors.isEmpty());
}

void TestSessionKeeper::anotherProgramKeepsItsOwn()
{
    // Another program holds the mark (its lock), with its copy.
    QVERIFY(QDir().mkpath(m_dir.filePath("data/CS")));
    const QByteArray others = QByteArray::fromStdString(statesFileText(storedSession(16)));
    {
        QFile copy(SessionKeeper::unclosedSessionPath());
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(others);
    }
    const int fd
        = ::open(QFile::encodeName(SessionKeeper::runningMarkPath()).constData(), O_RDWR | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    SessionKeeper *keeper = m_main->sessionKeeper();
    QVERIFY(!keeper->start());
    QVERIFY(!keeper->running());
    QVERIFY(m_questions.isEmpty());
    // Its copy is not written over; the end keeps the last session as before.
    storeState(13);
    QVERIFY(!keeper->changePending());
    QVERIFY(!keeper->writeUnclosedSession());
    QVERIFY(m_main->close());
    QCOMPARE(readAll(SessionKeeper::unclosedSessionPath()), others);
    QVERIFY(QFileInfo::exists(SessionKeeper::runningMarkPath()));
    QCOMPARE(statesIn(SessionKeeper::lastSessionPath()).size(), std::size_t(2));
    ::close(fd);
    // Once it has gone, the mark is this program's.
    crash();
    init();
    QVERIFY(m_main->sessionKeeper()->start());
    QVERIFY(m_main->sessionKeeper()->running());
    QCOMPARE(model().LPC.N, 16);
}

void TestSessionKeeper::recoveryBoxWordsAndButtons()
{
    // The real question: Restore and Discard, naming where Discard keeps it.
    QVERIFY(QDir().mkpath(m_dir.filePath("data/CS")));
    {
        QFile mark(SessionKeeper::runningMarkPath());
        QVERIFY(mark.open(QIODevice::WriteOnly));
        QFile copy(SessionKeeper::unclosedSessionPath());
        QVERIFY(copy.open(QIODevice::WriteOnly));
        copy.write(QByteArray::fromStdString(statesFileText(storedSession(18))));
    }
    const QDateTime kept = QFileInfo(SessionKeeper::unclosedSessionPath()).lastModified();
    m_main->sessionKeeper()->setRecoveryAsker(nullptr);
    QString text;
    QString informative;
    QStringList buttons;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !text.isEmpty())
            return;
        text = box->text();
        informative = box->informativeText();
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        box->defaultButton()->click();
    });
    answerer.start(20);
    QVERIFY(m_main->sessionKeeper()->start());
    answerer.stop();
    QCOMPARE(text,
        "Cleftsim did not close normally. Restore the session as it was at "
            + kept.toString("yyyy-MM-dd HH:mm:ss") + "?");
    buttons.sort();
    QCOMPARE(buttons, (QStringList {"&Discard", "&Restore"}));
    QVERIFY2(informative.startsWith("Discard keeps it as discarded-session-")
            && informative.endsWith(" beside last-session.json."),
        qPrintable(informative));
    QCOMPARE(model().LPC.N, 18); // the default button restores
}

void TestSessionKeeper::lastSessionAtTheEnd_data()
{
    QTest::addColumn<QString>("session");
    QTest::addColumn<int>("states"); // in the last session; 0: the earlier one stays
    QTest::addColumn<int>("n"); // the current set's n there
    QTest::newRow("the default set alone") << "default" << 0 << 0;
    QTest::newRow("an edit not stored") << "edit" << 1 << 15;
    QTest::newRow("a state stored") << "store" << 2 << 15;
    QTest::newRow("a state stored, the default restored") << "restore" << 2 << 10;
}

void TestSessionKeeper::lastSessionAtTheEnd()
{
    QFETCH(QString, session);
    QFETCH(int, states);
    QFETCH(int, n);
    QVERIFY(QDir().mkpath(m_dir.filePath("data/CS")));
    const QByteArray earlier = QByteArray::fromStdString(statesFileText(storedSession(9)));
    {
        QFile last(SessionKeeper::lastSessionPath());
        QVERIFY(last.open(QIODevice::WriteOnly));
        last.write(earlier);
    }
    QVERIFY(!m_main->sessionKeeper()->start());
    if (session == "edit")
        restoreScheme(15, 0.50, -63);
    if (session == "store" || session == "restore")
        storeState(15);
    if (session == "restore") {
        m_main->listBox()->setCurrentRow(0);
        m_main->RestoreBtnClick();
    }
    QVERIFY(m_main->close());
    QVERIFY(m_errors.isEmpty());
    QCOMPARE(dataFiles(), QStringList {"last-session.json"});
    if (states == 0) {
        QCOMPARE(readAll(SessionKeeper::lastSessionPath()), earlier);
        return;
    }
    StatesSession kept;
    QVERIFY(readStatesFile(QFile::encodeName(SessionKeeper::lastSessionPath()).toStdString(), kept, nullptr));
    QCOMPARE(int(kept.states.size()), states);
    QCOMPARE(kept.current ? kept.current->N : kept.states[std::size_t(kept.initial)].N, n);
}

QTEST_MAIN(TestSessionKeeper)
#include "tst_sessionkeeper.moc"
