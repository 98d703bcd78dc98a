#include "runners/histogramsrun.h"

#include "model/peaktrial.h"
#include "model/rounding.h"
#include "model/trial.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace cleftsim {

namespace {

// Keeps an index inside a table of the given size. The editors keep every
// index inside its table; this only guards against sets they never make.
int within(int index, std::size_t size)
{
    return std::clamp(index, 0, static_cast<int>(size) - 1);
}

// A square root that reads a radicand made slightly negative by rounding as 0.
double rootOf(double x)
{
    return x > 0 ? std::sqrt(x) : 0.0;
}

constexpr double Pi = 3.14159265358979323846;

} // namespace

int TickStep(int trialCount)
{
    const double factors[] = {0.1, 0.01, 0.001, 0.0001};
    int step = 1;
    for (double factor : factors) {
        if (Trunc(trialCount * factor) <= 1)
            return step;
        step *= 10;
    }
    return 10000;
}

double MaxCurrent(const ParameterSet &p)
{
    return p.V2 / (1 / p.Gmax / p.N + p.Rg);
}

double HistogramsBackgroundCurrent(const ParameterSet &p)
{
    const double G = p.Gb * p.N;
    return p.V2 * G / (1.0 + p.Rg * G);
}

int currentBin(int N, double peak, double maxCurrent)
{
    return Round(10 * N * peak / maxCurrent);
}

namespace {

// Never stops a run.
struct Unstopped {
    bool pause() { return true; }
};

// The one trial loop of a Histograms run.
template <class Observer>
HistogramsResult histograms(ModelState &state, Generator &rng, int trialCount, Observer &observer)
{
    const ParameterSet &p = state.LPC;
    HistogramsResult result;
    result.N = p.N;
    result.spikeSteps = state.SpikeSteps;
    result.currentCollected = p.V2 != 0;
    result.maxCurrent = MaxCurrent(p);
    const int onset = Round(SpikeOnset / TimeStep);
    // The trials, with the parameters read anew after every pause (an edit
    // made then takes effect from the next trial).
    std::optional<PeakTrials> trials;
    int spikeEnd = 0;
    auto readParameters = [&] {
        trials.reset();
        trials.emplace(p, state.SpikeSteps, p.V2, shortWindowStart(), shortWindowEnd(p), PeakKind::Inward);
        spikeEnd = Round((SpikeOnset + p.du) / TimeStep);
    };
    readParameters();
    for (int trial = 1; trial <= trialCount; ++trial) {
        const PeakTrialResult trialResult = trials->run(state.Sites, rng);
        // The quanta, and the latency from the first release (the spike's
        // end where it comes later or none does).
        const int m = trialResult.m;
        const int first = m > 0 && trialResult.first < spikeEnd ? trialResult.first : spikeEnd;
        const int s = within(first - onset, result.latency.size());
        const int mi = within(m, result.quanta.size());
        ++result.quanta[mi];
        if (result.currentCollected)
            ++result.current[within(
                currentBin(p.N, trialResult.peak, result.maxCurrent), result.current.size())];
        ++result.latency[s];
        ++result.joint[mi][s];
        result.sumQuanta += m;
        result.sumPeak += trialResult.peak;
        if (m > 0)
            result.sumLatency += s;
        result.trials = trial;
        if (trial % HistogramsPauseTrials == 0 && trial < trialCount) {
            if (!observer.pause())
                break;
            readParameters();
        }
    }
    return result;
}

} // namespace

bool HistogramsObserver::pause()
{
    return true;
}

HistogramsResult runHistograms(ModelState &state, Generator &rng, int trialCount)
{
    Unstopped none;
    return histograms(state, rng, trialCount, none);
}

HistogramsResult runHistograms(
    ModelState &state, Generator &rng, int trialCount, HistogramsObserver &observer)
{
    return histograms(state, rng, trialCount, observer);
}

ScatterStats scatterStatistics(const HistogramsResult &result)
{
    ScatterStats st;
    const int N = std::min(result.N, 20);
    const int steps = std::min(result.spikeSteps, 41);
    for (int m = 1; m <= N; ++m) {
        for (int s = 0; s < steps; ++s) {
            const long long c = result.joint[m][s];
            st.S0 += c;
            st.Sm += c * m;
            st.Sl += c * s;
            st.Smm += c * m * m;
            st.Sml += c * m * s;
            st.Sll += c * s * s;
            st.maxCount = std::max(st.maxCount, result.joint[m][s]);
        }
    }
    st.any = st.S0 > 0;
    if (!st.any)
        return st;

    const double S0 = double(st.S0), Sm = double(st.Sm), Sl = double(st.Sl);
    const double Smm = double(st.Smm), Sml = double(st.Sml), Sll = double(st.Sll);
    st.meanM = Sm / S0;
    st.meanS = Sl / S0;
    const double varM = Smm / S0 - (Sm / S0) * (Sm / S0);
    const double varL = Sll / S0 - (Sl / S0) * (Sl / S0);
    if (varM > 0 && varL > 0) {
        st.hasR = true;
        st.r = (Sml / S0 - (Sm / S0) * (Sl / S0)) / std::sqrt(varM * varL);
    }

    const double Sxx = Smm - Sm * Sm / S0;
    const double Syy = Sll - Sl * Sl / S0;
    const double Sxy = Sml - Sm * Sl / S0;
    const double d = std::sqrt((Sxx - Syy) * (Sxx - Syy) + 4 * Sxy * Sxy);
    st.A1 = 2 * rootOf(0.5 * (Sxx + Syy + d) / S0);
    st.A2 = 2 * rootOf(0.5 * (Sxx + Syy - d) / S0);
    if (Syy > Sxx)
        st.theta = Pi / 2 + 0.5 * std::atan(2 * Sxy / (Sxx - Syy));
    else if (Syy < Sxx)
        st.theta = 0.5 * std::atan(2 * Sxy / (Sxx - Syy));
    else
        st.theta = Sxy > 0 ? Pi / 4 : (Sxy < 0 ? -Pi / 4 : 0.0);
    return st;
}

ScatterPoint ellipsePoint(const ScatterStats &stats, int k)
{
    const double psi = k * 2 * Pi / 500;
    ScatterPoint point;
    point.m = stats.meanM + stats.A1 * std::sin(psi) * std::cos(stats.theta)
        - stats.A2 * std::cos(psi) * std::sin(stats.theta);
    point.s = stats.meanS + stats.A1 * std::sin(psi) * std::sin(stats.theta)
        + stats.A2 * std::cos(psi) * std::cos(stats.theta);
    return point;
}

} // namespace cleftsim
