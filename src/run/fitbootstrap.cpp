#include "run/fitbootstrap.h"

#include "model/random.h"
#include "model/rounding.h"
#include "run/json.h"
#include "run/rundescription.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace cleftsim {

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// The replicates' seeds start past every index a fit's potentials take.
constexpr std::uint32_t ReplicateSeedIndex = 1u << 20;

// Two independent standard normal numbers from the uniform numbers in
// (0, 1) of mixSeed(seed, 1) and mixSeed(seed, 2) (Box and Muller).
std::pair<double, double> normalPair(std::uint32_t seed)
{
    const auto unit
        = [&](std::uint32_t index) { return (double(mixSeed(seed, index)) + 0.5) / 4294967296.0; };
    const double r = std::sqrt(-2 * std::log(unit(1))), angle = 2 * 3.14159265358979323846 * unit(2);
    return {r * std::cos(angle), r * std::sin(angle)};
}

// The sample mean and standard deviation of values, in their order.
std::pair<double, double> meanAndSd(const std::vector<double> &values)
{
    double sum = 0;
    for (double x : values)
        sum += x;
    const double mean = sum / double(values.size());
    double squares = 0;
    for (double x : values)
        squares += (x - mean) * (x - mean);
    return {mean, values.size() > 1 ? std::sqrt(squares / double(values.size() - 1)) : NaN};
}

std::string numberOrNull(double x)
{
    return std::isnan(x) ? std::string("null") : shortestNumber(x);
}

} // namespace

bool checkBootstrap(const FitRequest &request, RunProblem *problem)
{
    if (request.bootstrap < 0 || request.bootstrap > MaxBootstrapReplicates) {
        if (problem)
            *problem = {"bootstrap " + std::to_string(request.bootstrap), "out of range",
                "0 (none) .. " + std::to_string(MaxBootstrapReplicates) + " replicates"};
        return false;
    }
    if (request.bootstrap > 0)
        for (const MeasuredPoint &point : request.data.points)
            if (point.n > MaxRunTrials) {
                if (problem)
                    *problem = {"bootstrap",
                        "n " + std::to_string(point.n) + " at " + std::to_string(point.V)
                            + " mV: more trials than a replicate's recording runs",
                        "n at most " + std::to_string(MaxRunTrials) + " at every potential"};
                return false;
            }
    return true;
}

std::uint32_t replicateSeed(std::uint32_t seed, int replicate)
{
    return mixSeed(seed, ReplicateSeedIndex + static_cast<std::uint32_t>(replicate));
}

BootstrapPlan bootstrapPlan(const FitResult &result)
{
    BootstrapPlan plan;
    plan.request = result.request;
    plan.estimates = result.estimates;
    plan.noise = result.noise;
    for (const MeasuredPoint &point : result.request.data.points) {
        double peak = 0, quanta = 0;
        for (const FitTerm &term : result.terms) {
            if (term.V == point.V && term.quantity == "peak_pA")
                peak = term.model;
            if (term.V == point.V && term.quantity == "quanta")
                quanta = term.model;
        }
        plan.modelPeak.push_back(peak);
        plan.modelQuanta.push_back(quanta);
    }
    return plan;
}

std::string bootstrapPlanText(const BootstrapPlan &plan)
{
    const FitRequest &request = plan.request;
    std::string text = "{\"seed\": " + std::to_string(request.seed)
        + ", \"trials\": " + std::to_string(request.trials)
        + ", \"noise\": " + jsonString(noiseText(request.noise, request.noiseValue))
        + ", \"BackgroundOn\": " + std::to_string(request.fixed.BackgroundOn) + ", \"fixed\": {";
    bool first = true;
    for (const ParamInfo *info : numericParams()) {
        text += std::string(first ? "" : ", ") + jsonString(info->name) + ": "
            + shortestNumber(fieldValue(request.fixed, info->field));
        first = false;
    }
    text += "}, \"free\": [";
    for (std::size_t j = 0; j < request.free.size(); ++j)
        text += std::string(j > 0 ? ", " : "") + "[" + jsonString(request.free[j].info->name) + ", "
            + shortestNumber(request.free[j].low) + ", " + shortestNumber(request.free[j].high) + ", "
            + shortestNumber(plan.estimates[j]) + "]";
    text += "], \"noise_pA\": " + shortestNumber(plan.noise) + ", \"data\": " + jsonString(request.data.name)
        + ", \"points\": [";
    for (std::size_t i = 0; i < request.data.points.size(); ++i) {
        const MeasuredPoint &p = request.data.points[i];
        text += std::string(i > 0 ? ", " : "") + "[" + std::to_string(p.V) + ", " + std::to_string(p.n) + ", "
            + shortestNumber(p.meanPeak) + ", " + numberOrNull(p.semPeak) + ", " + numberOrNull(p.stdPeak)
            + ", " + (p.hasQuanta ? "true" : "false") + ", " + shortestNumber(p.meanQuanta) + ", "
            + numberOrNull(p.semQuanta) + ", " + (p.hasFailures ? "true" : "false") + ", "
            + shortestNumber(p.failureRate) + ", " + shortestNumber(plan.modelPeak[i]) + ", "
            + shortestNumber(plan.modelQuanta[i]) + "]";
    }
    return text + "]}";
}

bool readBootstrapPlan(const std::string &text, BootstrapPlan &plan, RunProblem *problem)
{
    const auto fail = [&](const std::string &reason) {
        if (problem)
            *problem = {"bootstrap plan", reason, "the text bootstrapPlanText writes"};
        return false;
    };
    JsonValue root;
    RunProblem why;
    if (!parseJson(text, root, &why))
        return fail(why.what + ": " + why.reason);
    const auto member = [&](const JsonValue &object, const char *key, JsonValue::Type type) {
        const JsonValue *value = object.type == JsonValue::Type::Object ? object.member(key) : nullptr;
        return value && value->type == type ? value : nullptr;
    };
    using T = JsonValue::Type;
    const JsonValue *seed = member(root, "seed", T::Number), *trials = member(root, "trials", T::Number),
                    *noise = member(root, "noise", T::String),
                    *background = member(root, "BackgroundOn", T::Number),
                    *fixed = member(root, "fixed", T::Object), *free = member(root, "free", T::Array),
                    *noiseValue = member(root, "noise_pA", T::Number),
                    *data = member(root, "data", T::String), *points = member(root, "points", T::Array);
    if (!seed || !trials || !noise || !background || !fixed || !free || !noiseValue || !data || !points)
        return fail("a member missing or of another type");
    if (!(seed->number >= 0 && seed->number <= 4294967295.0 && seed->number == std::floor(seed->number))
        || !(trials->number >= 1 && trials->number <= MaxRunTrials
            && trials->number == std::floor(trials->number)))
        return fail("the seed or the trials out of range");
    BootstrapPlan read;
    FitRequest &request = read.request;
    request.seed = static_cast<std::uint32_t>(seed->number);
    request.trials = static_cast<int>(trials->number);
    request.sensitivity.clear();
    if (!parseFitNoise(noise->string, &request.noise, &request.noiseValue, problem))
        return false;
    request.fixed = DefaultParameterSet;
    request.fixed.BackgroundOn = background->number != 0 ? 1 : 0;
    for (const ParamInfo *info : numericParams()) {
        const JsonValue *value = member(*fixed, info->name, T::Number);
        if (!value)
            return fail(std::string("the fixed value of ") + info->name + " missing");
        setFieldValue(request.fixed, info->field, value->number);
    }
    for (const JsonValue &item : free->array) {
        if (item.type != T::Array || item.array.size() != 4 || item.array[0].type != T::String)
            return fail("a free parameter not [name, low, high, estimate]");
        for (std::size_t k = 1; k < 4; ++k)
            if (item.array[k].type != T::Number)
                return fail("a free parameter not [name, low, high, estimate]");
        const ParamInfo *info = findParam(item.array[0].string);
        if (!info)
            return fail("unknown free parameter " + item.array[0].string);
        request.free.push_back({info, item.array[1].number, item.array[2].number});
        read.estimates.push_back(item.array[3].number);
    }
    read.noise = noiseValue->number;
    if (!(read.noise >= 0 && std::isfinite(read.noise)))
        return fail("the noise below 0 or not finite");
    request.data.name = data->string;
    for (const JsonValue &item : points->array) {
        static const T Types[] = {T::Number, T::Number, T::Number, T::Null, T::Null, T::Bool, T::Number,
            T::Null, T::Bool, T::Number, T::Number, T::Number};
        constexpr std::size_t Count = sizeof Types / sizeof Types[0];
        if (item.type != T::Array || item.array.size() != Count)
            return fail("a point not of " + std::to_string(Count) + " values");
        for (std::size_t k = 0; k < Count; ++k) {
            const T type = item.array[k].type;
            if (!(type == Types[k] || (Types[k] == T::Null && type == T::Number)))
                return fail("a point's value " + std::to_string(k + 1) + " of another type");
        }
        const auto number
            = [&](std::size_t k) { return item.array[k].type == T::Number ? item.array[k].number : NaN; };
        MeasuredPoint p;
        p.V = static_cast<int>(number(0));
        p.n = static_cast<int>(number(1));
        if (double(p.V) != number(0) || double(p.n) != number(1) || p.n < 0 || p.n > MaxRunTrials)
            return fail("a point's potential or trials not whole or out of range");
        p.meanPeak = number(2);
        p.semPeak = number(3);
        p.stdPeak = number(4);
        p.hasQuanta = item.array[5].boolean;
        p.meanQuanta = number(6);
        p.semQuanta = number(7);
        p.hasFailures = item.array[8].boolean;
        p.failureRate = number(9);
        if (p.n == 0 && (!(p.semPeak > 0) || (p.hasQuanta && !(p.semQuanta > 0)) || p.hasFailures))
            return fail("a point without n and without the standard errors its means need");
        request.data.points.push_back(p);
        read.modelPeak.push_back(number(10));
        read.modelQuanta.push_back(number(11));
    }
    if (!checkFit(request, problem))
        return false;
    plan = std::move(read);
    return true;
}

MeasuredData replicateRecording(const BootstrapPlan &plan, int replicate)
{
    const std::uint32_t recording = mixSeed(replicateSeed(plan.request.seed, replicate), 1);
    ParameterSet p = plan.request.fixed;
    for (std::size_t j = 0; j < plan.request.free.size(); ++j)
        setFieldValue(p, plan.request.free[j].info->field, plan.estimates[j]);
    MeasuredData data;
    data.name = plan.request.data.name + ", replicate " + std::to_string(replicate);
    for (std::size_t i = 0; i < plan.request.data.points.size(); ++i) {
        const MeasuredPoint &given = plan.request.data.points[i];
        const std::uint32_t pointSeed = mixSeed(recording, static_cast<std::uint32_t>(i));
        MeasuredPoint point = given;
        if (given.n == 0) {
            // The errors of the two means, from one pair of uniform numbers.
            const auto [peakError, quantaError] = normalPair(pointSeed);
            point.meanPeak = plan.modelPeak[i] + given.semPeak * peakError;
            if (given.hasQuanta)
                point.meanQuanta = plan.modelQuanta[i] + given.semQuanta * quantaError;
            data.points.push_back(point);
            continue;
        }
        const std::vector<IsvTrialResult> trials = runSeededIsvTrials(p, {given.V, pointSeed}, given.n);
        std::vector<double> peaks, quanta;
        int failures = 0;
        for (std::size_t j = 0; j < trials.size(); ++j) {
            const std::uint32_t trialSeed = mixSeed(pointSeed, static_cast<std::uint32_t>(j + 1));
            peaks.push_back(trials[j].peak + plan.noise * normalPair(trialSeed).first);
            quanta.push_back(trials[j].m);
            failures += trials[j].m == 0 ? 1 : 0;
        }
        const double root = std::sqrt(double(given.n));
        const auto [meanPeak, sdPeak] = meanAndSd(peaks);
        point.meanPeak = meanPeak;
        point.stdPeak = std::isnan(given.stdPeak) ? NaN : sdPeak;
        point.semPeak = std::isnan(given.semPeak) ? NaN : sdPeak / root;
        const auto [meanQuanta, sdQuanta] = meanAndSd(quanta);
        point.meanQuanta = given.hasQuanta ? meanQuanta : given.meanQuanta;
        point.semQuanta = std::isnan(given.semQuanta) ? NaN : sdQuanta / root;
        point.failureRate = given.hasFailures ? double(failures) / given.n : given.failureRate;
        data.points.push_back(point);
    }
    return data;
}

ReplicateFit fitReplicate(const BootstrapPlan &plan, int replicate, const std::function<bool()> &stop)
{
    FitRequest request = plan.request;
    request.data = replicateRecording(plan, replicate);
    request.seed = mixSeed(replicateSeed(plan.request.seed, replicate), 0);
    request.sensitivity.clear();
    request.bootstrap = 0;
    ReplicateFit fit;
    fit.estimates = fitEstimates(request, localFitEvaluator(request, 1, stop), &fit.evaluations, stop);
    return fit;
}

FitReplicates localFitReplicates(int workers, const std::function<bool()> &stop)
{
    if (workers <= 0)
        workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return [workers, stop](const BootstrapPlan &plan, const std::vector<int> &replicates,
               const std::function<void(int)> &done) {
        std::vector<ReplicateFit> fits(replicates.size());
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t next = 0, finished = 0, running = 0;
        std::exception_ptr failure;
        bool stopped = false;
        const auto work = [&] {
            std::unique_lock<std::mutex> lock(mutex);
            while (next < replicates.size() && !stopped && !failure) {
                const std::size_t i = next++;
                lock.unlock();
                try {
                    fits[i] = fitReplicate(plan, replicates[i], stop);
                    lock.lock();
                    ++finished;
                } catch (const FitStopped &) {
                    lock.lock();
                    stopped = true;
                } catch (...) {
                    lock.lock();
                    failure = std::current_exception();
                }
                changed.notify_all();
            }
            --running;
            changed.notify_all();
        };
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(workers), replicates.size());
        std::vector<std::thread> threads;
        running = count;
        for (std::size_t t = 0; t < count; ++t)
            threads.emplace_back(work);
        {
            std::unique_lock<std::mutex> lock(mutex);
            std::size_t told = 0;
            while (running > 0) {
                // The calling thread asks stop now and then: where it alone
                // sees an interrupt (Ctrl-C in Python), the replicates' own
                // checks then see it too.
                changed.wait_for(
                    lock, std::chrono::milliseconds(100), [&] { return running == 0 || finished != told; });
                if (stop && running > 0) {
                    lock.unlock();
                    stop();
                    lock.lock();
                }
                if (finished != told && done) {
                    told = finished;
                    lock.unlock();
                    done(static_cast<int>(told));
                    lock.lock();
                }
            }
        }
        for (std::thread &thread : threads)
            thread.join();
        if (failure)
            std::rethrow_exception(failure);
        if (stopped)
            fits.clear();
        return fits;
    };
}

std::pair<double, double> percentileInterval(std::vector<double> values)
{
    if (values.empty())
        return {NaN, NaN};
    std::sort(values.begin(), values.end());
    const std::size_t count = values.size();
    const std::size_t k = std::clamp<std::size_t>((count + 1) / 40, 1, count);
    return {values[k - 1], values[count - k]};
}

FitBootstrap runBootstrap(
    const FitResult &result, const FitReplicates &replicates, const std::function<void(int)> &done)
{
    FitBootstrap bootstrap;
    bootstrap.replicates = result.request.bootstrap;
    std::vector<int> indices;
    for (int r = 1; r <= bootstrap.replicates; ++r)
        indices.push_back(r);
    const std::vector<ReplicateFit> fits = replicates(bootstrapPlan(result), indices, done);
    if (fits.size() != indices.size())
        throw FitStopped();
    const std::size_t freeCount = result.request.free.size();
    for (const ReplicateFit &fit : fits) {
        if (fit.estimates.size() != freeCount)
            throw FitStopped();
        bootstrap.estimates.push_back(fit.estimates);
        bootstrap.evaluations += fit.evaluations;
    }
    for (std::size_t j = 0; j < freeCount; ++j) {
        std::vector<double> column;
        for (const std::vector<double> &estimates : bootstrap.estimates)
            column.push_back(estimates[j]);
        bootstrap.intervals.push_back(percentileInterval(column));
    }
    return bootstrap;
}

std::string bootstrapJson(const FitResult &result)
{
    const FitRequest &request = result.request;
    const FitBootstrap &b = result.bootstrap;
    std::string intervals, estimates;
    for (std::size_t j = 0; j < request.free.size() && j < b.intervals.size(); ++j) {
        const ParamInfo &info = *request.free[j].info;
        const std::string name = jsonString(info.name);
        intervals += std::string(j > 0 ? ", " : "") + name + ": [" + editorText(info, b.intervals[j].first)
            + ", " + editorText(info, b.intervals[j].second) + "]";
        estimates += std::string(j > 0 ? ", " : "") + name + ": [";
        for (std::size_t r = 0; r < b.estimates.size(); ++r)
            estimates += (r > 0 ? ", " : "") + editorText(info, b.estimates[r][j]);
        estimates += "]";
    }
    return "{\"replicates\": " + std::to_string(b.replicates)
        + ", \"method\": \"percentile\", \"level\": 0.95, \"intervals\": {" + intervals
        + "}, \"noise_pA\": " + formatFixed(result.noise, 2)
        + ", \"evaluations\": " + std::to_string(b.evaluations) + ", \"estimates\": {" + estimates + "}}";
}

std::string bootstrapSummaryText(const FitResult &result)
{
    std::string text;
    const FitBootstrap &b = result.bootstrap;
    for (std::size_t j = 0; j < result.request.free.size() && j < b.intervals.size(); ++j) {
        const ParamInfo &info = *result.request.free[j].info;
        text += std::string(info.name) + " bootstrap 95 % interval " + editorText(info, b.intervals[j].first)
            + " to " + editorText(info, b.intervals[j].second) + " (percentile, "
            + std::to_string(b.replicates) + " recordings simulated at the estimates and refitted)\n";
    }
    return text;
}

} // namespace cleftsim
