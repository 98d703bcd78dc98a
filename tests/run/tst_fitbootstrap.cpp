#include "model/random.h"
#include "run/fit.h"
#include "run/fitbootstrap.h"
#include "run/json.h"
#include "run/measureddata.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <set>
#include <string>
#include <thread>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(std::vector<double>)

// The bootstrap of a fit: recordings of the data's design simulated at the
// estimates from seeds of their own, refitted, and the percentile intervals
// of their estimates; the same bytes however the replicates are spread.
class TestFitBootstrap : public QObject {
    Q_OBJECT
private slots:
    void replicatesAccepted_data();
    void replicatesAccepted();
    void percentileEnds_data();
    void percentileEnds();
    void replicateRecordingKeepsTheDesign_data();
    void replicateRecordingKeepsTheDesign();
    void recordingNoiseWidensTheSpread();
    void replicateSeedsApart();
    void planReadBackNumberForNumber();
    void planRefused_data();
    void planRefused();
    void bootstrapFitSameBytesWherever();
    void noBootstrapNoMember();
    void stoppedFromTheCallingThread();
    void bootstrapStageAfterTheSensitivity();
};

namespace {

// A recording of three potentials at the default set with Rg 1.50.
MeasuredData recording(bool withStd, bool withN, bool withQuanta, bool withFailures)
{
    MeasuredData data;
    data.name = "three.csv";
    const int Vs[] = {-80, -40, 20};
    const double peaks[] = {-60, -30, 12};
    for (int i = 0; i < 3; ++i) {
        MeasuredPoint p;
        p.V = Vs[i];
        p.row = i + 1;
        p.n = withN ? 8 : 0;
        p.meanPeak = peaks[i];
        p.stdPeak = withStd ? 9.0 : NAN;
        p.semPeak = withStd ? 9.0 / std::sqrt(8.0) : 3.0;
        p.hasQuanta = withQuanta;
        p.meanQuanta = withQuanta ? 4.0 : 0.0;
        p.semQuanta = withQuanta && !withN ? 0.5 : NAN;
        p.hasFailures = withFailures;
        p.failureRate = withFailures ? 0.1 : 0.0;
        data.points.push_back(p);
    }
    return data;
}

FitRequest request(int bootstrap, std::uint32_t seed = 11)
{
    FitRequest r;
    r.data = recording(true, true, false, false);
    r.free = {{&paramInfo(Param::Rg), 0.5, 2.5}};
    r.trials = 12;
    r.seed = seed;
    r.sensitivity.clear();
    r.bootstrap = bootstrap;
    return r;
}

// A plan as a fit at Rg 1.50 with the given data and noise leaves it.
BootstrapPlan plan(const MeasuredData &data, double noise)
{
    BootstrapPlan plan;
    plan.request = request(0);
    plan.request.data = data;
    plan.estimates = {1.5};
    plan.noise = noise;
    plan.modelPeak = {-61.25, -29.5, 11.75};
    plan.modelQuanta = {4.25, 4.5, 3.75};
    return plan;
}

} // namespace

void TestFitBootstrap::replicatesAccepted_data()
{
    QTest::addColumn<int>("replicates");
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("none") << 0 << 8 << true;
    QTest::newRow("one") << 1 << 8 << true;
    QTest::newRow("negative") << -1 << 8 << false;
    QTest::newRow("ten thousand") << 10000 << 8 << true;
    QTest::newRow("one more") << 10001 << 8 << false;
    // Each replicate runs the recording's trials: at most a run's.
    QTest::newRow("n a run's most") << 1 << 10000 << true;
    QTest::newRow("n beyond") << 1 << 10001 << false;
    QTest::newRow("n beyond, no bootstrap") << 0 << 10001 << true;
}

void TestFitBootstrap::replicatesAccepted()
{
    QFETCH(int, replicates);
    QFETCH(int, n);
    QFETCH(bool, accepted);
    FitRequest r = request(replicates);
    for (MeasuredPoint &p : r.data.points)
        p.n = n;
    RunProblem problem;
    QCOMPARE(checkFit(r, &problem), accepted);
    if (!accepted)
        QVERIFY2(problem.what.rfind("bootstrap", 0) == 0, problem.what.c_str());
}

void TestFitBootstrap::percentileEnds_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    // 1..B in a scrambled order (31 is prime to every B here): the k-th
    // smallest is k.
    const auto scrambled = [](int count) {
        std::vector<double> v;
        for (int i = 0; i < count; ++i)
            v.push_back(double((i * 31) % count + 1));
        return v;
    };
    QTest::newRow("99: the 2nd and the 98th") << scrambled(99) << 2.0 << 98.0;
    QTest::newRow("79: the 2nd and the 78th") << scrambled(79) << 2.0 << 78.0;
    QTest::newRow("199: the 5th and the 195th") << scrambled(199) << 5.0 << 195.0;
    QTest::newRow("118: the 2nd and the 117th") << scrambled(118) << 2.0 << 117.0;
    QTest::newRow("119: the 3rd and the 117th") << scrambled(119) << 3.0 << 117.0;
    QTest::newRow("39: the ends") << scrambled(39) << 1.0 << 39.0;
    QTest::newRow("one value") << std::vector<double> {0.7} << 0.7 << 0.7;
    QTest::newRow("ties") << std::vector<double>(50, 1.25) << 1.25 << 1.25;
}

void TestFitBootstrap::percentileEnds()
{
    QFETCH(std::vector<double>, values);
    QFETCH(double, low);
    QFETCH(double, high);
    const std::pair<double, double> ends = percentileInterval(values);
    QCOMPARE(ends.first, low);
    QCOMPARE(ends.second, high);
}

void TestFitBootstrap::replicateRecordingKeepsTheDesign_data()
{
    QTest::addColumn<bool>("withStd");
    QTest::addColumn<bool>("withN");
    QTest::addColumn<bool>("withQuanta");
    QTest::addColumn<bool>("withFailures");
    QTest::newRow("std with n") << true << true << false << false;
    QTest::newRow("n alone, quanta, failures") << false << true << true << true;
    QTest::newRow("sem alone, quanta") << false << false << true << false;
}

void TestFitBootstrap::replicateRecordingKeepsTheDesign()
{
    QFETCH(bool, withStd);
    QFETCH(bool, withN);
    QFETCH(bool, withQuanta);
    QFETCH(bool, withFailures);
    const MeasuredData given = recording(withStd, withN, withQuanta, withFailures);
    const BootstrapPlan p = plan(given, 2.0);
    const MeasuredData one = replicateRecording(p, 1);
    QCOMPARE(one.points.size(), given.points.size());
    QCOMPARE(measuredValueCount(one), measuredValueCount(given));
    for (std::size_t i = 0; i < given.points.size(); ++i) {
        const MeasuredPoint &a = given.points[i], &b = one.points[i];
        QCOMPARE(b.V, a.V);
        QCOMPARE(b.n, a.n);
        QCOMPARE(std::isnan(b.stdPeak), std::isnan(a.stdPeak));
        QCOMPARE(std::isnan(b.semQuanta), std::isnan(a.semQuanta));
        QCOMPARE(b.hasQuanta, a.hasQuanta);
        QCOMPARE(b.hasFailures, a.hasFailures);
        QVERIFY(std::isfinite(b.meanPeak));
        QVERIFY(b.meanPeak != a.meanPeak);
        if (withN) {
            // n trials: a failure rate in steps of 1/n, a standard error of the standard deviation over
            // sqrt(n).
            QCOMPARE(b.failureRate * b.n, std::round(b.failureRate * b.n));
            if (withStd)
                QCOMPARE(b.semPeak, b.stdPeak / std::sqrt(double(b.n)));
        } else {
            // Without n the recorded standard errors stand, and the means scatter about the model's by them.
            QCOMPARE(b.semPeak, a.semPeak);
            QCOMPARE(b.semQuanta, a.semQuanta);
            QVERIFY(std::fabs(b.meanPeak - p.modelPeak[i]) < 6 * a.semPeak);
            QVERIFY(b.meanQuanta != p.modelQuanta[i]);
        }
        if (withQuanta)
            QVERIFY(b.meanQuanta != a.meanQuanta);
    }
    // The same replicate again gives the same recording, another another.
    const MeasuredData again = replicateRecording(p, 1), two = replicateRecording(p, 2);
    for (std::size_t i = 0; i < given.points.size(); ++i) {
        QCOMPARE(again.points[i].meanPeak, one.points[i].meanPeak);
        QVERIFY(two.points[i].meanPeak != one.points[i].meanPeak);
    }
}

void TestFitBootstrap::recordingNoiseWidensTheSpread()
{
    // 400 trials at -80 mV: the recorded variance is the model's plus the
    // noise's, each trial's noise its own; without noise the trials are the
    // model's, drawn as runSeededIsvTrials draws them.
    MeasuredData data = recording(true, true, false, false);
    data.points.resize(1);
    data.points[0].n = 400;
    const MeasuredPoint quiet = replicateRecording(plan(data, 0), 3).points[0];
    const MeasuredPoint noisy = replicateRecording(plan(data, 20), 3).points[0];
    ParameterSet p = DefaultParameterSet;
    p.Rg = 1.5;
    const std::uint32_t pointSeed = mixSeed(mixSeed(replicateSeed(11, 3), 1), 0);
    double sum = 0;
    for (const IsvTrialResult &r : runSeededIsvTrials(p, {-80, pointSeed}, 400))
        sum += r.peak;
    QCOMPARE(quiet.meanPeak, sum / 400);
    const double added = noisy.stdPeak * noisy.stdPeak - quiet.stdPeak * quiet.stdPeak;
    // 400 normal draws of variance 400: their sample variance within about
    // 5 of its standard errors (28), the cross term within as many.
    QVERIFY2(added > 400 - 200 && added < 400 + 200, std::to_string(added).c_str());
    QVERIFY(std::fabs(noisy.meanPeak - quiet.meanPeak) < 5 * 20 / std::sqrt(400.0));
}

void TestFitBootstrap::replicateSeedsApart()
{
    // The replicates' seeds are neither the potentials' seeds of the fit
    // nor each other's.
    std::set<std::uint32_t> seen;
    for (const SeededPotential &s : fitCurvePotentials(5))
        seen.insert(s.seed);
    const std::size_t potentials = seen.size();
    for (int r = 1; r <= 1000; ++r)
        seen.insert(replicateSeed(5, r));
    QCOMPARE(seen.size(), potentials + 1000);
    QVERIFY(replicateSeed(5, 1) != replicateSeed(6, 1));
}

void TestFitBootstrap::planReadBackNumberForNumber()
{
    MeasuredData data = recording(false, false, true, false);
    data.points[1].meanPeak = 0.1 + 0.2; // no short decimal
    BootstrapPlan p = plan(data, 1.0 / 3);
    p.request.noise = FitNoise::Fixed;
    p.request.noiseValue = 2.5;
    p.request.fixed.BackgroundOn = 1;
    p.request.fixed.Gb = 0.01;
    const std::string text = bootstrapPlanText(p);
    BootstrapPlan read;
    RunProblem problem;
    QVERIFY2(readBootstrapPlan(text, read, &problem), (problem.what + ": " + problem.reason).c_str());
    QCOMPARE(bootstrapPlanText(read), text);
    QCOMPARE(read.request.data.points[1].meanPeak, 0.1 + 0.2);
    QCOMPARE(read.noise, 1.0 / 3);
    QVERIFY(std::isnan(read.request.data.points[0].stdPeak));
    QCOMPARE(read.request.fixed.Gb, 0.01);
    QCOMPARE(read.request.noise, FitNoise::Fixed);
    // Read back, the recording and the refit are the same.
    QCOMPARE(replicateRecording(read, 4).points[2].meanPeak, replicateRecording(p, 4).points[2].meanPeak);
}

void TestFitBootstrap::planRefused_data()
{
    QTest::addColumn<std::string>("from");
    QTest::addColumn<std::string>("to");
    QTest::newRow("trials 0") << std::string("\"trials\": 12") << std::string("\"trials\": 0");
    QTest::newRow("trials beyond") << std::string("\"trials\": 12") << std::string("\"trials\": 10001");
    QTest::newRow("seed negative") << std::string("\"seed\": 11") << std::string("\"seed\": -1");
    QTest::newRow("unknown free") << std::string("[\"Rg\"") << std::string("[\"Rx\"");
    QTest::newRow("a range the editor refuses")
        << std::string("[\"Rg\", 0.5") << std::string("[\"Rg\", -0.5");
    QTest::newRow("a point short") << std::string("[-80, 8, ") << std::string("[-80, ");
    QTest::newRow("n beyond") << std::string("[-80, 8, ") << std::string("[-80, 10001, ");
    QTest::newRow("no n, no sem") << "[-80, 8, -60, " + shortestNumber(9 / std::sqrt(8.0))
                                  << std::string("[-80, 0, -60, null");
    QTest::newRow("noise negative") << std::string("\"noise_pA\": 2") << std::string("\"noise_pA\": -2");
    QTest::newRow("not JSON") << std::string("{") << std::string("[");
}

void TestFitBootstrap::planRefused()
{
    QFETCH(std::string, from);
    QFETCH(std::string, to);
    std::string text = bootstrapPlanText(plan(recording(true, true, false, false), 2.0));
    BootstrapPlan read;
    QVERIFY(readBootstrapPlan(text, read, nullptr));
    const std::size_t at = text.find(from);
    QVERIFY2(at != std::string::npos, text.c_str());
    text.replace(at, from.size(), to);
    RunProblem problem;
    QVERIFY(!readBootstrapPlan(text, read, &problem));
    QVERIFY(!problem.reason.empty());
}

void TestFitBootstrap::bootstrapFitSameBytesWherever()
{
    const FitRequest r = request(3);
    std::vector<FitProgressStep> steps;
    const FitResult local = runFit(
        r, localFitEvaluator(r, 1), [&](const FitProgressStep &step) { steps.push_back(step); }, {},
        localFitReplicates(1));
    const std::string json = fitJson(local);
    // Two threads, and the plan sent as text to a worker, as a cluster's are.
    const FitReplicates remote = [](const BootstrapPlan &plan, const std::vector<int> &replicates,
                                     const std::function<void(int)> &done) {
        BootstrapPlan read;
        std::vector<ReplicateFit> fits;
        if (!readBootstrapPlan(bootstrapPlanText(plan), read, nullptr))
            return fits;
        for (auto r = replicates.rbegin(); r != replicates.rend(); ++r)
            fits.insert(fits.begin(), fitReplicate(read, *r));
        done(static_cast<int>(fits.size()));
        return fits;
    };
    QCOMPARE(fitJson(runFit(r, localFitEvaluator(r, 2), {}, {}, localFitReplicates(2))), json);
    QCOMPARE(fitJson(runFit(r, localFitEvaluator(r, 2), {}, {}, remote)), json);
    // Another seed, other replicates.
    const FitRequest other = request(3, 12);
    QVERIFY(fitJson(runFit(other, localFitEvaluator(other, 2))).find(json.substr(json.find("\"bootstrap\"")))
        == std::string::npos);

    // The member: the replicates, the method, and the ends from the refits' estimates.
    JsonValue root;
    QVERIFY(parseJson(json, root, nullptr));
    const JsonValue *b = root.member("bootstrap");
    QVERIFY(b);
    QCOMPARE(b->member("replicates")->number, 3.0);
    QCOMPARE(b->member("method")->string, std::string("percentile"));
    const JsonValue &estimates = *b->member("estimates")->member("Rg");
    QCOMPARE(int(estimates.array.size()), 3);
    double least = 10, largest = -10;
    for (const JsonValue &e : estimates.array) {
        least = std::min(least, e.number);
        largest = std::max(largest, e.number);
    }
    const JsonValue &interval = *b->member("intervals")->member("Rg");
    QCOMPARE(interval.array[0].number, least);
    QCOMPARE(interval.array[1].number, largest);
    QVERIFY(largest > least); // the replicates differ
    QCOMPARE(local.bootstrap.estimates.size(), std::size_t(3));
    QVERIFY(
        root.member("provenance")->member("fit_command")->string.find(" --bootstrap 3") != std::string::npos);
    QVERIFY(fitSummaryText(local).find("Rg bootstrap 95 % interval") != std::string::npos);

    // The progress: one stage more, the bootstrap last, counting its replicates.
    QVERIFY(!steps.empty());
    QCOMPARE(steps.back().stage, std::string("bootstrap"));
    QCOMPARE(steps.back().stageIndex, steps.back().stageCount - 1);
    QCOMPARE(steps.back().stageCount, 4); // coarse grid, refinement, profile Rg, bootstrap
    QCOMPARE(steps.back().total, 3);
    QCOMPARE(steps.back().done, 3);
}

void TestFitBootstrap::noBootstrapNoMember()
{
    const FitRequest r = request(0);
    std::vector<FitProgressStep> steps;
    const FitResult result
        = runFit(r, localFitEvaluator(r, 2), [&](const FitProgressStep &step) { steps.push_back(step); });
    const std::string json = fitJson(result);
    QVERIFY(json.find("bootstrap") == std::string::npos);
    QVERIFY(fitSummaryText(result).find("bootstrap") == std::string::npos);
    QCOMPARE(steps.back().stageCount, 3);
    QVERIFY(steps.back().stage != "bootstrap");
}

void TestFitBootstrap::stoppedFromTheCallingThread()
{
    // As in Python, where only the thread that called looks for Ctrl-C: a
    // stop seen there once the bootstrap has begun ends the replicates on
    // the other threads too.
    FitRequest r = request(40);
    r.trials = 400; // a replicate far longer than the calling thread's look at stop
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> armed {false}, seen {false};
    const std::function<bool()> stop = [&] {
        if (armed && std::this_thread::get_id() == caller)
            seen = true;
        return seen.load();
    };
    int done = 0;
    bool thrown = false;
    try {
        runFit(
            r, localFitEvaluator(r, 1, stop),
            [&](const FitProgressStep &step) {
                if (step.stage == "bootstrap") {
                    armed = true;
                    done = step.done;
                }
            },
            stop, localFitReplicates(1, stop));
    } catch (const FitStopped &) {
        thrown = true;
    }
    QVERIFY(thrown);
    QVERIFY(seen);
    QVERIFY2(done < 40, std::to_string(done).c_str());
}

void TestFitBootstrap::bootstrapStageAfterTheSensitivity()
{
    // Coarse grid, refinement, profile Rg, sensitivity, bootstrap: five
    // stages, told in this order.
    FitRequest r = request(1);
    r.sensitivity = {{&paramInfo(Param::Gmax), 10, true}};
    std::vector<std::string> stages;
    int count = 0;
    runFit(r, localFitEvaluator(r, 2), [&](const FitProgressStep &step) {
        if (stages.empty() || stages.back() != step.stage) {
            stages.push_back(step.stage);
            QCOMPARE(step.stageIndex, int(stages.size()) - 1);
        }
        count = step.stageCount;
    });
    QCOMPARE(count, 5);
    QCOMPARE(stages,
        (std::vector<std::string> {"coarse grid", "refinement", "profile Rg", "sensitivity", "bootstrap"}));
}

QTEST_GUILESS_MAIN(TestFitBootstrap)
#include "tst_fitbootstrap.moc"
