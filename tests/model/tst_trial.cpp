#include "model/parameterset.h"
#include "model/rounding.h"
#include "model/trial.h"
#include "model/trialtables.h"

#include "everyscan.h"
#include "model/drawscan.h"
#include "model/peaktrial.h"
#include "model/smallstates.h"
#include "plaintrial.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace cleftsim;
using cleftsim::testing::bits;
using cleftsim::testing::plainTrial;

namespace {

// Keeps everything a trial reports.
struct Recorder {
    std::vector<StepReport> steps;
    std::vector<std::pair<int, int>> releases;
    void step(const StepReport &s) { steps.push_back(s); }
    void release(int j, int k) { releases.emplace_back(j, k); }
};

// Keeps the reports of a trial but does not read p.
struct QuietRecorder : Recorder {
    static constexpr bool usesProbability = false;
    void step(const StepReport &s)
    {
        Recorder::step(s);
        steps.back().p = 0;
    }
};

// Compares two trials' reports bit for bit; returns an empty string when equal.
QString difference(const Recorder &a, const Recorder &b)
{
    if (a.steps.size() != b.steps.size())
        return QStringLiteral("%1 steps against %2").arg(a.steps.size()).arg(b.steps.size());
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
        const StepReport &x = a.steps[i];
        const StepReport &y = b.steps[i];
        if (x.k != y.k || bits(x.E) != bits(y.E) || bits(x.G) != bits(y.G) || bits(x.I) != bits(y.I)
            || bits(x.Vpre) != bits(y.Vpre) || bits(x.p) != bits(y.p))
            return QStringLiteral("step %1: G %2/%3 I %4/%5 p %6/%7")
                .arg(x.k)
                .arg(x.G, 0, 'g', 17)
                .arg(y.G, 0, 'g', 17)
                .arg(x.I, 0, 'g', 17)
                .arg(y.I, 0, 'g', 17)
                .arg(x.p, 0, 'g', 17)
                .arg(y.p, 0, 'g', 17);
    }
    if (a.releases != b.releases)
        return QStringLiteral("releases differ");
    return QString();
}

// Generator state after n draws from s (any n below 2^32), by squaring the
// step: the jump over 2^b draws is the jump over 2^(b-1) done twice.
std::uint32_t jumped(std::uint32_t s, std::uint64_t n)
{
    std::uint64_t mul = 134775813ull, add = 1ull, x = s;
    for (; n != 0; n >>= 1) {
        if (n & 1)
            x = (x * mul + add) % 4294967296ull;
        add = (add * mul + add) % 4294967296ull;
        mul = (mul * mul) % 4294967296ull;
    }
    return static_cast<std::uint32_t>(x);
}

// The seed that many draws before state x: on the cycle of 2^32 states,
// 2^32 - n draws after it.
std::uint32_t drawsBefore(std::uint32_t x, std::uint32_t n)
{
    return jumped(x, (std::uint64_t(1) << 32) - n);
}

int bitsSetIn(std::uint32_t x)
{
    int n = 0;
    for (; x != 0; x &= x - 1)
        ++n;
    return n;
}

// Generator state after n draws from s, by the recurrence in 64-bit arithmetic.
std::uint32_t advanced(std::uint32_t s, long long n)
{
    std::uint64_t x = s;
    for (long long i = 0; i < n; ++i)
        x = (x * 134775813ull + 1ull) % 4294967296ull;
    return static_cast<std::uint32_t>(x);
}

struct Case {
    ParameterSet p;
    double Vc;
    int kStart;
    int kEnd;
};

// Runs the fast and the plain trial from the same seed and compares all.
QString compareWithPlain(const Case &c, std::uint32_t seed)
{
    const int spikeSteps = spikeStepsFor(c.p.du);
    SiteTable fastSites, plainSites;
    fastSites.fill(Site {false, 99});
    Generator fastRng(seed), plainRng(seed);
    Recorder fast, plain;
    const int mFast = runTrial(c.p, spikeSteps, fastSites, fastRng, c.Vc, c.kStart, c.kEnd, fast);
    const int mPlain = plainTrial(c.p, spikeSteps, plainSites, plainRng, c.Vc, c.kStart, c.kEnd, plain);
    const QString d = difference(fast, plain);
    if (!d.isEmpty())
        return d;
    if (mFast != mPlain)
        return QStringLiteral("m %1 against %2").arg(mFast).arg(mPlain);
    if (fastRng.seed() != plainRng.seed())
        return QStringLiteral("generator left at %1 against %2").arg(fastRng.seed()).arg(plainRng.seed());
    for (int j = 1; j <= c.p.N; ++j)
        if (fastSites[j].Available != plainSites[j].Available
            || fastSites[j].ReleaseStep != plainSites[j].ReleaseStep)
            return QStringLiteral("site %1 differs").arg(j);
    // An observer that does not read p lets the trial skip the release law
    // where a bound rules every release out: it must draw and decide the same.
    Generator quietRng(seed);
    QuietRecorder quiet;
    if (runTrial(c.p, spikeSteps, fastSites, quietRng, c.Vc, c.kStart, c.kEnd, quiet) != mPlain
        || quietRng.seed() != plainRng.seed())
        return QStringLiteral("the quiet trial differs");
    for (StepReport &s : plain.steps)
        s.p = 0;
    const QString q = difference(quiet, plain);
    if (!q.isEmpty())
        return QStringLiteral("quiet: ") + q;
    Generator noneRng(seed);
    NoObserver none;
    if (runTrial(c.p, spikeSteps, fastSites, noneRng, c.Vc, c.kStart, c.kEnd, none) != mPlain
        || noneRng.seed() != plainRng.seed())
        return QStringLiteral("the trial without observer differs");
    // The peak trials: the extreme current followed step by step from 0.
    for (PeakKind kind : {PeakKind::BySign, PeakKind::Inward}) {
        double peak = 0;
        for (const StepReport &s : plain.steps) {
            if ((kind == PeakKind::Inward || c.Vc < 0) && s.I < peak)
                peak = s.I;
            if (kind == PeakKind::BySign && c.Vc > 0 && s.I > peak)
                peak = s.I;
        }
        Generator peakRng(seed);
        SiteTable peakSites;
        peakSites.fill(Site {false, 77});
        const PeakTrialResult r
            = runPeakTrial(c.p, spikeSteps, peakSites, peakRng, c.Vc, c.kStart, c.kEnd, kind);
        if (r.m != mPlain || peakRng.seed() != plainRng.seed())
            return QStringLiteral("the peak trial draws differently");
        if (bits(r.peak) != bits(peak))
            return QStringLiteral("peak %1 against %2").arg(r.peak, 0, 'g', 17).arg(peak, 0, 'g', 17);
        int first = -1; // none
        for (int j = 1; j <= c.p.N; ++j) {
            if (peakSites[j].Available != plainSites[j].Available
                || peakSites[j].ReleaseStep != plainSites[j].ReleaseStep)
                return QStringLiteral("peak trial: site %1 differs").arg(j);
            if (!plainSites[j].Available && (first < 0 || plainSites[j].ReleaseStep < first))
                first = plainSites[j].ReleaseStep;
        }
        if (r.first != first)
            return QStringLiteral("peak trial: first release at step %1 against %2").arg(r.first).arg(first);
    }
    return QString();
}

// compareWithPlain with every draw scan this processor has.
QString compareWithPlainOnEveryScan(const Case &c, std::uint32_t seed)
{
    for (const std::string &scan : availableDrawScans()) {
        cleftsim::testing::ScanInUse use(scan);
        if (!use.used())
            return QStringLiteral("the %1 scan cannot be chosen").arg(QString::fromStdString(scan));
        const QString d = compareWithPlain(c, seed);
        if (!d.isEmpty())
            return QString::fromStdString(scan) + QStringLiteral(" scan: ") + d;
    }
    return QString();
}

} // namespace

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
    void releaseBoundNeverFallsBelowTheLaw_data();
    void releaseBoundNeverFallsBelowTheLaw();
    void stretchBoundCoversEveryStep_data();
    void stretchBoundCoversEveryStep();
    void drawScansFindTheFirstLowState();
    void smallStatesKnowTheirPlaces();
    void releasesAtTheSmallestStates_data();
    void releasesAtTheSmallestStates();
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

void TestTrial::releaseBoundNeverFallsBelowTheLaw_data()
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

void TestTrial::releaseBoundNeverFallsBelowTheLaw()
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

void TestTrial::stretchBoundCoversEveryStep_data()
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

void TestTrial::stretchBoundCoversEveryStep()
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

void TestTrial::drawScansFindTheFirstLowState()
{
    // Every scan the processor has against the recurrence: the first of count states below
    // the bound, for counts around the vector blocks, bounds from 1 to the
    // largest, and a low state placed exactly at the end of the count.
    auto firstByRecurrence = [](std::uint32_t seed, std::size_t count, std::uint32_t bound) {
        std::uint64_t x = seed;
        for (std::size_t i = 0; i < count; ++i) {
            x = (x * 134775813ull + 1ull) % 4294967296ull;
            if (x < bound)
                return i;
        }
        return count;
    };
    std::vector<const DrawScan *> scans;
    for (const DrawScan &scan : drawScans())
        if (scan.available())
            scans.push_back(&scan);
    QVERIFY(!scans.empty() && std::string(scans.front()->name) == "scalar");
    Generator pick(4242);
    for (int round = 0; round < 4000; ++round) {
        const auto seed = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        const std::size_t count = round < 200 ? std::size_t(round) : std::size_t(pick.next() * 700);
        const std::uint32_t bounds[]
            = {1u, 0x80000000u, 0xffffffffu, static_cast<std::uint32_t>(1 + pick.next() * 2e8),
                static_cast<std::uint32_t>(1 + pick.next() * 2e7)};
        for (std::uint32_t bound : bounds) {
            const std::size_t expected = firstByRecurrence(seed, count, bound);
            for (const DrawScan *scan : scans)
                QCOMPARE(scan->find(seed, count, bound), expected);
        }
        // A bound just above the last state of the count: found at the end
        // only, and not one draw past it.
        if (count > 0) {
            const std::uint32_t lastState = advanced(seed, static_cast<long long>(count));
            if (lastState < 0xffffffffu) {
                const std::uint32_t bound = lastState + 1;
                const std::size_t expected = firstByRecurrence(seed, count, bound);
                for (const DrawScan *scan : scans) {
                    QCOMPARE(scan->find(seed, count, bound), expected);
                    QCOMPARE(scan->find(seed, count - 1, bound), std::min(expected, count - 1));
                }
            }
        }
    }
    for (long long n :
        {0LL, 1LL, 20LL, 127LL, 128LL, 129LL, 1023LL, 1024LL, 6420LL, 16383LL, 16384LL, 16385LL, 40000LL})
        for (std::uint32_t seed : {0u, 1u, 0xffffffffu, 86399999u})
            QCOMPARE(detail::advance(seed, n), advanced(seed, n));

    // The other work of a trial on each scan's instructions: every draw
    // against its own bound, the states of one step and the lanes below a
    // threshold, the quanta added to or set in a running sum (bit for bit
    // the scalar sums), and the sites of the lanes.
    for (int round = 0; round < 2000; ++round) {
        const auto seed = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        const std::size_t count = round < 100 ? std::size_t(round) : std::size_t(pick.next() * 500);
        std::vector<std::uint32_t> own(count + 64, 0);
        for (std::size_t i = 0; i < count; ++i)
            own[i] = static_cast<std::uint32_t>(pick.next() * (round % 3 == 0 ? 4294967296.0 : 3e7));
        std::size_t expected = count;
        for (std::size_t i = 0; i < count && expected == count; ++i)
            if (advanced(seed, static_cast<long long>(i) + 1) < own[i])
                expected = i;
        alignas(64) std::uint32_t states[32];
        const std::uint32_t threshold = static_cast<std::uint32_t>(pick.next() * 4294967296.0);
        std::uint32_t below = 0;
        for (int i = 0; i < MaxSites; ++i)
            below |= static_cast<std::uint32_t>(advanced(seed, i + 1) < threshold) << i;
        const auto sitesLeft = static_cast<std::uint32_t>(pick.next() * 2097152.0) & ~1u;
        const auto lanes = static_cast<std::uint32_t>(pick.next() * 1048576.0);
        std::uint32_t laneSites = 0;
        int lane = 0;
        for (int j = 1; j <= MaxSites; ++j)
            if (sitesLeft >> j & 1u)
                laneSites |= (lanes >> lane++ & 1u) << j;
        // The quanta are 0 before the release, as the trial's are; a scan
        // may work in whole vectors of 8 around from..to - 1.
        alignas(64) double q[64], added[64], set[64];
        const int from = int(pick.next() * 30), to = from + int(pick.next() * 34);
        for (int v = 0; v < 64; ++v) {
            q[v] = v < from ? 0.0 : pick.next() * 9.99;
            added[v] = set[v] = pick.next() * 20;
        }
        const double times = 1 + int(pick.next() * 4), base = pick.next() * 3;
        double largest = added[from];
        for (int v = from; v < to; ++v) {
            added[v] += times * q[v];
            set[v] = base + times * q[v];
            largest = added[v] > largest ? added[v] : largest;
        }
        // Step bounds read from a table of pairs, some not yet made (all
        // bits set) or none (0), for conductances in and past the table.
        std::vector<std::uint64_t> pairs(2 * 257);
        for (std::uint64_t &entry : pairs) {
            const double kind = pick.next();
            entry = kind < 0.03 ? ~std::uint64_t(0)
                : kind < 0.06   ? 0
                                : static_cast<std::uint64_t>(1 + pick.next() * 4294967294.0);
        }
        const double scale = round % 7 == 0 ? HUGE_VAL : 1 + pick.next() * 100;
        const int sites = 1 + int(pick.next() * MaxSites);
        alignas(64) double stepG[64];
        for (double &g : stepG)
            g = pick.next() * (round % 5 == 0 ? 30 : 21);
        const int first = int(pick.next() * 20), last = first + int(pick.next() * 12);
        int made = 0;
        std::vector<std::uint32_t> stepBound;
        for (int v = first; v <= last && made < EachBoundSteps; ++v, ++made) {
            const double x = std::min(stepG[v] * scale, 2048.0);
            const std::uint64_t entry = pairs[std::size_t(x) / 8 * 2 + 1];
            if (entry == ~std::uint64_t(0)) {
                made = -1;
                break;
            }
            if (entry == 0)
                break;
            stepBound.push_back(std::uint32_t(entry));
        }
        for (const DrawScan *scan : scans) {
            const QByteArray where = QByteArray(scan->name) + " round " + QByteArray::number(round);
            alignas(64) std::uint32_t out[EachBoundSteps * MaxSites + 64];
            QVERIFY2(scan->eachBounds(stepG, first, last, pairs.data(), scale, 2048.0, sites, out) == made,
                where.constData());
            for (int d = 0; d < made * sites; ++d)
                QVERIFY2(out[d] == stepBound[std::size_t(d / sites)], where.constData());
            QVERIFY2(scan->findEach(seed, count, own.data()) == expected, where.constData());
            scan->stepStates(seed, states);
            for (int i = 0; i < MaxSites; ++i)
                QVERIFY2(states[i] == advanced(seed, i + 1), where.constData());
            QVERIFY2((scan->statesBelow(states, threshold) & 0xfffffu) == below, where.constData());
            QVERIFY2(scan->laneSites(lanes & ((1u << bitsSetIn(sitesLeft)) - 1u), sitesLeft) == laneSites,
                where.constData());
            alignas(64) double G[64], H[64];
            for (int v = 0; v < 64; ++v)
                G[v] = H[v] = (v < from || v >= to) ? added[v] : added[v] - times * q[v];
            std::copy(set, set + 64, H);
            for (int v = from; v < to; ++v)
                H[v] = -1;
            scan->addQuanta(G, q, from, to, times);
            scan->setQuanta(H, q, from, to, times, base);
            const auto upTo = sizeof(double) * static_cast<std::size_t>(to);
            QVERIFY2(std::memcmp(G, added, upTo) == 0, where.constData());
            QVERIFY2(std::memcmp(H + from, set + from, upTo - sizeof(double) * std::size_t(from)) == 0,
                where.constData());
            if (from < to) {
                QVERIFY2(scan->largest(G, from, to - 1) == largest, where.constData());
                // The steps at or above a cut, one of the sums itself (equal
                // counts) or between them.
                const double cut
                    = round % 2 == 0 ? added[from + (round / 2) % (to - from)] : pick.next() * 40;
                std::uint64_t atLeast = 0;
                for (int v = from; v < to; ++v)
                    atLeast |= std::uint64_t(added[v] >= cut) << (v - from);
                QVERIFY2(scan->atLeast(G, from, to - 1, cut) == atLeast, where.constData());
            }
        }
    }
}

void TestTrial::smallStatesKnowTheirPlaces()
{
    // The place of a state on the cycle is the number of draws that lead to
    // it from state 0, and the table lists every small state once, in the
    // order of the places.
    Generator pick(99);
    for (int round = 0; round < 200; ++round) {
        const auto draws = static_cast<std::uint64_t>(pick.next() * 4294967296.0);
        QCOMPARE(detail::cyclePlace(jumped(0, draws)), static_cast<std::uint32_t>(draws));
        // The jumps the test takes, against the recurrence itself.
        const auto few = static_cast<long long>(draws % 3000);
        QCOMPARE(jumped(draws, static_cast<std::uint64_t>(few)), advanced(draws, few));
        QCOMPARE(advanced(drawsBefore(draws, 1 + few), 1 + few), static_cast<std::uint32_t>(draws));
    }
    QCOMPARE(detail::cyclePlace(0), 0u);
    QCOMPARE(detail::cyclePlace(1), 1u); // 0 * a + 1
    const detail::SmallStates &table = detail::SmallStates::table();
    std::vector<bool> seen(detail::SmallStates::Count, false);
    for (std::uint32_t i = 0; i < detail::SmallStates::Count; ++i) {
        QVERIFY(table.state(i) < detail::SmallStates::Count && !seen[table.state(i)]);
        seen[table.state(i)] = true;
        QCOMPARE(table.place(i), detail::cyclePlace(table.state(i)));
        if (i > 0)
            QVERIFY(table.place(i) > table.place(i - 1));
    }
    // Walks from seeds just before a small state, across the end of the
    // cycle (state 0 is at place 0), alone and after an earlier walk that
    // ended at their seed: the first draw below the bound, as the
    // recurrence finds it, for counts that end at it or just before.
    for (std::uint32_t x : {0u, 1u, 77u, detail::SmallStates::Count - 1}) {
        for (std::uint32_t back : {1u, 2u, 17u, 500u, 4000u}) {
            const std::uint32_t seed = drawsBefore(x, back);
            // No earlier walk, one that asked 3 draws before, and five one
            // after another, the first of which asked, each over more than a
            // quarter of the cycle (more than a whole cycle in all).
            for (int hops : {0, 1, 5}) {
                const std::uint32_t gap = hops == 1 ? 3u : 0x50000000u;
                detail::SmallStatePlace last;
                for (int hop = hops; hop > 0; --hop) {
                    detail::SmallStateWalk before;
                    const std::uint32_t from = drawsBefore(x, back + gap * static_cast<std::uint32_t>(hop));
                    before.start(from, last);
                    if (hop == hops)
                        before.firstBelow(1, 1);
                    before.advance(gap);
                    before.finish(jumped(from, gap), last);
                    QVERIFY(last.kept);
                }
                QVERIFY(hops == 0 || last.seed == seed);
                detail::SmallStateWalk walk;
                walk.start(seed, last);
                for (std::uint32_t bound : {x, x + 1, detail::SmallStates::Count}) {
                    for (std::size_t count :
                        {std::size_t(back - 1), std::size_t(back), std::size_t(back + 40)}) {
                        std::size_t expected = count;
                        for (std::size_t i = 0; i < count && expected == count; ++i)
                            if (advanced(seed, static_cast<long long>(i) + 1) < bound)
                                expected = i;
                        QCOMPARE(walk.firstBelow(count, bound), expected);
                    }
                }
            }
        }
    }
}

void TestTrial::releasesAtTheSmallestStates_data()
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

void TestTrial::releasesAtTheSmallestStates()
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
