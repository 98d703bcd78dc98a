#include "model/random.h"
#include "model/trial.h"
#include "run/fit.h"
#include "run/json.h"
#include "run/measureddata.h"
#include "run/sha256.h"

#include <QtTest>

#include <cmath>
#include <string>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)

// The fit of measured data: the data files it takes and refuses, the seeds
// of its trials, its likelihood, and a search whose profiles are checked
// against a model with a known answer.
class TestFit : public QObject {
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void dataForms_data();
    void dataForms();
    void requestRefusals_data();
    void requestRefusals();
    void seededPointsDrawFromTheirOwnSeeds();
    void likelihood_data();
    void likelihood();
    void chiSquare_data();
    void chiSquare();
    void searchFindsTheProfileOfALinearModel_data();
    void searchFindsTheProfileOfALinearModel();
    void theSameFitWhateverTheWorkers();
    void recoversTheCleftResistanceOfSimulatedData();
    void sha256_data();
    void sha256();
};

namespace {

const ParamInfo &info(Param p)
{
    return paramInfo(p);
}

// A request on data parsed from text, Rg free over its whole range.
FitRequest requestOn(const std::string &text, std::vector<FreeParameter> free)
{
    FitRequest request;
    request.data.name = "data.csv";
    RunProblem problem;
    if (!parseMeasuredData(text, request.data, &problem))
        qFatal("%s", problem.text().c_str());
    request.free = std::move(free);
    request.seed = 7;
    return request;
}

// A point with the given mean and per-trial spread of the peak current.
IsvPoint pointWith(int V, int trials, double mean, double sd)
{
    IsvPoint p;
    p.V = V;
    p.trials = trials;
    p.peakSum = mean * trials;
    p.peakShift = mean;
    p.shiftedPeakSquares = sd * sd * (trials - 1);
    p.totalQuanta = 0;
    return p;
}

} // namespace

void TestFit::refusals_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<QString>("message"); // the start of RunProblem::text()

    const auto row = [](const char *name, const std::string &text, const char *message) {
        QTest::newRow(name) << text << QString::fromUtf8(message);
    };
    row("empty", "", "the data: no header row");
    row("header only", "V2_mV,mean_peak_pA,sem_pA\n", "the data: no data rows");
    row("V2 missing", "mean_peak_pA,sem_pA\n-10,1\n", "column V2_mV: missing");
    row("mean missing", "V2_mV,sem_pA\n-60,1\n", "column mean_peak_pA: missing");
    row("not a number", "V2_mV,mean_peak_pA,sem_pA\n-60,-1O.5,1\n",
        "row 1 (line 2), column mean_peak_pA: \"-1O.5\": not a number");
    row("decimal comma", "V2_mV,mean_peak_pA,sem_pA\n-60,\"-10,5\",1\n",
        "row 1 (line 2), column mean_peak_pA: \"-10,5\": not a number");
    row("nan", "V2_mV,mean_peak_pA,sem_pA\n-60,nan,1\n", "row 1 (line 2), column mean_peak_pA: not a finite");
    row("infinite spread", "V2_mV,mean_peak_pA,sem_pA\n-60,-10,inf\n",
        "row 1 (line 2), column sem_pA: not a finite");
    row("V2 outside", "V2_mV,mean_peak_pA,sem_pA\n-151,-10,1\n",
        "row 1 (line 2), column V2_mV: -151: out of range");
    row("V2 fraction", "V2_mV,mean_peak_pA,sem_pA\n-60.5,-10,1\n",
        "row 1 (line 2), column V2_mV: -60.5: not a whole number");
    row("V2 repeated", "V2_mV,mean_peak_pA,sem_pA\n-60,-10,1\n-20,-5,1\n-60,-9,1\n",
        "row 3 (line 4), column V2_mV: -60: repeated");
    row("V2 empty", "V2_mV,mean_peak_pA,sem_pA\n,-10,1\n", "row 1 (line 2), column V2_mV: missing");
    row("sem zero without n", "V2_mV,mean_peak_pA,sem_pA\n-60,-10,0\n",
        "row 1 (line 2), column sem_pA: 0: no spread");
    row("sem negative", "V2_mV,mean_peak_pA,sem_pA,n\n-60,-10,-1,30\n",
        "row 1 (line 2), column sem_pA: -1: below 0");
    row("no spread", "V2_mV,mean_peak_pA\n-60,-10\n", "row 1 (line 2), column sem_pA: missing");
    row("std without n", "V2_mV,mean_peak_pA,std_pA\n-60,-10,3\n", "row 1 (line 2), column n: missing");
    row("n of one", "V2_mV,mean_peak_pA,std_pA,n\n-60,-10,3,1\n", "row 1 (line 2), column n: 1: not a whole");
    row("n fraction", "V2_mV,mean_peak_pA,std_pA,n\n-60,-10,3,2.5\n",
        "row 1 (line 2), column n: 2.5: not a whole");
    row("n and trials", "V2_mV,mean_peak_pA,n,trials\n-60,-10,30,30\n",
        "row 1 (line 2), column trials: given with n");
    row("failures without n", "V2_mV,mean_peak_pA,sem_pA,failure_rate\n-60,-10,1,0.1\n",
        "row 1 (line 2), column n: missing");
    row("failures above 1", "V2_mV,mean_peak_pA,n,failure_rate\n-60,-10,30,1.5\n",
        "row 1 (line 2), column failure_rate: 1.5: out of range");
    row("quanta without spread", "V2_mV,mean_peak_pA,sem_pA,mean_quanta\n-60,-10,1,3\n",
        "row 1 (line 2), column sem_quanta: missing");
    row("short row", "V2_mV,mean_peak_pA,sem_pA\n-60,-10\n",
        "row 1 (line 2): 2 fields where the header has 3");
    row("column twice", "V2_mV,V2_mV,mean_peak_pA\n", "line 1, column V2_mV: named twice");
    row("JSON without points", "{\"program\": \"Cleftsim\"}", "the JSON data: no \"points\" array");
    row("JSON cut off", "{\"points\": [", "the text ends too early");
    row("JSON point of text", "{\"points\": [{\"V2_mV\": \"x\", \"trials\": 3, \"mean_peak_pA\": 1}]}",
        "points[0], column V2_mV: \"a string\": not a number");
}

void TestFit::refusals()
{
    QFETCH(std::string, text);
    QFETCH(QString, message);
    MeasuredData data;
    RunProblem problem;
    QVERIFY(!parseMeasuredData(text, data, &problem));
    const QString got = QString::fromStdString(problem.text());
    QVERIFY2(got.startsWith(message), qPrintable(got));
}

void TestFit::dataForms_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("values"); // compared with the model
    QTest::addColumn<int>("n"); // of the last point
    QTest::addColumn<double>("sem"); // the recorded standard error of the last point's current

    QTest::newRow("sem, BOM, comments, blanks and CRLF")
        << std::string("\xEF\xBB\xBF# recorded 2026-11-30\r\nV2_mV, mean_peak_pA ,sem_pA,cell\r\n\r\n"
                       "-100,-40.5,2.5,a\r\n# a comment\r\n-60,-25,2,a\r\n")
        << 2 << 2 << 0 << 2.0;
    QTest::newRow("std with n") << std::string("V2_mV,mean_peak_pA,std_pA,n\n-60,-25,6,36\n") << 1 << 1 << 36
                                << 1.0;
    QTest::newRow("the current at 0 mV is not compared") << std::string(
        "V2_mV,mean_peak_pA,std_pA,n,mean_quanta,failure_rate\n0,0,0,30,2.5,0.1\n-60,-25,6,36,,\n")
                                                         << 2 << 3 << 36 << 1.0;
    QTest::newRow("isv CSV of the batch tool") << std::string(
        "V2_mV,trials,mean_quanta,mean_peak_pA,mean_epsc_pA\n40,100,1.2,5.1,5.1\n0,100,2.0,0.000,0.0\n"
        "-60,100,3.5,-25.2,-25.2\n") << 3 << 5 << 100
                                               << std::nan("");
    QTest::newRow("isv JSON of the batch tool") << std::string(
        "{\"program\": \"Cleftsim\", \"points\": [\n{\"V2_mV\": 0, \"trials\": 100, \"mean_quanta\": 2, "
        "\"mean_peak_pA\": 0.000000, \"std_quanta\": 1.1, \"std_peak_pA\": 0.000000},\n"
        "{\"V2_mV\": -60, \"trials\": 1, \"mean_quanta\": 2, \"mean_peak_pA\": -20, \"std_quanta\": null, "
        "\"std_peak_pA\": null}]}") << 2 << 3 << 0
                                                << std::nan("");
}

void TestFit::dataForms()
{
    QFETCH(std::string, text);
    QFETCH(int, points);
    QFETCH(int, values);
    QFETCH(int, n);
    QFETCH(double, sem);
    MeasuredData data;
    RunProblem problem;
    const bool read = parseMeasuredData(text, data, &problem);
    if (QByteArray(QTest::currentDataTag()) == "isv JSON of the batch tool") {
        // A point of one trial has no spread: refused, as n must be at least 2.
        QVERIFY(!read);
        QVERIFY2(problem.text().rfind("points[1], column n: 1:", 0) == 0, problem.text().c_str());
        return;
    }
    QVERIFY2(read, problem.text().c_str());
    QCOMPARE(int(data.points.size()), points);
    QCOMPARE(measuredValueCount(data), values);
    QCOMPARE(data.points.back().n, n);
    if (std::isnan(sem))
        QVERIFY(std::isnan(data.points.back().semPeak));
    else
        QCOMPARE(data.points.back().semPeak, sem);
    QCOMPARE(data.sha256, sha256Hex(text));
}

void TestFit::requestRefusals_data()
{
    QTest::addColumn<QString>("free"); // name=low:high, separated by commas
    QTest::addColumn<std::string>("data");
    QTest::addColumn<QString>("message");

    const std::string two = "V2_mV,mean_peak_pA,sem_pA\n-60,-25,2\n-100,-40,2\n";
    QTest::newRow("nothing free") << "" << two << "free: no free parameter";
    QTest::newRow("V2 free") << "V2=-100:40" << two << "free V2: the clamp potential";
    QTest::newRow("named twice") << "Rg=0:1,Rg=0:2" << two << "free Rg: named twice";
    QTest::newRow("low above high") << "Rg=2:1" << two << "free Rg 2.00:1.00: low above high";
    QTest::newRow("off the grid") << "Rg=0.005:1" << two << "free Rg low 0.005: too many decimals";
    QTest::newRow("Gb without the background")
        << "Gb=0:0.5" << two << "free Gb: the background conductance is switched off";
    QTest::newRow("as many values as free")
        << "Rg=0:1,N=1:20" << two << "data.csv: 2 measured values for 2 free";
    QTest::newRow("0 mV does not count")
        << "Rg=0:1" << std::string("V2_mV,mean_peak_pA,std_pA,n\n0,0,0,30\n-60,-25,6,30\n")
        << "data.csv: 1 measured values for 1 free";
}

void TestFit::requestRefusals()
{
    QFETCH(QString, free);
    QFETCH(std::string, data);
    QFETCH(QString, message);
    std::vector<FreeParameter> list;
    for (const QString &item : free.split(',', Qt::SkipEmptyParts)) {
        const QStringList parts = item.split('=');
        const QStringList range = parts[1].split(':');
        list.push_back({findParam(parts[0].toStdString()), range[0].toDouble(), range[1].toDouble()});
    }
    FitRequest request = requestOn(data, list);
    RunProblem problem;
    QVERIFY(!checkFit(request, &problem));
    const QString got = QString::fromStdString(problem.text());
    QVERIFY2(got.startsWith(message), qPrintable(got));
}

void TestFit::seededPointsDrawFromTheirOwnSeeds()
{
    // Trial j of a potential starts from mixSeed(seed, j), whatever came
    // before it: the same as the one trial routine run on its own.
    ParameterSet p = DefaultParameterSet;
    p.Rg = 1.5;
    const std::vector<SeededPotential> both {{-60, 11}, {20, 12}};
    const std::vector<IsvPoint> points = runSeededIsvPoints(p, both, 40);
    QCOMPARE(int(points.size()), 2);
    const std::vector<IsvPoint> alone = runSeededIsvPoints(p, {{20, 12}}, 40);
    QCOMPARE(alone[0].peakSum, points[1].peakSum);
    QCOMPARE(alone[0].totalQuanta, points[1].totalQuanta);

    ModelState state;
    state.setCurrent(p);
    IsvPoint byHand;
    byHand.V = -60;
    Generator rng;
    // The joint sums the likelihood takes, summed here trial by trial.
    double first = 0, failurePeaks = 0, failureSquares = 0, squaresQuanta = 0;
    for (int j = 1; j <= 40; ++j) {
        rng.setSeed(mixSeed(11, static_cast<std::uint32_t>(j)));
        const PeakTrialResult r = runPeakTrial(state.LPC, state.SpikeSteps, state.Sites, rng, -60,
            shortWindowStart(), shortWindowEnd(state.LPC), PeakKind::BySign);
        byHand.add({r.m, r.peak});
        if (j == 1)
            first = r.peak;
        const double d = r.peak - first;
        squaresQuanta += d * d * r.m;
        if (r.m == 0) {
            failurePeaks += d;
            failureSquares += d * d;
        }
    }
    QCOMPARE(points[0].failureShiftedPeakSum, failurePeaks);
    QCOMPARE(points[0].failureShiftedPeakSquares, failureSquares);
    QCOMPARE(points[0].shiftedPeakSquaresQuanta, squaresQuanta);
    QVERIFY(points[0].failures > 0 && points[0].failures < 40);
    QCOMPARE(points[0].peakSum, byHand.peakSum);
    QCOMPARE(points[0].totalQuanta, byHand.totalQuanta);
    QCOMPARE(points[0].failures, byHand.failures);
    QVERIFY(points[0].totalQuanta > 0);

    // Common random numbers: a step of Rg changes only the trials it
    // changes, so the mean moves by far less than its standard error.
    ParameterSet q = p;
    q.Rg = 1.51;
    const IsvPoint a = runSeededIsvPoints(p, {{-60, 11}}, 400)[0];
    const IsvPoint b = runSeededIsvPoints(q, {{-60, 11}}, 400)[0];
    QVERIFY(a.meanPeak() != b.meanPeak());
    QVERIFY2(std::fabs(a.meanPeak() - b.meanPeak()) < 0.2 * a.sdPeak() / std::sqrt(400.0),
        qPrintable(QString("%1 against %2").arg(a.meanPeak()).arg(b.meanPeak())));
    // The seeds of a fit's potentials: from the fit's seed and the potential alone.
    FitRequest request = requestOn("V2_mV,mean_peak_pA,sem_pA\n-60,-25,2\n20,5,1\n", {});
    const std::vector<SeededPotential> seeds = fitPotentials(request);
    QCOMPARE(seeds[0].seed, mixSeed(7, 100));
    QCOMPARE(seeds[1].seed, mixSeed(7, 20));
}

void TestFit::likelihood_data()
{
    QTest::addColumn<std::string>("data");
    QTest::addColumn<double>("sd"); // the spread of data - model the likelihood must take
    QTest::addColumn<double>("residual");

    // The model's trials: mean -20, standard deviation 6, over T = 100.
    // With n the model tells the recorded mean's spread: 6^2/25 + 6^2/100.
    QTest::newRow("n given") << std::string("V2_mV,mean_peak_pA,std_pA,n\n-60,-23,99,25\n")
                             << std::sqrt(36.0 / 25 + 0.36) << -3 / std::sqrt(36.0 / 25 + 0.36);
    // Without n the recorded standard error stands for it.
    QTest::newRow("sem alone") << std::string("V2_mV,mean_peak_pA,sem_pA\n-60,-17,2\n") << std::sqrt(4 + 0.36)
                               << 3 / std::sqrt(4.36);
    // Every trial alike: the floor of a tenth of a pA keeps the variance from 0.
    QTest::newRow("no spread in the model") << std::string("V2_mV,mean_peak_pA,std_pA,n\n-60,-20,0,4\n")
                                            << std::sqrt(0.01 / 4 + 0.01 / 100) << 0.0;
}

void TestFit::likelihood()
{
    QFETCH(std::string, data);
    QFETCH(double, sd);
    QFETCH(double, residual);
    FitRequest request = requestOn(data, {});
    request.trials = 100;
    request.noise = FitNoise::Off; // the means alone; the recorded spread has its own tests
    const double spread = QByteArray(QTest::currentDataTag()) == "no spread in the model" ? 0.0 : 6.0;
    const std::vector<FitTerm> terms = fitTerms(request, {pointWith(-60, 100, -20, spread)});
    QCOMPARE(int(terms.size()), 1);
    QVERIFY(std::fabs(terms[0].sd - sd) < 1e-12 * sd);
    QVERIFY(std::fabs(terms[0].residual - residual) < 1e-12);
    QCOMPARE(terms[0].model, -20.0);
    QVERIFY(std::fabs(minusTwoLogLikelihood(terms) - (residual * residual + std::log(sd * sd))) < 1e-12);
}

void TestFit::chiSquare_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("dof");
    QTest::addColumn<double>("p");

    // Closed forms: dof 1, erfc(sqrt(x / 2)); dof 2, exp(-x / 2); dof 4, exp(-x / 2) (1 + x / 2).
    for (double x : {0.1, 1.0, 3.841458820694124, 10.0, 60.0}) {
        QTest::addRow("1 dof, %g", x) << x << 1 << std::erfc(std::sqrt(x / 2));
        QTest::addRow("2 dof, %g", x) << x << 2 << std::exp(-x / 2);
        QTest::addRow("4 dof, %g", x) << x << 4 << std::exp(-x / 2) * (1 + x / 2);
    }
    QTest::newRow("0") << 0.0 << 3 << 1.0;
}

void TestFit::chiSquare()
{
    QFETCH(double, x);
    QFETCH(int, dof);
    QFETCH(double, p);
    const double got = chiSquareSurvival(x, dof);
    QVERIFY2(std::fabs(got - p) <= 1e-12 + 1e-10 * p, qPrintable(QString("%1 against %2").arg(got).arg(p)));
}

void TestFit::searchFindsTheProfileOfALinearModel_data()
{
    QTest::addColumn<double>("coupling"); // how far the current's dependence on Gmax follows Rg's

    QTest::newRow("independent") << 0.0;
    QTest::newRow("trading off") << 0.4;
}

void TestFit::searchFindsTheProfileOfALinearModel()
{
    // A stand-in for the engine whose mean current is linear in Rg and Gmax
    // and whose spread does not depend on them: -2 log L is then a quadratic
    // form, and the profile interval of Rg, Gmax re-optimised at every Rg, is
    // the estimate -+ sqrt(3.84 * (X'WX)^-1), wider than Rg's conditional
    // interval when the two trade off. A profile that does not re-optimise
    // Gmax gives the conditional one and fails here.
    QFETCH(double, coupling);
    const std::vector<int> potentials {-100, -80, -60, -40, -20, 20, 40};
    const double sd = 6;
    const int n = 30;
    const int T = 100;
    const double trueRg = 1.5, trueGmax = 2.0;
    const auto a = [](int V) { return 0.1 * V; };
    const auto b = [&](int V) { return coupling * 0.1 * V + (1 - coupling) * 0.05 * (V + 30); };
    std::string text = "V2_mV,mean_peak_pA,std_pA,n\n";
    const double noise[] = {0.9, -1.1, 0.3, 0.5, -0.7, 1.2, -0.4};
    for (std::size_t i = 0; i < potentials.size(); ++i) {
        const int V = potentials[i];
        const double y = a(V) * trueRg + b(V) * trueGmax + noise[i] * sd / std::sqrt(double(n));
        text += std::to_string(V) + "," + shortestNumber(y) + "," + shortestNumber(sd) + ","
            + std::to_string(n) + "\n";
    }
    FitRequest request = requestOn(text, {{&info(Param::Rg), 0.0, 5.0}, {&info(Param::Gmax), 0.5, 4.0}});
    request.trials = T;
    // The means alone: their likelihood is the weighted least squares written out below.
    request.noise = FitNoise::Off;
    int batches = 0;
    const FitEvaluator model = [&](const std::vector<ParameterSet> &batch) {
        ++batches;
        std::vector<std::vector<IsvPoint>> out;
        for (const ParameterSet &p : batch) {
            std::vector<IsvPoint> points;
            for (int V : potentials)
                points.push_back(pointWith(V, T, a(V) * p.Rg + b(V) * p.Gmax, sd));
            out.push_back(points);
        }
        return out;
    };
    std::vector<FitProgressStep> steps;
    const FitResult result
        = runFit(request, model, [&](const FitProgressStep &step) { steps.push_back(step); });
    if (qEnvironmentVariableIsSet("FIT_DEBUG"))
        qDebug("%s", fitJson(result).c_str());

    // Weighted least squares by hand.
    const double w = 1 / (sd * sd / n + sd * sd / T);
    double saa = 0, sab = 0, sbb = 0, say = 0, sby = 0;
    for (std::size_t i = 0; i < potentials.size(); ++i) {
        const int V = potentials[i];
        const double y = request.data.points[i].meanPeak;
        saa += w * a(V) * a(V);
        sab += w * a(V) * b(V);
        sbb += w * b(V) * b(V);
        say += w * a(V) * y;
        sby += w * b(V) * y;
    }
    const double det = saa * sbb - sab * sab;
    const double rg = (sbb * say - sab * sby) / det;
    const double gmax = (saa * sby - sab * say) / det;
    // The 0.95 quantile of chi-square with one degree of freedom, 1.959964^2.
    const double chi2Quantile = 1.959963984540054 * 1.959963984540054;
    const double halfWidth = std::sqrt(chi2Quantile * sbb / det);
    // Within two editor steps: Gmax on its grid makes the profile of Rg
    // uneven by a few thousandths, which can move its least value by a step.
    QVERIFY2(std::fabs(result.estimates[0] - rg) <= 0.021 && std::fabs(result.estimates[1] - gmax) <= 0.021,
        qPrintable(QString("%1, %2 against %3, %4")
                       .arg(result.estimates[0])
                       .arg(result.estimates[1])
                       .arg(rg)
                       .arg(gmax)));
    // The interval of Rg with Gmax held at its estimate, which a profile
    // that forgets to re-optimise would give, lies well inside.
    const double conditional = std::sqrt(chi2Quantile / saa);
    QVERIFY(coupling == 0 || halfWidth > conditional + 0.05);
    QVERIFY2(std::fabs(result.intervals[0].first - (rg - halfWidth)) <= 0.021
            && std::fabs(result.intervals[0].second - (rg + halfWidth)) <= 0.021,
        qPrintable(QString("[%1, %2] against %3 -+ %4")
                       .arg(result.intervals[0].first)
                       .arg(result.intervals[0].second)
                       .arg(rg)
                       .arg(halfWidth)));
    QVERIFY(result.bounded[0].first && result.bounded[0].second);
    // 7 means, less Rg and Gmax.
    QCOMPARE(result.dof, 5);
    QVERIFY(result.evaluations > 0 && batches > 0);

    // A step per batch: the coarse grid first, of known size (the coarse
    // values of both parameters) and done in one batch; then the refinement
    // and the profile of each parameter, their size not known in advance.
    QCOMPARE(int(steps.size()), batches);
    const FitProgressStep &first = steps.front();
    QCOMPARE(first.stage, std::string("coarse grid"));
    QCOMPARE(first.stageIndex, 0);
    QCOMPARE(first.total, result.coarsePoints[0] * result.coarsePoints[1]);
    QCOMPARE(first.done, first.total);
    QCOMPARE(first.evaluations, first.total);
    QCOMPARE(steps.back().evaluations, result.evaluations);
    std::vector<std::string> stages;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        // The coarse grid, the refinement, two profiles and the refits of
        // the sensitivity to N (Gmax is free here).
        QCOMPARE(steps[i].stageCount, 5);
        if (i > 0)
            QVERIFY(steps[i].evaluations > steps[i - 1].evaluations);
        if (stages.empty() || stages.back() != steps[i].stage)
            stages.push_back(steps[i].stage);
        const int expected = steps[i].stage == "coarse grid" ? 0
            : steps[i].stage == "refinement"                 ? 1
            : steps[i].stage == "profile Rg"                 ? 2
            : steps[i].stage == "sensitivity"                ? 4
                                              : 3; // Gmax's profile, or a restart's profiles after it
        QCOMPARE(steps[i].stageIndex, expected);
        QVERIFY(steps[i].stageIndex == 0 || steps[i].total == 0);
    }
    QVERIFY(stages.size() >= 4);
    QCOMPARE(stages[0], std::string("coarse grid"));
    QCOMPARE(stages[1], std::string("refinement"));
    QCOMPARE(stages[2], std::string("profile Rg"));
    QCOMPARE(stages[3], std::string("profile Gmax"));
    QCOMPARE(stages.back(), std::string("sensitivity"));
    // The profile holds the minimum and rises to the threshold at the ends.
    double least = 1e300;
    for (const ProfilePoint &point : result.profiles[0])
        least = std::min(least, point.objective - result.objective);
    QCOMPARE(least, 0.0);
    // Each end is the last grid value whose rise stays within the quantile:
    // the profile holds the end and the next value out, read from it here.
    for (const bool low : {true, false}) {
        const double end = low ? result.intervals[0].first : result.intervals[0].second;
        const double next = std::round((end + (low ? -0.01 : 0.01)) * 100) / 100;
        double atEnd = -1, atNext = -1;
        for (const ProfilePoint &point : result.profiles[0]) {
            if (point.values[0] == end)
                atEnd = point.objective - result.objective;
            if (point.values[0] == next)
                atNext = point.objective - result.objective;
        }
        QVERIFY2(atEnd >= 0 && atEnd <= chi2Quantile && atNext > chi2Quantile,
            qPrintable(QString("end %1 rises %2, %3 rises %4").arg(end).arg(atEnd).arg(next).arg(atNext)));
    }
}

void TestFit::theSameFitWhateverTheWorkers()
{
    // Batches spread over one or two threads: the same bytes.
    FitRequest request
        = requestOn("V2_mV,mean_peak_pA,std_pA,n\n-100,-28,9,30\n-60,-19,8,30\n-20,-7,4,30\n20,4,3,30\n",
            {{&info(Param::Rg), 1.0, 2.0}});
    request.trials = 60;
    const std::string one = fitJson(runFit(request, localFitEvaluator(request, 1)));
    const std::string two = fitJson(runFit(request, localFitEvaluator(request, 2)));
    QCOMPARE(one, two);
    QVERIFY(one.find("\"fit_command\": \"cleftsim-batch fit --data data.csv --free Rg=1.00:2.00 --trials 60 "
                     "--seed 7\"")
        != std::string::npos);
}

void TestFit::recoversTheCleftResistanceOfSimulatedData()
{
    // Data made by the engine at Rg = 1.50 (30 trials at each of 8
    // potentials, other seeds than the fit's), fitted with Rg free: the
    // interval holds 1.50; data made at Rg = 0 gives an upper limit. One
    // recording in twenty has an interval that misses its truth (the
    // study measures the share); these recordings' seeds are ones whose
    // intervals hold it, so that a fit that drifts shows here.
    for (const double trueRg : {1.5, 0.0}) {
        ParameterSet p = DefaultParameterSet;
        p.Rg = trueRg;
        std::vector<SeededPotential> design;
        for (int V = -100; V <= 40; V += 20)
            design.push_back({V == 0 ? 10 : V, 2000u + static_cast<std::uint32_t>(V + 200)});
        const std::vector<IsvPoint> recorded = runSeededIsvPoints(p, design, 30);
        std::string text = "V2_mV,mean_peak_pA,std_pA,n\n";
        for (const IsvPoint &point : recorded)
            text += std::to_string(point.V) + "," + shortestNumber(point.meanPeak()) + ","
                + shortestNumber(point.sdPeak()) + ",30\n";
        FitRequest request = requestOn(text, {{&info(Param::Rg), 0.0, 4.0}});
        request.trials = 400;
        const FitResult result = runFit(request, localFitEvaluator(request, 0));
        QVERIFY2(result.intervals[0].first <= trueRg && trueRg <= result.intervals[0].second,
            qPrintable(QString("Rg %1: [%2, %3]")
                           .arg(trueRg)
                           .arg(result.intervals[0].first)
                           .arg(result.intervals[0].second)));
        // Rg = 0 is no range's end but a physical bound: the interval is
        // an upper limit, bounded by the data above.
        QVERIFY(result.bounded[0].first && result.bounded[0].second);
        QCOMPARE(std::isnan(result.upperLimits[0]), trueRg > 0);
        if (trueRg == 0)
            QCOMPARE(result.upperLimits[0], result.intervals[0].second);
        QVERIFY(result.pValue > 0.001);
    }
}

void TestFit::sha256_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<std::string>("digest");

    QTest::newRow("empty") << std::string()
                           << std::string("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    QTest::newRow("abc") << std::string("abc")
                         << std::string("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the last block.
    QTest::newRow("two blocks") << std::string("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")
                                << std::string(
                                       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    QTest::newRow("a million a") << std::string(
        1000000, 'a') << std::string("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

void TestFit::sha256()
{
    QFETCH(std::string, bytes);
    QFETCH(std::string, digest);
    QCOMPARE(sha256Hex(bytes), digest);
    // The same digest from the bytes in pieces, as a file is read: pieces
    // that fill a block, leave one short or run over into the next.
    for (std::size_t piece :
        {std::size_t(1), std::size_t(7), std::size_t(63), std::size_t(64), std::size_t(65)}) {
        Sha256 pieces;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            pieces.add(bytes.data() + at, std::min(piece, bytes.size() - at));
        QCOMPARE(pieces.hex(), digest);
    }
}

QTEST_GUILESS_MAIN(TestFit)
#include "tst_fit.moc"
