#include "run/fit.h"

#include "model/random.h"
#include "model/rounding.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <thread>

namespace cleftsim {

namespace {

const double Infinity = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

// The least spread a trial's value is given in the likelihood, so that a
// potential where every simulated trial came out the same (every site
// released, or none) cannot make the variance 0 and its logarithm win the
// fit: a tenth of a pA for the peak current, half a quantum for the quanta.
// Either lies far below the spread of any potential where trials differ.
constexpr double PeakSpreadFloor = 0.1; // [pA]
constexpr double QuantaSpreadFloor = 0.5;

// The coarse grid's values per free parameter, by the number of free
// parameters: about 20 for one, fewer for more, so that the grid stays
// within a few hundred candidates.
int coarseValues(std::size_t freeCount)
{
    switch (freeCount) {
    case 1: return 21;
    case 2: return 11;
    case 3: return 6;
    default: return 4;
    }
}

// Where a parameter's profile is walked: about 300 steps over its range
// with one free parameter, 100 with more, whose every step re-optimises the
// others; the crossings are then found to one editor step.
int profileWalkSteps(std::size_t freeCount)
{
    return freeCount == 1 ? 300 : 100;
}

// How many times a profile that finds a better candidate restarts the search.
constexpr int MaxRestarts = 5;

int scaleOf(const ParamInfo &info)
{
    int scale = 1;
    for (int d = 0; d < info.decimals; ++d)
        scale *= 10;
    return scale;
}

// The editor's grid of one free parameter: value k (0..count) is
// (lowUnits + k) / scale, the same binary value its editor reads from the text.
struct Axis {
    const ParamInfo *info = nullptr;
    long long lowUnits = 0;
    int count = 0; // the last index
    int scale = 1;
    int coarse = 1; // coarse grid values
    int spacing = 1; // editor steps between coarse values
    int profileStep = 1;

    double value(int k) const { return double(lowUnits + k) / double(scale); }
};

using Key = std::vector<int>;

struct Entry {
    double objective = Infinity;
    std::vector<IsvPoint> points;
};

double termVariance(double perTrial, int n, double sem, int T)
{
    const double simulation = perTrial / T;
    return (n > 0 ? perTrial / n : sem * sem) + simulation;
}

// The search over the editors' grid: every candidate is simulated once,
// and batches are handed to the evaluator in an order that depends on
// nothing but the request.
class Search {
public:
    Search(const FitRequest &request, const FitEvaluator &evaluate, const FitProgress &progress,
        const std::function<bool()> &stop)
        : m_request(request)
        , m_evaluate(evaluate)
        , m_progress(progress)
        , m_stop(stop)
    {
        const int coarse = coarseValues(request.free.size());
        for (const FreeParameter &f : request.free) {
            Axis axis;
            axis.info = f.info;
            axis.scale = scaleOf(*f.info);
            axis.lowUnits = std::llround(f.low * axis.scale);
            axis.count = static_cast<int>(std::llround(f.high * axis.scale) - axis.lowUnits);
            axis.coarse = std::min(coarse, axis.count + 1);
            axis.spacing = axis.coarse > 1 ? std::max(1, axis.count / (axis.coarse - 1)) : 1;
            axis.profileStep = std::max(1, axis.count / profileWalkSteps(request.free.size()));
            m_axes.push_back(axis);
        }
    }

    const std::vector<Axis> &axes() const { return m_axes; }
    int evaluations() const { return m_evaluations; }

    ParameterSet parameters(const Key &key) const
    {
        ParameterSet p = m_request.fixed;
        for (std::size_t j = 0; j < m_axes.size(); ++j)
            setFieldValue(p, m_axes[j].info->field, m_axes[j].value(key[j]));
        return p;
    }

    std::vector<double> values(const Key &key) const
    {
        std::vector<double> v;
        for (std::size_t j = 0; j < m_axes.size(); ++j)
            v.push_back(m_axes[j].value(key[j]));
        return v;
    }

    // Simulates the keys not yet known, as one batch in the order given.
    void evaluate(const std::vector<Key> &keys)
    {
        if (m_stop && m_stop())
            throw FitStopped();
        std::vector<Key> wanted;
        std::vector<ParameterSet> batch;
        for (const Key &key : keys) {
            if (m_cache.count(key) || std::find(wanted.begin(), wanted.end(), key) != wanted.end())
                continue;
            ParameterSet p = parameters(key);
            RunDescription run;
            run.experiment = Experiment::Isv;
            run.seeds = {m_request.seed};
            run.trials = m_request.trials;
            run.params = p;
            if (!checkRun(run)) {
                m_cache[key] = Entry {}; // a set the editors refuse (Gb above Gmax) is no candidate
                continue;
            }
            wanted.push_back(key);
            batch.push_back(p);
        }
        if (batch.empty())
            return;
        const std::vector<std::vector<IsvPoint>> simulated = m_evaluate(batch);
        const std::size_t potentials = m_request.data.points.size();
        if (simulated.size() != batch.size())
            throw FitStopped();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (simulated[i].size() != potentials)
                throw FitStopped();
            for (const IsvPoint &point : simulated[i])
                if (point.trials != m_request.trials)
                    throw FitStopped();
            Entry entry;
            entry.points = simulated[i];
            entry.objective = minusTwoLogLikelihood(fitTerms(m_request, entry.points));
            if (std::isnan(entry.objective))
                entry.objective = Infinity;
            m_cache[wanted[i]] = std::move(entry);
        }
        m_evaluations += static_cast<int>(batch.size());
        // A stage of known size counts the candidates it named, also those it
        // could not run (a set the editors refuse), so that it ends at its total.
        m_step.done += static_cast<int>(m_step.total > 0 ? keys.size() : batch.size());
        m_step.evaluations = m_evaluations;
        if (m_progress)
            m_progress(m_step);
    }

    // The stage of the search the next batches belong to; total: the
    // candidates it takes, 0 where that is not known in advance.
    void beginStage(const std::string &stage, int index, int total)
    {
        m_step.stage = stage;
        m_step.stageIndex = index;
        m_step.stageCount = 2 + static_cast<int>(m_axes.size()); // coarse grid, refinement, a profile each
        m_step.done = 0;
        m_step.total = total;
    }

    double objective(const Key &key) const { return m_cache.at(key).objective; }
    const Entry &entry(const Key &key) const { return m_cache.at(key); }

    // The first key of the list with the least objective.
    Key bestOf(const std::vector<Key> &keys) const
    {
        Key best = keys.front();
        for (const Key &key : keys)
            if (objective(key) < objective(best))
                best = key;
        return best;
    }

    // Every combination of the coarse values.
    Key coarseSearch()
    {
        std::vector<Key> keys(1, Key());
        for (const Axis &axis : m_axes) {
            std::vector<Key> grown;
            for (const Key &key : keys)
                for (int i = 0; i < axis.coarse; ++i) {
                    Key next = key;
                    next.push_back(axis.coarse > 1
                            ? static_cast<int>(std::llround(double(i) * axis.count / (axis.coarse - 1)))
                            : 0);
                    grown.push_back(next);
                }
            keys = std::move(grown);
        }
        beginStage("coarse grid", 0, static_cast<int>(keys.size()));
        evaluate(keys);
        return bestOf(keys);
    }

    // Refines from start over the parameters marked moving: all neighbours
    // at the steps h (for more than three moving parameters, the neighbours
    // along each axis), to the best when it is better, else with the steps
    // halved, until at steps of 1 no neighbour is better.
    Key refine(Key current, std::vector<int> h, const std::vector<bool> &moving)
    {
        std::vector<std::size_t> axes;
        for (std::size_t j = 0; j < m_axes.size(); ++j)
            if (moving[j] && m_axes[j].count > 0)
                axes.push_back(j);
        if (axes.empty()) {
            evaluate({current});
            return current;
        }
        evaluate({current});
        for (;;) {
            std::vector<Key> neighbours;
            const auto add = [&](Key key) {
                if (key != current
                    && std::find(neighbours.begin(), neighbours.end(), key) == neighbours.end())
                    neighbours.push_back(key);
            };
            const auto clip = [&](std::size_t j, int k) { return std::clamp(k, 0, m_axes[j].count); };
            if (axes.size() <= 3) {
                std::size_t combinations = 1;
                for (std::size_t i = 0; i < axes.size(); ++i)
                    combinations *= 3;
                for (std::size_t c = 0; c < combinations; ++c) {
                    Key key = current;
                    std::size_t rest = c;
                    for (std::size_t j : axes) {
                        const int offset = static_cast<int>(rest % 3) - 1;
                        rest /= 3;
                        key[j] = clip(j, current[j] + offset * h[j]);
                    }
                    add(key);
                }
            } else {
                for (std::size_t j : axes)
                    for (int sign : {-1, 1}) {
                        Key key = current;
                        key[j] = clip(j, current[j] + sign * h[j]);
                        add(key);
                    }
            }
            evaluate(neighbours);
            const Key best = neighbours.empty() ? current : bestOf(neighbours);
            if (objective(best) < objective(current)) {
                current = best;
                continue;
            }
            bool finest = true;
            for (std::size_t j : axes)
                if (h[j] > 1) {
                    finest = false;
                    h[j] = std::max(1, h[j] / 2);
                }
            if (finest)
                return current;
        }
    }

    std::vector<int> coarseSteps() const
    {
        std::vector<int> h;
        for (const Axis &axis : m_axes)
            h.push_back(std::max(1, axis.spacing / 2));
        return h;
    }

    // The steps that re-optimise from a neighbouring optimum: one step of
    // the profile walk, as the optimum of the others moves little between two.
    std::vector<int> warmSteps() const
    {
        std::vector<int> h;
        for (const Axis &axis : m_axes)
            h.push_back(axis.profileStep);
        return h;
    }

    // The best key with parameter j held at k, the others re-optimised from
    // the others of `from`.
    Key profileAt(std::size_t j, int k, const Key &from)
    {
        Key start = from;
        start[j] = k;
        std::vector<bool> moving(m_axes.size(), true);
        moving[j] = false;
        return refine(start, warmSteps(), moving);
    }

private:
    const FitRequest &m_request;
    const FitEvaluator &m_evaluate;
    const FitProgress &m_progress;
    const std::function<bool()> &m_stop;
    std::vector<Axis> m_axes;
    std::map<Key, Entry> m_cache;
    int m_evaluations = 0;
    FitProgressStep m_step;
};

// The profile of one parameter: walked from the best both ways.
struct Profile {
    std::map<int, Key> points; // by the parameter's index, the re-optimised key
    int low = 0; // the interval's ends, as indices
    int high = 0;
    bool lowBounded = false;
    bool highBounded = false;
};

// Walks one side of a profile and finds its crossing. Returns the last
// index inside the interval; *bounded tells whether a crossing was found.
int walkProfile(Search &search, std::size_t j, const Key &best, int direction, double minimum,
    Profile &profile, bool *bounded)
{
    const Axis &axis = search.axes()[j];
    int inside = best[j];
    Key insideKey = best;
    *bounded = false;
    int k = best[j];
    while (true) {
        const int next = std::clamp(k + direction * axis.profileStep, 0, axis.count);
        if (next == k)
            return inside; // the range's end, still inside
        k = next;
        const Key key = search.profileAt(j, k, insideKey);
        profile.points[k] = key;
        const double rise = search.objective(key) - minimum;
        if (rise <= ProfileThreshold) {
            inside = k;
            insideKey = key;
            continue;
        }
        // Outside: the crossing lies between inside and k; find it to one step.
        int outside = k;
        while (std::abs(outside - inside) > 1) {
            const int middle = inside + (outside - inside) / 2;
            const Key m = search.profileAt(j, middle, insideKey);
            profile.points[middle] = m;
            if (search.objective(m) - minimum <= ProfileThreshold) {
                inside = middle;
                insideKey = m;
            } else {
                outside = middle;
            }
        }
        *bounded = true;
        // Go on to twice the threshold for the profile's shape.
        Key lastKey = key;
        while (search.objective(lastKey) - minimum <= 2 * ProfileThreshold) {
            const int further = std::clamp(k + direction * axis.profileStep, 0, axis.count);
            if (further == k)
                break;
            k = further;
            lastKey = search.profileAt(j, k, lastKey);
            profile.points[k] = lastKey;
        }
        return inside;
    }
}

// Whether a key found while profiling is better than the best.
bool better(const Search &search, const Key &key, const Key &best)
{
    return search.objective(key) < search.objective(best);
}

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

// A real with the given decimals, or null for NaN.
std::string fixedOrNull(double x, int decimals)
{
    return std::isnan(x) ? std::string("null") : formatFixed(x, decimals);
}

std::string valueText(const ParamInfo &info, double value)
{
    return formatFixed(value, info.decimals);
}

} // namespace

bool checkFit(const FitRequest &request, RunProblem *problem)
{
    const auto fail = [&](const std::string &what, const std::string &reason, const std::string &accepted) {
        if (problem)
            *problem = {what, reason, accepted};
        return false;
    };
    std::string names;
    for (const ParamInfo *info : numericParams())
        if (info->field != Param::V2)
            names += (names.empty() ? "" : ", ") + std::string(info->name);
    if (request.free.empty())
        return fail("free", "no free parameter", "one or more of " + names);
    for (std::size_t i = 0; i < request.free.size(); ++i) {
        const FreeParameter &f = request.free[i];
        if (!f.info || f.info->field == Param::BackgroundOn)
            return fail("free", "not a parameter", names);
        const std::string name = f.info->name;
        if (f.info->field == Param::V2)
            return fail("free V2", "the clamp potential of every point is the data's", names);
        for (std::size_t k = 0; k < i; ++k)
            if (request.free[k].info == f.info)
                return fail("free " + name, "named twice", "each parameter once");
        double low = 0, high = 0;
        const std::string lowProblem = acceptValue(*f.info, f.low, &low);
        if (!lowProblem.empty())
            return fail("free " + name + " low " + shortestNumber(f.low), lowProblem, rangeText(*f.info));
        const std::string highProblem = acceptValue(*f.info, f.high, &high);
        if (!highProblem.empty())
            return fail("free " + name + " high " + shortestNumber(f.high), highProblem, rangeText(*f.info));
        if (low != f.low || high != f.high)
            return fail("free " + name, "range not on the editor's values", rangeText(*f.info));
        if (f.info->field == Param::Gb && high > 0 && !request.fixed.BackgroundOn)
            return fail("free Gb", "the background conductance is switched off",
                "the background switched on (--background, background=True), or Gb=0:0");
        if (low > high)
            return fail("free " + name + " " + valueText(*f.info, low) + ":" + valueText(*f.info, high),
                "low above high", "LOW:HIGH within " + rangeText(*f.info));
    }
    if (request.trials < 1 || request.trials > MaxRunTrials)
        return fail("trials " + std::to_string(request.trials), "out of range",
            "1.." + std::to_string(MaxRunTrials) + " for fit");
    const int values = measuredValueCount(request.data);
    const int needed = static_cast<int>(request.free.size()) + 1;
    if (values < needed)
        return fail(request.data.name.empty() ? "the data" : request.data.name,
            std::to_string(values) + " measured values for " + std::to_string(request.free.size())
                + " free parameters",
            "at least " + std::to_string(needed) + " (one more than the free parameters)");
    // The fixed set as it is; a candidate the editors refuse (Gb above a
    // free Gmax) is passed over by the search.
    RunDescription run;
    run.experiment = Experiment::Isv;
    run.seeds = {request.seed};
    run.trials = request.trials;
    run.params = request.fixed;
    RunProblem why;
    if (!checkRun(run, &why, "--background"))
        return fail(why.what, why.reason, why.accepted);
    return true;
}

namespace {

SeededPotential fitPotential(std::uint32_t seed, int V)
{
    return {V, mixSeed(seed, static_cast<std::uint32_t>(SweepFirstV - V))};
}

} // namespace

std::vector<SeededPotential> fitPotentials(const FitRequest &request)
{
    std::vector<SeededPotential> potentials;
    for (const MeasuredPoint &point : request.data.points)
        potentials.push_back(fitPotential(request.seed, point.V));
    return potentials;
}

std::vector<SeededPotential> fitCurvePotentials(std::uint32_t seed)
{
    std::vector<SeededPotential> potentials;
    for (int V = SweepFirstV; V >= static_cast<int>(paramInfo(Param::V2).min); --V)
        potentials.push_back(fitPotential(seed, V));
    return potentials;
}

FitEvaluator localFitEvaluator(const FitRequest &request, int workers, const std::function<bool()> &stop)
{
    const std::vector<SeededPotential> potentials = fitPotentials(request);
    const int trials = request.trials;
    if (workers <= 0)
        workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    // The work is shared out by candidate and potential, so that a batch of
    // one candidate (a step of a profile) keeps every thread busy too.
    return [potentials, trials, workers, stop](const std::vector<ParameterSet> &batch) {
        std::vector<std::vector<IsvPoint>> results(batch.size(), std::vector<IsvPoint>(potentials.size()));
        const std::size_t units = batch.size() * potentials.size();
        std::atomic<std::size_t> next {0};
        std::atomic<bool> stopped {false};
        const auto work = [&] {
            for (std::size_t u = next++; u < units; u = next++) {
                const std::size_t c = u / potentials.size(), k = u % potentials.size();
                const std::vector<IsvPoint> point
                    = runSeededIsvPoints(batch[c], {potentials[k]}, trials, stop);
                if (point.empty())
                    stopped = true;
                else
                    results[c][k] = point.front();
            }
        };
        const std::size_t helpers = std::min<std::size_t>(static_cast<std::size_t>(workers), units) - 1;
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < helpers; ++t)
            threads.emplace_back(work);
        work();
        for (std::thread &thread : threads)
            thread.join();
        if (stopped)
            results.clear(); // a stopped run: the search sees no results and stops
        return results;
    };
}

std::vector<FitTerm> fitTerms(const FitRequest &request, const std::vector<IsvPoint> &simulated)
{
    std::vector<FitTerm> terms;
    const int T = request.trials;
    for (std::size_t i = 0; i < request.data.points.size() && i < simulated.size(); ++i) {
        const MeasuredPoint &data = request.data.points[i];
        const IsvPoint &model = simulated[i];
        const auto add
            = [&](const char *quantity, double measured, double sem, double mean, double perTrial) {
                  FitTerm term;
                  term.V = data.V;
                  term.quantity = quantity;
                  term.data = measured;
                  term.dataSem = sem;
                  term.model = mean;
                  term.modelSem = std::sqrt(perTrial / T);
                  term.sd = std::sqrt(termVariance(perTrial, data.n, sem, T));
                  term.residual = (measured - mean) / term.sd;
                  terms.push_back(term);
              };
        // At 0 mV every current is 0, whatever the parameters: nothing to compare.
        if (data.V != 0) {
            const double sd = T > 1 ? model.sdPeak() : 0.0;
            add("peak_pA", data.meanPeak, data.semPeak, model.meanPeak(),
                std::max(sd * sd, PeakSpreadFloor * PeakSpreadFloor));
        }
        if (data.hasQuanta) {
            const double sd = T > 1 ? model.sdQuanta() : 0.0;
            add("quanta", data.meanQuanta, data.semQuanta, model.meanQuanta(),
                std::max(sd * sd, QuantaSpreadFloor * QuantaSpreadFloor));
        }
        if (data.hasFailures) {
            // A share of trials: binomial, with the simulated share kept half
            // a trial from 0 and 1 for the spread.
            const double p = double(model.failures) / T;
            const double kept = std::clamp(p, 0.5 / T, 1 - 0.5 / T);
            add("failure_rate", data.failureRate, NaN, p, kept * (1 - kept));
        }
    }
    return terms;
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

FitResult runFit(const FitRequest &request, const FitEvaluator &evaluate, const FitProgress &progress,
    const std::function<bool()> &stop)
{
    Search search(request, evaluate, progress, stop);
    const std::size_t freeCount = request.free.size();
    const Key coarse = search.coarseSearch();
    search.beginStage("refinement", 1, 0);
    Key best = search.refine(coarse, search.coarseSteps(), std::vector<bool>(freeCount, true));
    std::vector<Profile> profiles;
    for (int round = 0;; ++round) {
        profiles.assign(freeCount, Profile());
        const double minimum = search.objective(best);
        Key better_ = best;
        for (std::size_t j = 0; j < freeCount; ++j) {
            Profile &profile = profiles[j];
            search.beginStage(
                std::string("profile ") + request.free[j].info->name, 2 + static_cast<int>(j), 0);
            profile.points[best[j]] = best;
            profile.low = walkProfile(search, j, best, -1, minimum, profile, &profile.lowBounded);
            profile.high = walkProfile(search, j, best, +1, minimum, profile, &profile.highBounded);
            for (const auto &[k, key] : profile.points)
                if (better(search, key, better_))
                    better_ = key;
        }
        if (better_ == best || round == MaxRestarts)
            break;
        search.beginStage("refinement", 1, 0);
        best = search.refine(better_, search.warmSteps(), std::vector<bool>(freeCount, true));
    }

    FitResult result;
    result.request = request;
    result.estimates = search.values(best);
    const Entry &entry = search.entry(best);
    result.terms = fitTerms(request, entry.points);
    result.objective = entry.objective;
    for (const FitTerm &term : result.terms)
        result.chi2 += term.residual * term.residual;
    result.dof = static_cast<int>(result.terms.size()) - static_cast<int>(freeCount);
    result.pValue = chiSquareSurvival(result.chi2, result.dof);
    for (std::size_t j = 0; j < freeCount; ++j) {
        const Axis &axis = search.axes()[j];
        const Profile &profile = profiles[j];
        result.intervals.emplace_back(axis.value(profile.low), axis.value(profile.high));
        // An end at the range's end is the range's, not the data's.
        result.bounded.emplace_back(
            profile.lowBounded && profile.low > 0, profile.highBounded && profile.high < axis.count);
        std::vector<ProfilePoint> points;
        for (const auto &[k, key] : profile.points)
            points.push_back({search.values(key), search.objective(key)});
        result.profiles.push_back(std::move(points));
        result.coarsePoints.push_back(axis.coarse);
        result.profileSteps.push_back(axis.profileStep);
    }
    result.evaluations = search.evaluations();
    result.trialsRun = static_cast<long long>(result.evaluations) * request.trials
        * static_cast<long long>(request.data.points.size());
    return result;
}

ParameterSet fittedParameters(const FitResult &result)
{
    ParameterSet p = result.request.fixed;
    for (std::size_t j = 0; j < result.request.free.size() && j < result.estimates.size(); ++j)
        setFieldValue(p, result.request.free[j].info->field, result.estimates[j]);
    return p;
}

std::string fitCommand(const FitRequest &request)
{
    const auto quoted = [](const std::string &text) {
        bool plain = !text.empty();
        for (char c : text)
            plain = plain
                && (std::isalnum(static_cast<unsigned char>(c))
                    || std::string("/._-+:,=").find(c) != std::string::npos);
        if (plain)
            return text;
        std::string q = "'";
        for (char c : text)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    std::string command = "cleftsim-batch fit --data " + quoted(request.data.name) + " --free ";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const FreeParameter &f = request.free[j];
        command += (j > 0 ? "," : "") + std::string(f.info->name) + "=" + valueText(*f.info, f.low) + ":"
            + valueText(*f.info, f.high);
    }
    command += " --trials " + std::to_string(request.trials) + " --seed " + std::to_string(request.seed);
    if (request.fixed.BackgroundOn)
        command += " --background";
    for (const ParamInfo *info : numericParams()) {
        bool isFree = info->field == Param::V2;
        for (const FreeParameter &f : request.free)
            isFree = isFree || f.info == info;
        const double value = fieldValue(request.fixed, info->field);
        if (!isFree && value != fieldValue(DefaultParameterSet, info->field))
            command += std::string(" --") + info->name + " " + valueText(*info, value);
    }
    return command;
}

std::string fittedSweepCommand(const FitResult &result)
{
    RunDescription run;
    run.experiment = Experiment::Isv;
    run.seeds = {result.request.seed};
    run.trials = result.request.trials;
    run.params = fittedParameters(result);
    run.params.V2 = DefaultParameterSet.V2;
    return batchCommand(run);
}

std::string fitJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    std::string text = "{\n  \"provenance\": {\n";
    text += "    \"program\": \"Cleftsim\",\n";
    text += std::string("    \"version\": ") + jsonString(programVersion()) + ",\n";
    text += "    \"experiment\": \"fit\",\n";
    text += "    \"data\": {\"file\": " + jsonString(request.data.name) + ", \"sha256\": "
        + jsonString(request.data.sha256) + ", \"points\": " + std::to_string(request.data.points.size())
        + ", \"values\": " + std::to_string(measuredValueCount(request.data)) + "},\n";
    text += "    \"seed\": " + std::to_string(request.seed) + ",\n";
    text += "    \"trials\": " + std::to_string(request.trials) + ",\n";
    text += "    \"fixed_from\": " + jsonString(request.fixedFrom) + ",\n";
    text += "    \"BackgroundOn\": " + std::to_string(request.fixed.BackgroundOn) + ",\n";
    text += "    \"fixed\": {";
    bool first = true;
    for (const ParamInfo *info : numericParams()) {
        bool isFree = info->field == Param::V2;
        for (const FreeParameter &f : request.free)
            isFree = isFree || f.info == info;
        if (isFree)
            continue;
        text += std::string(first ? "" : ", ") + jsonString(info->name) + ": "
            + valueText(*info, fieldValue(request.fixed, info->field));
        first = false;
    }
    text += "},\n    \"free\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const FreeParameter &f = request.free[j];
        text += std::string(j > 0 ? ", " : "") + jsonString(f.info->name) + ": [" + valueText(*f.info, f.low)
            + ", " + valueText(*f.info, f.high) + "]";
    }
    text += "},\n    \"search\": {\"coarse_points\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j)
        text += std::string(j > 0 ? ", " : "") + jsonString(request.free[j].info->name) + ": "
            + std::to_string(result.coarsePoints[j]);
    text += "}, \"profile_step\": {";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        const ParamInfo &info = *request.free[j].info;
        text += std::string(j > 0 ? ", " : "") + jsonString(info.name) + ": "
            + valueText(info, double(result.profileSteps[j]) / scaleOf(info));
    }
    text += "}, \"threshold\": " + formatFixed(ProfileThreshold, 6)
        + ", \"evaluations\": " + std::to_string(result.evaluations)
        + ", \"trials_run\": " + std::to_string(result.trialsRun) + "},\n";
    text += "    \"command\": " + jsonString(fittedSweepCommand(result)) + ",\n";
    text += "    \"fit_command\": " + jsonString(fitCommand(request)) + "\n  },\n";

    const auto perFree = [&](const std::function<std::string(std::size_t)> &member) {
        std::string t = "{";
        for (std::size_t j = 0; j < request.free.size(); ++j)
            t += std::string(j > 0 ? ", " : "") + jsonString(request.free[j].info->name) + ": " + member(j);
        return t + "}";
    };
    text += "  \"estimates\": " + perFree([&](std::size_t j) {
        return valueText(*request.free[j].info, result.estimates[j]);
    }) + ",\n";
    text += "  \"intervals\": " + perFree([&](std::size_t j) {
        const ParamInfo &info = *request.free[j].info;
        return "[" + valueText(info, result.intervals[j].first) + ", "
            + valueText(info, result.intervals[j].second) + "]";
    }) + ",\n";
    text += "  \"bounded\": " + perFree([&](std::size_t j) {
        return std::string(result.bounded[j].first && result.bounded[j].second ? "true" : "false");
    }) + ",\n";
    text += "  \"unbounded_ends\": " + perFree([&](std::size_t j) {
        std::string ends;
        if (!result.bounded[j].first)
            ends += "\"low\"";
        if (!result.bounded[j].second)
            ends += std::string(ends.empty() ? "" : ", ") + "\"high\"";
        return "[" + ends + "]";
    }) + ",\n";
    text += "  \"minus2_log_likelihood\": " + formatFixed(result.objective, 6) + ",\n";
    text += "  \"chi2\": " + formatFixed(result.chi2, 6) + ",\n";
    text += "  \"dof\": " + std::to_string(result.dof) + ",\n";
    text += "  \"p_value\": " + fixedOrNull(result.pValue, 6) + ",\n";
    text += "  \"points\": [\n";
    for (std::size_t i = 0; i < result.terms.size(); ++i) {
        const FitTerm &t = result.terms[i];
        text += "    {\"V2_mV\": " + std::to_string(t.V) + ", \"quantity\": " + jsonString(t.quantity)
            + ", \"data\": " + formatFixed(t.data, 6) + ", \"data_sem\": " + fixedOrNull(t.dataSem, 6)
            + ", \"model\": " + formatFixed(t.model, 6) + ", \"model_sem\": " + formatFixed(t.modelSem, 6)
            + ", \"sd\": " + formatFixed(t.sd, 6) + ", \"residual\": " + formatFixed(t.residual, 6) + "}"
            + (i + 1 < result.terms.size() ? ",\n" : "\n");
    }
    text += "  ],\n  \"profiles\": {\n";
    for (std::size_t j = 0; j < request.free.size(); ++j) {
        text += "    " + jsonString(request.free[j].info->name) + ": [\n";
        const auto &points = result.profiles[j];
        for (std::size_t i = 0; i < points.size(); ++i) {
            text += "      {";
            for (std::size_t k = 0; k < request.free.size(); ++k)
                text += jsonString(request.free[k].info->name) + ": "
                    + valueText(*request.free[k].info, points[i].values[k]) + ", ";
            text += "\"delta\": " + formatFixed(points[i].objective - result.objective, 6) + "}"
                + (i + 1 < points.size() ? ",\n" : "\n");
        }
        text += std::string("    ]") + (j + 1 < request.free.size() ? ",\n" : "\n");
    }
    text += "  }\n}\n";
    return text;
}

} // namespace cleftsim
