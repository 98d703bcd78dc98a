#include "model/trialtables.h"

#include "model/parameterset.h"
#include "model/steprule.h"
#include "model/synapse.h"
#include "model/trial.h"

#include <QtTest>

#include <cmath>
#include <cstdint>

using namespace cleftsim;

Q_DECLARE_METATYPE(ParameterSet)

class TestTrialTables : public QObject {
    Q_OBJECT
private slots:
    void releaseBoundNeverFallsBelowTheLaw_data();
    void releaseBoundNeverFallsBelowTheLaw();
    void stretchBoundCoversEveryStep_data();
    void stretchBoundCoversEveryStep();
};

void TestTrialTables::releaseBoundNeverFallsBelowTheLaw_data()
{
    QTest::addColumn<double>("ex");
    QTest::addColumn<double>("gf");
    QTest::addColumn<double>("du");
    QTest::addColumn<double>("Emax");
    QTest::newRow("defaults") << 5.0 << 0.15 << 1.0 << 20.0;
    QTest::newRow("steep") << 1.0 << 0.9999 << 0.10 << -40.0;
    QTest::newRow("flat") << 9.99 << 0.0001 << 2.0 << 40.0;
    QTest::newRow("odd") << 3.17 << 0.4321 << 0.37 << 7.0;
}

void TestTrialTables::releaseBoundNeverFallsBelowTheLaw()
{
    // The trial skips the law where the bound shows that no number drawn can
    // fall below it, so the bound must never be below the law, and it must
    // be close enough to spare the law most of the time.
    QFETCH(double, ex);
    QFETCH(double, gf);
    QFETCH(double, du);
    QFETCH(double, Emax);
    ParameterSet p = DefaultParameterSet;
    p.ex = ex;
    p.gf = gf;
    p.du = du;
    p.Emax = Emax;
    const int spikeSteps = spikeStepsFor(du);
    TrialTables t;
    t.build(p, spikeSteps, 0, 10);
    QVERIFY(t.boundUsable());
    Generator pick(1);
    for (int i = 0; i < 100000; ++i) {
        // Potentials from far below the plateau to where p passes 1.
        const double Vpre = Emax - 800.0 * ex + pick.next() * 830.0 * ex;
        const double law = ReleaseProbability(p, spikeSteps, Vpre) * 4294967296.0;
        const double bound = detail::releaseBound(t, Vpre, Emax);
        if (!(bound >= law))
            QFAIL(qPrintable(QStringLiteral("V %1: %2 < %3").arg(Vpre, 0, 'g', 17).arg(bound).arg(law)));
        const std::uint32_t below = detail::thresholdBelowAt(t, Vpre, 0, 0, 0.0, p.Rg, Emax);
        if (!(below <= std::ceil(law)))
            QFAIL(qPrintable(
                QStringLiteral("V %1: below %2, law %3").arg(Vpre, 0, 'g', 17).arg(below).arg(law)));
        if (law > 1 && law < 4e9 && !(bound <= law * 1.0625))
            QFAIL(qPrintable(QStringLiteral("V %1: bound %2, law %3").arg(Vpre).arg(bound).arg(law)));
    }
    // Exactly at the points where the split moves to the next power of two
    // or the next 64th of one, on both sides, where the bounds of the grid
    // and the peak trials (powerAbove, powerBelow) come closest to the law:
    // never past it, and within 2^(1/64) of it.
    for (int n = -60; n <= 5; ++n) {
        for (int i = 0; i < 64; ++i) {
            const double Vpre = Emax + (n + i / 64.0) * ex / 1.4426950408889634;
            for (double nudge : {-1e-12, 0.0, 1e-12}) {
                const double V = Vpre + nudge;
                const double law = ReleaseProbability(p, spikeSteps, V) * 4294967296.0;
                QVERIFY(detail::releaseBound(t, V, Emax) >= law);
                const double above = detail::powerAbove(t, V, Emax);
                const double beneath = detail::powerBelow(t, V, Emax);
                const std::uint32_t below = detail::thresholdBelowAt(t, V, 0, 0, 0.0, p.Rg, Emax);
                const QByteArray where
                    = QStringLiteral("n %1, i %2, nudge %3").arg(n).arg(i).arg(nudge).toLatin1();
                QVERIFY2(above >= law && beneath <= law, where.constData());
                QVERIFY2(above <= law * 1.0111 && beneath >= law * 0.989, where.constData());
                QVERIFY2(below <= std::ceil(law), where.constData());
                if (law < 4e9)
                    QVERIFY2(below >= law * 0.989 - 1, where.constData());
            }
        }
    }
}

void TestTrialTables::stretchBoundCoversEveryStep_data()
{
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<double>("Vc");
    const ParameterSet d = DefaultParameterSet;
    QTest::newRow("defaults") << d << -63.0;
    QTest::newRow("defaults, V -140") << d << -140.0;
    QTest::newRow("defaults, V +40") << d << 40.0;
    QTest::newRow("defaults, V 0") << d << 0.0;
    QTest::newRow("defaults, V just below 0") << d << -1e-300;
    ParameterSet noGap = d;
    noGap.Rg = 0;
    QTest::newRow("Rg 0") << noGap << -150.0;
    ParameterSet strong = d;
    strong.N = 20;
    strong.Rg = 9.99;
    strong.Gmax = 9.99;
    strong.ex = 1;
    strong.gf = 0.9999;
    QTest::newRow("strong feedback") << strong << -150.0;
    ParameterSet background = d;
    background.BackgroundOn = 1;
    background.Gb = 0.2;
    background.tc = 0.5;
    QTest::newRow("background, fast quanta") << background << -150.0;
    ParameterSet flat = d;
    flat.ex = 9.99;
    flat.gf = 0.0001;
    flat.V1r = 40;
    flat.Emax = -40;
    QTest::newRow("resting above the spike") << flat << -100.0;
}

void TestTrialTables::stretchBoundCoversEveryStep()
{
    // Every state that can release in a step of a stretch must fall below
    // the stretch's bound: the bound is at least ceil(p 2^32) of every step,
    // whatever the releases before the stretch, as long as no site releases
    // inside it. Where it gives a bound, it must also be a useful one.
    QFETCH(ParameterSet, p);
    QFETCH(double, Vc);
    const int spikeSteps = spikeStepsFor(p.du);
    TrialTables t;
    t.build(p, spikeSteps, 0, 320);
    QVERIFY(t.stretchesUsable());
    Generator pick(17);
    int useful = 0;
    int banded = 0; // steps whose band is narrow
    for (int round = 0; round < 3000; ++round) {
        const int k = 1 + int(pick.next() * 300);
        const int runEnd = t.sameSpikeUntil(k) < 320 ? t.sameSpikeUntil(k) : 320;
        const int last = std::min(runEnd, k + int(pick.next() * 40));
        SiteTable sites;
        int releasedStep[MaxSites];
        int nReleased = 0;
        const double share = (round % 4) / 6.0; // none released in every fourth round
        for (int j = 1; j <= p.N; ++j) {
            if (pick.next() < share) {
                sites[j].Available = false;
                sites[j].ReleaseStep = int(pick.next() * k); // before the stretch
                releasedStep[nReleased++] = sites[j].ReleaseStep;
            }
        }
        const std::uint32_t bound = detail::stretchBound(t, k, last, releasedStep, nReleased, Vc);
        for (int step = k; step <= last; ++step) {
            const double E = SpikePotential(p, step * TimeStep);
            const double G = SynapticConductance(p, sites, step);
            const double Vpre = E - p.Rg * SynapticCurrent(p, G, Vc);
            const double scaled = ReleaseProbability(p, spikeSteps, Vpre) * 4294967296.0;
            if (bound != 0 && !(scaled <= bound))
                QFAIL(qPrintable(QStringLiteral("round %1 step %2: p 2^32 %3 above the bound %4")
                                     .arg(round)
                                     .arg(step)
                                     .arg(scaled, 0, 'g', 17)
                                     .arg(bound)));
            // The band of the step's own conductance: the states below lower
            // release, those at or above upper do not.
            std::uint32_t lower, upper;
            t.thresholdBand(E, G, Vc, lower, upper);
            const double threshold = std::ceil(scaled);
            if (double(lower) > threshold || (upper != 0 && double(upper) < threshold))
                QFAIL(qPrintable(QStringLiteral("round %1 step %2: band %3..%4 misses the threshold %5")
                                     .arg(round)
                                     .arg(step)
                                     .arg(lower)
                                     .arg(upper)
                                     .arg(threshold, 0, 'g', 17)));
            banded += upper != 0 && lower > 0 && double(upper - lower) < 0.2 * threshold + 2;
        }
        useful += bound != 0;
    }
    // The bounds a loop reads from the coarse cells of one spike potential:
    // at least the law's threshold at every conductance up to G, at the
    // cells' edges, far past the largest conductance (where no cell holds),
    // and at a spike potential the grid does not hold.
    t.useClamp(Vc);
    const double cap = (p.Gb + 1.5 * p.Gmax) * p.N + 1.0;
    for (int slot : {-1, 0, 1}) {
        const double E = slot == 0 ? p.Emax : slot == 1 ? p.V1r : (p.Emax + p.V1r) / 2;
        QCOMPARE(t.gridSlot(E), slot);
        const TrialTables::UpperRow row = t.upperRow(slot);
        for (int i = 0; i <= 2600; ++i) {
            const double G = i <= 2400 ? cap * i / 2400.0 : cap * (1 << (i - 2400) % 30);
            const std::uint32_t bound = t.thresholdAboveIn(row, slot, E, G);
            QCOMPARE(t.thresholdAboveIn(row, slot, E, G), bound); // made once, read again
            for (double share : {0.0, 0.5, 1.0}) {
                const double Vpre = E - p.Rg * SynapticCurrent(p, G * share, Vc);
                const double scaled = ReleaseProbability(p, spikeSteps, Vpre) * 4294967296.0;
                if (bound != 0 && !(scaled <= bound))
                    QFAIL(qPrintable(QStringLiteral("slot %1, G %2: p 2^32 %3 above the bound %4")
                                         .arg(slot)
                                         .arg(G * share, 0, 'g', 17)
                                         .arg(scaled, 0, 'g', 17)
                                         .arg(bound)));
            }
        }
    }
    // Before any release the threshold of a step is the clamp's, exactly
    // that of the law at the background's conductance (2^32: every state
    // is below p 2^32 > 2^32 - 1).
    for (double E : {p.Emax, p.V1r}) {
        const double background = p.Gb * p.N;
        const double Vpre = E - p.Rg * SynapticCurrent(p, background, Vc);
        const double scaled = ReleaseProbability(p, spikeSteps, Vpre) * 4294967296.0;
        const double exact = scaled > 4294967295.0 ? 4294967296.0 : (scaled > 0 ? std::ceil(scaled) : 0.0);
        QCOMPARE(double(t.thresholdBeforeRelease(E, Vc)), exact);
    }
    QVERIFY2(useful > 300, qPrintable(QString::number(useful)));
    QVERIFY2(banded > 0 || Vc == 0 || p.Rg * std::fabs(Vc) > 100, qPrintable(QString::number(banded)));
    // The rounding up of the bound at its edges.
    QCOMPARE(detail::ceilingOf(1e-300), 1u);
    QCOMPARE(detail::ceilingOf(1.0), 1u);
    QCOMPARE(detail::ceilingOf(std::nextafter(1.0, 2.0)), 2u);
    QCOMPARE(detail::ceilingOf(4294967294.5), 4294967295u);
    QCOMPARE(detail::ceilingOf(4294967295.0), 4294967295u);
}

QTEST_GUILESS_MAIN(TestTrialTables)
#include "tst_trialtables.moc"
