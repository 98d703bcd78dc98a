#pragma once

#include "run/measureddata.h"
#include "runners/isvsweep.h"

#include <string>
#include <vector>

namespace cleftsim {

struct FitRequest;

// One measured value beside the model's.
struct FitTerm {
    int V = 0; // clamp potential [mV]
    std::string quantity; // "peak_pA", "quanta" or "failure_rate"
    double data = 0;
    double dataSem = 0; // the recorded standard error; NaN where none was given
    double model = 0; // the simulated mean over the trials
    double modelSem = 0; // its standard error over the trials
    double sd = 0; // the spread of data - model in the likelihood
    double residual = 0; // (data - model) / sd
};

// What the search minimises: -2 log L of a recording, given what a
// candidate's simulation gave at the recording's conditions. The search
// knows nothing else of the data, so that another kind of recording is
// another objective.
class FitObjective {
public:
    virtual ~FitObjective() = default;

    // -2 log L of a candidate (without the constant); NaN or infinity for a
    // candidate that cannot be compared.
    virtual double minusTwoLogLikelihood(const std::vector<IsvPoint> &simulated) const = 0;

    // The measured values beside the model's, for the result.
    virtual std::vector<FitTerm> terms(const std::vector<IsvPoint> &simulated) const = 0;

    // The goodness of fit of a candidate: the sum of the squared
    // standardised residuals of every value compared.
    virtual double chiSquare(const std::vector<IsvPoint> &simulated) const = 0;

    // How many measured values the likelihood compares with the model, and
    // how many parameters of its own (beside the model's) it fits to them
    // at a candidate: only those its best puts inside their range, since
    // one held on its bound (a noise of 0) has taken up no degree of freedom.
    virtual int values() const = 0;
    virtual int nuisanceParameters(const std::vector<IsvPoint> &simulated) const = 0;
};

// The likelihood of a recording of mean peak currents (and quanta and
// failure rates) at several clamp potentials, the Is vs V2 sweep's points
// simulated there. The means of one potential come from the same trials:
// they are compared jointly, with the covariance of a trial's peak, quanta
// and failure as simulated. Where the data give the trials' spread with n,
// the recorded variance is compared too, with the model's plus a recording
// noise's; the noise is the likelihood's own at each candidate (fitted, on
// a grid of 0.01 pA), fixed, or off as the request says.
class IsvRecordingObjective : public FitObjective {
public:
    explicit IsvRecordingObjective(const FitRequest &request);

    double minusTwoLogLikelihood(const std::vector<IsvPoint> &simulated) const override;
    std::vector<FitTerm> terms(const std::vector<IsvPoint> &simulated) const override;
    double chiSquare(const std::vector<IsvPoint> &simulated) const override;
    int values() const override; // the means, and the recorded variances where they enter
    int nuisanceParameters(
        const std::vector<IsvPoint> &simulated) const override; // the noise, fitted above 0

    // Whether the recorded spread enters the likelihood: the noise is not
    // off and some potential gives the trials' spread with n.
    bool usesSpread() const;

    // -2 log L at a given noise [pA rms per trial]; the squared
    // standardised residuals added to *chi2.
    double minusTwoLogLikelihoodAt(
        const std::vector<IsvPoint> &simulated, double noise, double *chi2 = nullptr) const;

    // The noise a candidate is compared at: the best on the grid, the fixed
    // value, or 0 with the noise off or no spread recorded [pA].
    double bestNoise(const std::vector<IsvPoint> &simulated) const;

    // The noise grid: value u is u * noiseUnit() for u in 0..noiseCount().
    double noiseUnit() const;
    int noiseCount() const;

    // P(the recorded variances are as far above the model's as they are, or
    // further), with no noise; NaN where no spread is recorded.
    double excessSpreadP(const std::vector<IsvPoint> &simulated) const;

private:
    const FitRequest &m_request;
    bool m_spreadPoints = false;
    int m_noiseCoarseCount = 0;
};

// The terms of the likelihood for the points simulated at the measured
// potentials, at the noise the request takes for them. A mean recorded over
// n trials has the spread the model gives its trials (with the noise's on
// the current), over sqrt(n), and the simulated mean adds its own over
// sqrt(T); without n the recorded standard error stands for the first.
std::vector<FitTerm> fitTerms(const FitRequest &request, const std::vector<IsvPoint> &simulated);

// -2 log L of the terms, without the constant: the sum of the squared
// residuals and the logarithms of the variances.
double minusTwoLogLikelihood(const std::vector<FitTerm> &terms);

// P(chi-square with dof degrees of freedom > x).
double chiSquareSurvival(double x, int dof);

} // namespace cleftsim
