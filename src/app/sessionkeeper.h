#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace cleftsim {

class MainWindow;
class RunningMark;

// Keeps the session of the main window from being lost, however the program
// ends: the last session written at every end, a copy of the session written
// a moment after every change while the program runs, the question at the
// next start when the program did not close normally, the question before
// quitting with changes to the session's states file not saved, and the end
// on SIGTERM, SIGHUP and SIGINT as Quit without a question.
class SessionKeeper : public QObject {
    Q_OBJECT
public:
    // How long after a change of state the copy of the running session is
    // written [milliseconds]. Later changes within that time go with it.
    static constexpr int WriteDelay = 1000;

    explicit SessionKeeper(MainWindow *main);
    ~SessionKeeper() override;

    // "last-session.json" in the user's data folder: the session kept when
    // the program last ended.
    static QString lastSessionPath();
    // "unclosed-session.json" beside it: the running session, while it
    // differs from the default set; removed when the program ends normally.
    static QString unclosedSessionPath();
    // "session.lock" beside it: the mark of a running program.
    static QString runningMarkPath();

    // The start of the program: marks it as running and, when the session of
    // a program that did not close normally is left, asks whether to restore
    // it (Restore opens it, Discard keeps it as "discarded-session-<time>.json"
    // beside the last session). From then on every change of state is kept
    // in unclosedSessionPath within WriteDelay. Without the mark (another
    // Cleftsim runs with the same data folder) the session is kept at the
    // end only. Returns whether the session was restored.
    bool start();
    // Whether start took the mark.
    bool running() const;

    // A change of the session's state: the copy is written WriteDelay after
    // the first change not yet written.
    void noteChange();
    // Whether a change waits to be written.
    bool changePending() const;
    // Writes the running session now (removes the copy for a session of
    // nothing but the default set). Returns whether it is kept.
    bool writeUnclosedSession();

    // Writes the session to lastSessionPath, safely; a session of nothing
    // but the default set leaves an earlier one there. Returns false, with
    // the message shown, when it cannot be written.
    bool keepSession();

    // The end of the program from File > Quit, Ctrl+Q, the close button or a
    // signal: asks "Save the states before quitting?" when the session's
    // states file has changes not saved (not when a signal ends it); Save
    // writes the states file it names, Discard ends without writing it,
    // Cancel or a save that fails keeps the program running. Returns whether the program may end; when it
    // may, the session is kept, the copy removed and the mark taken away.
    bool mayEnd();

    // Replaces the recovery question of start: gets its text, returns true
    // for Restore.
    void setRecoveryAsker(std::function<bool(const QString &question)> asker)
    {
        m_askRecovery = std::move(asker);
    }

    // SIGTERM, SIGHUP and SIGINT end the program from its event loop: open
    // dialogs are closed, the session is kept as at File > Quit, with no
    // question, and the program ends with status 0. The handlers only write
    // the signal's number to a pipe the event loop watches.
    void watchEndSignals();
    // The end by signal itself, as the event loop runs it.
    void endBySignal(int signal);
    // Whether a signal ended the program.
    bool endedBySignal() const { return m_endingBySignal; }

    // The question of a start after an unclean end.
    static QString recoveryQuestion(const QDateTime &kept);

private:
    void showError(const QString &message);
    // Nothing to keep: the default set alone, not edited.
    static bool nothingToKeep();

    MainWindow *m_main;
    QTimer *m_writeTimer;
    std::unique_ptr<RunningMark> m_mark;
    QSocketNotifier *m_notifier = nullptr;
    bool m_endingBySignal = false;
    std::function<bool(const QString &)> m_askRecovery;
};

} // namespace cleftsim
