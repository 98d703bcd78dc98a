#include "run/fit.h"

#include "run/fitbootstrap.h"
#include "run/fitwarnings.h"
#include "run/rundescription.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace cleftsim {

namespace {

const double Infinity = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

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

// The search over the editors' grid: every candidate is simulated once,
// and batches are handed to the evaluator in an order that depends on
// nothing but the request.
class Search {
public:
    Search(const FitRequest &request, const FitObjective &objective, const FitEvaluator &evaluate,
        const FitProgress &progress, FitProgressStep &step, const std::function<bool()> &stop)
        : m_request(request)
        , m_objective(objective)
        , m_evaluate(evaluate)
        , m_progress(progress)
        , m_step(step)
        , m_stop(stop)
    {
        const int coarse = coarseValues(request.free.size());
        for (const FreeParameter &f : request.free) {
            Axis axis;
            axis.info = f.info;
            axis.scale = editorScale(*f.info);
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
            entry.objective = m_objective.minusTwoLogLikelihood(entry.points);
            if (std::isnan(entry.objective))
                entry.objective = Infinity;
            m_cache[wanted[i]] = std::move(entry);
        }
        m_evaluations += static_cast<int>(batch.size());
        m_step.done += static_cast<int>(batch.size());
        m_step.evaluations += static_cast<int>(batch.size());
        if (m_progress)
            m_progress(m_step);
    }

    // Calls f(points) for every candidate simulated, in the order of their keys.
    void forEachSimulated(const std::function<void(const std::vector<IsvPoint> &)> &f) const
    {
        for (const auto &[key, entry] : m_cache)
            if (!entry.points.empty())
                f(entry.points);
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
    std::vector<Key> coarseKeys() const
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
        return keys;
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
    const FitObjective &m_objective;
    const FitEvaluator &m_evaluate;
    const FitProgress &m_progress;
    FitProgressStep &m_step;
    const std::function<bool()> &m_stop;
    std::vector<Axis> m_axes;
    std::map<Key, Entry> m_cache;
    int m_evaluations = 0;
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

// The moved values of a fixed parameter, down and up, on its editor's grid;
// NaN for a move outside the editor's range or that does not move it.
std::pair<double, double> movedValues(const SensitivityMove &move, double value)
{
    const ParamInfo &info = *move.info;
    const int scale = editorScale(info);
    const auto moved = [&](int sign) {
        const double target
            = move.percent ? value * (1 + sign * move.delta / 100) : value + sign * move.delta;
        const double onGrid = double(std::llround(target * scale)) / scale;
        return onGrid < info.min || onGrid > info.max || onGrid == value ? NaN : onGrid;
    };
    return {moved(-1), moved(+1)};
}

// The estimates refitted with one fixed value moved: the refinement from
// the estimates, the same seeds; NaN where the editors refuse the moved set.
std::vector<double> refitMoved(const FitRequest &request, const FitEvaluator &evaluate,
    const FitProgress &progress, FitProgressStep &step, const std::function<bool()> &stop, const Key &best,
    const ParamInfo &info, double value, int *evaluations)
{
    FitRequest moved = request;
    setFieldValue(moved.fixed, info.field, value);
    const IsvRecordingObjective objective(moved);
    Search search(moved, objective, evaluate, progress, step, stop);
    RunDescription run;
    run.experiment = Experiment::Isv;
    run.seeds = {moved.seed};
    run.trials = moved.trials;
    run.params = search.parameters(best);
    if (!checkRun(run))
        return std::vector<double>(request.free.size(), NaN);
    const Key found = search.refine(best, search.warmSteps(), std::vector<bool>(request.free.size(), true));
    *evaluations += search.evaluations();
    return search.values(found);
}

// The recording noise's profile: at each value of its grid, the least -2 log
// L of the candidates simulated (the free parameters as good as the search
// found them there); its 95 % interval, as the free parameters' are, to
// the grid's unit.
std::pair<double, double> noiseInterval(
    const Search &search, const IsvRecordingObjective &objective, double noise)
{
    const double unit = objective.noiseUnit();
    const auto profile = [&](int u) {
        double least = Infinity;
        search.forEachSimulated([&](const std::vector<IsvPoint> &points) {
            const double value = objective.minusTwoLogLikelihoodAt(points, u * unit);
            if (value < least)
                least = value;
        });
        return least;
    };
    const int at = static_cast<int>(std::llround(noise / unit));
    const double minimum = profile(at);
    const auto end = [&](int direction) {
        // Walk by tenths of a pA to the first value outside, then halve to the unit.
        int inside = at;
        for (;;) {
            const int next = std::clamp(inside + direction * 10, 0, objective.noiseCount());
            if (next == inside)
                return inside;
            if (profile(next) - minimum > ProfileThreshold) {
                int outside = next;
                while (std::abs(outside - inside) > 1) {
                    const int middle = inside + (outside - inside) / 2;
                    (profile(middle) - minimum <= ProfileThreshold ? inside : outside) = middle;
                }
                return inside;
            }
            inside = next;
        }
    };
    return {end(-1) * unit, end(+1) * unit};
}

} // namespace

bool physicalZero(const ParamInfo &info)
{
    return info.field == Param::Rg || info.field == Param::Gb;
}

std::vector<SensitivityMove> defaultSensitivity()
{
    return {{&paramInfo(Param::Gmax), 10, true}, {&paramInfo(Param::N), 1, false}};
}

std::vector<double> fitEstimates(const FitRequest &request, const FitEvaluator &evaluate, int *evaluations,
    const std::function<bool()> &stop)
{
    const IsvRecordingObjective objective(request);
    const FitProgress none;
    FitProgressStep step;
    Search search(request, objective, evaluate, none, step, stop);
    const std::vector<Key> coarse = search.coarseKeys();
    search.evaluate(coarse);
    const Key best = search.refine(
        search.bestOf(coarse), search.coarseSteps(), std::vector<bool>(request.free.size(), true));
    *evaluations += search.evaluations();
    return search.values(best);
}

namespace {

// The fixed parameters the sensitivity moves: those asked that are not free.
std::vector<SensitivityMove> fixedMoves(const FitRequest &request)
{
    std::vector<SensitivityMove> moves;
    for (const SensitivityMove &move : request.sensitivity) {
        bool free = false;
        for (const FreeParameter &f : request.free)
            free = free || f.info == move.info;
        if (!free)
            moves.push_back(move);
    }
    return moves;
}

// Tells the progress which stage the search has begun.
struct StageTeller {
    FitProgressStep &step;
    int count = 0;

    void begin(const std::string &name, int index, int total) const
    {
        step.stage = name;
        step.stageIndex = index;
        step.stageCount = count;
        step.done = 0;
        step.total = total;
    }
};

// Each free parameter's profile about the best set; where a profile finds a
// better set, the search refines from it and profiles again.
std::vector<Profile> profileFromBest(
    Search &search, const FitRequest &request, Key &best, const StageTeller &stages)
{
    const std::size_t freeCount = request.free.size();
    std::vector<Profile> profiles;
    for (int round = 0;; ++round) {
        profiles.assign(freeCount, Profile());
        const double minimum = search.objective(best);
        Key better_ = best;
        for (std::size_t j = 0; j < freeCount; ++j) {
            // A restart's profiles are told as the last profile's stage, which they repeat.
            const std::string name = "profile " + std::string(request.free[j].info->name);
            if (round == 0)
                stages.begin(name, 2 + static_cast<int>(j), 0);
            else
                stages.step.stage = name + ", again from a better set";
            Profile &profile = profiles[j];
            profile.points[best[j]] = best;
            profile.low = walkProfile(search, j, best, -1, minimum, profile, &profile.lowBounded);
            profile.high = walkProfile(search, j, best, +1, minimum, profile, &profile.highBounded);
            for (const auto &[k, key] : profile.points)
                if (better(search, key, better_))
                    better_ = key;
        }
        if (better_ == best || round == MaxRestarts)
            return profiles;
        stages.step.stage = "refinement from a better set the profiles found";
        best = search.refine(better_, search.warmSteps(), std::vector<bool>(freeCount, true));
    }
}

// The goodness of fit at the best set: the compared quantities, chi-square
// and its degrees of freedom, the p-value.
void readGoodness(FitResult &result, const IsvRecordingObjective &objective, const Entry &entry)
{
    const FitRequest &request = result.request;
    const std::size_t freeCount = request.free.size();
    result.terms = objective.terms(entry.points);
    result.objective = entry.objective;
    result.chi2 = objective.chiSquare(entry.points);
    // A parameter whose estimate lies on a physical bound (Rg or Gb at 0)
    // has taken up no degree of freedom, as a noise fitted to 0 has not:
    // where the truth lies on the bound, half the fits put it there, and
    // counting it would make chi-square too large for its degrees of freedom.
    int onBound = 0;
    for (std::size_t j = 0; j < freeCount; ++j)
        if (result.estimates[j] == 0 && physicalZero(*request.free[j].info))
            ++onBound;
    result.dof = objective.values() - static_cast<int>(freeCount) + onBound
        - objective.nuisanceParameters(entry.points);
    result.pValue = chiSquareSurvival(result.chi2, result.dof);
}

// The intervals, one-sided limits and profiles each free parameter's
// profile gives.
void readProfiles(FitResult &result, Search &search, const std::vector<Profile> &profiles)
{
    for (std::size_t j = 0; j < result.request.free.size(); ++j) {
        const Axis &axis = search.axes()[j];
        const Profile &profile = profiles[j];
        result.intervals.emplace_back(axis.value(profile.low), axis.value(profile.high));
        // An end at a range's end is the range's, not the data's; but at a
        // physical bound the interval is a one-sided limit.
        const bool atZero = profile.low == 0 && axis.value(0) == 0 && physicalZero(*axis.info);
        const bool highBounded = profile.highBounded && profile.high < axis.count;
        result.bounded.emplace_back((profile.lowBounded && profile.low > 0) || atZero, highBounded);
        result.upperLimits.push_back(atZero && highBounded ? axis.value(profile.high) : NaN);
        std::vector<ProfilePoint> points;
        for (const auto &[k, key] : profile.points)
            points.push_back({search.values(key), search.objective(key)});
        result.profiles.push_back(std::move(points));
        result.coarsePoints.push_back(axis.coarse);
        result.profileSteps.push_back(axis.profileStep);
    }
}

} // namespace

FitResult runFit(const FitRequest &request, const FitEvaluator &evaluate, const FitProgress &progress,
    const std::function<bool()> &stop, const FitReplicates &replicates)
{
    const IsvRecordingObjective objective(request);
    FitProgressStep step;
    Search search(request, objective, evaluate, progress, step, stop);
    const std::size_t freeCount = request.free.size();
    const std::vector<SensitivityMove> moves = fixedMoves(request);
    // The stages: the coarse grid, the refinement, a profile per free
    // parameter, the sensitivity's refits and the bootstrap.
    const StageTeller stages {
        step, 2 + static_cast<int>(freeCount) + (moves.empty() ? 0 : 1) + (request.bootstrap > 0 ? 1 : 0)};
    const std::vector<Key> coarse = search.coarseKeys();
    stages.begin("coarse grid", 0, static_cast<int>(coarse.size()));
    search.evaluate(coarse);
    stages.begin("refinement", 1, 0);
    Key best = search.refine(search.bestOf(coarse), search.coarseSteps(), std::vector<bool>(freeCount, true));
    const std::vector<Profile> profiles = profileFromBest(search, request, best, stages);

    FitResult result;
    result.request = request;
    result.estimates = search.values(best);
    const Entry &entry = search.entry(best);
    readGoodness(result, objective, entry);
    readProfiles(result, search, profiles);
    result.noiseUsed = objective.usesSpread() || request.noise == FitNoise::Fixed;
    result.noise = objective.bestNoise(entry.points);
    result.noiseInterval = {result.noise, result.noise};
    if (request.noise == FitNoise::Fitted && objective.usesSpread())
        result.noiseInterval = noiseInterval(search, objective, result.noise);
    int evaluations = search.evaluations();
    if (!moves.empty())
        stages.begin("sensitivity", 2 + static_cast<int>(freeCount), 0);
    for (const SensitivityMove &move : moves) {
        FitSensitivity sensitivity;
        sensitivity.info = move.info;
        sensitivity.value = fieldValue(request.fixed, move.info->field);
        sensitivity.moved = movedValues(move, sensitivity.value);
        const auto refit = [&](double value) {
            return std::isnan(value)
                ? std::vector<double>(freeCount, NaN)
                : refitMoved(request, evaluate, progress, step, stop, best, *move.info, value, &evaluations);
        };
        const std::vector<double> down = refit(sensitivity.moved.first);
        const std::vector<double> up = refit(sensitivity.moved.second);
        for (std::size_t j = 0; j < freeCount; ++j)
            sensitivity.estimates.emplace_back(down[j], up[j]);
        result.sensitivity.push_back(std::move(sensitivity));
    }
    result.evaluations = evaluations;
    result.trialsRun = static_cast<long long>(result.evaluations) * request.trials
        * static_cast<long long>(request.data.points.size());
    result.warnings = fitWarnings(result, objective, entry.points);
    if (request.bootstrap > 0) {
        stages.begin("bootstrap", stages.count - 1, request.bootstrap);
        result.bootstrap
            = runBootstrap(result, replicates ? replicates : localFitReplicates(0, stop), [&](int done) {
                  step.done = done;
                  if (progress)
                      progress(step);
              });
    }
    return result;
}

} // namespace cleftsim
