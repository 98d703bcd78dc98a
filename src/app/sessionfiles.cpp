#include "app/sessionfiles.h"

#include "experiments/fitwindow.h"
#include "model/storedstates.h"
#include "widgets/currentmodel.h"
#include "widgets/savefile.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

namespace cleftsim {

namespace {

const QString StatesFilter = QStringLiteral("Cleftsim states (*.json);;All files (*)");

} // namespace

SessionFiles::SessionFiles(QWidget *dialogParent)
    : m_dialogParent(dialogParent)
{
}

std::string SessionFiles::sessionText() const
{
    StatesSession session = sessionOf(model());
    session.kept = m_kept;
    keepRecording(session);
    return statesFileText(session);
}

bool SessionFiles::changed() const
{
    return !m_sessionFile.isEmpty() && sessionText() != m_sessionFileText;
}

QString SessionFiles::proposedStatesFile() const
{
    if (!m_lastStatesFile.isEmpty())
        return existingFolderOrHome(m_lastStatesFile);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return existingFolderOrHome(
        QDir(documents.isEmpty() ? QDir::homePath() : documents).filePath(QStringLiteral("states.json")));
}

QString SessionFiles::askSavePath() const
{
    QString path;
    if (m_chooseStatesFile) {
        path = m_chooseStatesFile(true);
    } else {
        path = askInDialog(true);
    }
    if (path.isEmpty())
        return path;
    // A name without an extension gets the one the Open dialog's filter shows.
    if (QFileInfo(path).suffix().isEmpty())
        path += path.endsWith(QLatin1Char('.')) ? QStringLiteral("json") : QStringLiteral(".json");
    return path;
}

QString SessionFiles::askOpenPath() const
{
    if (m_chooseStatesFile)
        return m_chooseStatesFile(false);
    return askInDialog(false);
}

QString SessionFiles::askInDialog(bool save) const
{
    const QString proposed = proposedStatesFile();
    QFileDialog dialog(m_dialogParent, save ? QStringLiteral("Save States") : QStringLiteral("Open States"),
        QFileInfo(proposed).absolutePath(), StatesFilter);
    if (save) {
        dialog.setObjectName(QStringLiteral("SaveStatesDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("json"));
        dialog.selectFile(proposed);
    } else {
        dialog.setObjectName(QStringLiteral("OpenStatesDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (QFileInfo::exists(proposed))
            dialog.selectFile(proposed);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        return dialog.selectedFiles().constFirst();
    return QString();
}

bool SessionFiles::save(const QString &path, QString *error)
{
    const std::string text = sessionText();
    if (!saveFileAtomically(path, QByteArray::fromStdString(text), error))
        return false;
    m_lastStatesFile = QFileInfo(path).absoluteFilePath();
    m_sessionFile = m_lastStatesFile;
    m_sessionFileText = text;
    return true;
}

bool SessionFiles::read(const QString &path, StatesSession &session, QString *refusal) const
{
    if (const QString refused = notRegularFile(path); !refused.isEmpty()) {
        *refusal = QStringLiteral("%1 is not opened: %2").arg(QFileInfo(path).fileName(), refused);
        return false;
    }
    RunProblem problem;
    if (!readStatesFile(QFile::encodeName(path).toStdString(), session, &problem)) {
        *refusal = QStringLiteral("%1 is not opened: %2")
                       .arg(QFileInfo(path).fileName(), QString::fromStdString(problem.text()));
        return false;
    }
    return true;
}

bool SessionFiles::confirmReplace(const QString &path) const
{
    const ModelState &m = model();
    // Asks before what is lost: stored states and edits not stored.
    const bool edited = !sameModel(m.LPC, m.LPI);
    if (!(m.StoredCount > 0 || edited))
        return true;
    const QString lost = m.StoredCount == 0 ? QStringLiteral("the current parameters, which are not stored")
        : edited ? QStringLiteral("the stored states other than \"0: default\" and the current "
                                  "parameters, which are not stored")
                 : QStringLiteral("the stored states other than \"0: default\"");
    const QString question
        = QStringLiteral("Opening %1 replaces %2. Replace them?").arg(QFileInfo(path).fileName(), lost);
    return m_confirm ? m_confirm(question)
                     : QMessageBox::question(m_dialogParent, QApplication::applicationDisplayName(), question)
            == QMessageBox::Yes;
}

void SessionFiles::belongTo(const QString &path)
{
    m_lastStatesFile = QFileInfo(path).absoluteFilePath();
    m_sessionFile = m_lastStatesFile;
    m_sessionFileText = sessionText();
}

void SessionFiles::belongToNone()
{
    m_sessionFile.clear();
    m_sessionFileText.clear();
}

} // namespace cleftsim
