#include "app/mainwindow.h"
#include "app/startup.h"
#include "drawing/canvas.h"
#include "restoreeditors.h"
#include "widgets/childwindow.h"
#include "widgets/currentmodel.h"

#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace cleftsim;
using namespace cleftsim::test;

// Storing and restoring through the real editor windows: a restore writes
// every editor control, whose own change handling brings LPC, the panel and
// the previews to the restored state.
class TestStoreRestore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void roundTripThroughEditors();
    void restoreAcrossBackgroundSwitchKeepsGb();
    void restoreOfCurrentStateChangesNothing();
    void restoreOrdersGmaxAndGb();

private:
    // An editor control, or null while that editor does not have it.
    QLineEdit *edit(int form, const char *name) const;
    QWidget *panel1() const;
    QColor colour(const char *name) const;
    void restore(int row);
    // The texts of every editor control, in the order a restore writes them.
    QStringList editorTexts() const;
    bool editorsPresent() const;

    std::unique_ptr<MainWindow> m_main;
    QStringList m_errors;
};

void TestStoreRestore::initTestCase()
{
    applyClassicLook(*qApp);
    fixNumberFormat();
}

void TestStoreRestore::init()
{
    m_main = createWindowSet();
    m_main->setErrorPresenter([this](const QString &message) { m_errors << message; });
    m_errors.clear();
}

void TestStoreRestore::cleanup()
{
    m_main.reset();
    windows() = WindowSet {};
}

QLineEdit *TestStoreRestore::edit(int form, const char *name) const
{
    return windows().forms[form]->findChild<QLineEdit *>(QLatin1String(name));
}

QWidget *TestStoreRestore::panel1() const
{
    return m_main->centralWidget()->findChild<QWidget *>(
        QStringLiteral("Panel1"), Qt::FindDirectChildrenOnly);
}

QColor TestStoreRestore::colour(const char *name) const
{
    auto *l = panel1()->findChild<QLabel *>(QLatin1String(name));
    return l ? l->palette().color(QPalette::WindowText) : QColor();
}

void TestStoreRestore::restore(int row)
{
    m_main->listBox()->setCurrentRow(row);
    QTest::mouseClick(panel1()->findChild<QPushButton *>(QStringLiteral("RestoreBtn")), Qt::LeftButton);
}

static const struct {
    int form;
    const char *name;
} EditorControls[] = {{1, "SpinEditN"}, {1, "MaskEdit1"}, {1, "SpinEditV2"}, {2, "SpinEditEmax"},
    {2, "SpinEditV1r"}, {2, "MaskEdit1"}, {2, "MaskEdit2"}, {2, "MaskEdit3"}, {3, "MaskEdit2"},
    {3, "MaskEdit1"}, {3, "MaskEdit3"}};

bool TestStoreRestore::editorsPresent() const
{
    if (!windows().forms[0]->findChild<QCheckBox *>(QStringLiteral("CheckBox1")))
        return false;
    for (const auto &c : EditorControls) {
        if (!edit(c.form, c.name))
            return false;
    }
    return true;
}

QStringList TestStoreRestore::editorTexts() const
{
    QStringList texts;
    for (const auto &c : EditorControls)
        texts << edit(c.form, c.name)->text();
    return texts;
}

void TestStoreRestore::roundTripThroughEditors()
{
    QVERIFY(editorsPresent());
    const QStringList defaults = editorTexts();
    QCOMPARE(defaults,
        QStringList({"10", "0.50", "-63", "20", "-70", "1.00", "5.00", "0.1500", "0.20", "2.50", "0.000"}));
    restoreScheme(12, 0.75, -40);
    restorePresynaptic(30, -60, 2.0, 4.0, 0.2);
    restoreSubsynaptic(0.5, 3.0, 0.0);
    QCOMPARE(colour("Label04v"), colors::Red);
    QCOMPARE(colour("Label13v"), colors::Red);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->item(1)->text(), QStringLiteral("1: 0>n12RgV2EmaxV1rduexgfGmaxtc"));
    const ParameterSet stored = model().LPI;
    QCOMPARE(stored.du, 2.0);
    QCOMPARE(stored.Gmax, 0.5);
    const QStringList storedTexts = editorTexts();
    QCOMPARE(colour("Label04v"), colors::Black);

    restore(0);
    QVERIFY(model().LPC == DefaultParameterSet);
    QVERIFY(model().LPI == DefaultParameterSet);
    QCOMPARE(editorTexts(), defaults);
    QCOMPARE(model().SpikeSteps, 20);
    QCOMPARE(panel1()->findChild<QLabel *>(QStringLiteral("Label01v"))->text(), QStringLiteral("0: default"));
    for (const char *name : {"Label04v", "Label05v", "Label06v", "Label07v", "Label08v", "Label09v",
             "Label10v", "Label11v", "Label12v", "Label13v", "Label03"})
        QCOMPARE(colour(name), colors::Black);

    restore(1);
    QVERIFY(model().LPC == stored);
    QCOMPARE(editorTexts(), storedTexts);
    QCOMPARE(model().SpikeSteps, 40);
    QCOMPARE(panel1()->findChild<QLabel *>(QStringLiteral("Label09v"))->text(), QStringLiteral("2.00 msec"));
    QCOMPARE(colour("Label09v"), colors::Black);

    // A later store is derived from the restored state.
    restoreScheme(7, 0.75, -40);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->item(2)->text(), QStringLiteral("2: 1>n7"));
    QVERIFY(m_errors.isEmpty());
}

void TestStoreRestore::restoreAcrossBackgroundSwitchKeepsGb()
{
    QVERIFY(editorsPresent());
    WindowSet &w = windows();
    w.csForm0->setBackgroundChecked(true);
    QCOMPARE(model().LPC.BackgroundOn, 1);
    restoreSubsynaptic(0.2, 2.5, 0.15); // Gb stays within Gmax
    QCOMPARE(model().LPC.Gb, 0.15);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->item(1)->text(), QStringLiteral("1: 0>+Gb"));
    const ParameterSet stored = model().LPI;

    restore(0);
    QVERIFY(model().LPC == DefaultParameterSet);
    QVERIFY(!w.csForm0->backgroundChecked());
    QVERIFY(panel1()->findChild<QLabel *>(QStringLiteral("Label14v"))->isHidden());

    restore(1);
    QVERIFY(w.csForm0->backgroundChecked());
    QCOMPARE(model().LPC.Gb, 0.15);
    QVERIFY(model().LPC == stored);
    QCOMPARE(edit(3, "MaskEdit3")->text(), QStringLiteral("0.150"));
    auto *gb = panel1()->findChild<QLabel *>(QStringLiteral("Label14v"));
    QVERIFY(!gb->isHidden());
    QCOMPARE(gb->text(), QStringLiteral("0.150 nS"));
    QCOMPARE(panel1()->findChild<QLabel *>(QStringLiteral("Label03"))->text(),
        QStringLiteral("Background Conduct"));
    for (const char *name : {"Label03", "Label14", "Label14s", "Label14v"})
        QCOMPARE(colour(name), colors::Black);

    // Switching off and storing names the change "~".
    w.csForm0->setBackgroundChecked(false);
    QCOMPARE(model().LPC.Gb, 0.0);
    QVERIFY(m_main->Store());
    QCOMPARE(m_main->listBox()->item(2)->text(), QStringLiteral("2: 1>~Gb"));
}

void TestStoreRestore::restoreOfCurrentStateChangesNothing()
{
    QVERIFY(editorsPresent());
    restoreScheme(3, 0.5, -63);
    m_main->Store();
    const QStringList texts = editorTexts();
    restore(1);
    restore(1);
    QCOMPARE(editorTexts(), texts);
    QCOMPARE(model().LPC.N, 3);
    QCOMPARE(m_main->listBox()->count(), 2);
    QCOMPARE(colour("Label04v"), colors::Black);
}

// Gb may not exceed Gmax: a restore between two background states must bring
// both back whichever of the two goes up and which down.
void TestStoreRestore::restoreOrdersGmaxAndGb()
{
    QVERIFY(editorsPresent());
    WindowSet &w = windows();
    w.csForm0->setBackgroundChecked(true);
    restoreSubsynaptic(0.3, 2.5, 0.25);
    QVERIFY(m_main->Store());
    const ParameterSet high = model().LPI;
    QCOMPARE(high.Gmax, 0.3);
    QCOMPARE(high.Gb, 0.25);
    restoreSubsynaptic(0.3, 2.5, 0.05);
    restoreSubsynaptic(0.1, 2.5, 0.05);
    QVERIFY(m_main->Store());
    const ParameterSet low = model().LPI;
    QCOMPARE(low.Gmax, 0.1);
    QCOMPARE(low.Gb, 0.05);
    restore(1);
    QVERIFY(model().LPC == high);
    QCOMPARE(edit(3, "MaskEdit2")->text(), QStringLiteral("0.30"));
    QCOMPARE(edit(3, "MaskEdit3")->text(), QStringLiteral("0.250"));
    restore(2);
    QVERIFY(model().LPC == low);
    QCOMPARE(edit(3, "MaskEdit2")->text(), QStringLiteral("0.10"));
    QCOMPARE(edit(3, "MaskEdit3")->text(), QStringLiteral("0.050"));
    // Through the default (switch off) and back.
    restore(0);
    QVERIFY(model().LPC == DefaultParameterSet);
    restore(1);
    QVERIFY(model().LPC == high);
    QCOMPARE(colour("Label12v"), colors::Black);
    QCOMPARE(colour("Label14v"), colors::Black);
}

QTEST_MAIN(TestStoreRestore)
#include "tst_storerestore.moc"
