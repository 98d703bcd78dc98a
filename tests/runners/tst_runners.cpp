#include "model/rounding.h"
#include "model/trial.h"
#include "runners/histogramsrun.h"
#include "runners/isvsweep.h"
#include "runners/records.h"

#include "everyscan.h"
#include "plaintrial.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <sstream>
#include <streambuf>
#include <vector>

using namespace cleftsim;
using cleftsim::testing::bits;
using cleftsim::testing::plainTrial;
using cleftsim::testing::ScanInUse;

namespace {

struct Currents {
    std::vector<double> I;
    void step(const StepReport &s) { I.push_back(s.I); }
    void release(int, int) { }
};

ModelState stateWith(const ParameterSet &p)
{
    ModelState state;
    state.LPI = p;
    state.setCurrent(p);
    return state;
}

// The histograms of a run worked out trial by trial from the plain step rule.
HistogramsResult plainHistograms(const ParameterSet &p, std::uint32_t seed, int trials)
{
    HistogramsResult h;
    h.trials = trials;
    h.N = p.N;
    h.spikeSteps = spikeStepsFor(p.du);
    h.currentCollected = p.V2 != 0;
    h.maxCurrent = p.V2 * p.N * p.Gmax / (1 + p.Rg * p.N * p.Gmax);
    Generator rng(seed);
    const int kEnd = Round((1.0 + p.du + p.tc) / 0.05);
    for (int t = 0; t < trials; ++t) {
        SiteTable sites;
        Currents c;
        const int m = plainTrial(p, h.spikeSteps, sites, rng, p.V2, 20, kEnd, c);
        double peak = 0;
        for (double I : c.I)
            peak = std::min(peak, I);
        int first = 20 + h.spikeSteps;
        for (int j = 1; j <= p.N; ++j)
            if (!sites[j].Available)
                first = std::min(first, sites[j].ReleaseStep);
        const int s = first - 20;
        ++h.quanta[m];
        if (h.currentCollected)
            ++h.current[Round(10 * p.N * peak / h.maxCurrent)];
        ++h.latency[s];
        ++h.joint[m][s];
        h.sumQuanta += m;
        h.sumPeak += peak;
        if (m > 0)
            h.sumLatency += s;
    }
    return h;
}

// Mean, variances and covariance of the included cells, by two passes.
struct TwoPass {
    double n = 0, mm = 0, ms = 0, vm = 0, vs = 0, cov = 0;
};

TwoPass twoPass(const HistogramsResult &h)
{
    TwoPass t;
    for (int m = 1; m <= h.N; ++m)
        for (int s = 0; s < h.spikeSteps; ++s) {
            t.n += h.joint[m][s];
            t.mm += double(h.joint[m][s]) * m;
            t.ms += double(h.joint[m][s]) * s;
        }
    t.mm /= t.n;
    t.ms /= t.n;
    for (int m = 1; m <= h.N; ++m)
        for (int s = 0; s < h.spikeSteps; ++s) {
            const double c = h.joint[m][s];
            t.vm += c * (m - t.mm) * (m - t.mm);
            t.vs += c * (s - t.ms) * (s - t.ms);
            t.cov += c * (m - t.mm) * (s - t.ms);
        }
    t.vm /= t.n;
    t.vs /= t.n;
    t.cov /= t.n;
    return t;
}

HistogramsResult tableOf(int N, int spikeSteps, std::initializer_list<std::array<int, 3>> cells)
{
    HistogramsResult h;
    h.N = N;
    h.spikeSteps = spikeSteps;
    for (const auto &c : cells)
        h.joint[c[0]][c[1]] += c[2];
    return h;
}

// A stream buffer that takes only so many characters.
class ShortBuffer : public std::streambuf {
public:
    explicit ShortBuffer(std::size_t room)
        : m_room(room)
    {
    }
    std::string text;

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        if (text.size() >= m_room)
            return traits_type::eof();
        text.push_back(traits_type::to_char_type(c));
        return c;
    }

private:
    std::size_t m_room;
};

} // namespace

Q_DECLARE_METATYPE(ParameterSet)

class TestRunners : public QObject {
    Q_OBJECT
private slots:
    void tickStep_data();
    void tickStep();
    void scalesAndBackground_data();
    void scalesAndBackground();
    void isvTrialFollowsThePeakBySign_data();
    void isvTrialFollowsThePeakBySign();
    void isvTrialsOnTheScan(const ParameterSet &p, double V);
    void isvPointSumsItsTrials();
    void stoppedRunsKeepTheTrialsRun();
    void histogramsMatchPlainTrials_data();
    void histogramsMatchPlainTrials();
    void failuresFallUnderTheBackgroundMarker();
    void scatterWithoutIncludedCells();
    void scatterOfOneCell();
    void scatterAlongANegativeLine();
    void scatterMatchesTwoPassStatistics_data();
    void scatterMatchesTwoPassStatistics();
    void scatterDirection_data();
    void scatterDirection();
    void recordsTrialKeepsEveryCurrent();
    void recordsFileLayout();
    void recordsFileStopsAtAFailure();
};

void TestRunners::tickStep_data()
{
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("step");
    const int rows[][2] = {{1, 1}, {19, 1}, {20, 10}, {100, 10}, {199, 10}, {200, 100}, {1999, 100},
        {2000, 1000}, {9999, 1000}, {10000, 1000}, {20000, 10000}};
    for (const auto &r : rows)
        QTest::newRow(qPrintable(QString::number(r[0]))) << r[0] << r[1];
}

void TestRunners::tickStep()
{
    QFETCH(int, trials);
    QFETCH(int, step);
    QCOMPARE(TickStep(trials), step);
}

void TestRunners::scalesAndBackground_data()
{
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<double>("maxCurrent");
    QTest::addColumn<double>("background");
    ParameterSet d = DefaultParameterSet;
    QTest::newRow("defaults") << d << -63.0 << 0.0;
    ParameterSet b = d;
    b.Gb = 0.1;
    QTest::newRow("background 0.1") << b << -63.0 << -42.0;
    ParameterSet ohmic = b;
    ohmic.Rg = 0;
    ohmic.N = 20;
    ohmic.Gmax = 0.5;
    QTest::newRow("no gap") << ohmic << -630.0 << -126.0;
    ParameterSet zero = b;
    zero.V2 = 0;
    QTest::newRow("V2 0") << zero << 0.0 << 0.0;
    ParameterSet outward = b;
    outward.V2 = 40;
    QTest::newRow("V2 +40") << outward << 40.0 << 40.0 / 1.5;
}

void TestRunners::scalesAndBackground()
{
    QFETCH(ParameterSet, p);
    QFETCH(double, maxCurrent);
    QFETCH(double, background);
    QVERIFY(std::fabs(MaxCurrent(p) - maxCurrent) <= 1e-12 * std::max(1.0, std::fabs(maxCurrent)));
    QVERIFY(std::fabs(HistogramsBackgroundCurrent(p) - background)
        <= 1e-12 * std::max(1.0, std::fabs(background)));
    QVERIFY(std::fabs(sweepBackgroundCurrent(p, p.V2) - background)
        <= 1e-12 * std::max(1.0, std::fabs(background)));
}

void TestRunners::isvTrialFollowsThePeakBySign_data()
{
    QTest::addColumn<double>("V");
    QTest::addColumn<double>("Gb");
    QTest::newRow("+40") << 40.0 << 0.0;
    QTest::newRow("+1") << 1.0 << 0.0;
    QTest::newRow("0") << 0.0 << 0.0;
    QTest::newRow("0, background") << 0.0 << 0.05;
    QTest::newRow("-63") << -63.0 << 0.0;
    QTest::newRow("-140") << -140.0 << 0.0;
    QTest::newRow("-140, background") << -140.0 << 0.05;
    QTest::newRow("+40, background") << 40.0 << 0.05;
}

void TestRunners::isvTrialFollowsThePeakBySign()
{
    QFETCH(double, V);
    QFETCH(double, Gb);
    ParameterSet p = DefaultParameterSet;
    p.gf = 0.4;
    p.Gb = Gb;
    p.BackgroundOn = Gb > 0;
    for (const std::string &scan : availableDrawScans()) {
        ScanInUse use(scan);
        QVERIFY(use.used());
        isvTrialsOnTheScan(p, V);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("on the %1 scan").arg(QString::fromStdString(scan))));
    }
}

void TestRunners::isvTrialsOnTheScan(const ParameterSet &p, double V)
{
    ModelState state = stateWith(p);
    Generator rng(777), plainRng(777);
    int released = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const IsvTrialResult r = isvTrial(state, rng, V);
        SiteTable sites;
        Currents c;
        const int m = plainTrial(p, 20, sites, plainRng, V, 20, 90, c);
        double peak = 0;
        for (double I : c.I) {
            if (V < 0)
                peak = std::min(peak, I);
            else if (V > 0)
                peak = std::max(peak, I);
        }
        QCOMPARE(r.m, m);
        QCOMPARE(bits(r.peak), bits(peak));
        released += m;
        if (V == 0)
            QCOMPARE(r.peak, 0.0);
        for (int j = 1; j <= p.N; ++j)
            QCOMPARE(state.Sites[j].Available, sites[j].Available);
    }
    QVERIFY(released > 0);
    QCOMPARE(rng.seed(), plainRng.seed());
}

void TestRunners::isvPointSumsItsTrials()
{
    ParameterSet p = DefaultParameterSet;
    p.Gb = 0.02;
    p.BackgroundOn = 1;
    ModelState a = stateWith(p), b = stateWith(p);
    Generator ra(42), rb(42);
    const IsvPoint point = runIsvPoint(a, ra, -80, 250);
    long long quanta = 0;
    double peaks = 0;
    for (int t = 0; t < 250; ++t) {
        const IsvTrialResult r = isvTrial(b, rb, -80);
        quanta += r.m;
        peaks += r.peak;
    }
    QCOMPARE(point.V, -80);
    QCOMPARE(point.trials, 250);
    QCOMPARE(point.totalQuanta, quanta);
    QCOMPARE(bits(point.peakSum), bits(peaks));
    QCOMPARE(point.meanQuanta(), double(quanta) / 250);
    QCOMPARE(point.meanPeak(), peaks / 250);
    QCOMPARE(point.background, sweepBackgroundCurrent(p, -80));
    QCOMPARE(point.meanEpsc(), peaks / 250 - sweepBackgroundCurrent(p, -80));
    QCOMPARE(ra.seed(), rb.seed());
}

void TestRunners::stoppedRunsKeepTheTrialsRun()
{
    // Break after trial 70 of the first point: that point, summed over 70 trials.
    struct BreakAt : IsvSweepObserver {
        int trials = 0;
        int pauses = 0;
        int abandonAt = 0; // the pause that answers false, 0 for none
        void trial(int V, const IsvTrialResult &) override
        {
            QCOMPARE(V, SweepFirstV);
            ++trials;
        }
        bool pause() override { return ++pauses != abandonAt; }
        bool stopRequested() override { return trials == 70; }
    };
    ModelState a = stateWith(DefaultParameterSet), b = stateWith(DefaultParameterSet);
    Generator ra(5), rb(5);
    BreakAt breakAt;
    const std::vector<IsvPoint> points = runIsvSweep(a, ra, 100, breakAt);
    QCOMPARE(int(points.size()), 1);
    const IsvPoint whole = runIsvPoint(b, rb, SweepFirstV, 70);
    QCOMPARE(points[0].trials, 70);
    QCOMPARE(points[0].totalQuanta, whole.totalQuanta);
    QCOMPARE(bits(points[0].peakSum), bits(whole.peakSum));
    QCOMPARE(breakAt.pauses, 1); // after trial 50 only: the stop comes before the point's pause

    // Abandoned at the pause after trial 50: no point at all.
    BreakAt abandon;
    abandon.abandonAt = 1;
    QVERIFY(runIsvSweep(a, ra, 100, abandon).empty());
    QCOMPARE(abandon.trials, 50);

    // A Histograms run stopped at its first pause holds its first 50 trials.
    struct StopAtFirstPause : HistogramsObserver {
        bool pause() override { return false; }
    } stop;
    Generator rh(8), rw(8);
    const HistogramsResult h = runHistograms(a, rh, 500, stop);
    const HistogramsResult first50 = runHistograms(b, rw, 50);
    QCOMPARE(h.trials, 50);
    QCOMPARE(h.quanta, first50.quanta);
    QCOMPARE(h.latency, first50.latency);
    QCOMPARE(rh.seed(), rw.seed());
}

void TestRunners::histogramsMatchPlainTrials_data()
{
    QTest::addColumn<ParameterSet>("p");
    QTest::addColumn<int>("trials");
    const ParameterSet d = DefaultParameterSet;
    QTest::newRow("defaults") << d << 500;
    ParameterSet zero = d;
    zero.V2 = 0;
    QTest::newRow("V2 0") << zero << 300;
    ParameterSet outward = d;
    outward.V2 = 40;
    QTest::newRow("V2 +40") << outward << 300;
    ParameterSet strong = d;
    strong.N = 20;
    strong.V2 = -150;
    strong.gf = 0.5;
    QTest::newRow("20 sites, strong feedback") << strong << 300;
    ParameterSet shortSpike = d;
    shortSpike.du = 0.12;
    shortSpike.gf = 0.6;
    QTest::newRow("du 0.12") << shortSpike << 300;
    ParameterSet longSpike = d;
    longSpike.du = 2.0;
    longSpike.tc = 9.99;
    longSpike.gf = 0.9999;
    QTest::newRow("du 2.00, tc 9.99") << longSpike << 100;
    ParameterSet background = d;
    background.BackgroundOn = 1;
    background.Gb = 0.2;
    QTest::newRow("Gb equal to Gmax") << background << 300;
}

void TestRunners::histogramsMatchPlainTrials()
{
    QFETCH(ParameterSet, p);
    QFETCH(int, trials);
    const HistogramsResult e = plainHistograms(p, 31337, trials);
    for (const std::string &scan : availableDrawScans()) {
        ScanInUse use(scan);
        ModelState state = stateWith(p);
        Generator rng(31337);
        const HistogramsResult h = runHistograms(state, rng, trials);
        QVERIFY2(h.quanta == e.quanta && h.current == e.current && h.joint == e.joint
                && bits(h.sumPeak) == bits(e.sumPeak),
            scan.c_str());
    }
    ModelState state = stateWith(p);
    Generator rng(31337);
    const HistogramsResult h = runHistograms(state, rng, trials);
    QCOMPARE(h.trials, trials);
    QCOMPARE(h.N, p.N);
    QCOMPARE(h.spikeSteps, e.spikeSteps);
    QCOMPARE(h.currentCollected, e.currentCollected);
    QVERIFY(std::fabs(h.maxCurrent - e.maxCurrent) <= 1e-12 * std::max(1.0, std::fabs(e.maxCurrent)));
    QVERIFY(h.quanta == e.quanta);
    QVERIFY(h.current == e.current);
    QVERIFY(h.latency == e.latency);
    QVERIFY(h.joint == e.joint);
    QCOMPARE(h.sumQuanta, e.sumQuanta);
    QCOMPARE(bits(h.sumPeak), bits(e.sumPeak));
    QCOMPARE(h.sumLatency, e.sumLatency);

    // Every table counts every trial once.
    int quanta = 0, latency = 0, joint = 0, current = 0;
    for (int m = 0; m <= p.N; ++m) {
        quanta += h.quanta[m];
        int row = 0;
        for (int s = 0; s <= h.spikeSteps; ++s)
            row += h.joint[m][s];
        QCOMPARE(row, h.quanta[m]);
        joint += row;
    }
    for (int s = 0; s <= h.spikeSteps; ++s) {
        latency += h.latency[s];
        int column = 0;
        for (int m = 0; m <= p.N; ++m)
            column += h.joint[m][s];
        QCOMPARE(column, h.latency[s]);
    }
    for (int b = 0; b <= 10 * p.N; ++b)
        current += h.current[b];
    QCOMPARE(quanta, trials);
    QCOMPARE(latency, trials);
    QCOMPARE(joint, trials);
    QCOMPARE(current, p.V2 == 0 ? 0 : trials);
    // Failures sit in the last latency column.
    QCOMPARE(h.joint[0][h.spikeSteps], h.quanta[0]);
    if (p.V2 > 0)
        QCOMPARE(h.current[0], trials);
}

void TestRunners::failuresFallUnderTheBackgroundMarker()
{
    ParameterSet p = DefaultParameterSet;
    p.BackgroundOn = 1;
    p.Gb = 0.05;
    p.gf = 0; // every trial a failure
    ModelState state = stateWith(p);
    Generator rng(9);
    const HistogramsResult h = runHistograms(state, rng, 50);
    QCOMPARE(h.quanta[0], 50);
    QCOMPARE(h.sumPeak / 50, HistogramsBackgroundCurrent(p));
    QCOMPARE(h.current[currentBin(p.N, HistogramsBackgroundCurrent(p), h.maxCurrent)], 50);
    QCOMPARE(h.latency[20], 50);
    QCOMPARE(h.releasingTrials(), 0);
    const ScatterStats st = scatterStatistics(h);
    QVERIFY(!st.any);
}

void TestRunners::scatterWithoutIncludedCells()
{
    // Only excluded cells: the failures and a release after the spike.
    const HistogramsResult h = tableOf(10, 20, {{0, 20, 70}, {3, 20, 5}});
    const ScatterStats st = scatterStatistics(h);
    QVERIFY(!st.any);
    QVERIFY(!st.hasR);
    QCOMPARE(st.S0, 0LL);
    QCOMPARE(st.maxCount, 0);
}

void TestRunners::scatterOfOneCell()
{
    const HistogramsResult h = tableOf(10, 20, {{4, 7, 33}, {0, 20, 90}});
    const ScatterStats st = scatterStatistics(h);
    QVERIFY(st.any);
    QVERIFY(!st.hasR);
    QCOMPARE(st.maxCount, 33);
    QCOMPARE(st.meanM, 4.0);
    QCOMPARE(st.meanS, 7.0);
    QCOMPARE(st.A1, 0.0);
    QCOMPARE(st.A2, 0.0);
    for (int k : {0, 125, 250, 499}) {
        const ScatterPoint q = ellipsePoint(st, k);
        QCOMPARE(q.m, 4.0);
        QCOMPARE(q.s, 7.0);
    }
}

void TestRunners::scatterAlongANegativeLine()
{
    const HistogramsResult h = tableOf(10, 20, {{1, 3, 5}, {2, 2, 5}, {3, 1, 5}});
    const ScatterStats st = scatterStatistics(h);
    QVERIFY(st.hasR);
    QVERIFY(std::fabs(st.r + 1) < 1e-12);
    QVERIFY(st.A2 >= 0);
    QVERIFY(st.A2 < 1e-6);
    // Variance 2/3 along the line, in both m and s: 4/3 along the diagonal.
    QVERIFY(std::fabs(st.A1 - 2 * std::sqrt(4.0 / 3)) < 1e-12);
    QVERIFY(std::fabs(st.theta + M_PI / 4) < 1e-12);
    for (int k = 0; k <= 500; k += 25) {
        const ScatterPoint q = ellipsePoint(st, k);
        QVERIFY(std::fabs(q.m + q.s - 4) < 1e-6);
    }
}

void TestRunners::scatterMatchesTwoPassStatistics_data()
{
    QTest::addColumn<int>("big");
    QTest::newRow("small counts") << 1;
    QTest::newRow("counts beyond 32-bit products") << 10000;
}

void TestRunners::scatterMatchesTwoPassStatistics()
{
    QFETCH(int, big);
    const HistogramsResult h
        = tableOf(20, 40, {{1, 0, 2 * big}, {2, 5, big}, {3, 1, big}, {20, 39, 3 * big}, {7, 12, big}});
    const ScatterStats st = scatterStatistics(h);
    const TwoPass t = twoPass(h);
    QVERIFY(st.hasR);
    QCOMPARE(st.maxCount, 3 * big);
    QVERIFY(std::fabs(st.meanM - t.mm) < 1e-12);
    QVERIFY(std::fabs(st.meanS - t.ms) < 1e-12);
    QVERIFY(std::fabs(st.r - t.cov / std::sqrt(t.vm * t.vs)) < 1e-9);
    // Semi-axes: twice the roots of the covariance matrix's eigenvalues.
    const double tr = t.vm + t.vs;
    const double det = t.vm * t.vs - t.cov * t.cov;
    const double l1 = tr / 2 + std::sqrt(tr * tr / 4 - det);
    const double l2 = tr / 2 - std::sqrt(tr * tr / 4 - det);
    QVERIFY(std::fabs(st.A1 - 2 * std::sqrt(l1)) < 1e-9 * st.A1);
    QVERIFY(std::fabs(st.A2 - 2 * std::sqrt(l2)) < 1e-7 * st.A1);
    // The A1 axis is an eigenvector of l1.
    const double vx = std::cos(st.theta), vy = std::sin(st.theta);
    QVERIFY(std::fabs((t.vm * vx + t.cov * vy) - l1 * vx) < 1e-9 * l1);
    QVERIFY(std::fabs((t.cov * vx + t.vs * vy) - l1 * vy) < 1e-9 * l1);
}

void TestRunners::scatterDirection_data()
{
    QTest::addColumn<HistogramsResult>("h");
    QTest::addColumn<double>("theta");
    QTest::newRow("wide in m") << tableOf(10, 20, {{1, 5, 1}, {9, 5, 1}}) << 0.0;
    QTest::newRow("wide in s") << tableOf(10, 20, {{4, 1, 1}, {4, 15, 1}}) << M_PI / 2;
    QTest::newRow("circle") << tableOf(10, 20, {{1, 1, 1}, {3, 1, 1}, {1, 3, 1}, {3, 3, 1}}) << 0.0;
    QTest::newRow("rising diagonal") << tableOf(10, 20, {{1, 1, 1}, {3, 3, 1}}) << M_PI / 4;
}

void TestRunners::scatterDirection()
{
    QFETCH(HistogramsResult, h);
    QFETCH(double, theta);
    const ScatterStats st = scatterStatistics(h);
    QVERIFY2(std::fabs(st.theta - theta) < 1e-12, qPrintable(QString::number(st.theta, 'g', 17)));
}

void TestRunners::recordsTrialKeepsEveryCurrent()
{
    ParameterSet p = DefaultParameterSet;
    p.gf = 0.5;
    ModelState state = stateWith(p);
    for (std::uint32_t seed : {1u, 2u, 3u})
        for (const std::string &scan : availableDrawScans()) {
            ScanInUse use(scan);
            Generator rng(seed), plainRng(seed);
            CurrentTrace trace;
            trace.fill(12345);
            const int m = recordsTrial(state, rng, trace);
            SiteTable sites;
            Currents c;
            QCOMPARE(m, plainTrial(p, 20, sites, plainRng, p.V2, 0, 320, c));
            QCOMPARE(int(c.I.size()), RecordsSteps);
            for (int k = 0; k < RecordsSteps; ++k)
                QCOMPARE(bits(trace[k]), bits(c.I[k]));
            QCOMPARE(rng.seed(), plainRng.seed());
        }
}

void TestRunners::recordsFileLayout()
{
    std::vector<CurrentTrace> traces(2);
    for (int k = 0; k < RecordsSteps; ++k) {
        traces[0][k] = k % 2 ? 999.0 : -k * 0.25; // odd steps are never written
        traces[1][k] = -0.0;
    }
    traces[1][2] = -11.4545454;
    traces[1][4] = 0.0004;
    traces[1][6] = -0.0004;
    traces[1][320] = 1234.5678;
    std::ostringstream out;
    QVERIFY(writeRecordsFile(out, traces));
    const QString text = QString::fromStdString(out.str());
    QVERIFY(text.startsWith("161 2 10000\r\n"));
    const QStringList lines = text.split("\r\n");
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[3].isEmpty()); // the file ends with a line end
    QVERIFY(!text.contains(QRegularExpression("[^\r]\n")));
    for (int r = 1; r <= 2; ++r) {
        QVERIFY(lines[r].endsWith(' '));
        const QStringList values = lines[r].split(' ');
        QCOMPARE(values.size(), 162);
        for (int b = 0; b <= 160; ++b)
            QVERIFY2(
                QRegularExpression("^-?\\d+\\.\\d{3}$").match(values[b]).hasMatch(), qPrintable(values[b]));
    }
    const QStringList first = lines[1].split(' ');
    QCOMPARE(first[0], QString("0.000"));
    QCOMPARE(first[1], QString("-0.500"));
    QCOMPARE(first[160], QString("-80.000"));
    const QStringList second = lines[2].split(' ');
    QCOMPARE(second[0], QString("0.000"));
    QCOMPARE(second[1], QString("-11.455"));
    QCOMPARE(second[2], QString("0.000"));
    QCOMPARE(second[3], QString("0.000"));
    QCOMPARE(second[160], QString("1234.568"));
}

void TestRunners::recordsFileStopsAtAFailure()
{
    std::vector<CurrentTrace> traces(5);
    for (auto &t : traces)
        t.fill(-1.0);
    ShortBuffer buffer(2000);
    std::ostream out(&buffer);
    QVERIFY(!writeRecordsFile(out, traces));
    QCOMPARE(buffer.text.size(), std::size_t(2000));
    QVERIFY(QString::fromStdString(buffer.text).startsWith("161 5 10000\r\n-1.000 "));
}

QTEST_GUILESS_MAIN(TestRunners)
#include "tst_runners.moc"
