#include "app/aboutbox.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/tutorialbox.h"
#include "drawing/canvas.h"
#include "editors/schemewindow.h"
#include "experiments/fitwindow.h"
#include "experiments/histogramswindow.h"
#include "experiments/isvwindow.h"
#include "experiments/recordswindow.h"
#include "model/parametertable.h"
#include "model/rounding.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"
#include "widgets/figureview.h"

#include <QtTest>

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <clocale>

using namespace cleftsim;

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void panelAtStart();
    void panelUsesFullStopUnderCommaLocale();
    void frameGeometryAndMenus();
    void rowTurnsRedAndBlackAgainst_data();
    void rowTurnsRedAndBlackAgainst();
    void backgroundRowFollowsSwitch();
    void windowsHearAChangeInTheirOrder_data();
    void windowsHearAChangeInTheirOrder();
    void clickOpensEditor_data();
    void clickOpensEditor();
    void windowMenuListsAndActivates();
    void storeWithNothingChangedAddsNothing();
    void storeAppendsNamesAndBlackensRows();
    void sixteenthStoreIsRefused();
    void fullTableErrorBox();
    void listClickEnablesRestore();
    void restoreBringsBackStateAndBlackRows();
    void helpMenuShowsDialogsModally();
    void f1OpensHelpMenu();
    void ctrlQQuits();

private:
    // The left panel; the other windows have controls of the same names.
    QWidget *panel1() const;
    QLabel *label(const char *name) const;
    QString text(const char *name) const { return label(name)->text(); }
    QColor colour(const char *name) const { return label(name)->palette().color(QPalette::WindowText); }
    // Does what an editor does when it accepts a value.
    static void edit(Param f, double value);

    std::unique_ptr<MainWindow> m_main;
    QStringList m_errors;
};

void TestMainWindow::initTestCase()
{
    applyClassicLook(*qApp);
    fixNumberFormat();
    setApplicationTitle();
}

void TestMainWindow::init()
{
    m_main = createWindowSet();
    m_errors.clear();
    m_main->setErrorPresenter([this](const QString &message) { m_errors << message; });
}

void TestMainWindow::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

QWidget *TestMainWindow::panel1() const
{
    auto *p
        = m_main->centralWidget()->findChild<QWidget *>(QStringLiteral("Panel1"), Qt::FindDirectChildrenOnly);
    if (!p)
        qFatal("no Panel1");
    return p;
}

QLabel *TestMainWindow::label(const char *name) const
{
    auto *l = panel1()->findChild<QLabel *>(QLatin1String(name));
    if (!l)
        qFatal("no label %s", name);
    return l;
}

void TestMainWindow::edit(Param f, double value)
{
    ParameterSet &c = model().LPC;
    switch (f) {
    case Param::BackgroundOn: c.BackgroundOn = static_cast<std::uint8_t>(value); break;
    case Param::N: c.N = static_cast<int>(value); break;
    case Param::Rg: c.Rg = value; break;
    case Param::V2: c.V2 = value; break;
    case Param::Emax: c.Emax = value; break;
    case Param::V1r: c.V1r = value; break;
    case Param::du: c.du = value; break;
    case Param::ex: c.ex = value; break;
    case Param::gf: c.gf = value; break;
    case Param::Gmax: c.Gmax = value; break;
    case Param::tc: c.tc = value; break;
    case Param::Gb: c.Gb = value; break;
    }
    parameterAccepted(f);
}

void TestMainWindow::panelAtStart()
{
    const char *values[] = {"Label01v", "Label04v", "Label05v", "Label06v", "Label07v", "Label08v",
        "Label09v", "Label10v", "Label11v", "Label12v", "Label13v"};
    const char *expected[] = {"0: default", "10", "0.50 GOhm", "-63 mV", "20 mV", "-70 mV", "1.00 msec",
        "5.00 mV", "0.1500", "0.20 nS", "2.50 msec"};
    for (int i = 0; i < 11; ++i)
        QCOMPARE(text(values[i]), QString::fromLatin1(expected[i]));
    QCOMPARE(text("Label14v"), QStringLiteral("0.000 nS"));
    QCOMPARE(text("Label03"), QStringLiteral("Basic Configuration"));
    QCOMPARE(text("Label20"), QStringLiteral("default"));
    QCOMPARE(text("Label21"), QStringLiteral("current"));
    QCOMPARE(text("Label05"), QStringLiteral("R   ="));
    QCOMPARE(text("Label05s"), QStringLiteral("g"));
    QCOMPARE(text("Label07s"), QStringLiteral("max"));
    QVERIFY(label("Label01")->font().bold());
    QVERIFY(label("Label02")->font().bold());
    QVERIFY(label("Label1")->font().bold());
    QVERIFY(!label("Label04")->font().bold());
    QVERIFY(label("Label05s")->font().pixelSize() < label("Label05")->font().pixelSize());
    QVERIFY(label("Label05s")->y() > label("Label05")->y());
    const auto labels = panel1()->findChildren<QLabel *>();
    for (QLabel *l : labels) {
        if (l->objectName().startsWith(QLatin1String("Label")))
            QCOMPARE(l->palette().color(QPalette::WindowText), colors::Black);
    }
    for (const char *name : {"Label14", "Label14s", "Label14v"})
        QVERIFY(label(name)->isHidden());
    QCOMPARE(m_main->listBox()->count(), 1);
    QCOMPARE(m_main->listBox()->item(0)->text(), QStringLiteral("0: default"));
    auto *restore = panel1()->findChild<QPushButton *>(QStringLiteral("RestoreBtn"));
    QVERIFY(restore && !restore->isEnabled());
    QVERIFY(model().LPC == DefaultParameterSet);
    QVERIFY(model().LPI == DefaultParameterSet);
}

void TestMainWindow::panelUsesFullStopUnderCommaLocale()
{
    m_main.reset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string oldLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // where the machine has it
    m_main = createWindowSet();
    edit(Param::gf, 0.125);
    edit(Param::Rg, 1.25);
    QCOMPARE(text("Label11v"), QStringLiteral("0.1250"));
    QCOMPARE(text("Label05v"), QStringLiteral("1.25 GOhm"));
    QCOMPARE(text("Label09v"), QStringLiteral("1.00 msec"));
    // The start-up's own setting puts the full stop back for Qt and the C run-time.
    fixNumberFormat();
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral("."));
    QCOMPARE(QString::number(0.5, 'f', 2), QStringLiteral("0.50"));
    QCOMPARE(QLocale().toString(0.5, 'f', 2), QStringLiteral("0.50"));
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.2f", 0.5);
    QCOMPARE(QString::fromLatin1(buffer), QStringLiteral("0.50"));
    std::setlocale(LC_ALL, oldLocale.c_str());
    fixNumberFormat();
}

void TestMainWindow::frameGeometryAndMenus()
{
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Cleftsim"));
    QCOMPARE(m_main->centralWidget()->size(), QSize(1016, 694));
    QCOMPARE(m_main->minimumSize(), m_main->maximumSize());
    QWidget *panel = panel1();
    QCOMPARE(panel->geometry(), QRect(0, 0, 139, 694));
    QCOMPARE(m_main->frame()->geometry(), QRect(139, 0, 1016 - 139, 694));
    QCOMPARE(m_main->frame()->subWindowList().size(), 7);
    QCOMPARE(m_main->windowMenu()->title(), QStringLiteral("&Window"));
    QCOMPARE(m_main->helpMenu()->title(), QStringLiteral("&Help"));
    QStringList help;
    for (QAction *a : m_main->helpMenu()->actions())
        help << a->text();
    QCOMPARE(help, QStringList({QStringLiteral("&Tutorial"), QStringLiteral("&About")}));
    QVERIFY(!m_main->aboutBox()->isVisible());
    QVERIFY(!m_main->tutorialBox()->isVisible());
}

void TestMainWindow::rowTurnsRedAndBlackAgainst_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("shown");
    QTest::newRow("N") << int(Param::N) << 12.0 << "04"
                       << "12";
    QTest::newRow("Rg") << int(Param::Rg) << 0.75 << "05"
                        << "0.75 GOhm";
    QTest::newRow("V2") << int(Param::V2) << -140.0 << "06"
                        << "-140 mV";
    QTest::newRow("Emax") << int(Param::Emax) << 5.0 << "07"
                          << "5 mV";
    QTest::newRow("V1r") << int(Param::V1r) << -80.0 << "08"
                         << "-80 mV";
    QTest::newRow("du") << int(Param::du) << 0.15 << "09"
                        << "0.15 msec";
    QTest::newRow("ex") << int(Param::ex) << 9.99 << "10"
                        << "9.99 mV";
    QTest::newRow("gf") << int(Param::gf) << 0.0001 << "11"
                        << "0.0001";
    QTest::newRow("Gmax") << int(Param::Gmax) << 1.5 << "12"
                          << "1.50 nS";
    QTest::newRow("tc") << int(Param::tc) << 0.1 << "13"
                        << "0.10 msec";
    QTest::newRow("Gb") << int(Param::Gb) << 0.125 << "14"
                        << "0.125 nS";
}

void TestMainWindow::rowTurnsRedAndBlackAgainst()
{
    QFETCH(int, field);
    QFETCH(double, value);
    QFETCH(QString, row);
    QFETCH(QString, shown);
    const Param f = static_cast<Param>(field);
    const QByteArray base = "Label" + row.toLatin1();
    const double original = fieldValue(model().LPC, f);
    edit(f, value);
    QCOMPARE(text(base + "v"), shown);
    QList<QLabel *> rowLabels;
    for (const char *suffix : {"", "s", "v"}) {
        if (auto *l = panel1()->findChild<QLabel *>(QString::fromLatin1(base + suffix)))
            rowLabels << l;
    }
    for (QLabel *l : rowLabels)
        QCOMPARE(l->palette().color(QPalette::WindowText), colors::Red);
    // Other rows stay black.
    QCOMPARE(colour(base == "Label04" ? "Label05v" : "Label04v"), colors::Black);
    edit(f, original);
    for (QLabel *l : rowLabels)
        QCOMPARE(l->palette().color(QPalette::WindowText), colors::Black);
}

void TestMainWindow::backgroundRowFollowsSwitch()
{
    edit(Param::BackgroundOn, 1);
    QCOMPARE(text("Label03"), QStringLiteral("Background Conduct"));
    QCOMPARE(colour("Label03"), colors::Red);
    for (const char *name : {"Label14", "Label14s", "Label14v"})
        QVERIFY(!label(name)->isHidden());
    QCOMPARE(text("Label14v"), QStringLiteral("0.000 nS"));
    edit(Param::BackgroundOn, 0);
    QCOMPARE(text("Label03"), QStringLiteral("Basic Configuration"));
    QCOMPARE(colour("Label03"), colors::Black);
    QVERIFY(label("Label14")->isHidden());
}

// Which windows answer a change of each field, the clearing table of the
// program: every figure depends on every parameter, but the Is vs V2 sweep
// sets the clamp potential itself and only its frames depend on the switch.
void TestMainWindow::windowsHearAChangeInTheirOrder_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("records");
    QTest::addColumn<bool>("isv");
    QTest::addColumn<bool>("histograms");
    QTest::addColumn<bool>("failureRow");
    QTest::newRow("BackgroundOn") << int(Param::BackgroundOn) << 1.0 << false << true << false << true;
    QTest::newRow("N") << int(Param::N) << 12.0 << true << true << true << true;
    QTest::newRow("Rg") << int(Param::Rg) << 0.75 << true << true << true << true;
    QTest::newRow("V2") << int(Param::V2) << -40.0 << true << false << true << true;
    QTest::newRow("Emax") << int(Param::Emax) << 5.0 << true << true << true << true;
    QTest::newRow("V1r") << int(Param::V1r) << -80.0 << true << true << true << false;
    QTest::newRow("du") << int(Param::du) << 0.15 << true << true << true << false;
    QTest::newRow("ex") << int(Param::ex) << 4.0 << true << true << true << true;
    QTest::newRow("gf") << int(Param::gf) << 0.3 << true << true << true << true;
    QTest::newRow("Gmax") << int(Param::Gmax) << 1.5 << true << true << true << false;
    QTest::newRow("tc") << int(Param::tc) << 0.6 << true << true << true << false;
    QTest::newRow("Gb") << int(Param::Gb) << 0.1 << true << true << true << true;
}

void TestMainWindow::windowsHearAChangeInTheirOrder()
{
    QFETCH(int, field);
    QFETCH(double, value);
    QFETCH(bool, records);
    QFETCH(bool, isv);
    QFETCH(bool, histograms);
    QFETCH(bool, failureRow);
    const Param f = static_cast<Param>(field);

    // A listener connected before the windows exist hears a change before
    // all of them, one connected after them after all of them.
    m_main.reset();
    windows() = WindowSet {};
    QList<Canvas *> figures;
    const auto cleared = [&figures] {
        QList<bool> c;
        for (Canvas *figure : figures)
            c << (figure->rgb(0, 0) != (colors::Aqua.rgb() & 0xffffff));
        return c;
    };
    QList<bool> first, last;
    const QMetaObject::Connection before
        = connect(&modelChanges(), &ModelChanges::parameterChanged, this, [&] { first = cleared(); });
    m_main = createWindowSet();
    const QMetaObject::Connection after
        = connect(&modelChanges(), &ModelChanges::parameterChanged, this, [&] { last = cleared(); });
    const WindowSet &w = windows();
    figures << &static_cast<RecordsWindow *>(w.forms[4])->image3()->canvas()
            << &static_cast<IsvWindow *>(w.forms[5])->image(1)->canvas()
            << &static_cast<HistogramsWindow *>(w.forms[6])->image(1)->canvas();
    for (Canvas *figure : figures)
        figure->clear(colors::Aqua);
    auto *failureLabel = w.forms[1]->findChild<QLabel *>(QStringLiteral("Label23"));
    failureLabel->setText(QStringLiteral("?"));

    const ParamInfo &info = paramInfo(f);
    if (f == Param::Gb)
        model().setField(Param::BackgroundOn, 1);
    model().setField(f, value);
    parameterAccepted(f);
    disconnect(before);
    disconnect(after);

    QCOMPARE(first, (QList<bool> {false, false, false}));
    QCOMPARE(last, (QList<bool> {records, isv, histograms}));
    QCOMPARE(failureLabel->text() != QStringLiteral("?"), failureRow);
    const QString row = f == Param::BackgroundOn
        ? QStringLiteral("Label03")
        : QStringLiteral("Label%1v").arg(field + 3, 2, 10, QLatin1Char('0'));
    QCOMPARE(colour(row.toLatin1().constData()), colors::Red);
    if (f != Param::BackgroundOn)
        QVERIFY(text(row.toLatin1().constData())
                    .startsWith(QString::fromStdString(formatFixed(value, info.decimals))));
}

void TestMainWindow::clickOpensEditor_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("editor");
    QTest::addColumn<QPoint>("where"); // null: the middle of the control
    QTest::newRow("Label03") << "Label03" << 0 << QPoint();
    QTest::newRow("Label04") << "Label04" << 1 << QPoint();
    QTest::newRow("Label05s") << "Label05s" << 1 << QPoint();
    QTest::newRow("Label06v") << "Label06v" << 1 << QPoint();
    QTest::newRow("GroupBox2") << "GroupBox2" << 2 << QPoint(4, 60);
    QTest::newRow("Label07") << "Label07" << 2 << QPoint();
    QTest::newRow("Label11v") << "Label11v" << 2 << QPoint();
    QTest::newRow("GroupBox3") << "GroupBox3" << 3 << QPoint(4, 60);
    QTest::newRow("Label12s") << "Label12s" << 3 << QPoint();
    QTest::newRow("Label13v") << "Label13v" << 3 << QPoint();
}

void TestMainWindow::clickOpensEditor()
{
    QFETCH(QString, control);
    QFETCH(int, editor);
    QFETCH(QPoint, where);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    ChildWindow *form = windows().forms[editor];
    form->showMinimizedInFrame();
    // Another window in front.
    windows().forms[editor == 1 ? 2 : 1]->showAndRaise();
    QVERIFY(form->isMinimizedInFrame());
    auto *w = panel1()->findChild<QWidget *>(control);
    QVERIFY(w);
    QTest::mouseClick(w, Qt::LeftButton, {}, where.isNull() ? w->rect().center() : where);
    QVERIFY(!form->isMinimizedInFrame());
    QVERIFY(form->isVisible());
    QCOMPARE(m_main->frame()->activeSubWindow(), form->subWindow());
}

void TestMainWindow::windowMenuListsAndActivates()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QMenu *menu = m_main->windowMenu();
    emit menu->aboutToShow();
    QStringList entries;
    QAction *histograms = nullptr;
    for (QAction *a : menu->actions()) {
        if (a->isSeparator())
            continue;
        entries << a->text();
        if (a->text().endsWith(QLatin1String("Histograms")))
            histograms = a;
    }
    QCOMPARE(entries.size(), 10);
    QCOMPARE(entries.mid(0, 2), QStringList({QStringLiteral("Tile"), QStringLiteral("Cascade")}));
    QCOMPARE(entries[2], QStringLiteral("&1 Model Configuration"));
    QCOMPARE(entries[8], QStringLiteral("&7 Histograms"));
    QCOMPARE(entries[9], QStringLiteral("Fit to Measured Data"));
    QVERIFY(histograms);
    QVERIFY(windows().forms[6]->isMinimizedInFrame());
    histograms->trigger();
    QVERIFY(!windows().forms[6]->isMinimizedInFrame());
    QCOMPARE(m_main->frame()->activeSubWindow(), windows().forms[6]->subWindow());
    // Rebuilding does not pile up entries; the active window is checked.
    emit menu->aboutToShow();
    int checked = 0;
    int count = 0;
    for (QAction *a : menu->actions()) {
        if (a->isSeparator())
            continue;
        ++count;
        if (a->isChecked()) {
            ++checked;
            QVERIFY(a->text().endsWith(QLatin1String("Histograms")));
        }
    }
    QCOMPARE(count, 10);
    QCOMPARE(checked, 1);
    // The Fit window, once open, keeps its one entry, checked while active.
    const auto fitEntries = [menu] {
        emit menu->aboutToShow();
        QList<QAction *> found;
        for (QAction *a : menu->actions())
            if (a->text().contains(QLatin1String("Fit to Measured Data")))
                found << a;
        return found;
    };
    QCOMPARE(fitEntries().size(), 1);
    QVERIFY(!fitEntries().constFirst()->isChecked());
    FitWindow *fit = showFitWindow();
    QCOMPARE(m_main->frame()->activeSubWindow()->widget(), fit);
    QCOMPARE(fitEntries().size(), 1);
    QVERIFY(fitEntries().constFirst()->isChecked());
    int entriesWithFit = 0;
    for (QAction *a : menu->actions())
        entriesWithFit += a->isSeparator() ? 0 : 1;
    QCOMPARE(entriesWithFit, 10);
    windows().forms[6]->showAndRaise();
    QVERIFY(!fitEntries().constFirst()->isChecked());
    QCOMPARE(fitEntries().size(), 1);
}

void TestMainWindow::storeWithNothingChangedAddsNothing()
{
    QTest::mouseClick(panel1()->findChild<QPushButton *>(QStringLiteral("StoreBtn")), Qt::LeftButton);
    QCOMPARE(m_main->listBox()->count(), 1);
    QCOMPARE(model().StoredCount, 0);
    QCOMPARE(QString::fromStdString(model().LPC.Name), QStringLiteral("0: default"));
    QCOMPARE(text("Label01v"), QStringLiteral("0: default"));
    QVERIFY(m_errors.isEmpty());
    // Editing a value and editing it back is no change either.
    edit(Param::Rg, 0.75);
    edit(Param::Rg, 0.5);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->count(), 1);
}

void TestMainWindow::storeAppendsNamesAndBlackensRows()
{
    edit(Param::Rg, 0.75);
    QCOMPARE(colour("Label05v"), colors::Red);
    QTest::mouseClick(panel1()->findChild<QPushButton *>(QStringLiteral("StoreBtn")), Qt::LeftButton);
    QCOMPARE(m_main->listBox()->count(), 2);
    QCOMPARE(m_main->listBox()->item(1)->text(), QStringLiteral("1: 0>Rg"));
    QCOMPARE(text("Label01v"), QStringLiteral("1: 0>Rg"));
    QCOMPARE(colour("Label05v"), colors::Black);
    QCOMPARE(colour("Label05"), colors::Black);
    // A store does not select the new entry.
    QCOMPARE(m_main->listBox()->currentRow(), -1);
    QCOMPARE(text("Label20"), QStringLiteral("default"));
    edit(Param::N, 12);
    edit(Param::V2, -40);
    edit(Param::BackgroundOn, 1);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->item(2)->text(), QStringLiteral("2: 1>+n12V2"));
    QCOMPARE(colour("Label03"), colors::Black);
    QCOMPARE(colour("Label04v"), colors::Black);
    QCOMPARE(text("Label03"), QStringLiteral("Background Conduct"));
    QVERIFY(m_errors.isEmpty());
}

void TestMainWindow::sixteenthStoreIsRefused()
{
    for (int k = 1; k <= 15; ++k) {
        edit(Param::N, k);
        QVERIFY(m_main->Store());
    }
    QCOMPARE(m_main->listBox()->count(), 16);
    QVERIFY(m_errors.isEmpty());
    edit(Param::Rg, 0.75);
    const ParameterSet lpc = model().LPC;
    const ParameterSet lpi = model().LPI;
    QVERIFY(!m_main->Store());
    QCOMPARE(m_errors, QStringList(QStringLiteral("Range check error")));
    QCOMPARE(m_main->listBox()->count(), 16);
    QVERIFY(model().LPC == lpc);
    QVERIFY(model().LPI == lpi);
    QCOMPARE(model().StoredCount, 15);
    QCOMPARE(text("Label01v"), QStringLiteral("15: 14>n15"));
    QCOMPARE(colour("Label05v"), colors::Red); // the change is still shown as a change
    // The button gives the same refusal; a set equal to the initial one is no store.
    QTest::mouseClick(panel1()->findChild<QPushButton *>(QStringLiteral("StoreBtn")), Qt::LeftButton);
    QCOMPARE(m_errors.size(), 2);
    edit(Param::Rg, 0.5);
    QVERIFY(m_main->Store());
    QCOMPARE(m_errors.size(), 2);
}

// The program's own error box, answered by a timer.
void TestMainWindow::fullTableErrorBox()
{
    m_main.reset();
    setApplicationTitle();
    m_main = createWindowSet(); // with the default error presentation
    for (int k = 1; k <= 15; ++k) {
        edit(Param::N, k);
        QVERIFY(m_main->Store());
    }
    edit(Param::V2, 0);
    QString title;
    QString message;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, qApp, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            message = box->text();
            icon = box->icon();
            box->accept();
        }
    });
    QVERIFY(!m_main->Store());
    QCOMPARE(title, QStringLiteral("CS"));
    QCOMPARE(message, QStringLiteral("Range check error"));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(m_main->listBox()->count(), 16);
}

void TestMainWindow::listClickEnablesRestore()
{
    edit(Param::tc, 3.0);
    m_main->Store();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QListWidget *list = m_main->listBox();
    auto *restore = panel1()->findChild<QPushButton *>(QStringLiteral("RestoreBtn"));
    QVERIFY(!restore->isEnabled());
    // The list gains the focus without a click (the window is activated
    // again): its first entry becomes current, but nothing is selected.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(list, &focusIn);
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(!restore->isEnabled());
    QCOMPARE(text("Label20"), QStringLiteral("default"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    QCOMPARE(list->currentRow(), 1);
    QVERIFY(restore->isEnabled());
    QCOMPARE(text("Label20"), QStringLiteral("1: 0>tc"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QCOMPARE(text("Label20"), QStringLiteral("0: default"));
    QVERIFY(restore->isEnabled());
    // The user's keys select too.
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(text("Label20"), QStringLiteral("1: 0>tc"));
}

void TestMainWindow::restoreBringsBackStateAndBlackRows()
{
    edit(Param::Rg, 0.75);
    edit(Param::du, 2.0);
    m_main->Store();
    const ParameterSet stored = model().LPI;
    edit(Param::Gmax, 1.0);
    edit(Param::Rg, 1.5);
    m_main->listBox()->setCurrentRow(1);
    QTest::mouseClick(panel1()->findChild<QPushButton *>(QStringLiteral("RestoreBtn")), Qt::LeftButton);
    QVERIFY(model().LPC == stored);
    QVERIFY(model().LPI == stored);
    QCOMPARE(text("Label01v"), QStringLiteral("1: 0>Rgdu"));
    QCOMPARE(text("Label05v"), QStringLiteral("0.75 GOhm"));
    QCOMPARE(text("Label12v"), QStringLiteral("0.20 nS"));
    QCOMPARE(colour("Label05v"), colors::Black);
    QCOMPARE(colour("Label12v"), colors::Black);
    // Back to the default; the next store takes the next free slot.
    m_main->listBox()->setCurrentRow(0);
    m_main->RestoreBtnClick();
    QVERIFY(model().LPC == DefaultParameterSet);
    QCOMPARE(text("Label01v"), QStringLiteral("0: default"));
    QCOMPARE(text("Label09v"), QStringLiteral("1.00 msec"));
    edit(Param::ex, 3.0);
    m_main->Store();
    QCOMPARE(m_main->listBox()->item(2)->text(), QStringLiteral("2: 0>ex"));
}

void TestMainWindow::helpMenuShowsDialogsModally()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    for (QDialog *box :
        {static_cast<QDialog *>(m_main->tutorialBox()), static_cast<QDialog *>(m_main->aboutBox())}) {
        bool wasModal = false;
        QTimer::singleShot(0, box, [box, &wasModal] {
            wasModal = box->isVisible() && QApplication::activeModalWidget() == box;
            box->close();
        });
        if (box == m_main->tutorialBox())
            m_main->helpMenu()->actions().at(0)->trigger();
        else
            m_main->helpMenu()->actions().at(1)->trigger();
        QVERIFY(wasModal);
        QVERIFY(!box->isVisible());
    }
    // Both can be opened again: closing only hid them.
    QTimer::singleShot(0, m_main->aboutBox(), [this] { m_main->aboutBox()->close(); });
    m_main->csAboutClick();
    QVERIFY(!m_main->aboutBox()->isVisible());
}

void TestMainWindow::f1OpensHelpMenu()
{
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->activateWindow();
    QVERIFY(!m_main->helpMenu()->isVisible());
    QTest::keyClick(m_main.get(), Qt::Key_F1);
    QTRY_VERIFY(m_main->helpMenu()->isVisible());
    m_main->helpMenu()->close();
}

void TestMainWindow::ctrlQQuits()
{
    auto *quit = m_main->fileMenu()->findChild<QAction *>(QStringLiteral("Quit1"));
    QVERIFY(quit);
    QCOMPARE(m_main->fileMenu()->actions().constLast(), quit);
    QCOMPARE(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_main->activateWindow();
    // From an editor inside the frame as from the main window itself.
    ChildWindow *editor = windows().forms[1];
    editor->showAndRaise();
    QTest::keyClick(editor, Qt::Key_Q, Qt::ControlModifier);
    // Closed as by its close box: the program ends with its last window.
    QTRY_VERIFY(!m_main->isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
