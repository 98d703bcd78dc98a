#include "model/parameterset.h"
#include "model/parametertable.h"
#include "model/synapse.h"

#include <QtTest>

#include <cmath>

using namespace cleftsim;

namespace {

// Agreement to the number of significant digits that a stated value carries.
bool close(double actual, double expected, double relative)
{
    return std::fabs(actual - expected) <= relative * std::fabs(expected);
}

ParameterSet withDu(double du)
{
    ParameterSet p = DefaultParameterSet;
    p.du = du;
    return p;
}

} // namespace

class TestSynapse : public QObject {
    Q_OBJECT
private slots:
    void defaults();
    void spikePotential_data();
    void spikePotential();
    void releaseLaw_data();
    void releaseLaw();
    void releaseCrossesOneBetween44And45();
    void noReleaseWithoutNormFactor();
    void spikeReleaseAtPlateauIsNormFactor_data();
    void spikeReleaseAtPlateauIsNormFactor();
    void conductanceShape_data();
    void conductanceShape();
    void synapticConductance();
    void synapticCurrent_data();
    void synapticCurrent();
    void failureRate_data();
    void failureRate();
    void parameterTable();
};

void TestSynapse::defaults()
{
    ModelState state;
    state.LPC.N = 3;
    state.SpikeSteps = 7;
    state.StoredCount = 2;
    state.reset();
    QVERIFY(state.LPC == DefaultParameterSet);
    QVERIFY(state.LPI == DefaultParameterSet);
    QCOMPARE(state.LPC.Name, std::string("0: default"));
    QCOMPARE(state.SpikeSteps, 20);
    QCOMPARE(state.StoredCount, 0);
    QVERIFY(state.StoredStates[0] == DefaultParameterSet);
    const ParameterSet &d = DefaultParameterSet;
    QCOMPARE(int(d.BackgroundOn), 0);
    QCOMPARE(d.N, 10);
    QCOMPARE(d.Rg, 0.5);
    QCOMPARE(d.V2, -63.0);
    QCOMPARE(d.Emax, 20.0);
    QCOMPARE(d.V1r, -70.0);
    QCOMPARE(d.du, 1.0);
    QCOMPARE(d.ex, 5.0);
    QCOMPARE(d.gf, 0.15);
    QCOMPARE(d.Gmax, 0.20);
    QCOMPARE(d.tc, 2.5);
    QCOMPARE(d.Gb, 0.0);
}

void TestSynapse::spikePotential_data()
{
    QTest::addColumn<double>("du");
    QTest::addColumn<int>("k");
    QTest::addColumn<double>("expected");
    QTest::newRow("0.95 before onset") << 1.0 << 19 << -70.0;
    QTest::newRow("1.00 onset") << 1.0 << 20 << 20.0;
    QTest::newRow("1.95 last plateau sample") << 1.0 << 39 << 20.0;
    QTest::newRow("2.00 back at rest") << 1.0 << 40 << -70.0;
    QTest::newRow("start of trial") << 1.0 << 0 << -70.0;
    QTest::newRow("du 0.12 sample 20") << 0.12 << 20 << 20.0;
    QTest::newRow("du 0.12 sample 21") << 0.12 << 21 << 20.0;
    QTest::newRow("du 0.12 sample 22") << 0.12 << 22 << 20.0;
    QTest::newRow("du 0.12 sample 23") << 0.12 << 23 << -70.0;
    QTest::newRow("du 2.00 sample 59") << 2.0 << 59 << 20.0;
    QTest::newRow("du 2.00 sample 60") << 2.0 << 60 << -70.0;
}

void TestSynapse::spikePotential()
{
    QFETCH(double, du);
    QFETCH(int, k);
    QFETCH(double, expected);
    QCOMPARE(SpikePotential(withDu(du), k * TimeStep), expected);
}

void TestSynapse::releaseLaw_data()
{
    QTest::addColumn<double>("V");
    QTest::addColumn<double>("perStep");
    QTest::addColumn<double>("perSpike"); // negative: not stated
    QTest::addColumn<double>("relative");
    // The per-step constant 1 - 0.85^(1/20), worked out with pow.
    const double c = 1.0 - std::pow(0.85, 1.0 / 20.0);
    QTest::newRow("20 mV") << 20.0 << 0.0080930 << 0.15 << 5e-5;
    QTest::newRow("20 mV, pow") << 20.0 << c << -1.0 << 1e-12;
    QTest::newRow("0 mV") << 0.0 << 1.4823e-4 << 0.0029604 << 5e-5;
    QTest::newRow("0 mV, pow") << 0.0 << c * std::exp(-4.0) << 1.0 - std::pow(1.0 - c * std::exp(-4.0), 20.0)
                               << 1e-12;
    QTest::newRow("-70 mV") << -70.0 << 1.2326e-10 << -1.0 << 5e-5;
    QTest::newRow("10 mV") << 10.0 << c * std::exp(-2.0) << 0.021679 << 5e-5;
}

void TestSynapse::releaseLaw()
{
    QFETCH(double, V);
    QFETCH(double, perStep);
    QFETCH(double, perSpike);
    QFETCH(double, relative);
    const ParameterSet &p = DefaultParameterSet;
    QVERIFY2(close(ReleaseProbability(p, 20, V), perStep, relative),
        qPrintable(QString::number(ReleaseProbability(p, 20, V), 'g', 17)));
    if (perSpike >= 0)
        QVERIFY2(close(SpikeReleaseProbability(p, 20, V), perSpike, relative),
            qPrintable(QString::number(SpikeReleaseProbability(p, 20, V), 'g', 17)));
}

void TestSynapse::releaseCrossesOneBetween44And45()
{
    const ParameterSet &p = DefaultParameterSet;
    QVERIFY(ReleaseProbability(p, 20, 44) < 1.0);
    QVERIFY(ReleaseProbability(p, 20, 44) > 0.95);
    QVERIFY(ReleaseProbability(p, 20, 45) > 1.0);
    // Not clipped: far above the plateau the law keeps growing.
    QVERIFY(ReleaseProbability(p, 20, 60) > ReleaseProbability(p, 20, 45));
}

void TestSynapse::noReleaseWithoutNormFactor()
{
    ParameterSet p = DefaultParameterSet;
    p.gf = 0;
    for (double V : {-150.0, -70.0, 0.0, 20.0, 44.0, 45.0, 100.0})
        QCOMPARE(ReleaseProbability(p, 20, V), 0.0);
}

void TestSynapse::spikeReleaseAtPlateauIsNormFactor_data()
{
    QTest::addColumn<double>("du");
    QTest::addColumn<double>("gf");
    QTest::addColumn<int>("spikeSteps");
    QTest::newRow("du 0.10") << 0.10 << 0.15 << 2;
    QTest::newRow("du 0.12") << 0.12 << 0.15 << 2;
    QTest::newRow("du 1.00") << 1.0 << 0.15 << 20;
    QTest::newRow("du 2.00") << 2.0 << 0.15 << 40;
    QTest::newRow("du 2.00, gf 0.9999") << 2.0 << 0.9999 << 40;
    QTest::newRow("du 0.10, gf 0.0001") << 0.10 << 0.0001 << 2;
}

void TestSynapse::spikeReleaseAtPlateauIsNormFactor()
{
    QFETCH(double, du);
    QFETCH(double, gf);
    QFETCH(int, spikeSteps);
    ParameterSet p = withDu(du);
    p.gf = gf;
    QCOMPARE(spikeStepsFor(du), spikeSteps);
    QVERIFY(close(SpikeReleaseProbability(p, spikeSteps, p.Emax), gf, 1e-9));
}

void TestSynapse::conductanceShape_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<double>("expected");
    QTest::newRow("0") << 0.0 << 0.0;
    QTest::newRow("0.05") << 0.05 << 0.053289;
    QTest::newRow("1.0") << 1.0 << 0.72885;
    QTest::newRow("2.5 peak") << 2.5 << 1.0;
    QTest::newRow("5.0") << 5.0 << 0.73576;
    QTest::newRow("15.0") << 15.0 << 0.040428;
}

void TestSynapse::conductanceShape()
{
    QFETCH(double, t);
    QFETCH(double, expected);
    const double g = ConductanceShape(DefaultParameterSet, t);
    if (expected == 0)
        QCOMPARE(g, 0.0);
    else
        QVERIFY2(close(g, expected, 2e-5), qPrintable(QString::number(g, 'g', 17)));
}

void TestSynapse::synapticConductance()
{
    ParameterSet p = DefaultParameterSet;
    SiteTable sites;
    for (int k : {0, 20, 70, 320})
        QCOMPARE(SynapticConductance(p, sites, k), 0.0);
    p.Gb = 0.05;
    QVERIFY(close(SynapticConductance(p, sites, 33), 10 * 0.05, 1e-15));
    p.Gb = 0;

    sites[3].Available = false;
    sites[3].ReleaseStep = 20;
    QCOMPARE(SynapticConductance(p, sites, 20), 0.0);
    QVERIFY(close(SynapticConductance(p, sites, 70), 0.20, 1e-12));
    QVERIFY(close(SynapticConductance(p, sites, 21), 0.20 * 0.053289, 2e-5));
    const double one = SynapticConductance(p, sites, 45);
    sites[7].Available = false;
    sites[7].ReleaseStep = 20;
    QCOMPARE(SynapticConductance(p, sites, 45), 2 * one);
    // A site beyond N is not summed.
    p.N = 5;
    QCOMPARE(SynapticConductance(p, sites, 45), one);
    // With background, a released site swings from Gb to Gmax at its peak.
    p.N = 10;
    p.Gb = 0.05;
    QVERIFY(close(SynapticConductance(p, sites, 70), 10 * 0.05 + 2 * (0.20 - 0.05), 1e-12));
}

void TestSynapse::synapticCurrent_data()
{
    QTest::addColumn<double>("Rg");
    QTest::addColumn<double>("G");
    QTest::addColumn<double>("V");
    QTest::addColumn<double>("expected");
    QTest::newRow("one quantum") << 0.5 << 0.2 << -63.0 << -11.4545;
    QTest::newRow("ten at peak") << 0.5 << 2.0 << -63.0 << -63.0;
    QTest::newRow("no conductance") << 0.5 << 0.0 << -63.0 << 0.0;
    QTest::newRow("no conductance, +40") << 0.5 << 0.0 << 40.0 << 0.0;
    QTest::newRow("Rg 0 is ohmic") << 0.0 << 0.37 << -63.0 << -63.0 * 0.37;
    QTest::newRow("outward") << 0.5 << 0.2 << 40.0 << 40.0 * 0.2 / 1.1;
}

void TestSynapse::synapticCurrent()
{
    QFETCH(double, Rg);
    QFETCH(double, G);
    QFETCH(double, V);
    QFETCH(double, expected);
    ParameterSet p = DefaultParameterSet;
    p.Rg = Rg;
    const double I = SynapticCurrent(p, G, V);
    if (expected == 0)
        QCOMPARE(I, 0.0);
    else
        QVERIFY2(close(I, expected, 1e-5), qPrintable(QString::number(I, 'g', 17)));
    if (G == 0.2 && V == -63.0) // the cleft potential of one quantum
        QVERIFY(close(Rg * I, -5.7273, 1e-4));
}

void TestSynapse::failureRate_data()
{
    QTest::addColumn<double>("Gb");
    QTest::addColumn<double>("Rg");
    QTest::addColumn<double>("V");
    QTest::addColumn<double>("expected");
    QTest::newRow("defaults") << 0.0 << 0.5 << -63.0 << std::pow(0.85, 10);
    QTest::newRow("Rg 0") << 0.1 << 0.0 << -63.0 << std::pow(0.85, 10);
    QTest::newRow("V 0") << 0.1 << 0.5 << 0.0 << std::pow(0.85, 10);
    // Ib = -63 * 1 / 1.5 = -42 pA, the spike top 21 mV higher: a = e^4.2.
    QTest::newRow("background") << 0.1 << 0.5 << -63.0 << std::pow(0.85, 10 * std::exp(4.2));
}

void TestSynapse::failureRate()
{
    QFETCH(double, Gb);
    QFETCH(double, Rg);
    QFETCH(double, V);
    QFETCH(double, expected);
    ParameterSet p = DefaultParameterSet;
    p.Gb = Gb;
    p.Rg = Rg;
    QVERIFY(close(FailureRate(p, V), expected, 1e-12));
}

// Every field reached by its name is written and read back as itself, and
// the default set lies inside the ranges the editors accept.
void TestSynapse::parameterTable()
{
    ParameterSet p = DefaultParameterSet;
    for (const ParamInfo &info : cleftsim::parameterTable()) {
        QCOMPARE(findParam(info.name), &info);
        QCOMPARE(&paramInfo(info.field), &info);
        const double d = fieldValue(DefaultParameterSet, info.field);
        QVERIFY2(d >= info.min && d <= info.max, info.name);
        setFieldValue(p, info.field, info.max);
        QCOMPARE(fieldValue(p, info.field), info.max);
    }
    QCOMPARE(findParam("n"), nullptr);
    // Only du moves SpikeSteps, and setting the whole set keeps it too.
    ModelState state;
    state.setField(Param::du, 0.5);
    QCOMPARE(state.SpikeSteps, 10);
    state.setField(Param::tc, 5.0);
    QCOMPARE(state.SpikeSteps, 10);
    state.setCurrent(DefaultParameterSet);
    QCOMPARE(state.SpikeSteps, 20);
}

QTEST_GUILESS_MAIN(TestSynapse)
#include "tst_synapse.moc"
