#include "run/fitobjective.h"

#include "run/fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace cleftsim {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// The least spread a trial's value is given in the likelihood, so that a
// potential where every simulated trial came out the same (every site
// released, or none) cannot make the variance 0 and its logarithm win the
// fit: a tenth of a pA for the peak current, half a quantum for the quanta.
// Either lies far below the spread of any potential where trials differ.
constexpr double PeakSpreadFloor = 0.1; // [pA]
constexpr double QuantaSpreadFloor = 0.5;

// The least excess kurtosis taken, a little above the least there is (-2, a
// trial of two values), so that a recorded variance keeps some scatter.
constexpr double MinKurtosis = -1.9;

double lowerRegularizedGammaSeries(double a, double x)
{
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < 1000; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * 1e-16)
            break;
    }
    return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

double upperRegularizedGammaFraction(double a, double x)
{
    // Lentz's method for the continued fraction of Q(a, x).
    const double tiny = 1e-300;
    double b = x + 1 - a;
    double c = 1 / tiny;
    double d = 1 / b;
    double h = d;
    for (int i = 1; i < 1000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::fabs(d) < tiny)
            d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-16)
            break;
    }
    return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

// The recording noise is looked for on a grid of 0.1 pA, then to 0.01 pA
// around the best: its unit, and the values of the coarse step.
constexpr double NoiseUnit = 0.01; // [pA]
constexpr int NoiseCoarse = 10;

// The quantities of one potential: the peak current, the quanta and the
// failures, in this order, as far as the data give them.
// The recorded variance of the peaks comes last, after the means it covaries with.
enum Quantity { Peak, Quanta, Failures, Spread, Quantities };

// What the simulated trials of one potential say of one recorded there:
// the means, the covariance of one trial's quantities, the excess kurtosis
// of its peak, and which of the quantities the data give.
struct PointModel {
    bool present[Quantities] = {false, false, false, false};
    double data[Quantities] = {0, 0, 0, 0};
    double sem[Quantities] = {NaN, NaN, NaN, NaN};
    double mean[Quantities] = {0, 0, 0, 0};
    double cov[Quantities][Quantities] = {};
    double kurtosis = 0; // excess kurtosis of the peak
    double third = 0; // the third and fourth central moments of a trial's peak
    double fourth = 0;
    // E[(x - mean x) (peak - mean peak)^2] for the quanta and the failures:
    // how the recorded variance of the peaks moves with their means.
    double withSpread[Quantities] = {0, 0, 0, 0};
    double spread2 = NaN; // the recorded variance of the trials' peaks; NaN where not given
    int n = 0;
};

PointModel pointModel(const MeasuredPoint &data, const IsvPoint &model, int T)
{
    PointModel pm;
    pm.n = data.n;
    // At 0 mV every current is 0, whatever the parameters: nothing to compare.
    pm.present[Peak] = data.V != 0;
    pm.present[Quanta] = data.hasQuanta;
    pm.present[Failures] = data.hasFailures;
    pm.data[Peak] = data.meanPeak;
    pm.data[Quanta] = data.meanQuanta;
    pm.data[Failures] = data.failureRate;
    pm.sem[Peak] = data.semPeak;
    pm.sem[Quanta] = data.semQuanta;
    pm.mean[Peak] = model.meanPeak();
    pm.mean[Quanta] = model.meanQuanta();
    const double p = double(model.failures) / T;
    pm.mean[Failures] = p;
    const double sdPeak = T > 1 ? model.sdPeak() : 0.0;
    pm.cov[Peak][Peak] = std::max(sdPeak * sdPeak, PeakSpreadFloor * PeakSpreadFloor);
    const double sdQuanta = T > 1 ? model.sdQuanta() : 0.0;
    pm.cov[Quanta][Quanta] = std::max(sdQuanta * sdQuanta, QuantaSpreadFloor * QuantaSpreadFloor);
    // A share of trials: binomial, with the simulated share kept half a
    // trial from 0 and 1 for the spread.
    const double kept = std::clamp(p, 0.5 / T, 1 - 0.5 / T);
    pm.cov[Failures][Failures] = kept * (1 - kept);
    if (T > 1) {
        // The covariances over the trials: m is 0 on a failure, so the
        // quanta and the failures covary by -mean(m) p.
        const double peakSum = model.shiftedPeakSum, quantaSum = double(model.totalQuanta);
        const double peakQuanta = (model.shiftedPeakQuanta - peakSum * quantaSum / T) / (T - 1);
        const double peakFailures = (model.failureShiftedPeakSum - peakSum * model.failures / T) / (T - 1);
        const double quantaFailures = -quantaSum * model.failures / T / (T - 1);
        pm.cov[Peak][Quanta] = pm.cov[Quanta][Peak] = peakQuanta;
        pm.cov[Peak][Failures] = pm.cov[Failures][Peak] = peakFailures;
        pm.cov[Quanta][Failures] = pm.cov[Failures][Quanta] = quantaFailures;
        const double mu = peakSum / T;
        const double m2 = model.shiftedPeakSquares / T - mu * mu;
        const double m4 = model.shiftedPeakFourths / T - 4 * mu * model.shiftedPeakCubes / T
            + 6 * mu * mu * model.shiftedPeakSquares / T - 3 * mu * mu * mu * mu;
        // Never below -2, a two-valued trial's; a synapse with failures has
        // bimodal peaks and a kurtosis near -1, so that a recorded variance
        // scatters less than a normal one.
        if (m2 > PeakSpreadFloor * PeakSpreadFloor)
            pm.kurtosis = std::max(MinKurtosis, m4 / (m2 * m2) - 3);
        pm.third = model.shiftedPeakCubes / T - 3 * mu * model.shiftedPeakSquares / T + 2 * mu * mu * mu;
        pm.fourth = std::max(m4, 0.0);
        const double meanQuanta = quantaSum / T;
        pm.withSpread[Quanta] = model.shiftedPeakSquaresQuanta / T - 2 * mu * model.shiftedPeakQuanta / T
            + mu * mu * meanQuanta - meanQuanta * m2;
        pm.withSpread[Failures] = model.failureShiftedPeakSquares / T
            - 2 * mu * model.failureShiftedPeakSum / T + mu * mu * p - p * m2;
    }
    if (data.n >= 2 && data.V != 0)
        pm.spread2 = !std::isnan(data.stdPeak) ? data.stdPeak * data.stdPeak
            : !std::isnan(data.semPeak)        ? data.semPeak * data.semPeak * data.n
                                               : NaN;
    pm.data[Spread] = pm.spread2;
    return pm;
}

bool spreadUsable(const PointModel &pm)
{
    return pm.present[Peak] && pm.spread2 > 0;
}

// The covariance of the recorded means less the simulated ones: the trials'
// over n (with the noise on the current) or the recorded standard errors
// without n, and the simulation's over T. The recorded spread about the
// model's mean (the mean of (x - m)^2 over n trials, meansTerm), against
// the model's variance plus the noise's v, scatters by (mu4 - v^2) / n and
// covaries with their mean by mu3 / n (mu3, mu4 the central moments of a
// trial with its noise), and with the
// mean quanta and failures by E[(x - mean x) (peak - mean peak)^2] / n: the
// peaks of a synapse with failures are skewed and bimodal, and follow the
// quanta, so that means and variance are far from independent. The model's
// variance is itself the sample variance of T simulated trials: it adds the
// same terms over T (without the noise, which is not simulated), as the
// simulated means add theirs.
void meanCovariance(const PointModel &pm, int T, double noise2, double c[Quantities][Quantities])
{
    for (int a = 0; a < Spread; ++a)
        for (int b = 0; b < Spread; ++b) {
            const double perTrial = pm.cov[a][b] + (a == Peak && b == Peak ? noise2 : 0.0);
            const double recorded = pm.n > 0 ? perTrial / pm.n : a == b ? pm.sem[a] * pm.sem[a] : 0.0;
            c[a][b] = recorded + pm.cov[a][b] / T;
        }
    for (int a = 0; a < Quantities; ++a)
        c[a][Spread] = c[Spread][a] = 0;
    if (pm.n >= 2) {
        const double n = pm.n;
        const double v = pm.cov[Peak][Peak] + noise2;
        const double fourth = pm.fourth + 6 * pm.cov[Peak][Peak] * noise2 + 3 * noise2 * noise2;
        // Never below a trial of two values', the least there is.
        c[Spread][Spread] = std::max((fourth - v * v) / n, 2 * v * v / (n * (n - 1)));
        c[Peak][Spread] = c[Spread][Peak] = pm.third / n;
        c[Quanta][Spread] = c[Spread][Quanta] = pm.withSpread[Quanta] / n;
        c[Failures][Spread] = c[Spread][Failures] = pm.withSpread[Failures] / n;
        if (T > 1) {
            const double s2 = pm.cov[Peak][Peak];
            c[Spread][Spread] += std::max((pm.fourth - s2 * s2 * (T - 3.0) / (T - 1)) / T, 0.0);
            c[Peak][Spread] = c[Spread][Peak] = pm.third / n + pm.third / T;
            c[Quanta][Spread] = c[Spread][Quanta] = pm.withSpread[Quanta] / n + pm.withSpread[Quanta] / T;
            c[Failures][Spread] = c[Spread][Failures]
                = pm.withSpread[Failures] / n + pm.withSpread[Failures] / T;
        }
    }
}

// -2 log L of one potential's means (without the constant), their squared
// standardised residuals added to *chi2: the quantities in turn, each given
// those before it (a Cholesky factor of their covariance), so that a lone
// quantity gives (y - m)^2 / var + log var. A covariance that is not
// positive definite (quantities the trials tie exactly) is taken without
// its correlations.
double meansTerm(PointModel pm, int T, double noise2, bool withSpread, double *chi2)
{
    double c[Quantities][Quantities];
    meanCovariance(pm, T, noise2, c);
    pm.present[Spread] = withSpread && spreadUsable(pm);
    if (pm.present[Spread]) {
        // The recorded spread about the model's mean, not the recording's
        // own: ((n - 1) s^2 + n (mean - m)^2) / n is the mean of (x - m)^2
        // over the recorded trials, a mean like the others, which the
        // central limit theorem makes normal jointly with them. The sample
        // variance about the recording's mean is not: it lacks the square
        // of the mean's own deviation, which no linear term in the means
        // takes up, and given the mean quanta (which fix the share of
        // failures of bimodal peaks) that square is all that is left of it.
        // The model's simulated mean adds its error's square, v / T.
        const double n = pm.n, deviation = pm.data[Peak] - pm.mean[Peak];
        pm.data[Spread] = ((n - 1) * pm.spread2 + n * deviation * deviation) / n;
    }
    pm.mean[Spread] = pm.cov[Peak][Peak] + noise2 + pm.cov[Peak][Peak] / T;
    int index[Quantities];
    int k = 0;
    for (int a = 0; a < Quantities; ++a)
        if (pm.present[a])
            index[k++] = a;
    for (int attempt = 0; attempt < 2; ++attempt) {
        double l[Quantities][Quantities] = {};
        bool definite = true;
        for (int i = 0; i < k && definite; ++i)
            for (int j = 0; j <= i; ++j) {
                double sum = attempt == 0 || i == j ? c[index[i]][index[j]] : 0.0;
                for (int q = 0; q < j; ++q)
                    sum -= l[i][q] * l[j][q];
                if (i == j) {
                    definite = sum > 1e-12 * c[index[i]][index[i]];
                    l[i][i] = definite ? std::sqrt(sum) : 0.0;
                } else {
                    l[i][j] = sum / l[j][j];
                }
            }
        if (!definite)
            continue;
        double total = 0, squares = 0;
        double z[Quantities];
        for (int i = 0; i < k; ++i) {
            double r = pm.data[index[i]] - pm.mean[index[i]];
            for (int q = 0; q < i; ++q)
                r -= l[i][q] * z[q];
            z[i] = r / l[i][i];
            total += z[i] * z[i] + 2 * std::log(l[i][i]);
            squares += z[i] * z[i];
        }
        if (chi2)
            *chi2 += squares;
        return total;
    }
    return NaN;
}

// The effective degrees of freedom of a recorded variance over n trials:
// n - 1 for normal trials, fewer where the peaks have heavy tails, more
// where they are bimodal (failures and releases), as their
// sample variance scatters more or less (var s^2 = sigma^4 (2 / (n - 1) +
// kurtosis / n)).
double spreadDegrees(const PointModel &pm, double noise2)
{
    const double v = pm.cov[Peak][Peak] + noise2;
    const double share = pm.cov[Peak][Peak] / v; // normal noise adds no kurtosis
    const double kurtosis = pm.kurtosis * share * share;
    return 2 / (2.0 / (pm.n - 1) + kurtosis / pm.n);
}

} // namespace

std::vector<FitTerm> fitTerms(const FitRequest &request, const std::vector<IsvPoint> &simulated)
{
    return IsvRecordingObjective(request).terms(simulated);
}

double minusTwoLogLikelihood(const std::vector<FitTerm> &terms)
{
    double sum = 0;
    for (const FitTerm &term : terms)
        sum += term.residual * term.residual + 2 * std::log(term.sd);
    return sum;
}

double chiSquareSurvival(double x, int dof)
{
    if (dof <= 0 || std::isnan(x))
        return NaN;
    if (x <= 0)
        return 1;
    const double a = dof / 2.0;
    const double half = x / 2;
    if (half < a + 1)
        return std::clamp(1 - lowerRegularizedGammaSeries(a, half), 0.0, 1.0);
    return std::clamp(upperRegularizedGammaFraction(a, half), 0.0, 1.0);
}

IsvRecordingObjective::IsvRecordingObjective(const FitRequest &request)
    : m_request(request)
{
    double largest = 0;
    for (const MeasuredPoint &point : request.data.points) {
        PointModel pm = pointModel(point, IsvPoint(), 2);
        if (spreadUsable(pm)) {
            m_spreadPoints = true;
            largest = std::max(largest, std::sqrt(pm.spread2));
        }
    }
    // The noise cannot be much above the largest spread recorded: a grid to
    // three times it, and a pA more.
    m_noiseCoarseCount = static_cast<int>(std::ceil((3 * largest + 1) / (NoiseCoarse * NoiseUnit)));
}

bool IsvRecordingObjective::usesSpread() const
{
    return m_request.noise != FitNoise::Off && m_spreadPoints;
}

double IsvRecordingObjective::minusTwoLogLikelihoodAt(
    const std::vector<IsvPoint> &simulated, double noise, double *chi2) const
{
    const int T = m_request.trials;
    const double noise2 = noise * noise;
    const bool spread = usesSpread();
    double sum = 0;
    for (std::size_t i = 0; i < m_request.data.points.size() && i < simulated.size(); ++i) {
        sum += meansTerm(pointModel(m_request.data.points[i], simulated[i], T), T, noise2, spread, chi2);
    }
    return sum;
}

double IsvRecordingObjective::bestNoise(const std::vector<IsvPoint> &simulated) const
{
    if (m_request.noise == FitNoise::Fixed)
        return m_request.noiseValue;
    if (!usesSpread())
        return 0;
    // The grid's first least value, coarse, then fine around it.
    const auto at = [&](int units) { return minusTwoLogLikelihoodAt(simulated, units * NoiseUnit); };
    int best = 0;
    double least = at(0);
    for (int c = 1; c <= m_noiseCoarseCount; ++c) {
        const double value = at(c * NoiseCoarse);
        if (value < least) {
            least = value;
            best = c * NoiseCoarse;
        }
    }
    const int centre = best;
    for (int u = std::max(0, centre - NoiseCoarse + 1); u < centre + NoiseCoarse; ++u) {
        const double value = at(u);
        if (value < least) {
            least = value;
            best = u;
        }
    }
    return best * NoiseUnit;
}

double IsvRecordingObjective::minusTwoLogLikelihood(const std::vector<IsvPoint> &simulated) const
{
    return minusTwoLogLikelihoodAt(simulated, bestNoise(simulated));
}

std::vector<FitTerm> IsvRecordingObjective::terms(const std::vector<IsvPoint> &simulated) const
{
    std::vector<FitTerm> terms;
    const int T = m_request.trials;
    const double noise2 = std::pow(bestNoise(simulated), 2);
    static const char *const names[Spread] = {"peak_pA", "quanta", "failure_rate"};
    for (std::size_t i = 0; i < m_request.data.points.size() && i < simulated.size(); ++i) {
        const PointModel pm = pointModel(m_request.data.points[i], simulated[i], T);
        double c[Quantities][Quantities];
        meanCovariance(pm, T, noise2, c);
        for (int a = 0; a < Spread; ++a) {
            if (!pm.present[a])
                continue;
            FitTerm term;
            term.V = m_request.data.points[i].V;
            term.quantity = names[a];
            term.data = pm.data[a];
            term.dataSem = pm.sem[a];
            term.model = pm.mean[a];
            term.modelSem = std::sqrt(pm.cov[a][a] / T);
            term.sd = std::sqrt(c[a][a]);
            term.residual = (term.data - term.model) / term.sd;
            terms.push_back(term);
        }
    }
    return terms;
}

double IsvRecordingObjective::chiSquare(const std::vector<IsvPoint> &simulated) const
{
    double chi2 = 0;
    minusTwoLogLikelihoodAt(simulated, bestNoise(simulated), &chi2);
    return chi2;
}

int IsvRecordingObjective::values() const
{
    int spreads = 0;
    if (usesSpread())
        for (const MeasuredPoint &point : m_request.data.points)
            spreads += spreadUsable(pointModel(point, IsvPoint(), 2)) ? 1 : 0;
    return measuredValueCount(m_request.data) + spreads;
}

int IsvRecordingObjective::nuisanceParameters(const std::vector<IsvPoint> &simulated) const
{
    return m_request.noise == FitNoise::Fitted && usesSpread() && bestNoise(simulated) > 0 ? 1 : 0;
}

double IsvRecordingObjective::noiseUnit() const
{
    return NoiseUnit;
}

int IsvRecordingObjective::noiseCount() const
{
    return m_noiseCoarseCount * NoiseCoarse;
}

double IsvRecordingObjective::excessSpreadP(const std::vector<IsvPoint> &simulated) const
{
    // With the noise off: the recorded variances against the model's alone.
    double statistic = 0, degrees = 0;
    for (std::size_t i = 0; i < m_request.data.points.size() && i < simulated.size(); ++i) {
        const PointModel pm = pointModel(m_request.data.points[i], simulated[i], m_request.trials);
        if (!spreadUsable(pm))
            continue;
        const double k = spreadDegrees(pm, 0);
        statistic += k * pm.spread2 / pm.cov[Peak][Peak];
        degrees += k;
    }
    return degrees > 0 ? chiSquareSurvival(statistic, static_cast<int>(std::lround(degrees))) : NaN;
}

} // namespace cleftsim
