#include "model/peaktrial.h"

#include "compareplain.h"
#include "model/parameterset.h"
#include "model/smallstates.h"

#include <QtTest>

#include <cstdint>
#include <string>

using namespace cleftsim;
using namespace cleftsim::testing;

Q_DECLARE_METATYPE(ParameterSet)

class TestPeakTrial : public QObject {
    Q_OBJECT
private slots:
    void releasesAtTheSmallestStates_data();
    void releasesAtTheSmallestStates();
};

void TestPeakTrial::releasesAtTheSmallestStates_data()
{
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<double>("Vc");
    const ParameterSet d = DefaultParameterSet;
    QTest::newRow("defaults, V +40") << d << 40.0;
    QTest::newRow("defaults, V 0") << d << 0.0;
    QTest::newRow("defaults, V -63") << d << -63.0;
    QTest::newRow("defaults, V -140") << d << -140.0;
    ParameterSet background = d;
    background.BackgroundOn = 1;
    background.Gb = 0.05;
    QTest::newRow("background, V -100") << background << -100.0;
    ParameterSet one = d;
    one.N = 1;
    QTest::newRow("one site, V -20") << one << -20.0;
}

void TestPeakTrial::releasesAtTheSmallestStates()
{
    // After the spike only the smallest states release, and the trial finds
    // them from their places on the cycle: trials whose draws pass state 0,
    // 1 or the largest small state at every draw of the window, alone and
    // one after another, against the plain step rule on every scan.
    QFETCH(ParameterSet, p);
    QFETCH(double, Vc);
    const int spikeSteps = spikeStepsFor(p.du);
    const Case c {p, Vc, shortWindowStart(), shortWindowEnd(p)};
    for (std::uint32_t x : {0u, 1u, detail::SmallStates::Count - 1}) {
        for (std::uint32_t back = 1; back <= 800; back += (back < 100 ? 1 : 7)) {
            const QString d = compareWithPlainOnEveryScan(c, drawsBefore(x, back));
            QVERIFY2(d.isEmpty(),
                qPrintable(QStringLiteral("state %1, %2 draws before: %3").arg(x).arg(back).arg(d)));
        }
        for (const std::string &scan : availableDrawScans()) {
            cleftsim::testing::ScanInUse use(scan);
            Generator rng(drawsBefore(x, 20000)), plainRng(rng.seed());
            SiteTable sites, plainSites;
            PeakTrials trials(p, spikeSteps, Vc, c.kStart, c.kEnd, PeakKind::BySign);
            for (int trial = 0; trial < 60; ++trial) {
                testing::PlainPeak follow {Vc, false, 0.0};
                const int m = plainTrial(p, spikeSteps, plainSites, plainRng, Vc, c.kStart, c.kEnd, follow);
                const PeakTrialResult r = trials.run(sites, rng);
                QVERIFY2(r.m == m && bits(r.peak) == bits(follow.peak) && rng.seed() == plainRng.seed(),
                    qPrintable(
                        QStringLiteral("%1 scan, trial %2").arg(QString::fromStdString(scan)).arg(trial)));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestPeakTrial)
#include "tst_peaktrial.moc"
