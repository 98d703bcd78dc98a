#include "runners/isvsweep.h"

#include "model/peaktrial.h"
#include "model/trial.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace cleftsim {

IsvTrialResult isvTrial(ModelState &state, Generator &rng, double V)
{
    const PeakTrialResult r = runPeakTrial(state.LPC, state.SpikeSteps, state.Sites, rng, V,
        shortWindowStart(), shortWindowEnd(state.LPC), PeakKind::BySign);
    IsvTrialResult result;
    result.m = r.m;
    result.peak = r.peak;
    return result;
}

double sweepBackgroundCurrent(const ParameterSet &p, double V)
{
    return V * p.Gb * p.N / (p.Rg * p.Gb * p.N + 1);
}

void IsvPoint::add(const IsvTrialResult &r)
{
    if (trials == 0)
        peakShift = r.peak;
    ++trials;
    totalQuanta += r.m;
    if (r.m == 0)
        ++failures;
    peakSum += r.peak;
    quantaSquares += static_cast<long long>(r.m) * r.m;
    const double d = r.peak - peakShift;
    shiftedPeakSum += d;
    shiftedPeakSquares += d * d;
    shiftedPeakCubes += d * d * d;
    shiftedPeakFourths += (d * d) * (d * d);
    shiftedPeakQuanta += d * r.m;
    shiftedPeakSquaresQuanta += d * d * r.m;
    if (r.m == 0) {
        failureShiftedPeakSum += d;
        failureShiftedPeakSquares += d * d;
    }
}

double IsvPoint::sdQuanta() const
{
    if (trials < 2)
        return std::numeric_limits<double>::quiet_NaN();
    // Exact in integers: n sum m^2 - (sum m)^2 is at most 10000 * 10000 * 400.
    const long long n = trials;
    const long long spread = n * quantaSquares - totalQuanta * totalQuanta;
    return std::sqrt(double(spread) / (double(n) * double(n - 1)));
}

double IsvPoint::sdPeak() const
{
    if (trials < 2)
        return std::numeric_limits<double>::quiet_NaN();
    const double n = trials;
    const double spread = shiftedPeakSquares - shiftedPeakSum * shiftedPeakSum / n;
    return std::sqrt(std::max(spread, 0.0) / (n - 1));
}

namespace {

// How the trials of one point ended.
enum class PointEnd { Done, Stopped, Abandoned };

// Runs and sums the trials of one point; the one trial loop of the sweep.
// The trials of one point, as isvTrial runs them, with the parameters read
// anew after every pause (an edit made then takes effect from the next trial).
template <class Observer>
PointEnd runPoint(ModelState &state, Generator &rng, int trialCount, Observer &observer, IsvPoint &point)
{
    point.background = sweepBackgroundCurrent(state.LPC, point.V);
    std::optional<PeakTrials> trials;
    auto readParameters = [&] {
        trials.reset();
        trials.emplace(state.LPC, state.SpikeSteps, point.V, shortWindowStart(), shortWindowEnd(state.LPC),
            PeakKind::BySign);
    };
    readParameters();
    for (int trial = 1; trial <= trialCount; ++trial) {
        const PeakTrialResult peakTrial = trials->run(state.Sites, rng);
        IsvTrialResult r;
        r.m = peakTrial.m;
        r.peak = peakTrial.peak;
        point.add(r);
        observer.trial(point.V, r);
        if (trial % SweepPauseTrials == 0) {
            if (!observer.pause())
                return PointEnd::Abandoned;
            readParameters();
        }
        if (observer.stopRequested())
            return PointEnd::Stopped;
    }
    return PointEnd::Done;
}

// Watches nothing and never stops.
struct Unobserved {
    void trial(int, const IsvTrialResult &) { }
    void point(const IsvPoint &) { }
    bool pause() { return true; }
    bool stopRequested() { return false; }
};

template <class Observer>
std::vector<IsvPoint> sweep(ModelState &state, Generator &rng, int trialCount, Observer &observer)
{
    std::vector<IsvPoint> points;
    points.reserve(SweepFirstV - SweepLastV + 1);
    for (int V = SweepFirstV; V >= SweepLastV; --V) {
        IsvPoint point;
        point.V = V;
        const PointEnd end = runPoint(state, rng, trialCount, observer, point);
        if (end == PointEnd::Abandoned)
            break;
        points.push_back(point);
        observer.point(point);
        if (end == PointEnd::Stopped || !observer.pause() || observer.stopRequested())
            break;
    }
    return points;
}

} // namespace

void IsvSweepObserver::trial(int, const IsvTrialResult &) { }

void IsvSweepObserver::point(const IsvPoint &) { }

bool IsvSweepObserver::pause()
{
    return true;
}

bool IsvSweepObserver::stopRequested()
{
    return false;
}

IsvPoint runIsvPoint(ModelState &state, Generator &rng, int V, int trialCount)
{
    IsvPoint point;
    point.V = V;
    Unobserved none;
    runPoint(state, rng, trialCount, none, point);
    return point;
}

namespace {

// Runs trials 1..trialCount at one seeded potential, trial j from
// mixSeed(potential.seed, j), and hands each result to f; false from f ends
// the run at once.
void runSeededTrials(ModelState &state, Generator &rng, const SeededPotential &potential, int trialCount,
    const std::function<bool(const IsvTrialResult &)> &f)
{
    PeakTrials trials(state.LPC, state.SpikeSteps, potential.V, shortWindowStart(), shortWindowEnd(state.LPC),
        PeakKind::BySign);
    for (int trial = 1; trial <= trialCount; ++trial) {
        rng.setSeed(mixSeed(potential.seed, static_cast<std::uint32_t>(trial)));
        const PeakTrialResult r = trials.run(state.Sites, rng);
        if (!f({r.m, r.peak}))
            return;
    }
}

} // namespace

std::vector<IsvPoint> runSeededIsvPoints(const ParameterSet &p,
    const std::vector<SeededPotential> &potentials, int trialCount, const std::function<bool()> &stop)
{
    ModelState state;
    state.setCurrent(p);
    std::vector<IsvPoint> points;
    points.reserve(potentials.size());
    Generator rng;
    for (const SeededPotential &potential : potentials) {
        IsvPoint point;
        point.V = potential.V;
        point.background = sweepBackgroundCurrent(state.LPC, point.V);
        bool stopped = false;
        runSeededTrials(state, rng, potential, trialCount, [&](const IsvTrialResult &r) {
            point.add(r);
            stopped = stop && stop();
            return !stopped;
        });
        if (stopped)
            return points;
        points.push_back(point);
    }
    return points;
}

std::vector<IsvTrialResult> runSeededIsvTrials(
    const ParameterSet &p, const SeededPotential &potential, int trialCount)
{
    ModelState state;
    state.setCurrent(p);
    Generator rng;
    std::vector<IsvTrialResult> results;
    results.reserve(static_cast<std::size_t>(std::max(trialCount, 0)));
    runSeededTrials(state, rng, potential, trialCount, [&](const IsvTrialResult &r) {
        results.push_back(r);
        return true;
    });
    return results;
}

std::vector<IsvPoint> runIsvSweep(
    ModelState &state, Generator &rng, int trialCount, IsvSweepObserver &observer)
{
    return sweep(state, rng, trialCount, observer);
}

std::vector<IsvPoint> runIsvSweep(ModelState &state, Generator &rng, int trialCount)
{
    Unobserved none;
    return sweep(state, rng, trialCount, none);
}

} // namespace cleftsim
