#include "model/rounding.h"
#include "run/fit.h"
#include "run/fitwarnings.h"
#include "run/json.h"
#include "run/measureddata.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <string>

using namespace cleftsim;

Q_DECLARE_METATYPE(std::string)

// What a fit says beside its estimates: the recording noise it finds in the
// recorded spreads, the means of a potential taken jointly, one-sided
// limits at a physical bound, the sensitivity to the fixed values, its
// warnings, its progress and its summary. A stand-in for the engine whose
// mean current is linear in Rg and Gmax keeps them fast and their answers
// known.
class TestFitChecks : public QObject {
    Q_OBJECT
private slots:
    void noiseAndSensitivityOptions_data();
    void noiseAndSensitivityOptions();
    void recordedSpreadTerm_data();
    void recordedSpreadTerm();
    void fittedNoiseDegree_data();
    void fittedNoiseDegree();
    void fewerPointsThanTheData();
    void momentsWhateverTheShift();
    void fixedNoiseAndThresholdAsWritten();
    void jointMeansOfAPotential();
    void noiseFoundInTheRecordedSpread_data();
    void noiseFoundInTheRecordedSpread();
    void limitsAndRangeEnds_data();
    void limitsAndRangeEnds();
    void warnings_data();
    void warnings();
    void signOnlyWhereTheCurrentIsClear_data();
    void signOnlyWhereTheCurrentIsClear();
    void sensitivityFollowsAFixedParameter_data();
    void sensitivityFollowsAFixedParameter();
    void sensitivityThreshold_data();
    void sensitivityThreshold();
    void progressTellsTheStages();
};

namespace {

const std::vector<int> Potentials {-100, -80, -60, -40, -20, 20, 40};
constexpr double ModelSd = 6; // the stand-in's spread of a trial [pA]
constexpr int T = 200;

// The stand-in's mean current at V: inward below +10 mV, its size falling
// as Rg rises (never to 0); Gmax adds to it by coupling times its move from
// 0.20, so that with a coupling Rg takes up a move of Gmax, without none.
double sizeFactor(double Rg, double Gmax, double coupling)
{
    return 3 / (1 + Rg) + coupling * (Gmax - 0.2);
}

double current(int V, double Rg, double Gmax, double coupling)
{
    return -0.2 * (V - 10) * sizeFactor(Rg, Gmax, coupling);
}

IsvPoint pointWith(int V, double mean, double sd, double third = 0, double kurtosis = 0)
{
    IsvPoint p;
    p.V = V;
    p.trials = T;
    p.peakSum = mean * T;
    p.peakShift = mean;
    p.shiftedPeakSquares = sd * sd * (T - 1);
    // A normal trial: the fourth central moment three times the second's
    // square (over T), so no excess kurtosis.
    const double m2 = sd * sd * (T - 1) / T;
    p.shiftedPeakFourths = (3 + kurtosis) * m2 * m2 * T;
    p.shiftedPeakCubes = third * T;
    return p;
}

FitEvaluator standIn(double coupling)
{
    return [coupling](const std::vector<ParameterSet> &batch) {
        std::vector<std::vector<IsvPoint>> out;
        for (const ParameterSet &p : batch) {
            std::vector<IsvPoint> points;
            for (int V : Potentials)
                points.push_back(pointWith(V, current(V, p.Rg, p.Gmax, coupling), ModelSd));
            out.push_back(points);
        }
        return out;
    };
}

// Data of the stand-in at Rg, with the deviations of the means given in
// standard errors and the recorded spread given; scale multiplies the
// currents (-1: written as amplitudes, 0.001: in nA).
std::string recording(double Rg, double spread, double scale = 1, const char *extra = "")
{
    const double deviation[] = {0.9, -1.1, 0.3, 0.5, -0.7, 1.2, -0.4};
    std::string text = std::string("V2_mV,mean_peak_pA,std_pA,n") + extra + "\n";
    for (std::size_t i = 0; i < Potentials.size(); ++i) {
        const double y = current(Potentials[i], Rg, 0.2, 0) + deviation[i] * spread / std::sqrt(30.0);
        text += std::to_string(Potentials[i]) + "," + shortestNumber(scale * y) + "," + shortestNumber(spread)
            + ",30\n";
    }
    return text;
}

FitRequest requestOn(const std::string &text, double low = 0, double high = 5)
{
    FitRequest request;
    request.data.name = "data.csv";
    RunProblem problem;
    if (!parseMeasuredData(text, request.data, &problem))
        qFatal("%s", problem.text().c_str());
    request.free = {{&paramInfo(Param::Rg), low, high}};
    request.trials = T;
    request.seed = 3;
    request.sensitivity = {};
    return request;
}

bool hasWarning(const FitResult &result, const std::string &code)
{
    for (const FitWarning &w : result.warnings)
        if (w.code == code)
            return true;
    return false;
}

} // namespace

void TestFitChecks::noiseAndSensitivityOptions_data()
{
    QTest::addColumn<QString>("option"); // "noise" or "sensitivity"
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("readBack"); // as written back, or the start of the refusal

    QTest::newRow("auto") << "noise"
                          << "auto" << true << "auto";
    QTest::newRow("none") << "noise"
                          << "none" << true << "none";
    QTest::newRow("0 pA") << "noise"
                          << "0" << true << "0";
    QTest::newRow("2.5 pA") << "noise"
                            << "2.5" << true << "2.5";
    QTest::newRow("the largest") << "noise"
                                 << "1e6" << true << "1e+06";
    QTest::newRow("above the largest") << "noise"
                                       << "1000000.1" << false << "noise 1000000.1: not auto";
    QTest::newRow("below 0") << "noise"
                             << "-0.1" << false << "noise -0.1: not auto";
    QTest::newRow("a word") << "noise"
                            << "fitted" << false << "noise fitted: not auto";
    QTest::newRow("empty") << "noise"
                           << "" << false << "noise : not auto";
    QTest::newRow("default moves") << "sensitivity"
                                   << "Gmax=10%,N=1" << true << "Gmax=10%,N=1";
    QTest::newRow("no moves") << "sensitivity"
                              << "none" << true << "none";
    QTest::newRow("all of it") << "sensitivity"
                               << "tc=100%" << true << "tc=100%";
    QTest::newRow("beyond all") << "sensitivity"
                                << "tc=100.5%" << false << "sensitivity tc=100.5%: the move";
    QTest::newRow("the editor's range") << "sensitivity"
                                        << "N=19" << true << "N=19";
    QTest::newRow("beyond the range") << "sensitivity"
                                      << "N=19.5" << false << "sensitivity N=19.5: the move";
    QTest::newRow("0") << "sensitivity"
                       << "Gmax=0" << false << "sensitivity Gmax=0: the move";
    QTest::newRow("V2") << "sensitivity"
                        << "V2=5" << false << "sensitivity V2=5: not a parameter";
    QTest::newRow("twice") << "sensitivity"
                           << "N=1,N=2" << false << "sensitivity N=2: named twice";
    QTest::newRow("no delta") << "sensitivity"
                              << "Gmax" << false << "sensitivity Gmax: not PARAM=DELTA";
}

void TestFitChecks::noiseAndSensitivityOptions()
{
    QFETCH(QString, option);
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QFETCH(QString, readBack);
    RunProblem problem;
    std::string got;
    bool ok = false;
    if (option == "noise") {
        FitNoise noise = FitNoise::Fitted;
        double value = -1;
        ok = parseFitNoise(text.toStdString(), &noise, &value, &problem);
        got = ok ? noiseText(noise, value) : problem.text();
        if (ok)
            QCOMPARE(noise,
                text == "auto"       ? FitNoise::Fitted
                    : text == "none" ? FitNoise::Off
                                     : FitNoise::Fixed);
    } else {
        std::vector<SensitivityMove> moves;
        ok = parseSensitivity(text.toStdString(), &moves, &problem);
        got = ok ? sensitivityText(moves) : problem.text();
        QCOMPARE(moves.empty(), !ok || text == "none");
    }
    QCOMPARE(ok, taken);
    QVERIFY2(QString::fromStdString(got).startsWith(readBack), got.c_str());
}

void TestFitChecks::recordedSpreadTerm_data()
{
    QTest::addColumn<double>("recorded"); // std_pA of 30 trials
    QTest::addColumn<double>("noise");
    QTest::addColumn<double>("third"); // the model's third central moment of a trial [pA^3]
    QTest::addColumn<double>("kurtosis"); // its excess kurtosis

    QTest::newRow("as the model, no noise") << 6.0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("as the model, noise 3") << 6.0 << 3.0 << 0.0 << 0.0;
    QTest::newRow("wider, noise 3") << 9.0 << 3.0 << 0.0 << 0.0;
    QTest::newRow("skewed and bimodal") << 7.0 << 0.0 << 150.0 << -1.2;
    QTest::newRow("skewed and bimodal, noise 2") << 7.0 << 2.0 << 150.0 << -1.2;
    QTest::newRow("heavy tails") << 7.0 << 0.0 << -100.0 << 2.0;
}

void TestFitChecks::recordedSpreadTerm()
{
    // One potential, its mean 1 pA from the model's: the mean and the
    // recorded spread about the model's mean, d = ((n - 1) s^2 + n 1^2) / n,
    // are jointly normal, written out here for two quantities:
    // var d = (mu4 - v^2) / n and cov(mean, d) = mu3 / n with the noise's
    // moments added.
    QFETCH(double, recorded);
    QFETCH(double, noise);
    QFETCH(double, third);
    QFETCH(double, kurtosis);
    FitRequest request
        = requestOn("V2_mV,mean_peak_pA,std_pA,n\n-60,-19," + shortestNumber(recorded) + ",30\n");
    request.noise = FitNoise::Fixed;
    request.noiseValue = noise;
    const IsvRecordingObjective objective(request);
    const std::vector<IsvPoint> points {pointWith(-60, -20, ModelSd, third, kurtosis)};
    const double n = 30, e = noise * noise, sd2 = ModelSd * ModelSd;
    const double v = sd2 + e;
    const double m2 = sd2 * (T - 1) / T;
    const double mu4 = (3 + kurtosis) * m2 * m2 + 6 * sd2 * e + 3 * e * e;
    const double cmm = v / n + sd2 / T;
    // The model's variance is the sample variance of T simulated trials: its
    // own scatter (no noise in the simulation) and covariance with its mean.
    const double mu4Model = (3 + kurtosis) * m2 * m2;
    const double css = std::max((mu4 - v * v) / n, 2 * v * v / (n * (n - 1)))
        + std::max((mu4Model - sd2 * sd2 * (T - 3) / (T - 1)) / T, 0.0);
    const double cms = third / n + third / T;
    // The recorded spread about the model's mean: s^2 and the mean's own
    // deviation, against v and the simulated mean's error.
    const double rm = 1, rs = ((n - 1) * recorded * recorded + n * rm * rm) / n - (v + sd2 / T);
    const double det = cmm * css - cms * cms;
    const double chi2 = (rm * rm * css - 2 * rm * rs * cms + rs * rs * cmm) / det;
    const double expected = chi2 + std::log(det);
    QVERIFY2(std::fabs(objective.minusTwoLogLikelihood(points) - expected) < 1e-9 * std::fabs(expected),
        qPrintable(QString("%1 against %2").arg(objective.minusTwoLogLikelihood(points)).arg(expected)));
    QVERIFY(std::fabs(objective.chiSquare(points) - chi2) < 1e-9 * chi2);
    QCOMPARE(objective.values(), 2); // the mean and the recorded variance
    QCOMPARE(objective.nuisanceParameters(points), 0); // the noise fixed
    // With the noise off the recorded spread plays no part: the mean's term alone.
    request.noise = FitNoise::Off;
    const IsvRecordingObjective off(request);
    const double alone = sd2 / n + sd2 / T;
    QVERIFY(std::fabs(off.minusTwoLogLikelihood(points) - (1 / alone + std::log(alone))) < 1e-12);
    QVERIFY(!off.usesSpread());
    QCOMPARE(off.values(), 1);
}

void TestFitChecks::fittedNoiseDegree_data()
{
    QTest::addColumn<double>("recorded"); // std_pA of 30 trials, the model's 6
    QTest::addColumn<int>("nuisance");

    QTest::newRow("narrower than the model: the noise on its bound 0") << 3.0 << 0;
    QTest::newRow("wider than the model: the noise above 0") << 12.0 << 1;
}

void TestFitChecks::fittedNoiseDegree()
{
    // A fitted noise takes up a degree of freedom where it is fitted above
    // 0, none where the recorded spread leaves it on its bound 0.
    QFETCH(double, recorded);
    QFETCH(int, nuisance);
    FitRequest request
        = requestOn("V2_mV,mean_peak_pA,std_pA,n\n-60,-20," + shortestNumber(recorded) + ",30\n");
    const IsvRecordingObjective objective(request);
    const std::vector<IsvPoint> points {pointWith(-60, -20, ModelSd)};
    QCOMPARE(objective.bestNoise(points) > 0, nuisance == 1);
    QCOMPARE(objective.nuisanceParameters(points), nuisance);
    request.noise = FitNoise::Off;
    QCOMPARE(IsvRecordingObjective(request).nuisanceParameters(points), 0);
}

void TestFitChecks::fewerPointsThanTheData()
{
    // A candidate short of points (a run stopped on its way) is compared
    // where it has them, never read beyond them.
    const FitRequest two = requestOn("V2_mV,mean_peak_pA,std_pA,n\n-60,-20,6,30\n-40,-12,5,30\n");
    const FitRequest one = requestOn("V2_mV,mean_peak_pA,std_pA,n\n-60,-20,6,30\n");
    const std::vector<IsvPoint> points {pointWith(-60, -20, ModelSd)};
    const double got = IsvRecordingObjective(two).minusTwoLogLikelihood(points);
    QVERIFY(std::isfinite(got));
    QCOMPARE(got, IsvRecordingObjective(one).minusTwoLogLikelihood(points));
}

void TestFitChecks::momentsWhateverTheShift()
{
    // The engine sums the peaks shifted by a value of its own: the moments
    // (and so the spread's term) are the trials', whatever the shift.
    FitRequest request = requestOn("V2_mV,mean_peak_pA,std_pA,n,mean_quanta\n-60,-19,9,30,2.3\n");
    request.noise = FitNoise::Fixed;
    request.noiseValue = 1;
    const IsvRecordingObjective objective(request);
    // Bimodal: a failure in five, else a release of 1 to 4 quanta.
    const auto quantaOf = [](int j) { return j % 5 == 0 ? 0 : 1 + j % 4; };
    const auto peakOf
        = [&](int j) { return quantaOf(j) == 0 ? 0.0 : -6.0 * quantaOf(j) + (j % 7 - 3) * 0.5; };
    const auto shifted = [&](double shift) {
        IsvPoint p;
        p.V = -60;
        p.trials = T;
        p.peakShift = shift;
        for (int j = 0; j < T; ++j) {
            const int m = quantaOf(j);
            const double x = peakOf(j);
            const double d = x - shift;
            p.peakSum += x;
            p.shiftedPeakSum += d;
            p.shiftedPeakSquares += d * d;
            p.shiftedPeakCubes += d * d * d;
            p.shiftedPeakFourths += d * d * d * d;
            p.shiftedPeakQuanta += d * m;
            p.shiftedPeakSquaresQuanta += d * d * m;
            p.totalQuanta += m;
            p.quantaSquares += m * m;
            p.failures += m == 0 ? 1 : 0;
            p.failureShiftedPeakSum += m == 0 ? d : 0.0;
            p.failureShiftedPeakSquares += m == 0 ? d * d : 0.0;
        }
        return std::vector<IsvPoint> {p};
    };
    double mean = 0;
    for (int j = 0; j < T; ++j)
        mean += peakOf(j) / T;
    // Shifted by the mean itself, a little beside it, and far from it.
    const double centred = objective.minusTwoLogLikelihood(shifted(mean));
    for (const double shift : {-15.0, -2.0}) {
        const double apart = objective.minusTwoLogLikelihood(shifted(shift));
        QVERIFY2(std::fabs(centred - apart) < 1e-6 * std::fabs(centred),
            qPrintable(QString("%1 against %2 shifted by %3")
                           .arg(centred, 0, 'g', 12)
                           .arg(apart, 0, 'g', 12)
                           .arg(shift)));
    }
}

void TestFitChecks::fixedNoiseAndThresholdAsWritten()
{
    // The summary writes a fixed noise with two decimals, the JSON the
    // profile threshold with six.
    FitRequest request = requestOn(recording(1.5, ModelSd));
    request.noise = FitNoise::Fixed;
    request.noiseValue = 2.5;
    request.sensitivity.clear();
    const FitResult result = runFit(request, standIn(0));
    const std::string summary = fitSummaryText(result);
    QVERIFY2(summary.find("Recording noise fixed at 2.50 pA rms\n") != std::string::npos, summary.c_str());
    QVERIFY(fitJson(result).find("\"threshold\": 3.841459,") != std::string::npos);
}

void TestFitChecks::jointMeansOfAPotential()
{
    // Peak and quanta of the same trials: their covariance as simulated
    // enters; chi-square is r' C^-1 r, written out for two quantities.
    FitRequest request = requestOn("V2_mV,mean_peak_pA,std_pA,n,mean_quanta\n-60,-22,6,30,2.3\n");
    request.noise = FitNoise::Off;
    IsvPoint p = pointWith(-60, -20, ModelSd);
    // Quanta with mean 2 and variance 1, covarying with the peak by 4.8
    // (correlation 0.8); sums over the trials as the engine keeps them.
    p.totalQuanta = 2 * T;
    p.quantaSquares = static_cast<long long>((1.0 * (T - 1) + 4.0 * T));
    p.shiftedPeakQuanta = 4.8 * (T - 1);
    const double f = 1.0 / 30 + 1.0 / T;
    const double cpp = 36 * f, cqq = 1.0 * f, cpq = 4.8 * f;
    const double rp = -2, rq = 0.3;
    const double det = cpp * cqq - cpq * cpq;
    const double chi2 = (rp * rp * cqq - 2 * rp * rq * cpq + rq * rq * cpp) / det;
    const IsvRecordingObjective objective(request);
    const std::vector<IsvPoint> points {p};
    QVERIFY2(std::fabs(objective.chiSquare(points) - chi2) < 1e-9,
        qPrintable(QString("%1 against %2").arg(objective.chiSquare(points)).arg(chi2)));
    QVERIFY(std::fabs(objective.minusTwoLogLikelihood(points) - (chi2 + std::log(det))) < 1e-9);
    // Taken apart they would give another chi-square: the correlation counts.
    const double apart = rp * rp / cpp + rq * rq / cqq;
    QVERIFY(std::fabs(apart - chi2) > 0.5);
    // The terms keep each quantity's own spread and residual.
    const std::vector<FitTerm> terms = objective.terms(points);
    QCOMPARE(int(terms.size()), 2);
    QVERIFY(std::fabs(terms[1].sd - std::sqrt(cqq)) < 1e-12);
    QVERIFY(std::fabs(terms[1].residual - rq / std::sqrt(cqq)) < 1e-12);

    // With the recorded variance (std_pA 7, no noise) a third quantity,
    // covarying with the mean quanta by E[(m - 2) (peak - mean)^2] / n: here
    // 30 pA^2 a quantum, the sums of a trial's squared peak times m as the
    // engine keeps them; the peaks symmetric (mu3 0) and normal in kurtosis.
    request.noise = FitNoise::Fixed;
    request.noiseValue = 0;
    const double m2 = 36.0 * (T - 1) / T;
    p.shiftedPeakSquaresQuanta = (30.0 + 2 * m2) * T;
    const IsvRecordingObjective withSpread(request);
    // The spread about the model's mean, ((n - 1) 7^2 + n rp^2) / n, against
    // the model's 36 and the simulated mean's error 36 / T; its scatter the
    // recording's (mu4 - v^2) / n and the simulation's over T.
    const double css = std::max((3 * m2 * m2 - 36.0 * 36.0) / 30, 2 * 36.0 * 36.0 / (30 * 29))
        + (3 * m2 * m2 - 36.0 * 36.0 * (T - 3) / (T - 1)) / T;
    const double cqs = 30.0 / 30 + 30.0 / T;
    const double rs = (29 * 49 + 30 * rp * rp) / 30 - (36 + 36.0 / T);
    // r' C^-1 r for C = [[cpp, cpq, 0], [cpq, cqq, cqs], [0, cqs, css]] by cofactors.
    const double det3 = cpp * (cqq * css - cqs * cqs) - cpq * (cpq * css);
    const double i00 = (cqq * css - cqs * cqs) / det3, i01 = -(cpq * css) / det3, i02 = (cpq * cqs) / det3;
    const double i11 = (cpp * css) / det3, i12 = -(cpp * cqs) / det3, i22 = (cpp * cqq - cpq * cpq) / det3;
    const double chi3
        = rp * rp * i00 + rq * rq * i11 + rs * rs * i22 + 2 * (rp * rq * i01 + rp * rs * i02 + rq * rs * i12);
    FitRequest spreadRequest = requestOn("V2_mV,mean_peak_pA,std_pA,n,mean_quanta\n-60,-22,7,30,2.3\n");
    spreadRequest.noise = FitNoise::Fixed;
    spreadRequest.noiseValue = 0;
    const IsvRecordingObjective joint(spreadRequest);
    const std::vector<IsvPoint> both {p};
    QVERIFY2(std::fabs(joint.chiSquare(both) - chi3) < 1e-9 * chi3,
        qPrintable(QString("%1 against %2").arg(joint.chiSquare(both)).arg(chi3)));
    QVERIFY(std::fabs(joint.minusTwoLogLikelihood(both) - (chi3 + std::log(det3))) < 1e-9 * chi3);
}

void TestFitChecks::noiseFoundInTheRecordedSpread_data()
{
    QTest::addColumn<double>("noise"); // added to the stand-in's 6 pA in the recorded spread
    QTest::addColumn<double>("low"); // the interval must reach at least this far down
    QTest::addColumn<double>("high");

    QTest::newRow("no noise") << 0.0 << 0.0 << 0.0;
    QTest::newRow("4.5 pA") << 4.5 << 4.5 << 4.5;
    QTest::newRow("8 pA") << 8.0 << 8.0 << 8.0;
}

void TestFitChecks::noiseFoundInTheRecordedSpread()
{
    QFETCH(double, noise);
    QFETCH(double, low);
    QFETCH(double, high);
    const double spread = std::sqrt(ModelSd * ModelSd + noise * noise);
    FitRequest request = requestOn(recording(1.5, spread));
    const FitResult result = runFit(request, standIn(0));
    QVERIFY(result.noiseUsed);
    QVERIFY2(result.noiseInterval.first <= low && high <= result.noiseInterval.second
            && result.noiseInterval.first <= result.noise && result.noise <= result.noiseInterval.second,
        qPrintable(QString("%1 (%2 .. %3)")
                       .arg(result.noise)
                       .arg(result.noiseInterval.first)
                       .arg(result.noiseInterval.second)));
    // The recorded variance of 7 x 30 trials tells the noise to well within
    // a few pA where there is some.
    QVERIFY(result.noiseInterval.second - result.noiseInterval.first < 6);
    QVERIFY(result.intervals[0].first <= 1.5 && 1.5 <= result.intervals[0].second);
    QVERIFY(!hasWarning(result, "excess_spread"));
    const std::string json = fitJson(result);
    QVERIFY(json.find("\"noise_pA\": {\"mode\": \"fitted\", \"estimate\": " + formatFixed(result.noise, 2))
        != std::string::npos);
    // Off, the same data say their spread is beyond the model's where the noise is large.
    request.noise = FitNoise::Off;
    const FitResult off = runFit(request, standIn(0));
    QCOMPARE(hasWarning(off, "excess_spread"), noise > 0);
    QVERIFY(!off.noiseUsed);
    QVERIFY(fitJson(off).find("\"noise_pA\": {\"mode\": \"none\"}") != std::string::npos);
    // Standard errors alone give no spread of the trials: the noise is not
    // fitted, and the result says so.
    std::string semText = "V2_mV,mean_peak_pA,sem_pA\n";
    for (int V : Potentials)
        semText += std::to_string(V) + "," + shortestNumber(current(V, 1.5, 0.2, 0)) + ",1.2\n";
    FitRequest semOnly = requestOn(semText);
    const IsvRecordingObjective semObjective(semOnly);
    QVERIFY(!semObjective.usesSpread());
    const FitResult sem = runFit(semOnly, standIn(0));
    QVERIFY(!sem.noiseUsed);
    QVERIFY(fitJson(sem).find(
                "\"noise_pA\": {\"mode\": \"fitted\", \"estimate\": null, \"interval\": null, \"note\": ")
        != std::string::npos);
    QVERIFY(fitSummaryText(sem).find("Recording noise not fitted: ") != std::string::npos);
}

void TestFitChecks::limitsAndRangeEnds_data()
{
    QTest::addColumn<double>("truth");
    QTest::addColumn<double>("low"); // Rg's range
    QTest::addColumn<double>("high");
    QTest::addColumn<bool>("lowBounded");
    QTest::addColumn<bool>("highBounded");
    QTest::addColumn<bool>("upperLimit");
    QTest::addColumn<QString>("unbounded"); // unbounded_ends in the JSON
    QTest::addColumn<bool>("onZero"); // the estimate on the physical bound: no degree of freedom taken

    QTest::newRow("inside") << 1.5 << 0.0 << 5.0 << true << true << false << "[]" << false;
    QTest::newRow("the null: an upper limit") << 0.0 << 0.0 << 5.0 << true << true << true << "[]" << true;
    QTest::newRow("cut by the user's low end")
        << 0.0 << 0.5 << 5.0 << false << true << false << "[\"low\"]" << false;
    QTest::newRow("cut by the user's high end")
        << 1.5 << 0.0 << 1.2 << true << false << false << "[\"high\"]" << false;
    QTest::newRow("the null, high end cut")
        << 0.0 << 0.0 << 0.01 << true << false << false << "[\"high\"]" << true;
}

void TestFitChecks::limitsAndRangeEnds()
{
    QFETCH(double, truth);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(bool, lowBounded);
    QFETCH(bool, highBounded);
    QFETCH(bool, upperLimit);
    QFETCH(QString, unbounded);
    QFETCH(bool, onZero);
    FitRequest request = requestOn(recording(truth, ModelSd), low, high);
    const FitResult result = runFit(request, standIn(0));
    // Rg on 0 has taken up no degree of freedom; on a user's range end it has.
    QCOMPARE(result.estimates[0] == 0, onZero);
    const int values = IsvRecordingObjective(request).values();
    QCOMPARE(result.dof, values - 1 + (onZero ? 1 : 0) - (result.noise > 0 ? 1 : 0));
    QCOMPARE(result.bounded[0].first, lowBounded);
    QCOMPARE(result.bounded[0].second, highBounded);
    QCOMPARE(!std::isnan(result.upperLimits[0]), upperLimit);
    const std::string json = fitJson(result);
    const std::string both = lowBounded && highBounded ? "true" : "false";
    QVERIFY(json.find("\"bounded\": {\"Rg\": " + both + "}") != std::string::npos);
    QVERIFY(json.find("\"unbounded_ends\": {\"Rg\": " + unbounded.toStdString() + "}") != std::string::npos);
    const std::string summary = fitSummaryText(result);
    if (upperLimit) {
        QVERIFY(json.find("\"upper_limits\": {\"Rg\": " + formatFixed(result.intervals[0].second, 2) + "}")
            != std::string::npos);
        QVERIFY2(summary.find("Rg < " + formatFixed(result.intervals[0].second, 2)
                     + " GOhm (95 %): the data do not exclude Rg = 0")
                != std::string::npos,
            summary.c_str());
    } else {
        QVERIFY(json.find("\"upper_limits\": {}") != std::string::npos);
        QVERIFY(summary.find("Rg = " + formatFixed(result.estimates[0], 2) + " GOhm, 95 % interval")
            != std::string::npos);
        QCOMPARE(summary.find("not bounded by the data") != std::string::npos, !(lowBounded && highBounded));
    }
    // An estimate on a range's end the user set is a warning; Rg = 0 is not.
    const bool onEnd = (result.estimates[0] == low && low > 0) || result.estimates[0] == high;
    QCOMPARE(hasWarning(result, "at_range_end"), onEnd);
}

void TestFitChecks::warnings_data()
{
    QTest::addColumn<std::string>("data");
    QTest::addColumn<int>("noise"); // 0 fitted, 1 off
    QTest::addColumn<QStringList>("codes"); // the warnings expected, in their order

    QTest::newRow("a clean fit") << recording(1.5, ModelSd) << 0 << QStringList {};
    QTest::newRow("amplitudes as positive numbers")
        << recording(1.5, ModelSd, -1) << 0 << QStringList {"poor_fit", "at_range_end", "sign"};
    QTest::newRow("currents in nA") << recording(1.5, ModelSd, 0.001) << 0
                                    << QStringList {"poor_fit", "at_range_end", "units"};
    QTest::newRow("currents in fA") << recording(1.5, ModelSd, 1000) << 0
                                    << QStringList {"poor_fit", "units"};
    QTest::newRow("zero spread") << recording(1.5, 0) << 0 << QStringList {"spread_zero"};
    QTest::newRow("noise off, wide spreads")
        << recording(1.5, 15) << 1 << QStringList {"poor_fit", "excess_spread"};
    QTest::newRow("noise off, the model's spreads") << recording(1.5, ModelSd) << 1 << QStringList {};
    // sem against std / sqrt(n) = 6 / sqrt(30) = 1.0954: 10 % off is taken, beyond is a warning.
    const auto withSem = [](double sem) {
        std::string text = recording(1.5, ModelSd, 1, ",sem_pA");
        std::string out;
        std::size_t from = text.find('\n') + 1;
        out = text.substr(0, from);
        while (from < text.size()) {
            const std::size_t end = text.find('\n', from);
            out += text.substr(from, end - from) + "," + shortestNumber(sem) + "\n";
            from = end + 1;
        }
        return out;
    };
    QTest::newRow("sem as std over sqrt(n)") << withSem(6 / std::sqrt(30.0)) << 0 << QStringList {};
    QTest::newRow("sem 9 % off") << withSem(1.09 * 6 / std::sqrt(30.0)) << 0 << QStringList {};
    QTest::newRow("sem 11 % off") << withSem(1.11 * 6 / std::sqrt(30.0)) << 0
                                  << QStringList(7, "spread_inconsistent");
    QTest::newRow("sem five times") << withSem(5 * 6 / std::sqrt(30.0)) << 0
                                    << QStringList(7, "spread_inconsistent");
}

void TestFitChecks::warnings()
{
    QFETCH(std::string, data);
    QFETCH(int, noise);
    QFETCH(QStringList, codes);
    FitRequest request = requestOn(data);
    request.noise = noise == 1 ? FitNoise::Off : FitNoise::Fitted;
    const FitResult result = runFit(request, standIn(0));
    QStringList got;
    for (const FitWarning &w : result.warnings)
        got << QString::fromStdString(w.code);
    QVERIFY2(got == codes, qPrintable(got.join(", ") + " p " + QString::number(result.pValue)));
    // Every warning reaches the JSON and the summary, in the same words.
    const std::string json = fitJson(result);
    const std::string summary = fitSummaryText(result);
    for (const FitWarning &w : result.warnings) {
        QVERIFY(json.find("{\"code\": " + jsonString(w.code) + ", \"text\": " + jsonString(w.text) + "}")
            != std::string::npos);
        QVERIFY(summary.find("Warning (" + w.code + "): " + w.text) != std::string::npos);
    }
    QCOMPARE(json.find("\"warnings\": []") != std::string::npos, codes.isEmpty());
}

void TestFitChecks::signOnlyWhereTheCurrentIsClear_data()
{
    QTest::addColumn<double>("spreads"); // the model's mean from 0, in its spreads
    QTest::addColumn<bool>("warned");
    QTest::newRow("2.5 spreads: near the reversal, either sign") << 2.5 << false;
    QTest::newRow("3.5 spreads: a clear current") << 3.5 << true;
}

void TestFitChecks::signOnlyWhereTheCurrentIsClear()
{
    QFETCH(double, spreads);
    QFETCH(bool, warned);
    // One potential recorded with the opposite sign of the model's, its
    // standard error given alone: the model's spread is then the two
    // standard errors together, here the model's alone.
    FitResult result;
    result.request = requestOn("V2_mV,mean_peak_pA,sem_pA\n-60,10,1\n");
    result.request.noise = FitNoise::Fitted;
    result.estimates = {2.5};
    result.intervals = {{2, 3}};
    result.upperLimits = {std::numeric_limits<double>::quiet_NaN()};
    result.pValue = 1;
    FitTerm term;
    term.V = -60;
    term.quantity = "peak_pA";
    term.data = 10;
    term.model = -10;
    term.modelSem = 10 / spreads;
    result.terms = {term};
    const IsvRecordingObjective objective(result.request);
    result.warnings = fitWarnings(result, objective, {});
    QCOMPARE(hasWarning(result, "sign"), warned);
}

void TestFitChecks::sensitivityFollowsAFixedParameter_data()
{
    QTest::addColumn<double>("coupling");
    QTest::addColumn<QString>("moves");
    QTest::addColumn<double>("down"); // Gmax moved down and up
    QTest::addColumn<double>("up");
    QTest::addColumn<bool>("warned");

    QTest::newRow("trading off, 10 %") << 0.5 << "Gmax=10%,N=1" << 0.18 << 0.22 << false;
    // Down to -0.30 the editors refuse: the estimate's travel up counts twice.
    QTest::newRow("trading off, 0.5 nS") << 0.5 << "Gmax=0.5,N=1" << -1.0 << 0.70 << true;
    QTest::newRow("apart") << 0.0 << "Gmax=10%,N=1" << 0.18 << 0.22 << false;
    QTest::newRow("apart, 0.5 nS") << 0.0 << "Gmax=0.5,N=1" << -1.0 << 0.70 << false;
}

void TestFitChecks::sensitivityFollowsAFixedParameter()
{
    QFETCH(double, coupling);
    QFETCH(QString, moves);
    QFETCH(double, down);
    QFETCH(double, up);
    QFETCH(bool, warned);
    FitRequest request = requestOn(recording(1.5, ModelSd));
    QVERIFY(parseSensitivity(moves.toStdString(), &request.sensitivity, nullptr));
    request.fixed.Gmax = 0.20;
    const FitResult result = runFit(request, standIn(coupling));
    QCOMPARE(int(result.sensitivity.size()), 2);
    const FitSensitivity &gmax = result.sensitivity[0];
    QCOMPARE(std::isnan(gmax.moved.first), down < 0);
    if (down >= 0)
        QCOMPARE(gmax.moved.first, down);
    QCOMPARE(gmax.moved.second, up);
    // Where the size of the current is as at the estimate.
    const double est = result.estimates[0];
    const auto refitted
        = [&](double Gmax) { return 3 / (sizeFactor(est, 0.2, 0) - coupling * (Gmax - 0.2)) - 1; };
    QCOMPARE(std::isnan(gmax.estimates[0].first), down < 0);
    if (down >= 0)
        QVERIFY2(std::fabs(gmax.estimates[0].first - refitted(down)) <= 0.011,
            qPrintable(QString("%1 against %2").arg(gmax.estimates[0].first).arg(refitted(down))));
    QVERIFY2(std::fabs(gmax.estimates[0].second - refitted(up)) <= 0.011,
        qPrintable(QString("%1 against %2").arg(gmax.estimates[0].second).arg(refitted(up))));
    // The stand-in knows nothing of N: the refits stay where they were.
    const FitSensitivity &n = result.sensitivity[1];
    QCOMPARE(n.moved.first, 9.0);
    QCOMPARE(n.moved.second, 11.0);
    QCOMPARE(n.estimates[0].first, est);
    QCOMPARE(n.estimates[0].second, est);
    QCOMPARE(hasWarning(result, "sensitive_to_fixed"), warned);
    const std::string json = fitJson(result);
    const std::string movedText = down < 0 ? "null" : formatFixed(down, 2);
    QVERIFY2(json.find("\"sensitivity\": {\"Gmax\": {\"value\": 0.20, \"moved\": [" + movedText + ", "
                 + formatFixed(up, 2) + "]")
            != std::string::npos,
        json.c_str());
    // A fit with Gmax free moves N alone.
    request.free.push_back({&paramInfo(Param::Gmax), 0.1, 0.3});
    QCOMPARE(int(runFit(request, standIn(coupling)).sensitivity.size()), 1);
}

void TestFitChecks::sensitivityThreshold_data()
{
    // Rg's estimate and interval (an upper limit where low is 0 and limit
    // set), its refits with Gmax moved down and up (-1: a move the editors
    // refuse), and whether the estimate travels more than half the width.
    QTest::addColumn<double>("estimate");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<bool>("limit");
    QTest::addColumn<double>("down");
    QTest::addColumn<double>("up");
    QTest::addColumn<bool>("warned");

    QTest::newRow("travel half the width") << 1.50 << 1.40 << 1.60 << false << 1.45 << 1.55 << false;
    QTest::newRow("travel a step more") << 1.50 << 1.40 << 1.60 << false << 1.45 << 1.56 << true;
    QTest::newRow("travel a step more, downwards") << 1.50 << 1.40 << 1.60 << false << 1.56 << 1.45 << true;
    QTest::newRow("down refused, half") << 1.50 << 1.40 << 1.60 << false << -1.0 << 1.55 << false;
    QTest::newRow("down refused, a step more") << 1.50 << 1.40 << 1.60 << false << -1.0 << 1.56 << true;
    QTest::newRow("up refused, half") << 1.50 << 1.40 << 1.60 << false << 1.45 << -1.0 << false;
    QTest::newRow("up refused, a step more") << 1.50 << 1.40 << 1.60 << false << 1.44 << -1.0 << true;
    QTest::newRow("both refused") << 1.50 << 1.40 << 1.60 << false << -1.0 << -1.0 << false;
    QTest::newRow("upper limit, half the limit") << 0.05 << 0.0 << 0.30 << true << 0.00 << 0.15 << false;
    QTest::newRow("upper limit, a step more") << 0.05 << 0.0 << 0.30 << true << 0.00 << 0.16 << true;
}

void TestFitChecks::sensitivityThreshold()
{
    // sensitive_to_fixed: the estimate's travel between the two moves of a
    // fixed parameter (twice its way to the one refit where the editors
    // refuse the other move) against half the width of its interval, or of
    // its upper limit, counted in editor steps.
    QFETCH(double, estimate);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(bool, limit);
    QFETCH(double, down);
    QFETCH(double, up);
    QFETCH(bool, warned);
    FitRequest request = requestOn(recording(1.5, ModelSd));
    request.sensitivity.clear();
    const FitResult fitted = runFit(request, standIn(0));
    const IsvRecordingObjective objective(request);
    const std::vector<IsvPoint> best = standIn(0)({fittedParameters(fitted)})[0];
    FitResult result = fitted;
    result.estimates = {estimate};
    result.intervals = {{low, high}};
    result.upperLimits = {limit ? high : std::numeric_limits<double>::quiet_NaN()};
    const double none = std::numeric_limits<double>::quiet_NaN();
    result.sensitivity = {{&paramInfo(Param::Gmax), 0.20, {down < 0 ? none : 0.18, up < 0 ? none : 0.22},
        {{down < 0 ? none : down, up < 0 ? none : up}}}};
    const std::vector<FitWarning> warnings = fitWarnings(result, objective, best);
    if (!limit) {
        // A result that keeps no limits at all (an older session's) warns alike.
        FitResult without = result;
        without.upperLimits = std::vector<double>(); // no storage left to read by mistake
        const std::vector<FitWarning> again = fitWarnings(without, objective, best);
        QCOMPARE(again.size(), warnings.size());
        for (std::size_t i = 0; i < again.size(); ++i)
            QCOMPARE(again[i].text, warnings[i].text);
    }
    std::string text;
    for (const FitWarning &w : warnings)
        if (w.code == "sensitive_to_fixed")
            text = w.text;
    QCOMPARE(!text.empty(), warned);
    if (warned) {
        // What moved, how far, and what to do.
        QVERIFY2(text.find("when Gmax moves from ") != std::string::npos, text.c_str());
        QVERIFY2(
            text.find(limit ? "half its 95 % upper limit 0.30: the limit holds only if Gmax is 0.20"
                            : "half its 95 % interval 1.40 .. 1.60: the interval holds only if Gmax is 0.20")
                != std::string::npos,
            text.c_str());
        QVERIFY2(text.find("Free Gmax in the fit too, or measure it more closely") != std::string::npos,
            text.c_str());
    }
}

void TestFitChecks::progressTellsTheStages()
{
    FitRequest request = requestOn(recording(1.5, ModelSd));
    request.sensitivity = defaultSensitivity();
    std::vector<FitProgressStep> steps;
    const FitResult result
        = runFit(request, standIn(0), [&](const FitProgressStep &step) { steps.push_back(step); });
    QVERIFY(!steps.empty());
    // coarse grid, refinement, profile Rg, sensitivity: four, known from the start.
    QStringList names;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const FitProgressStep &s = steps[i];
        QCOMPARE(s.stageCount, 4);
        QVERIFY(s.stageIndex >= 0 && s.stageIndex < 4);
        QVERIFY(s.done > 0 && (s.total == 0 || s.done <= s.total));
        if (i > 0) {
            QVERIFY(s.stageIndex >= steps[i - 1].stageIndex);
            QVERIFY(s.evaluations > steps[i - 1].evaluations);
        }
        if (names.isEmpty() || names.last() != QString::fromStdString(s.stage))
            names << QString::fromStdString(s.stage);
    }
    QCOMPARE(names.first(), QStringLiteral("coarse grid"));
    QCOMPARE(steps.front().total, 21); // Rg's coarse grid over 0..5
    QCOMPARE(steps.front().done, 21);
    QVERIFY(names.contains(QStringLiteral("profile Rg")));
    QCOMPARE(names.last(), QStringLiteral("sensitivity"));
    QCOMPARE(steps.back().evaluations, result.evaluations);
}

QTEST_GUILESS_MAIN(TestFitChecks)
#include "tst_fitchecks.moc"
