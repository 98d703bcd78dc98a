#pragma once

#include "run/statesfile.h"

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace cleftsim {

// The states files of the main window's session: the file the session came
// from or was last saved to, the one the dialogs propose, the text the
// session had there, and the members of the file opened last that this
// version does not know (written back by every save). Reading, writing and
// the questions around them; what a session read does to the model is the
// main window's.
class SessionFiles {
public:
    // The dialogs and questions are windows of `dialogParent`.
    explicit SessionFiles(QWidget *dialogParent);

    // The states file the session belongs to (empty when none).
    QString sessionFile() const { return m_sessionFile; }
    // The text a states file of the session has now.
    std::string sessionText() const;
    // Whether the session belongs to a file and has changed since it was
    // read from or written to it.
    bool changed() const;

    // Asks for the file to save to, proposing the one last opened or saved;
    // a name without an extension gets ".json". Empty for a cancel.
    QString askSavePath() const;
    // Asks for the file to open. Empty for a cancel.
    QString askOpenPath() const;
    // Writes the session to path safely; the session then belongs to it.
    // Returns false, with the system's reason in `error`, when it cannot.
    bool save(const QString &path, QString *error);
    // Reads a states file (a regular file only: a named pipe would never
    // end, a device would be read as if it were a file). Returns false, with
    // the message that refuses it in `refusal`, when it is no states file.
    bool read(const QString &path, StatesSession &session, QString *refusal) const;
    // Asks, when stored states other than "0: default" or edits not stored
    // would be lost, whether the states of the file at path replace them.
    bool confirmReplace(const QString &path) const;
    // Takes the members of a session read that this version does not know.
    void keep(const StatesSession &session) { m_kept = session.kept; }
    // The session belongs to the file at path, as it is now.
    void belongTo(const QString &path);
    // The session belongs to no file.
    void belongToNone();

    // Replaces the file dialogs: gets whether a file is to be saved, returns
    // the chosen path or an empty text for a cancel.
    void setChooser(std::function<QString(bool save)> chooser) { m_chooseStatesFile = std::move(chooser); }
    // Replaces the question asked before stored states are replaced.
    void setConfirmer(std::function<bool(const QString &question)> confirmer)
    {
        m_confirm = std::move(confirmer);
    }

private:
    // The file the dialogs propose: the last opened or saved, at first
    // "states.json" in the documents folder; in the home folder when the
    // folder is not there.
    QString proposedStatesFile() const;
    // The Save States or Open States dialog at the proposed file; the path
    // chosen, empty for a cancel.
    QString askInDialog(bool save) const;

    QWidget *m_dialogParent;
    QString m_lastStatesFile;
    QString m_sessionFile;
    std::string m_sessionFileText;
    KeptMembers m_kept;
    std::function<QString(bool)> m_chooseStatesFile;
    std::function<bool(const QString &)> m_confirm;
};

} // namespace cleftsim
