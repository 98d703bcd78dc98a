#include "app/mainwindow.h"

#include "app/aboutbox.h"
#include "app/sessionkeeper.h"
#include "app/tutorialbox.h"
#include "drawing/canvas.h"
#include "experiments/fitwindow.h"
#include "experiments/measuredoverlay.h"
#include "model/parameterset.h"
#include "model/parametertable.h"
#include "model/rounding.h"
#include "model/storedstates.h"
#include "run/statesfile.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"
#include "widgets/savefile.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QUndoStack>

namespace cleftsim {

namespace {

// Dynamic property that tells which editor window a click on a panel control opens.
const char *const EditorProperty = "cleftsimEditor";

// Height of the subscript labels beside the parameter names [pixels].
constexpr int SubscriptHeight = 10;

void setTextColour(QWidget *w, const QColor &c)
{
    if (!w)
        return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    w->setPalette(pal);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
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
    buildPanel();
    buildMenu();

    m_showError = [this](const QString &message) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), message);
    };

    // FormCreate: the initial model state and the first entry of the list.
    ModelState &m = model();
    m.LPI = DefaultParameterSet;
    m.StoredStates[0] = DefaultParameterSet;
    NewLPC();
    m_listBox->addItem(QString::fromStdString(m.LPC.Name));
    m_listBox->item(0)->setSizeHint(QSize(m_listBox->width() - 4, 16));

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
    auto *seeds = new QActionGroup(this);
    m_clockSeeds
        = m_fileMenu->addAction(QStringLiteral("Seeds from the &Clock"), this, &MainWindow::ClockSeedsClick);
    m_clockSeeds->setObjectName(QStringLiteral("ClockSeeds1"));
    m_fixedSeed = m_fileMenu->addAction(QStringLiteral("Fi&xed Seed..."), this, &MainWindow::FixedSeedClick);
    m_fixedSeed->setObjectName(QStringLiteral("FixedSeed1"));
    for (QAction *a : {m_clockSeeds, m_fixedSeed}) {
        a->setCheckable(true);
        seeds->addAction(a);
    }
    chooseSeeds(seedChoice().fixed, seedChoice().seed);
    m_fileMenu->addSeparator();
    QAction *quit = m_fileMenu->addAction(QStringLiteral("&Quit"), this, &MainWindow::close);
    quit->setObjectName(QStringLiteral("Quit1"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // also where the desktop names none
    quit->setShortcutContext(Qt::ApplicationShortcut);

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

    m_windowMenu = bar->addMenu(QStringLiteral("&Window"));
    m_windowMenu->setObjectName(QStringLiteral("Window1"));
    connect(m_windowMenu, &QMenu::aboutToShow, this, &MainWindow::fillWindowMenu);
    fillWindowMenu();

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

void MainWindow::ClockSeedsClick()
{
    chooseSeeds(false, seedChoice().seed);
}

void MainWindow::FixedSeedClick()
{
    const std::uint32_t shown = seedChoice().seed;
    std::optional<std::uint32_t> seed;
    if (m_askSeed) {
        seed = m_askSeed(shown);
    } else {
        QInputDialog dialog(this);
        dialog.setWindowTitle(QApplication::applicationDisplayName());
        dialog.setLabelText(
            QStringLiteral("Seed of the next Runs, 0 to 4294967295\n"
                           "(Records trial r of a figure takes a seed mixed from it and r):"));
        dialog.setTextValue(QString::number(shown));
        // What is typed stays as typed: a text that is no seed is refused as
        // a whole, with what is accepted, and shown again to be mended.
        while (dialog.exec() == QDialog::Accepted) {
            const QString text = dialog.textValue().trimmed();
            bool ok = !text.isEmpty() && text.size() <= 10;
            for (const QChar c : text)
                ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
            const qulonglong value = ok ? text.toULongLong(&ok) : 0;
            if (ok && value <= 0xFFFFFFFFull) {
                seed = static_cast<std::uint32_t>(value);
                break;
            }
            // Says what it takes before it asks again.
            if (m_showError)
                m_showError(QStringLiteral("%1 is not a seed: accepted 0 to 4294967295 (a whole number "
                                           "of at most 10 digits).")
                                .arg(dialog.textValue().isEmpty() ? QStringLiteral("An empty text")
                                                                  : dialog.textValue()));
        }
    }
    // A cancel leaves the choice as it was.
    chooseSeeds(seed ? true : seedChoice().fixed, seed ? *seed : shown);
}

void MainWindow::chooseSeeds(bool fixed, std::uint32_t seed)
{
    seedChoice() = SeedChoice {fixed, seed};
    m_clockSeeds->setChecked(!fixed);
    m_fixedSeed->setChecked(fixed);
    m_fixedSeed->setText(
        fixed ? QStringLiteral("Fi&xed Seed (%1)...").arg(seed) : QStringLiteral("Fi&xed Seed..."));
}

// The Window menu: Tile, Cascade and one entry per window of the frame, the
// active one checked. Rebuilt each time it opens, since copies come and go.
void MainWindow::fillWindowMenu()
{
    m_windowMenu->clear();
    QAction *tile = m_windowMenu->addAction(QStringLiteral("Tile"), this, &MainWindow::Tile1Click);
    tile->setObjectName(QStringLiteral("Tile1"));
    QAction *cascade = m_windowMenu->addAction(QStringLiteral("Cascade"), this, &MainWindow::Cascade1Click);
    cascade->setObjectName(QStringLiteral("Cascade1"));
    QMdiSubWindow *active = m_frame->activeSubWindow();
    // The Fit window has its one entry below the list, checked while active.
    QList<QMdiSubWindow *> subs = m_frame->subWindowList(QMdiArea::CreationOrder);
    const bool fitActive = active && fitWindow() && active->widget() == fitWindow();
    subs.removeIf([](QMdiSubWindow *sub) { return fitWindow() && sub->widget() == fitWindow(); });
    const auto addFit = [this, fitActive] {
        m_windowMenu->addSeparator();
        QAction *fit
            = m_windowMenu->addAction(QStringLiteral("Fit to Measured Data"), this, [] { showFitWindow(); });
        fit->setObjectName(QStringLiteral("FitToMeasuredData"));
        fit->setCheckable(true);
        fit->setChecked(fitActive);
    };
    if (subs.isEmpty()) {
        addFit();
        return;
    }
    m_windowMenu->addSeparator();
    int number = 1;
    for (QMdiSubWindow *sub : subs) {
        QString title = sub->widget() ? sub->widget()->windowTitle() : sub->windowTitle();
        if (number <= 9)
            title = QStringLiteral("&%1 %2").arg(number).arg(title);
        ++number;
        QAction *entry = m_windowMenu->addAction(title);
        entry->setCheckable(true);
        entry->setChecked(sub == active);
        QPointer<QMdiSubWindow> target(sub);
        connect(entry, &QAction::triggered, this, [this, target] {
            if (!target)
                return;
            if (auto *form = qobject_cast<ChildWindow *>(target->widget())) {
                form->showAndRaise();
                return;
            }
            if (target->isMinimized())
                target->showNormal();
            target->show();
            target->raise();
            m_frame->setActiveSubWindow(target);
        });
    }
    addFit();
}

QLabel *MainWindow::addLabel(
    QWidget *parent, const QString &objectName, const QString &text, int x, int y, bool bold, int pixelHeight)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setFont(uiFont(pixelHeight, bold));
    label->move(x, y);
    label->adjustSize();
    setTextColour(label, colors::Black);
    return label;
}

void MainWindow::addRow(Param f, QWidget *parent, const QString &number, const QString &name, QPoint namePos,
    const QString &sub, QPoint subPos, QPoint valuePos)
{
    Row &r = row(f);
    const QString base = QStringLiteral("Label") + number;
    r.name = addLabel(parent, base, name, namePos.x(), namePos.y());
    if (!sub.isEmpty())
        r.sub
            = addLabel(parent, base + QLatin1Char('s'), sub, subPos.x(), subPos.y(), false, SubscriptHeight);
    r.value = addLabel(parent, base + QLatin1Char('v'), QString(), valuePos.x(), valuePos.y());
    // The subscript sits above the name's padding blanks.
    if (r.sub)
        r.sub->raise();
}

MainWindow::Row &MainWindow::row(Param f)
{
    return m_rows[static_cast<int>(f)];
}

void MainWindow::buildPanel()
{
    QWidget *client = centralWidget();
    m_panel1 = new QFrame(client);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_panel1->setLineWidth(1);
    m_panel1->setGeometry(0, 0, 139, ClientHeight);
    m_panel1->setAutoFillBackground(true);

    auto *panel2 = new QFrame(m_panel1);
    panel2->setObjectName(QStringLiteral("Panel2"));
    panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel2->setLineWidth(1);
    panel2->setGeometry(4, 4, 131, 40);
    addLabel(panel2, QStringLiteral("Label01"), QStringLiteral("Initial State:"), 4, 4, true);
    m_label01v = addLabel(panel2, QStringLiteral("Label01v"), QString(), 4, 20);
    m_label01v->setAlignment(Qt::AlignRight | Qt::AlignTop);
    m_label01v->setGeometry(4, 20, 123, 16);

    addLabel(m_panel1, QStringLiteral("Label02"), QStringLiteral("Current State:"), 6, 52, true);
    m_label03 = addLabel(m_panel1, QStringLiteral("Label03"), QStringLiteral("Basic Configuration"), 8, 72);
    m_label03->setProperty(EditorProperty, 0);

    addRow(
        Param::N, m_panel1, QStringLiteral("04"), QStringLiteral("n ="), {8, 126}, QString(), {}, {28, 126});
    addRow(Param::Rg, m_panel1, QStringLiteral("05"), QStringLiteral("R   ="), {8, 142}, QStringLiteral("g"),
        {18, 145}, {37, 142});
    addRow(Param::V2, m_panel1, QStringLiteral("06"), QStringLiteral("V   ="), {8, 160}, QStringLiteral("2"),
        {18, 164}, {37, 160});

    auto *group2 = new QGroupBox(QStringLiteral("Presynaptic"), m_panel1);
    group2->setObjectName(QStringLiteral("GroupBox2"));
    group2->setGeometry(2, 180, 134, 108);
    group2->setProperty(EditorProperty, 2);
    addRow(Param::Emax, group2, QStringLiteral("07"), QStringLiteral("E         ="), {8, 18},
        QStringLiteral("max"), {17, 21}, {55, 18});
    addRow(Param::V1r, group2, QStringLiteral("08"), QStringLiteral("V    ="), {8, 36}, QStringLiteral("1r"),
        {16, 40}, {40, 36});
    addRow(Param::du, group2, QStringLiteral("09"), QStringLiteral("duration ="), {8, 54}, QString(), {},
        {70, 54});
    addRow(Param::ex, group2, QStringLiteral("10"), QStringLiteral("exponent ="), {8, 70}, QString(), {},
        {76, 70});
    addRow(Param::gf, group2, QStringLiteral("11"), QStringLiteral("norm factor ="), {8, 86}, QString(), {},
        {88, 86});

    auto *group3 = new QGroupBox(QStringLiteral("Subsynaptic"), m_panel1);
    group3->setObjectName(QStringLiteral("GroupBox3"));
    group3->setGeometry(2, 292, 134, 89);
    group3->setProperty(EditorProperty, 3);
    addRow(Param::Gmax, group3, QStringLiteral("12"), QStringLiteral("G         ="), {8, 18},
        QStringLiteral("max"), {18, 21}, {56, 18});
    addRow(Param::tc, group3, QStringLiteral("13"), QStringLiteral("time constant ="), {8, 36}, QString(), {},
        {66, 50});
    addRow(Param::Gb, group3, QStringLiteral("14"), QStringLiteral("G   ="), {8, 66}, QStringLiteral("b"),
        {18, 69}, {38, 66});

    // Which window a click on each row opens: Scheme Settings for the rows
    // outside the groups, the group's window inside them.
    for (int i = static_cast<int>(Param::N); i <= static_cast<int>(Param::Gb); ++i) {
        const Row &r = m_rows[i];
        const int editor = i <= static_cast<int>(Param::V2) ? 1 : i <= static_cast<int>(Param::gf) ? 2 : 3;
        for (QLabel *label : {r.name, r.sub, r.value}) {
            if (label)
                label->setProperty(EditorProperty, editor);
        }
    }
    for (QObject *o : m_panel1->findChildren<QWidget *>()) {
        if (o->property(EditorProperty).isValid())
            o->installEventFilter(this);
    }

    addLabel(m_panel1, QStringLiteral("Label1"), QStringLiteral("Stored States:"), 6, 396, true);
    m_listBox = new QListWidget(m_panel1);
    m_listBox->setObjectName(QStringLiteral("ListBox1"));
    m_listBox->setGeometry(3, 416, 132, 100);
    m_listBox->setUniformItemSizes(true);
    m_listBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the user's selection of an entry counts: the list makes its first
    // entry current, without selecting it, when it gains the focus otherwise.
    connect(m_listBox, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_listBox->selectedItems().isEmpty())
            ListBox1Click();
    });

    m_restoreBtn = new QPushButton(QStringLiteral("Restore"), m_panel1);
    m_restoreBtn->setObjectName(QStringLiteral("RestoreBtn"));
    m_restoreBtn->setGeometry(4, 532, 60, 20);
    m_restoreBtn->setEnabled(false);
    connect(m_restoreBtn, &QPushButton::clicked, this, &MainWindow::RestoreBtnClick);
    m_label20 = addLabel(m_panel1, QStringLiteral("Label20"), QStringLiteral("default"), 68, 534);

    m_storeBtn = new QPushButton(QStringLiteral("Store"), m_panel1);
    m_storeBtn->setObjectName(QStringLiteral("StoreBtn"));
    m_storeBtn->setGeometry(4, 554, 60, 20);
    connect(m_storeBtn, &QPushButton::clicked, this, &MainWindow::StoreBtnClick);
    addLabel(m_panel1, QStringLiteral("Label21"), QStringLiteral("current"), 68, 556);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QVariant editor = watched->property(EditorProperty);
    if (editor.isValid()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
            return true; // keep the mouse, so that the release comes here
        if (event->type() == QEvent::MouseButtonRelease) {
            auto *me = static_cast<QMouseEvent *>(event);
            auto *w = qobject_cast<QWidget *>(watched);
            if (me->button() == Qt::LeftButton && w && w->rect().contains(me->position().toPoint()))
                openEditor(editor.toInt());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
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
    m_frame->tileSubWindows();
    keepWindowsInFrame();
}

void MainWindow::Cascade1Click()
{
    m_frame->cascadeSubWindows();
    keepWindowsInFrame();
}

// The frame has no scroll bars: the toolkit's tiling turns them on when the
// fixed-size windows do not fit their tiles, so they are turned off again and
// every open window is moved back inside the frame as far as its size allows.
void MainWindow::keepWindowsInFrame()
{
    m_frame->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_frame->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QRect area(QPoint(0, 0), m_frame->contentsRect().size());
    for (QMdiSubWindow *sub : m_frame->subWindowList()) {
        if (sub->isMinimized() || !sub->isVisible())
            continue;
        const QPoint p(std::max(0, std::min(sub->x(), area.width() - sub->width())),
            std::max(0, std::min(sub->y(), area.height() - sub->height())));
        sub->move(p);
    }
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

void MainWindow::writeRow(Param f)
{
    const ParameterSet &c = model().LPC;
    Row &r = row(f);
    if (!r.value)
        return;
    // The value with the decimals it is edited with, then its unit.
    const ParamInfo &info = paramInfo(f);
    QString text = QString::fromStdString(formatFixed(fieldValue(c, f), info.decimals));
    if (*info.unit)
        text += QLatin1Char(' ') + QLatin1String(info.unit);
    r.value->setText(text);
    r.value->adjustSize();
}

void MainWindow::colourRow(Param f, bool differs)
{
    const QColor c = differs ? colors::Red : colors::Black;
    if (f == Param::BackgroundOn) {
        setTextColour(m_label03, c);
        return;
    }
    Row &r = row(f);
    setTextColour(r.name, c);
    setTextColour(r.sub, c);
    setTextColour(r.value, c);
}

// The configuration label's text and the Gb row follow the switch of LPC.
void MainWindow::writeConfiguration()
{
    const bool on = model().LPC.BackgroundOn == 1;
    m_label03->setText(on ? QStringLiteral("Background Conduct") : QStringLiteral("Basic Configuration"));
    m_label03->adjustSize();
    Row &gb = row(Param::Gb);
    for (QLabel *label : {gb.name, gb.sub, gb.value})
        label->setVisible(on);
}

void MainWindow::showParameter(Param f)
{
    const ModelState &m = model();
    if (f == Param::BackgroundOn)
        writeConfiguration();
    else
        writeRow(f);
    colourRow(f, fieldValue(m.LPC, f) != fieldValue(m.LPI, f));
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
    for (int i = static_cast<int>(Param::N); i <= static_cast<int>(Param::Gb); ++i)
        writeRow(static_cast<Param>(i));
    writeConfiguration();
    m_label01v->setText(QString::fromStdString(model().LPI.Name));
}

void MainWindow::BlackParameterLabels()
{
    for (int i = static_cast<int>(Param::BackgroundOn); i <= static_cast<int>(Param::Gb); ++i)
        colourRow(static_cast<Param>(i), false);
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
    m_listBox->addItem(name);
    m_listBox->item(m_listBox->count() - 1)->setSizeHint(QSize(m_listBox->width() - 4, 16));
    m_label01v->setText(name);
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
    const QList<QListWidgetItem *> selected = m_listBox->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem *item = selected.constFirst();
    m_restoreBtn->setEnabled(true);
    m_label20->setText(item->text());
    m_label20->adjustSize();
}

// Brings back the selected state: it becomes the initial and the current set,
// then every editor control is written with its value, so that each editor's
// own change handling runs (previews, derived values, cleared figures). The
// switch comes first: its reset of Gb is undone by the later write of Gb.
void MainWindow::RestoreBtnClick()
{
    ModelState &m = model();
    // The entry that Label20 names: the selected one, or the last one selected.
    const QList<QListWidgetItem *> selected = m_listBox->selectedItems();
    const int row = selected.isEmpty() ? m_listBox->currentRow() : m_listBox->row(selected.constFirst());
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
    const auto items = m_listBox->findItems(QString::fromStdString(snapshot.initial.Name), Qt::MatchExactly);
    if (!items.isEmpty()) {
        m_listBox->setCurrentItem(items.constFirst());
        ListBox1Click();
    }
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

namespace {

const QString StatesFilter = QStringLiteral("Cleftsim states (*.json);;All files (*)");

} // namespace

QString MainWindow::proposedStatesFile() const
{
    if (!m_lastStatesFile.isEmpty())
        return existingFolderOrHome(m_lastStatesFile);
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return existingFolderOrHome(
        QDir(documents.isEmpty() ? QDir::homePath() : documents).filePath(QStringLiteral("states.json")));
}

void MainWindow::SaveStatesClick()
{
    saveStatesAsked();
}

bool MainWindow::saveStatesAsked()
{
    QString path;
    if (m_chooseStatesFile) {
        path = m_chooseStatesFile(true);
    } else {
        const QString proposed = proposedStatesFile();
        QFileDialog dialog(
            this, QStringLiteral("Save States"), QFileInfo(proposed).absolutePath(), StatesFilter);
        dialog.setObjectName(QStringLiteral("SaveStatesDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("json"));
        dialog.selectFile(proposed);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return false;
    // A name without an extension gets the one the Open dialog's filter shows.
    if (QFileInfo(path).suffix().isEmpty())
        path += path.endsWith(QLatin1Char('.')) ? QStringLiteral("json") : QStringLiteral(".json");
    return saveStates(path);
}

void MainWindow::OpenStatesClick()
{
    QString path;
    if (m_chooseStatesFile) {
        path = m_chooseStatesFile(false);
    } else {
        const QString proposed = proposedStatesFile();
        QFileDialog dialog(
            this, QStringLiteral("Open States"), QFileInfo(proposed).absolutePath(), StatesFilter);
        dialog.setObjectName(QStringLiteral("OpenStatesDialog"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (QFileInfo::exists(proposed))
            dialog.selectFile(proposed);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return;
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

std::string MainWindow::sessionText() const
{
    StatesSession session = sessionOf(model());
    session.kept = m_kept;
    keepRecording(session);
    return statesFileText(session);
}

bool MainWindow::sessionChanged() const
{
    return !m_sessionFile.isEmpty() && sessionText() != m_sessionFileText;
}

void MainWindow::showSessionState()
{
    m_keeper->noteChange();
    if (m_sessionFile.isEmpty()) {
        setWindowModified(false);
        setWindowTitle(QStringLiteral("Cleftsim"));
        return;
    }
    setWindowTitle(QStringLiteral("Cleftsim - %1[*]").arg(QFileInfo(m_sessionFile).fileName()));
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
    const std::string text = sessionText();
    QString error;
    if (saveFileAtomically(path, QByteArray::fromStdString(text), &error)) {
        m_lastStatesFile = QFileInfo(path).absoluteFilePath();
        m_sessionFile = m_lastStatesFile;
        m_sessionFileText = text;
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
    // Only a regular file is read: a named pipe would never end, a device
    // would be read as if it were a file.
    if (const QString refused = notRegularFile(path); !refused.isEmpty()) {
        if (m_showError)
            m_showError(QStringLiteral("%1 is not opened: %2").arg(QFileInfo(path).fileName(), refused));
        return false;
    }
    StatesSession session;
    RunProblem problem;
    if (!readStatesFile(QFile::encodeName(path).toStdString(), session, &problem)) {
        if (m_showError)
            m_showError(QStringLiteral("%1 is not opened: %2")
                            .arg(QFileInfo(path).fileName(), QString::fromStdString(problem.text())));
        return false;
    }
    ModelState &m = model();
    // Asks before what is lost: stored states and edits not stored.
    const bool edited = !sameModel(m.LPC, m.LPI);
    if (m.StoredCount > 0 || edited) {
        const QString lost = m.StoredCount == 0
            ? QStringLiteral("the current parameters, which are not stored")
            : edited ? QStringLiteral("the stored states other than \"0: default\" and the current "
                                      "parameters, which are not stored")
                     : QStringLiteral("the stored states other than \"0: default\"");
        const QString question
            = QStringLiteral("Opening %1 replaces %2. Replace them?").arg(QFileInfo(path).fileName(), lost);
        const bool go = m_confirm
            ? m_confirm(question)
            : QMessageBox::question(this, QApplication::applicationDisplayName(), question)
                == QMessageBox::Yes;
        if (!go)
            return false;
    }
    replaceStoredStates(m, session.states);
    m_kept = session.kept;
    restoreRecording(session);
    m_listBox->clear();
    for (const ParameterSet &state : session.states) {
        m_listBox->addItem(QString::fromStdString(state.Name));
        m_listBox->item(m_listBox->count() - 1)->setSizeHint(QSize(m_listBox->width() - 4, 16));
    }
    m_restoreBtn->setEnabled(false);
    m_label20->setText(QStringLiteral("default"));
    m_label20->adjustSize();
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
    if (fromFile) {
        m_lastStatesFile = QFileInfo(path).absoluteFilePath();
        m_sessionFile = m_lastStatesFile;
        m_sessionFileText = sessionText();
    } else {
        m_sessionFile.clear();
        m_sessionFileText.clear();
    }
    showSessionState();
    return true;
}

} // namespace cleftsim
