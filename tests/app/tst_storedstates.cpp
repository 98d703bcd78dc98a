#include "model/storedstates.h"
#include "widgets/currentmodel.h"

#include <QtTest>

using namespace cleftsim;

// A function that changes one parameter set, for the data-driven tests.
using Change = std::function<void(ParameterSet &)>;
Q_DECLARE_METATYPE(Change)

class TestStoredStates : public QObject {
    Q_OBJECT
private slots:
    void init() { model().reset(); }
    void diffCode_data();
    void diffCode();
    void storedStateName_data();
    void storedStateName();
    void storeUnchangedKeepsEverything();
    void storeNamesChainOfStates();
    void fullTableRefusesAndChangesNothing();
    void fullTableStillAcceptsUnchangedSet();
    void restoreMakesSlotCurrentAndInitial();
    void restoreOfEmptySlotIsRefused();
    void replaceTable_data();
    void replaceTable();
    void nameForParameters_data();
    void nameForParameters();
};

void TestStoredStates::diffCode_data()
{
    QTest::addColumn<Change>("initial");
    // current is applied on top of initial.
    QTest::addColumn<Change>("current");
    QTest::addColumn<QString>("expected");
    const Change none = [](ParameterSet &) {};
    QTest::newRow("nothing") << none << none << "";
    QTest::newRow("name only") << none << Change([](ParameterSet &p) { p.Name = "7: 3>Rg"; }) << "";
    QTest::newRow("switch on") << none << Change([](ParameterSet &p) { p.BackgroundOn = 1; }) << "+";
    QTest::newRow("switch off") << Change([](ParameterSet &p) { p.BackgroundOn = 1; })
                                << Change([](ParameterSet &p) { p.BackgroundOn = 0; }) << "~";
    QTest::newRow("n with value") << none << Change([](ParameterSet &p) { p.N = 12; }) << "n12";
    QTest::newRow("n and V2") << none << Change([](ParameterSet &p) {
        p.N = 12;
        p.V2 = -40;
    }) << "n12V2";
    QTest::newRow("tiny difference counts")
        << none << Change([](ParameterSet &p) { p.Rg = 0.5 + 1e-15; }) << "Rg";
    QTest::newRow("all, in order") << none << Change([](ParameterSet &p) {
        p.Gb = 0.1;
        p.tc = 3;
        p.Gmax = 0.3;
        p.gf = 0.2;
        p.ex = 4;
        p.du = 1.5;
        p.V1r = -60;
        p.Emax = 30;
        p.V2 = 0;
        p.Rg = 1;
        p.N = 1;
        p.BackgroundOn = 1;
    }) << "+n1RgV2EmaxV1rduexgfGmaxtcGb";
    QTest::newRow("off with N back and Gb") << Change([](ParameterSet &p) {
        p.BackgroundOn = 1;
        p.Gb = 0.5;
        p.N = 20;
    }) << Change([](ParameterSet &p) {
        p.BackgroundOn = 0;
        p.Gb = 0;
    }) << "~Gb";
}

void TestStoredStates::diffCode()
{
    QFETCH(Change, initial);
    QFETCH(Change, current);
    QFETCH(QString, expected);
    ParameterSet i = DefaultParameterSet;
    ParameterSet c = DefaultParameterSet;
    initial(i);
    initial(c);
    current(c);
    QCOMPARE(QString::fromStdString(DiffCode(c, i)), expected);
}

void TestStoredStates::storedStateName_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("initialName");
    QTest::addColumn<QString>("diff");
    QTest::addColumn<QString>("expected");
    QTest::newRow("from default") << 1 << "0: default"
                                  << "Rg"
                                  << "1: 0>Rg";
    QTest::newRow("from a stored state") << 2 << "1: 0>Rg"
                                         << "n12V2"
                                         << "2: 1>n12V2";
    QTest::newRow("two-digit slot") << 15 << "14: 12>gf"
                                    << "~"
                                    << "15: 14>~";
    QTest::newRow("first colon only") << 4 << "3: 2>Rg"
                                      << "n7"
                                      << "4: 3>n7";
}

void TestStoredStates::storedStateName()
{
    QFETCH(int, slot);
    QFETCH(QString, initialName);
    QFETCH(QString, diff);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(
                 cleftsim::storedStateName(slot, initialName.toStdString(), diff.toStdString())),
        expected);
}

void TestStoredStates::storeUnchangedKeepsEverything()
{
    ModelState &m = model();
    const ModelState before = m;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Unchanged);
    QCOMPARE(m.StoredCount, 0);
    QVERIFY(m.LPC == before.LPC);
    QVERIFY(m.LPI == before.LPI);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("0: default"));
}

void TestStoredStates::storeNamesChainOfStates()
{
    ModelState &m = model();
    m.LPC.Rg = 0.75;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("1: 0>Rg"));
    QVERIFY(m.LPI == m.LPC);
    QVERIFY(m.StoredStates[1] == m.LPC);
    m.LPC.N = 12;
    m.LPC.V2 = -40;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("2: 1>n12V2"));
    QCOMPARE(m.StoredCount, 2);
    // The earlier slot is left as it was stored.
    QCOMPARE(QString::fromStdString(m.StoredStates[1].Name), QStringLiteral("1: 0>Rg"));
    QCOMPARE(m.StoredStates[1].N, 10);
    // Back to a state that was stored earlier: still a new slot, named after the initial state.
    QVERIFY(restoreState(m, 0));
    m.LPC.BackgroundOn = 1;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("3: 0>+"));
    m.LPC.BackgroundOn = 0;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("4: 3>~"));
}

void TestStoredStates::fullTableRefusesAndChangesNothing()
{
    ModelState &m = model();
    for (int k = 1; k <= 15; ++k) {
        m.LPC.Rg = 0.5 + 0.01 * k;
        QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    }
    QCOMPARE(m.StoredCount, 15);
    QCOMPARE(QString::fromStdString(m.LPI.Name), QStringLiteral("15: 14>Rg"));
    m.LPC.N = 3;
    const ModelState before = m;
    QCOMPARE(storeCurrentState(m), StoreOutcome::TableFull);
    QCOMPARE(m.StoredCount, 15);
    QVERIFY(m.LPC == before.LPC);
    QVERIFY(m.LPI == before.LPI);
    QVERIFY(m.StoredStates == before.StoredStates);
    // Every later try is refused the same way.
    QCOMPARE(storeCurrentState(m), StoreOutcome::TableFull);
    QCOMPARE(m.StoredCount, 15);
}

void TestStoredStates::fullTableStillAcceptsUnchangedSet()
{
    ModelState &m = model();
    for (int k = 1; k <= 15; ++k) {
        m.LPC.N = k;
        QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    }
    QCOMPARE(storeCurrentState(m), StoreOutcome::Unchanged);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("15: 14>n15"));
}

void TestStoredStates::restoreMakesSlotCurrentAndInitial()
{
    ModelState &m = model();
    m.LPC.gf = 0.3;
    storeCurrentState(m);
    m.LPC.tc = 4;
    QVERIFY(restoreState(m, 1));
    QCOMPARE(m.LPC.tc, 2.5);
    QCOMPARE(m.LPC.gf, 0.3);
    QVERIFY(m.LPI == m.StoredStates[1]);
    QVERIFY(m.LPC == m.LPI);
    QVERIFY(restoreState(m, 0));
    QVERIFY(m.LPC == DefaultParameterSet);
    // A store after the restore takes the next free slot and names state 0 as its origin.
    m.LPC.du = 2;
    QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    QCOMPARE(QString::fromStdString(m.LPC.Name), QStringLiteral("2: 0>du"));
}

void TestStoredStates::restoreOfEmptySlotIsRefused()
{
    ModelState &m = model();
    m.LPC.Emax = 40;
    QVERIFY(!restoreState(m, 1));
    QVERIFY(!restoreState(m, -1));
    QCOMPARE(m.LPC.Emax, 40.0);
    QVERIFY(m.LPI == DefaultParameterSet);
}

void TestStoredStates::replaceTable_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("none") << 0 << false;
    QTest::newRow("the default only") << 1 << true;
    QTest::newRow("three") << 3 << true;
    QTest::newRow("a full table") << StoredSlots << true;
    QTest::newRow("one too many") << StoredSlots + 1 << false;
}

// A table of five stored states replaced by count states: the slots beyond
// the new ones come back empty, the initial and the current set stay.
void TestStoredStates::replaceTable()
{
    QFETCH(int, count);
    QFETCH(bool, accepted);
    ModelState &m = model();
    for (int k = 1; k <= 5; ++k) {
        m.LPC.N = k;
        QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    }
    m.LPC.tc = 4;
    std::vector<ParameterSet> states(static_cast<std::size_t>(count), DefaultParameterSet);
    for (int slot = 1; slot < count; ++slot) {
        states[static_cast<std::size_t>(slot)].Rg = 0.1 * slot;
        states[static_cast<std::size_t>(slot)].Name = std::to_string(slot) + ": 0>Rg";
    }
    const ModelState before = m;
    QCOMPARE(replaceStoredStates(m, states), accepted);
    QVERIFY(m.LPC == before.LPC);
    QVERIFY(m.LPI == before.LPI);
    if (!accepted) {
        QCOMPARE(m.StoredCount, 5);
        QVERIFY(m.StoredStates == before.StoredStates);
        return;
    }
    QCOMPARE(m.StoredCount, count - 1);
    for (int slot = 0; slot < StoredSlots; ++slot) {
        const ParameterSet expected = slot < count ? states[static_cast<std::size_t>(slot)] : ParameterSet {};
        QVERIFY2(
            m.StoredStates[static_cast<std::size_t>(slot)] == expected, qPrintable(QString::number(slot)));
    }
}

void TestStoredStates::nameForParameters_data()
{
    QTest::addColumn<int>("stored"); // slot k stored with N = 10 + k
    QTest::addColumn<int>("initial"); // the slot restored
    QTest::addColumn<int>("N"); // of the figure's parameters
    QTest::addColumn<double>("Rg");
    QTest::addColumn<QString>("name");
    QTest::newRow("the initial state") << 3 << 3 << 13 << 0.50 << "3: 2>n13";
    QTest::newRow("the last stored while another is initial") << 3 << 1 << 13 << 0.50 << "3: 2>n13";
    QTest::newRow("the default while another is initial") << 3 << 2 << 10 << 0.50 << "0: default";
    QTest::newRow("not stored: the next slot") << 3 << 1 << 20 << 0.50 << "4: 1>n20";
    QTest::newRow("full table, the last stored") << 15 << 2 << 25 << 0.50 << "15: 14>n25";
    // No slot is left: named by what differs from the default set.
    QTest::newRow("full table, not stored") << 15 << 15 << 10 << 1.50 << "0>Rg";
    QTest::newRow("full table, N and Rg not stored") << 15 << 4 << 30 << 1.50 << "0>n30Rg";
}

void TestStoredStates::nameForParameters()
{
    QFETCH(int, stored);
    QFETCH(int, initial);
    QFETCH(int, N);
    QFETCH(double, Rg);
    QFETCH(QString, name);
    ModelState &m = model();
    for (int k = 1; k <= stored; ++k) {
        m.LPC.N = 10 + k;
        QCOMPARE(storeCurrentState(m), StoreOutcome::Stored);
    }
    QVERIFY(restoreState(m, initial));
    ParameterSet p = DefaultParameterSet;
    p.N = N;
    p.Rg = Rg;
    QCOMPARE(QString::fromStdString(cleftsim::nameForParameters(m, p)), name);
}

QTEST_GUILESS_MAIN(TestStoredStates)
#include "tst_storedstates.moc"
