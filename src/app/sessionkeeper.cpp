#include "app/sessionkeeper.h"

#include "app/mainwindow.h"
#include "experiments/measuredoverlay.h"
#include "model/parameterset.h"
#include "widgets/currentmodel.h"
#include "widgets/savefile.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace cleftsim {

namespace {

// The signals that end the program as Quit does.
constexpr int EndSignals[] = {SIGTERM, SIGHUP, SIGINT};

#ifdef Q_OS_UNIX
// The pipe from the signal handler to the event loop: [0] read, [1] write.
int signalPipe[2] = {-1, -1};

// Only what is safe inside a signal handler: one byte to a pipe that never
// blocks, errno as it was.
extern "C" void onEndSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
#endif

QString dataFolderFile(const QString &name)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(name);
}

} // namespace

// The mark of a running program: a file held under an exclusive lock for as
// long as the program runs. The system lets the lock go with the process,
// however it ends; only a normal end removes the file. A mark found without
// its lock is that of a program that did not close normally.
class RunningMark {
public:
    explicit RunningMark(const QString &path)
        : m_path(path)
    {
#ifdef Q_OS_UNIX
        m_left = QFileInfo::exists(path);
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(m_fd); // another Cleftsim runs
            m_fd = -1;
        }
#endif
    }
    ~RunningMark()
    {
        release(false);
    }
    RunningMark(const RunningMark &) = delete;
    RunningMark &operator=(const RunningMark &) = delete;

    bool held() const
    {
        return m_fd >= 0;
    }
    // Whether the mark was there, not held, when this one was taken.
    bool leftBehind() const
    {
        return held() && m_left;
    }
    // Lets the mark go; a normal end removes it.
    void release(bool normalEnd)
    {
#ifdef Q_OS_UNIX
        if (m_fd < 0)
            return;
        if (normalEnd)
            QFile::remove(m_path);
        ::close(m_fd);
        m_fd = -1;
#else
        (void)normalEnd;
#endif
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_left = false;
};

SessionKeeper::SessionKeeper(MainWindow *main)
    : QObject(main)
    , m_main(main)
    , m_writeTimer(new QTimer(this))
{
    m_writeTimer->setSingleShot(true);
    m_writeTimer->setInterval(WriteDelay);
    connect(m_writeTimer, &QTimer::timeout, this, &SessionKeeper::writeUnclosedSession);
    // A recording loaded or cleared is a change of the session too.
    connect(&measuredData(), &MeasuredDataStore::changed, this, &SessionKeeper::noteChange);
}

SessionKeeper::~SessionKeeper()
{
#ifdef Q_OS_UNIX
    if (m_notifier) {
        for (const int signal : EndSignals)
            std::signal(signal, SIG_DFL);
    }
#endif
}

QString SessionKeeper::lastSessionPath()
{
    return dataFolderFile(QStringLiteral("last-session.json"));
}

QString SessionKeeper::unclosedSessionPath()
{
    return dataFolderFile(QStringLiteral("unclosed-session.json"));
}

QString SessionKeeper::runningMarkPath()
{
    return dataFolderFile(QStringLiteral("session.lock"));
}

bool SessionKeeper::nothingToKeep()
{
    const ModelState &m = model();
    // A recording loaded is kept too, with the fit to it.
    return m.StoredCount == 0 && m.LPI == DefaultParameterSet && sameModel(m.LPC, m.LPI)
        && !measuredData().data();
}

bool SessionKeeper::running() const
{
    return m_mark && m_mark->held();
}

QString SessionKeeper::recoveryQuestion(const QDateTime &kept)
{
    return QStringLiteral("Cleftsim did not close normally. Restore the session as it was at %1?")
        .arg(kept.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

bool SessionKeeper::start()
{
    const QString unclosed = unclosedSessionPath();
    QDir().mkpath(QFileInfo(unclosed).absolutePath());
    m_mark = std::make_unique<RunningMark>(runningMarkPath());
    if (!m_mark->leftBehind() || !QFileInfo::exists(unclosed))
        return false;
    const QDateTime kept = QFileInfo(unclosed).lastModified();
    // It goes aside first, beside the last session and named by its time,
    // so that nothing this program writes meanwhile replaces it; Discard
    // leaves it there.
    const QString stamp = kept.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = dataFolderFile(QStringLiteral("discarded-session-%1.json").arg(stamp));
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = dataFolderFile(QStringLiteral("discarded-session-%1-%2.json").arg(stamp).arg(n));
    if (!QFile::rename(unclosed, aside)) {
        showError(
            saveFailure(aside, QStringLiteral("the session left by the last run could not be moved there")));
        return false;
    }
    const QString question = recoveryQuestion(kept);
    bool restore = false;
    if (m_askRecovery) {
        restore = m_askRecovery(question);
    } else {
        QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), question,
            QMessageBox::NoButton, m_main);
        box.setObjectName(QStringLiteral("RestoreUnclosedSession"));
        QPushButton *restoreButton = box.addButton(QStringLiteral("&Restore"), QMessageBox::AcceptRole);
        QPushButton *discardButton = box.addButton(QStringLiteral("&Discard"), QMessageBox::RejectRole);
        box.setDefaultButton(restoreButton);
        box.setEscapeButton(discardButton);
        box.setInformativeText(
            QStringLiteral("Discard keeps it as %1 beside %2.")
                .arg(QFileInfo(aside).fileName(), QFileInfo(lastSessionPath()).fileName()));
        box.exec();
        restore = box.clickedButton() == restoreButton;
    }
    // A file that cannot be opened stays aside as well.
    if (!restore || !m_main->openSession(aside, false))
        return false;
    // Restored, it is the running session's copy again.
    if (writeUnclosedSession())
        QFile::remove(aside);
    return true;
}

void SessionKeeper::noteChange()
{
    if (running() && !m_writeTimer->isActive())
        m_writeTimer->start();
}

bool SessionKeeper::changePending() const
{
    return m_writeTimer->isActive();
}

bool SessionKeeper::writeUnclosedSession()
{
    m_writeTimer->stop();
    if (!running())
        return false;
    const QString path = unclosedSessionPath();
    // Nothing worth a question at the next start.
    if (nothingToKeep())
        return !QFileInfo::exists(path) || QFile::remove(path);
    QString error;
    if (saveFileAtomically(path, QByteArray::fromStdString(m_main->sessionText()), &error))
        return true;
    // Said once on the terminal: a box every second would stop the work.
    std::fprintf(stderr, "cleftsim: %s\n", qPrintable(error));
    return false;
}

bool SessionKeeper::keepSession()
{
    // Nothing to keep: an earlier session stays to be reopened.
    if (nothingToKeep())
        return true;
    const QString path = lastSessionPath();
    QString error;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        error = saveFailure(path, QStringLiteral("its folder could not be made"));
    else if (saveFileAtomically(path, QByteArray::fromStdString(m_main->sessionText()), &error))
        return true;
    showError(error);
    return false;
}

void SessionKeeper::showError(const QString &message)
{
    if (m_endingBySignal)
        std::fprintf(stderr, "cleftsim: %s\n", qPrintable(message));
    else if (m_main->m_showError)
        m_main->m_showError(message);
}

bool SessionKeeper::mayEnd()
{
    if (!m_endingBySignal && m_main->sessionChanged()) {
        const QString file = m_main->sessionFile();
        QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(),
            QStringLiteral("Save the states before quitting?"),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_main);
        box.setObjectName(QStringLiteral("SaveBeforeQuitting"));
        box.setInformativeText(
            QStringLiteral("%1 has changed since it was opened or saved.").arg(QFileInfo(file).fileName()));
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        if (answer != QMessageBox::Save && answer != QMessageBox::Discard)
            return false;
        // Save writes the file the question names (a changed session always
        // has one), as Save States does.
        if (answer == QMessageBox::Save && !m_main->saveStates(file))
            return false;
    }
    const bool kept = keepSession();
    if (running()) {
        if (kept) {
            m_writeTimer->stop();
            QFile::remove(unclosedSessionPath());
        } else {
            // The copy stays, up to date, with the mark: the next start offers it.
            writeUnclosedSession();
        }
        m_mark->release(kept);
    }
    return true;
}

void SessionKeeper::watchEndSignals()
{
#ifdef Q_OS_UNIX
    if (m_notifier)
        return;
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("cleftsim: the signals cannot be watched");
        return;
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        int first = 0;
        while (::read(signalPipe[0], &byte, 1) == 1)
            if (first == 0)
                first = byte;
        if (first != 0)
            endBySignal(first);
    });
    struct sigaction action { };
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : EndSignals)
        ::sigaction(signal, &action, nullptr);
#endif
}

void SessionKeeper::endBySignal(int signal)
{
    (void)signal; // every one of them ends the program the same way
    if (m_endingBySignal)
        return;
    m_endingBySignal = true;
    // A second signal ends the program at once, should this end hang.
    for (const int s : EndSignals)
        std::signal(s, SIG_DFL);
    // The open menus and dialogs go as a cancel would take them.
    for (int tries = 0; QApplication::activePopupWidget() && tries < 16; ++tries)
        QApplication::activePopupWidget()->close();
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
    }
    // The session as it is now, kept as File > Quit keeps it; then every
    // event loop ends, a dialog's as well, and none starts again.
    mayEnd();
    QCoreApplication::exit(0);
}

} // namespace cleftsim
