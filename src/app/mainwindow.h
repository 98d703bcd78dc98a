#pragma once

#include "app/sessionfiles.h"
#include "run/statesfile.h"
#include "widgets/parameterundo.h"
#include "widgets/windowset.h"

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QListWidget;
class QMdiArea;
class QMenu;

namespace cleftsim {

class AboutBox;
class ParameterPanel;
class SeedsMenu;
class SessionKeeper;
class StoredStatesList;
class TutorialBox;
class WindowMenu;

// The frame of all child windows with the panel of the model state (csMainForm).
class MainWindow : public QMainWindow, public MainWindowLink {
    Q_OBJECT
public:
    // Size of the client area below the menu [pixels].
    static constexpr int ClientWidth = 1016;
    static constexpr int ClientHeight = 694;

    // Sets up the model state (LPI, slot 0, LPC) and shows it in the panel.
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Writes the row of field f from LPC and colours it red if it differs from
    // LPI, black if not. For BackgroundOn: the configuration label's text and
    // colour and the visibility of the Gb row.
    void showParameter(Param f);
    bool Store() override;
    QMdiArea *frame() override { return m_frame; }

    // Copies one parameter set onto the other.
    void LPI2LPC();
    void LPC2LPI();
    // LPI2LPC, then writes every row of the panel from LPC and Label01v from LPI.
    void NewLPC();
    // Sets every parameter row and the configuration label black.
    void BlackParameterLabels();

    void StoreBtnClick();
    void RestoreBtnClick();
    void ListBox1Click();
    // Show the editor window and bring it to the front.
    void GroupBox0Click();
    void GroupBox1Click();
    void GroupBox2Click();
    void GroupBox3Click();
    void Tile1Click();
    void Cascade1Click();
    void Tutorial1Click();
    void csAboutClick();

    // "Save States..." (Ctrl+S) and "Open States..." (Ctrl+O) of the File
    // menu: ask for a file, proposing the one last opened or saved (at first
    // "states.json" in the documents folder), then saveStates or openStates.
    // A name saved without an extension gets ".json", which the Open dialog's
    // filter shows. "Quit" (Ctrl+Q) closes the main window and with it the
    // program.
    void SaveStatesClick();
    void OpenStatesClick();
    // "Reopen Last Session" of the File menu: opens the session kept when
    // the program last ended, as openStates does. The session then belongs
    // to no states file.
    bool ReopenLastSessionClick();
    // Where the session is kept when the program ends (SessionKeeper).
    static QString lastSessionPath();
    // Writes the session to lastSessionPath (SessionKeeper::keepSession).
    bool keepSession();
    // What keeps the session, however the program ends.
    SessionKeeper *sessionKeeper() const { return m_keeper; }
    // The states file the session came from or was last saved to (empty
    // when none), and whether the session has changed since.
    QString sessionFile() const { return m_files.sessionFile(); }
    bool sessionChanged() const;
    // Writes every stored state, which one is initial and the current
    // parameters when they differ from it to a states file. Returns false,
    // with a message naming the file and the system's reason, when it cannot
    // be written.
    bool saveStates(const QString &path);
    // Reads a states file and, after a confirmation when stored states other
    // than "0: default" or edits not stored would be lost, makes its states
    // the list and restores its initial state through the editors, then the
    // current parameters it kept, if any. A file that is not a valid states
    // file is refused with a message naming the problem; a refusal or a
    // cancel changes nothing. Returns whether the states were taken.
    bool openStates(const QString &path);
    // Replaces the file dialogs of the File menu: gets whether a file is to
    // be saved, returns the chosen path or an empty text for a cancel.
    void setStatesFileChooser(std::function<QString(bool save)> chooser)
    {
        m_files.setChooser(std::move(chooser));
    }
    // Replaces the question asked before stored states are replaced.
    void setConfirmer(std::function<bool(const QString &question)> confirmer)
    {
        m_files.setConfirmer(std::move(confirmer));
    }

    // "Seeds from the Clock" and "Fixed Seed..." of the File menu: where the
    // experiment windows' Runs take their seeds. The second asks for the seed.
    void ClockSeedsClick();
    void FixedSeedClick();
    // A text that is no seed is refused with what is accepted, and asked again.
    // Makes the Runs seed from the clock (fixed false) or from seed.
    void chooseSeeds(bool fixed, std::uint32_t seed = 0);
    // Replaces the question for the fixed seed: gets the seed shown, returns
    // the seed chosen or nothing for a cancel.
    void setSeedAsker(std::function<std::optional<std::uint32_t>(std::uint32_t shown)> asker);

    // Creates the About and Tutorial windows (hidden until asked for).
    void createDialogs();
    AboutBox *aboutBox() const { return m_aboutBox; }
    TutorialBox *tutorialBox() const { return m_tutorialBox; }

    // How a run-time error (the full table of stored states) is shown. By
    // default an error box titled with the application title.
    using ErrorPresenter = std::function<void(const QString &message)>;
    void setErrorPresenter(ErrorPresenter presenter) { m_showError = std::move(presenter); }

    QListWidget *listBox() const;
    QMenu *windowMenu() const;
    QMenu *helpMenu() const { return m_helpMenu; }
    QMenu *fileMenu() const { return m_fileMenu; }

protected:
    // File > Quit, Ctrl+Q and the close button: the program ends when the
    // session keeper lets it (SessionKeeper::mayEnd).
    void closeEvent(QCloseEvent *event) override;

private:
    friend class SessionKeeper;
    // Asks for a file and saves the states there; whether they were saved.
    bool saveStatesAsked();
    // Reads a states file into the session (see openStates); fromFile tells
    // whether the session then belongs to that file.
    bool openSession(const QString &path, bool fromFile);
    // The text a states file of the session has now.
    std::string sessionText() const { return m_files.sessionText(); }
    // The caption: "Cleftsim", with the session file's name and the mark of
    // changes not saved while the session belongs to one; the change goes to
    // the session keeper.
    void showSessionState();
    // Makes the states of a session read the list, its initial state the
    // initial and current one, then the edits it kept the current ones.
    void takeSession(const StatesSession &session);

    void buildMenu();
    void buildFileMenu();
    void openEditor(int index);
    // Writes the editors with the values of LPI, as a restore does.
    void restoreEditors();
    void applySnapshot(const ParameterSnapshot &snapshot);

    QMdiArea *m_frame = nullptr;
    ParameterPanel *m_panel = nullptr;
    StoredStatesList *m_states = nullptr;
    SessionFiles m_files;
    SeedsMenu *m_seeds = nullptr;
    WindowMenu *m_windows = nullptr;
    QMenu *m_helpMenu = nullptr;
    QMenu *m_fileMenu = nullptr;
    QAction *m_reopen = nullptr;
    AboutBox *m_aboutBox = nullptr;
    TutorialBox *m_tutorialBox = nullptr;
    ErrorPresenter m_showError;
    SessionKeeper *m_keeper = nullptr;
};

} // namespace cleftsim
