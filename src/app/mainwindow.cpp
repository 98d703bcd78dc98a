#include "app/mainwindow.h"

#include "app/aboutbox.h"
#include "app/parameterpanel.h"
#include "app/seedsmenu.h"
#include "app/sessionkeeper.h"
#include "app/storedstateslist.h"
#include "app/tutorialbox.h"
#include "app/windowmenu.h"
#include "drawing/canvas.h"
#include "experiments/fitwindow.h"
#include "experiments/measuredoverlay.h"
#include "model/parameterset.h"
#include "model/storedstates.h"
#include "run/statesfile.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QUndoStack>

namespace cleftsim {

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_files(this)
{
    setObjectName(QStringLiteral("csMainForm"));
    setWindowTitle(QStringLiteral("Cleftsim"));
    setFont(uiFont(13));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);

    m_frame = new QMdiArea(client);
    m_frame->setObjectName(QStringLiteral("MdiArea"));
    m_frame->setGeometry(139, 0, ClientWidth - 139, ClientHeight);
    m_frame->setBackground(QColor(128, 128, 128)); // the classic application workspace
    m_frame->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frame->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_keeper = new SessionKeeper(this);
    m_panel = new ParameterPanel(client, ClientHeight, this);
    m_states = new StoredStatesList(m_panel->frame(), this);
    connect(m_states, &StoredStatesList::storeClicked, this, &MainWindow::StoreBtnClick);
    connect(m_states, &StoredStatesList::restoreClicked, this, &MainWindow::RestoreBtnClick);
    buildMenu();

    m_showError = [this](const QString &message) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), message);
    };

    // FormCreate: the initial model state and the first entry of the list.
    ModelState &m = model();
    m.LPI = DefaultParameterSet;
    m.StoredStates[0] = DefaultParameterSet;
    NewLPC();
    m_states->add(QString::fromStdString(m.LPC.Name));

    setFixedSize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());

    // Each accepted change shows in its row, red if it differs from LPI.
    connect(&modelChanges(), &ModelChanges::parameterChanged, this, [this](Param f) {
        for (Param row : rowsShowing(f))
            showParameter(row);
        showSessionState();
    });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    // The states of a session kept in a file; not part of the original
    // menu, so it comes first and leaves the other menus as they were.
    buildFileMenu();

    // Undo and Redo of a fit's Apply and of a Restore, from every window.
    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    QAction *undo = parameterUndo().createUndoAction(this, QStringLiteral("&Undo"));
    undo->setObjectName(QStringLiteral("Undo1"));
    undo->setShortcut(QKeySequence::Undo);
    QAction *redo = parameterUndo().createRedoAction(this, QStringLiteral("&Redo"));
    redo->setObjectName(QStringLiteral("Redo1"));
    redo->setShortcut(QKeySequence::Redo);
    for (QAction *a : {undo, redo}) {
        a->setShortcutContext(Qt::ApplicationShortcut);
        edit->addAction(a);
    }
    setSnapshotApplier([this](const ParameterSnapshot &snapshot) { applySnapshot(snapshot); });

    m_windows = new WindowMenu(bar, m_frame, this);

    m_helpMenu = bar->addMenu(QStringLiteral("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("Help"));
    QAction *tutorial = m_helpMenu->addAction(QStringLiteral("&Tutorial"), this, &MainWindow::Tutorial1Click);
    tutorial->setObjectName(QStringLiteral("Tutorial1"));
    QAction *about = m_helpMenu->addAction(QStringLiteral("&About"), this, &MainWindow::csAboutClick);
    about->setObjectName(QStringLiteral("csAbout"));
    // F1 drops down the Help menu.
    auto *f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setObjectName(QStringLiteral("HelpShortcut"));
    connect(
        f1, &QShortcut::activated, this, [this] { menuBar()->setActiveAction(m_helpMenu->menuAction()); });
}

void MainWindow::buildFileMenu()
{
    QMenuBar *bar = menuBar();
    m_fileMenu = bar->addMenu(QStringLiteral("&File"));
    m_fileMenu->setObjectName(QStringLiteral("File1"));
    QAction *open
        = m_fileMenu->addAction(QStringLiteral("&Open States..."), this, &MainWindow::OpenStatesClick);
    open->setObjectName(QStringLiteral("OpenStates1"));
    QAction *save
        = m_fileMenu->addAction(QStringLiteral("&Save States..."), this, &MainWindow::SaveStatesClick);
    save->setObjectName(QStringLiteral("SaveStates1"));
    // From every window of the frame, as Quit.
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    for (QAction *a : {open, save})
        a->setShortcutContext(Qt::ApplicationShortcut);
    m_reopen = m_fileMenu->addAction(
        QStringLiteral("&Reopen Last Session"), this, &MainWindow::ReopenLastSessionClick);
    m_reopen->setObjectName(QStringLiteral("ReopenLastSession1"));
    connect(m_fileMenu, &QMenu::aboutToShow, this,
        [this] { m_reopen->setEnabled(QFileInfo::exists(lastSessionPath())); });
    // Where the experiments' Runs take their seeds: the clock, as always, or
    // a seed the user fixes to repeat a figure or its batch command.
    m_fileMenu->addSeparator();
    m_seeds = new SeedsMenu(m_fileMenu, this, [this](const QString &message) {
        if (m_showError)
            m_showError(message);
    });
    m_fileMenu->addSeparator();
    QAction *quit = m_fileMenu->addAction(QStringLiteral("&Quit"), this, &MainWindow::close);
    quit->setObjectName(QStringLiteral("Quit1"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // also where the desktop names none
    quit->setShortcutContext(Qt::ApplicationShortcut);
}

void MainWindow::ClockSeedsClick()
{
    m_seeds->ClockSeedsClick();
}

void MainWindow::FixedSeedClick()
{
    m_seeds->FixedSeedClick();
}

void MainWindow::chooseSeeds(bool fixed, std::uint32_t seed)
{
    m_seeds->chooseSeeds(fixed, seed);
}

void MainWindow::setSeedAsker(std::function<std::optional<std::uint32_t>(std::uint32_t shown)> asker)
{
    m_seeds->setSeedAsker(std::move(asker));
}

QListWidget *MainWindow::listBox() const
{
    return m_states->listBox();
}

void MainWindow::openEditor(int index)
{
    if (ChildWindow *form = windows().forms[index])
        form->showAndRaise();
}

void MainWindow::GroupBox0Click()
{
    openEditor(0);
}

void MainWindow::GroupBox1Click()
{
    openEditor(1);
}

void MainWindow::GroupBox2Click()
{
    openEditor(2);
}

void MainWindow::GroupBox3Click()
{
    openEditor(3);
}

void MainWindow::Tile1Click()
{
    m_windows->Tile1Click();
}

void MainWindow::Cascade1Click()
{
    m_windows->Cascade1Click();
}

QMenu *MainWindow::windowMenu() const
{
    return m_windows->menu();
}

void MainWindow::createDialogs()
{
    if (!m_aboutBox)
        m_aboutBox = new AboutBox(this);
    if (!m_tutorialBox)
        m_tutorialBox = new TutorialBox(this);
}

void MainWindow::Tutorial1Click()
{
    createDialogs();
    m_tutorialBox->exec();
}

void MainWindow::csAboutClick()
{
    createDialogs();
    m_aboutBox->centreOnScreen();
    m_aboutBox->exec();
}

void MainWindow::showParameter(Param f)
{
    m_panel->showParameter(f);
}

void MainWindow::LPI2LPC()
{
    model().setCurrent(model().LPI);
}

void MainWindow::LPC2LPI()
{
    model().LPI = model().LPC;
}

void MainWindow::NewLPC()
{
    LPI2LPC();
    m_panel->writeAll();
}

void MainWindow::BlackParameterLabels()
{
    m_panel->blackLabels();
}

bool MainWindow::Store()
{
    ModelState &m = model();
    switch (storeCurrentState(m)) {
    case StoreOutcome::Unchanged: return true;
    case StoreOutcome::TableFull:
        if (m_showError)
            m_showError(QStringLiteral("Range check error"));
        return false;
    case StoreOutcome::Stored: break;
    }
    const QString name = QString::fromStdString(m.LPC.Name);
    m_states->add(name);
    m_panel->setInitialName(name);
    BlackParameterLabels();
    showSessionState();
    return true;
}

void MainWindow::StoreBtnClick()
{
    Store();
}

void MainWindow::ListBox1Click()
{
    m_states->showSelection();
}

// Brings back the selected state: it becomes the initial and the current set,
// then every editor control is written with its value, so that each editor's
// own change handling runs (previews, derived values, cleared figures). The
// switch comes first: its reset of Gb is undone by the later write of Gb.
void MainWindow::RestoreBtnClick()
{
    ModelState &m = model();
    const int row = m_states->chosenRow();
    const ParameterSnapshot before = currentSnapshot();
    {
        ParameterChangeScope scope;
        if (!cleftsim::restoreState(m, row))
            return;
        NewLPC();
        BlackParameterLabels();
        restoreEditors();
        showSessionState();
    }
    recordParameterChange(QStringLiteral("Restore %1").arg(QString::fromStdString(m.LPI.Name)), before);
}

// Puts back the parameters of an entry of Edit > Undo: the initial set as a
// Restore makes it, with its entry of the list selected, then the current set
// through the editors.
void MainWindow::applySnapshot(const ParameterSnapshot &snapshot)
{
    model().LPI = snapshot.initial;
    NewLPC();
    BlackParameterLabels();
    restoreEditors();
    for (EditorLink *editor : windows().editors)
        if (editor)
            editor->restoreFrom(snapshot.current);
    m_states->select(QString::fromStdString(snapshot.initial.Name));
    showSessionState();
}

void MainWindow::restoreEditors()
{
    const ParameterSet s = model().LPI;
    for (EditorLink *editor : windows().editors) {
        if (editor)
            editor->restoreFrom(s);
    }
}

void MainWindow::SaveStatesClick()
{
    saveStatesAsked();
}

bool MainWindow::saveStatesAsked()
{
    const QString path = m_files.askSavePath();
    return !path.isEmpty() && saveStates(path);
}

void MainWindow::OpenStatesClick()
{
    const QString path = m_files.askOpenPath();
    if (!path.isEmpty())
        openStates(path);
}

bool MainWindow::ReopenLastSessionClick()
{
    return openSession(lastSessionPath(), false);
}

QString MainWindow::lastSessionPath()
{
    return SessionKeeper::lastSessionPath();
}

bool MainWindow::sessionChanged() const
{
    return m_files.changed();
}

void MainWindow::showSessionState()
{
    m_keeper->noteChange();
    const QString file = m_files.sessionFile();
    if (file.isEmpty()) {
        setWindowModified(false);
        setWindowTitle(QStringLiteral("Cleftsim"));
        return;
    }
    setWindowTitle(QStringLiteral("Cleftsim - %1[*]").arg(QFileInfo(file).fileName()));
    setWindowModified(sessionChanged());
}

bool MainWindow::keepSession()
{
    return m_keeper->keepSession();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_keeper->mayEnd()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::saveStates(const QString &path)
{
    QString error;
    if (m_files.save(path, &error)) {
        showSessionState();
        return true;
    }
    if (m_showError)
        m_showError(error);
    return false;
}

bool MainWindow::openStates(const QString &path)
{
    return openSession(path, true);
}

bool MainWindow::openSession(const QString &path, bool fromFile)
{
    StatesSession session;
    QString refusal;
    if (!m_files.read(path, session, &refusal)) {
        if (m_showError)
            m_showError(refusal);
        return false;
    }
    if (!m_files.confirmReplace(path))
        return false;
    takeSession(session);
    if (fromFile)
        m_files.belongTo(path);
    else
        m_files.belongToNone();
    showSessionState();
    return true;
}

void MainWindow::takeSession(const StatesSession &session)
{
    ModelState &m = model();
    replaceStoredStates(m, session.states);
    m_files.keep(session);
    restoreRecording(session);
    m_states->fill(session.states);
    cleftsim::restoreState(m, session.initial);
    NewLPC();
    BlackParameterLabels();
    restoreEditors();
    // The edits the file kept come back through the editors, as typed, and
    // show red against the initial state.
    if (session.current) {
        for (EditorLink *editor : windows().editors) {
            if (editor)
                editor->restoreFrom(*session.current);
        }
    }
}

} // namespace cleftsim
