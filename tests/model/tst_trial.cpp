#include "model/trial.h"

#include "compareplain.h"
#include "model/parameterset.h"
#include "model/rounding.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace cleftsim;
using namespace cleftsim::testing;

Q_DECLARE_METATYPE(ParameterSet)

class TestTrial : public QObject {
    Q_OBJECT
private slots:
    void matchesThePlainStepRule_data();
    void matchesThePlainStepRule();
    void matchesThePlainStepRuleOverManySets();
    void predictedReleasesWithoutFeedback_data();
    void predictedReleasesWithoutFeedback();
    void everySiteReleasesWhenPExceedsOne_data();
    void everySiteReleasesWhenPExceedsOne();
    void noReleaseWithoutNormFactor();
    void shortSpikeCoversThreeSamples();
    void editBetweenTrialsTakesEffect();
    void trialInsideAnotherTrial();
    void emptyWindowRunsNoStep();
    void shortWindow();
};

void TestTrial::matchesThePlainStepRule_data()
{
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<double>("Vc");
    QTest::addColumn<int>("kStart");
    QTest::addColumn<int>("kEnd");
    const ParameterSet d = DefaultParameterSet;
    QTest::newRow("defaults, records") << d << -63.0 << 0 << 320;
    QTest::newRow("defaults, short window") << d << -63.0 << 20 << 90;
    QTest::newRow("defaults, V 0") << d << 0.0 << 20 << 90;
    QTest::newRow("defaults, V +40") << d << 40.0 << 20 << 90;
    QTest::newRow("defaults, V -140") << d << -140.0 << 20 << 90;
    ParameterSet strong = d;
    strong.N = 20;
    strong.Rg = 9.99;
    strong.gf = 0.9999;
    strong.ex = 1.0;
    QTest::newRow("strong feedback") << strong << -150.0 << 0 << 320;
    ParameterSet background = d;
    background.BackgroundOn = 1;
    background.Gb = 0.15;
    QTest::newRow("background") << background << -63.0 << 0 << 320;
    ParameterSet equal = background;
    equal.Gb = equal.Gmax;
    QTest::newRow("Gb equal to Gmax") << equal << -100.0 << 20 << 90;
    ParameterSet shortSpike = d;
    shortSpike.du = 0.12;
    shortSpike.gf = 0.5;
    QTest::newRow("du 0.12") << shortSpike << -63.0 << 0 << 320;
    ParameterSet rest = d;
    rest.V1r = 40;
    rest.Emax = -40;
    rest.ex = 1;
    QTest::newRow("p above 1 at rest") << rest << -63.0 << 0 << 320;
    ParameterSet one = d;
    one.N = 1;
    one.tc = 9.99;
    one.du = 2.0;
    QTest::newRow("one site, long") << one << -63.0 << 20 << shortWindowEnd(one);
    ParameterSet noGap = d;
    noGap.Rg = 0;
    noGap.N = 20;
    noGap.gf = 0.9;
    QTest::newRow("Rg 0, 20 sites") << noGap << -150.0 << 0 << 320;
    ParameterSet twenty = strong;
    twenty.Rg = 2.0;
    twenty.Gmax = 9.99;
    twenty.tc = 0.5;
    QTest::newRow("20 sites, large quanta") << twenty << -150.0 << 20 << shortWindowEnd(twenty);
    QTest::newRow("20 sites, large quanta, V +40") << twenty << 40.0 << 20 << shortWindowEnd(twenty);
    ParameterSet pulse = d;
    pulse.ex = 1;
    pulse.Emax = -40;
    pulse.V1r = -100;
    pulse.Rg = 9.99;
    pulse.Gmax = 9.99;
    pulse.N = 1;
    QTest::newRow("one site, feedback lifts p above 1") << pulse << -150.0 << 0 << 320;
    pulse.N = 20;
    QTest::newRow("20 sites, feedback lifts p above 1") << pulse << -150.0 << 20 << shortWindowEnd(pulse);
    ParameterSet none = strong;
    none.gf = 0;
    QTest::newRow("no norm factor") << none << -150.0 << 0 << 320;
    ParameterSet slow = background;
    slow.tc = 9.99;
    slow.du = 2.0;
    QTest::newRow("slow quanta, background, V +40") << slow << 40.0 << 0 << 320;
}

void TestTrial::matchesThePlainStepRule()
{
    QFETCH(ParameterSet, p);
    QFETCH(double, Vc);
    QFETCH(int, kStart);
    QFETCH(int, kEnd);
    for (std::uint32_t seed : {0u, 1u, 4711u, 86399999u, 0xffffffffu}) {
        const QString d = compareWithPlainOnEveryScan(Case {p, Vc, kStart, kEnd}, seed);
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(d)));
    }
}

void TestTrial::matchesThePlainStepRuleOverManySets()
{
    // Parameter sets spread over the editors' ranges, drawn from a generator
    // of their own; every set is checked at a few clamp potentials and seeds.
    Generator pick(20261207u);
    auto within = [&](double lo, double hi, double step) {
        const int n = Round((hi - lo) / step);
        return lo + std::floor(pick.next() * (n + 1)) * step;
    };
    for (int set = 0; set < 600; ++set) {
        ParameterSet p;
        p.N = 1 + int(pick.next() * 20);
        if (set % 5 == 1)
            p.N = set % 2 ? 1 : 20;
        p.Rg = set % 7 == 3 ? 0.0 : within(0, 9.99, 0.01);
        p.Emax = within(-40, 40, 1);
        p.V1r = within(-100, 40, 1);
        p.du = within(0.10, 2.00, 0.01);
        p.ex = within(1.0, 9.99, 0.01);
        p.gf = within(0, 0.9999, 0.0001);
        p.Gmax = within(0.01, 9.99, 0.01);
        p.tc = within(0.5, 9.99, 0.01);
        if (pick.next() < 0.3) {
            p.BackgroundOn = 1;
            p.Gb = std::floor(pick.next() * p.Gmax * 1000) / 1000;
        }
        const double Vc = within(-150, 40, 1);
        const double window = pick.next();
        Case c {p, Vc, shortWindowStart(), shortWindowEnd(p)};
        if (window < 0.3) {
            c.kStart = 0; // the records window
            c.kEnd = 320;
        } else if (window < 0.5) {
            c.kStart = int(pick.next() * 60); // any window
            c.kEnd = c.kStart + int(pick.next() * 200);
        }
        const auto seed = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        const QString d = compareWithPlainOnEveryScan(c, seed);
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral("set %1: %2").arg(set).arg(d)));
    }
}

void TestTrial::predictedReleasesWithoutFeedback_data()
{
    QTest::addColumn<double>("Rg");
    QTest::addColumn<double>("Gb");
    QTest::addColumn<double>("Vc");
    QTest::addColumn<int>("kStart");
    QTest::addColumn<int>("kEnd");
    QTest::newRow("Rg 0, records") << 0.0 << 0.0 << -63.0 << 0 << 320;
    QTest::newRow("Rg 0, short window") << 0.0 << 0.0 << -140.0 << 20 << 90;
    QTest::newRow("Rg 0, background") << 0.0 << 0.1 << -63.0 << 0 << 320;
    QTest::newRow("V 0, background") << 0.5 << 0.1 << 0.0 << 0 << 320;
}

void TestTrial::predictedReleasesWithoutFeedback()
{
    // Without feedback the per-step probability is that of the spike alone,
    // so the release step of every site follows from replaying the generator.
    QFETCH(double, Rg);
    QFETCH(double, Gb);
    QFETCH(double, Vc);
    QFETCH(int, kStart);
    QFETCH(int, kEnd);
    ParameterSet p = DefaultParameterSet;
    p.N = 20;
    p.Rg = Rg;
    p.Gb = Gb;
    p.BackgroundOn = Gb > 0;
    p.gf = 0.6;
    p.V1r = -5; // release before and after the spike too
    const double c = 1.0 - std::pow(1.0 - p.gf, 1.0 / 20.0);
    for (std::uint32_t seed : {3u, 77777u, 123456789u}) {
        std::uint64_t s = seed;
        int expectedStep[MaxSites + 1];
        bool released[MaxSites + 1] = {};
        int expectedM = 0;
        for (int k = kStart; k <= kEnd; ++k) {
            const double t = k / 20.0;
            const double E = (t >= 1.0 && t < 2.0) ? p.Emax : p.V1r;
            const double prob = c * std::exp((E - p.Emax) / p.ex);
            for (int j = 1; j <= p.N; ++j) {
                if (released[j])
                    continue;
                s = (s * 134775813ull + 1ull) % 4294967296ull;
                if (double(s) / 4294967296.0 < prob) {
                    released[j] = true;
                    expectedStep[j] = k;
                    ++expectedM;
                }
            }
        }
        QVERIFY(expectedM > 3);
        SiteTable sites;
        Generator rng(seed);
        NoObserver none;
        QCOMPARE(runTrial(p, 20, sites, rng, Vc, kStart, kEnd, none), expectedM);
        for (int j = 1; j <= p.N; ++j) {
            QCOMPARE(!sites[j].Available, released[j]);
            if (released[j])
                QCOMPARE(sites[j].ReleaseStep, expectedStep[j]);
        }
        QCOMPARE(std::uint64_t(rng.seed()), s);
    }
}

void TestTrial::everySiteReleasesWhenPExceedsOne_data()
{
    QTest::addColumn<int>("N");
    QTest::addColumn<int>("kStart");
    QTest::addColumn<int>("kEnd");
    QTest::newRow("1 site, records") << 1 << 0 << 320;
    QTest::newRow("10 sites, after the spike") << 10 << 40 << 90;
    QTest::newRow("20 sites, records") << 20 << 0 << 320;
}

void TestTrial::everySiteReleasesWhenPExceedsOne()
{
    QFETCH(int, N);
    QFETCH(int, kStart);
    QFETCH(int, kEnd);
    ParameterSet p = DefaultParameterSet;
    p.N = N;
    p.V1r = 40;
    p.Emax = -40;
    p.ex = 1;
    QVERIFY(ReleaseProbability(p, 20, p.V1r) > 1);
    SiteTable sites;
    Generator rng(99);
    Recorder r;
    QCOMPARE(runTrial(p, 20, sites, rng, -63.0, kStart, kEnd, r), N);
    QCOMPARE(int(r.releases.size()), N);
    for (int j = 1; j <= N; ++j) {
        QVERIFY(!sites[j].Available);
        QCOMPARE(sites[j].ReleaseStep, kStart);
        QCOMPARE(r.releases[j - 1], std::make_pair(j, kStart));
    }
    // Each site drew once, at the first step, and never again.
    QCOMPARE(rng.seed(), advanced(99, N));
}

void TestTrial::noReleaseWithoutNormFactor()
{
    ParameterSet p = DefaultParameterSet;
    p.gf = 0;
    p.N = 13;
    p.Rg = 9.99;
    for (double Vc : {-150.0, 0.0, 40.0}) {
        SiteTable sites;
        Generator rng(5);
        Recorder r;
        QCOMPARE(runTrial(p, 20, sites, rng, Vc, 0, 320, r), 0);
        QVERIFY(r.releases.empty());
        for (const StepReport &s : r.steps) {
            QCOMPARE(s.p, 0.0);
            QCOMPARE(s.G, 0.0);
        }
        // Every site still draws at every step.
        QCOMPARE(rng.seed(), advanced(5, 13LL * 321));
    }
}

void TestTrial::shortSpikeCoversThreeSamples()
{
    ParameterSet p = DefaultParameterSet;
    p.du = 0.12;
    p.gf = 0;
    const int spikeSteps = spikeStepsFor(p.du);
    QCOMPARE(spikeSteps, 2);
    SiteTable sites;
    Generator rng(1);
    Recorder r;
    runTrial(p, spikeSteps, sites, rng, -63.0, 0, 320, r);
    QCOMPARE(int(r.steps.size()), 321);
    for (const StepReport &s : r.steps) {
        const bool plateau = s.k >= 20 && s.k <= 22;
        QCOMPARE(s.E, plateau ? 20.0 : -70.0);
        QCOMPARE(s.Vpre, s.E); // no current, no shift
    }
}

void TestTrial::editBetweenTrialsTakesEffect()
{
    // One parameter set edited between trials, as an editor does while a
    // sweep yields: every trial must follow the values it starts with.
    ParameterSet p = DefaultParameterSet;
    p.gf = 0;
    SiteTable sites;
    Generator rng(31);
    NoObserver none;
    QCOMPARE(runTrial(p, 20, sites, rng, -63.0, 20, 90, none), 0);
    p.gf = 0.9999;
    QVERIFY(runTrial(p, 20, sites, rng, -63.0, 20, 90, none) > 0);

    const double edits[][2] = {{0, 0.7}, {1, 3.0}, {2, -10}, {3, 0.05}, {4, 0.3}, {5, 2.0}, {6, 1.5}};
    p = DefaultParameterSet;
    for (const auto &e : edits) {
        switch (int(e[0])) {
        case 0: p.gf = e[1]; break;
        case 1: p.tc = e[1]; break;
        case 2: p.Emax = e[1]; break;
        case 3: p.Gb = e[1]; break;
        case 4: p.Gmax = e[1]; break;
        case 5: p.ex = e[1]; break;
        case 6: p.du = e[1]; break;
        }
        const QString d = compareWithPlain(Case {p, -63.0, 0, 320}, 555u);
        QVERIFY2(d.isEmpty(), qPrintable(d));
        const QString s = compareWithPlain(Case {p, -63.0, 20, shortWindowEnd(p)}, 556u);
        QVERIFY2(s.isEmpty(), qPrintable(s));
    }
}

namespace {

// Runs a whole other trial from inside its first report of step 30.
struct NestingRecorder : Recorder {
    bool done = false;
    void step(const StepReport &s)
    {
        Recorder::step(s);
        if (s.k != 30 || done)
            return;
        done = true;
        ParameterSet other = DefaultParameterSet;
        other.Emax = 35;
        other.tc = 7;
        SiteTable sites;
        Generator rng(8);
        NoObserver none;
        runTrial(other, 20, sites, rng, -100.0, 0, 320, none);
    }
};

} // namespace

void TestTrial::trialInsideAnotherTrial()
{
    ParameterSet p = DefaultParameterSet;
    p.gf = 0.8;
    SiteTable sites, plainSites;
    Generator rng(2024), plainRng(2024);
    NestingRecorder nested;
    Recorder plain;
    const int m = runTrial(p, 20, sites, rng, -63.0, 0, 320, nested);
    QVERIFY(nested.done);
    QCOMPARE(m, plainTrial(p, 20, plainSites, plainRng, -63.0, 0, 320, plain));
    const QString d = difference(nested, plain);
    QVERIFY2(d.isEmpty(), qPrintable(d));
    QCOMPARE(rng.seed(), plainRng.seed());
}

void TestTrial::emptyWindowRunsNoStep()
{
    SiteTable sites;
    sites[2].Available = false;
    sites[2].ReleaseStep = 40;
    Generator rng(12);
    Recorder r;
    QCOMPARE(runTrial(DefaultParameterSet, 20, sites, rng, -63.0, 30, 29, r), 0);
    QVERIFY(r.steps.empty());
    QVERIFY(sites[2].Available);
    QCOMPARE(sites[2].ReleaseStep, 0);
    QCOMPARE(rng.seed(), 12u);
}

void TestTrial::shortWindow()
{
    QCOMPARE(shortWindowStart(), 20);
    QCOMPARE(shortWindowEnd(DefaultParameterSet), 90);
    ParameterSet p = DefaultParameterSet;
    p.du = 2.0;
    p.tc = 9.99;
    QCOMPARE(shortWindowEnd(p), 260);
    p.du = 0.1;
    p.tc = 0.5;
    QCOMPARE(shortWindowEnd(p), 32);
}

QTEST_GUILESS_MAIN(TestTrial)
#include "tst_trial.moc"
