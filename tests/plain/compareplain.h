#pragma once

// What the exactness tests of the trial routine share: observers that keep
// a trial's reports, their comparison bit for bit, jumps of the generator
// worked out independently of the routine's own tables, and the comparison
// of a fast trial (every path: reports, no p, no observer, the peak trials)
// with the plain step rule from the same seed, on every scan.

#include "everyscan.h"
#include "model/peaktrial.h"
#include "model/trial.h"
#include "plaintrial.h"

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

namespace cleftsim::testing {

// Keeps everything a trial reports.
struct Recorder {
    std::vector<StepReport> steps;
    std::vector<std::pair<int, int>> releases;
    void step(const StepReport &s) { steps.push_back(s); }
    void release(int j, int k) { releases.emplace_back(j, k); }
};

// Keeps the reports of a trial but does not read p.
struct QuietRecorder : Recorder {
    static constexpr bool usesProbability = false;
    void step(const StepReport &s)
    {
        Recorder::step(s);
        steps.back().p = 0;
    }
};

// Compares two trials' reports bit for bit; returns an empty string when equal.
inline QString difference(const Recorder &a, const Recorder &b)
{
    if (a.steps.size() != b.steps.size())
        return QStringLiteral("%1 steps against %2").arg(a.steps.size()).arg(b.steps.size());
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
        const StepReport &x = a.steps[i];
        const StepReport &y = b.steps[i];
        if (x.k != y.k || bits(x.E) != bits(y.E) || bits(x.G) != bits(y.G) || bits(x.I) != bits(y.I)
            || bits(x.Vpre) != bits(y.Vpre) || bits(x.p) != bits(y.p))
            return QStringLiteral("step %1: G %2/%3 I %4/%5 p %6/%7")
                .arg(x.k)
                .arg(x.G, 0, 'g', 17)
                .arg(y.G, 0, 'g', 17)
                .arg(x.I, 0, 'g', 17)
                .arg(y.I, 0, 'g', 17)
                .arg(x.p, 0, 'g', 17)
                .arg(y.p, 0, 'g', 17);
    }
    if (a.releases != b.releases)
        return QStringLiteral("releases differ");
    return QString();
}

// Generator state after n draws from s (any n below 2^32), by squaring the
// step: the jump over 2^b draws is the jump over 2^(b-1) done twice.
inline std::uint32_t jumped(std::uint32_t s, std::uint64_t n)
{
    std::uint64_t mul = 134775813ull, add = 1ull, x = s;
    for (; n != 0; n >>= 1) {
        if (n & 1)
            x = (x * mul + add) % 4294967296ull;
        add = (add * mul + add) % 4294967296ull;
        mul = (mul * mul) % 4294967296ull;
    }
    return static_cast<std::uint32_t>(x);
}

// The seed that many draws before state x: on the cycle of 2^32 states,
// 2^32 - n draws after it.
inline std::uint32_t drawsBefore(std::uint32_t x, std::uint32_t n)
{
    return jumped(x, (std::uint64_t(1) << 32) - n);
}

// Generator state after n draws from s, by the recurrence in 64-bit arithmetic.
inline std::uint32_t advanced(std::uint32_t s, long long n)
{
    std::uint64_t x = s;
    for (long long i = 0; i < n; ++i)
        x = (x * 134775813ull + 1ull) % 4294967296ull;
    return static_cast<std::uint32_t>(x);
}

struct Case {
    ParameterSet p;
    double Vc;
    int kStart;
    int kEnd;
};

// Runs the fast and the plain trial from the same seed and compares all.
inline QString compareWithPlain(const Case &c, std::uint32_t seed)
{
    const int spikeSteps = spikeStepsFor(c.p.du);
    SiteTable fastSites, plainSites;
    fastSites.fill(Site {false, 99});
    Generator fastRng(seed), plainRng(seed);
    Recorder fast, plain;
    const int mFast = runTrial(c.p, spikeSteps, fastSites, fastRng, c.Vc, c.kStart, c.kEnd, fast);
    const int mPlain = plainTrial(c.p, spikeSteps, plainSites, plainRng, c.Vc, c.kStart, c.kEnd, plain);
    const QString d = difference(fast, plain);
    if (!d.isEmpty())
        return d;
    if (mFast != mPlain)
        return QStringLiteral("m %1 against %2").arg(mFast).arg(mPlain);
    if (fastRng.seed() != plainRng.seed())
        return QStringLiteral("generator left at %1 against %2").arg(fastRng.seed()).arg(plainRng.seed());
    for (int j = 1; j <= c.p.N; ++j)
        if (fastSites[j].Available != plainSites[j].Available
            || fastSites[j].ReleaseStep != plainSites[j].ReleaseStep)
            return QStringLiteral("site %1 differs").arg(j);
    // An observer that does not read p lets the trial skip the release law
    // where a bound rules every release out: it must draw and decide the same.
    Generator quietRng(seed);
    QuietRecorder quiet;
    if (runTrial(c.p, spikeSteps, fastSites, quietRng, c.Vc, c.kStart, c.kEnd, quiet) != mPlain
        || quietRng.seed() != plainRng.seed())
        return QStringLiteral("the quiet trial differs");
    for (StepReport &s : plain.steps)
        s.p = 0;
    const QString q = difference(quiet, plain);
    if (!q.isEmpty())
        return QStringLiteral("quiet: ") + q;
    Generator noneRng(seed);
    NoObserver none;
    if (runTrial(c.p, spikeSteps, fastSites, noneRng, c.Vc, c.kStart, c.kEnd, none) != mPlain
        || noneRng.seed() != plainRng.seed())
        return QStringLiteral("the trial without observer differs");
    // The peak trials: the extreme current followed step by step from 0.
    for (PeakKind kind : {PeakKind::BySign, PeakKind::Inward}) {
        double peak = 0;
        for (const StepReport &s : plain.steps) {
            if ((kind == PeakKind::Inward || c.Vc < 0) && s.I < peak)
                peak = s.I;
            if (kind == PeakKind::BySign && c.Vc > 0 && s.I > peak)
                peak = s.I;
        }
        Generator peakRng(seed);
        SiteTable peakSites;
        peakSites.fill(Site {false, 77});
        const PeakTrialResult r
            = runPeakTrial(c.p, spikeSteps, peakSites, peakRng, c.Vc, c.kStart, c.kEnd, kind);
        if (r.m != mPlain || peakRng.seed() != plainRng.seed())
            return QStringLiteral("the peak trial draws differently");
        if (bits(r.peak) != bits(peak))
            return QStringLiteral("peak %1 against %2").arg(r.peak, 0, 'g', 17).arg(peak, 0, 'g', 17);
        int first = -1; // none
        for (int j = 1; j <= c.p.N; ++j) {
            if (peakSites[j].Available != plainSites[j].Available
                || peakSites[j].ReleaseStep != plainSites[j].ReleaseStep)
                return QStringLiteral("peak trial: site %1 differs").arg(j);
            if (!plainSites[j].Available && (first < 0 || plainSites[j].ReleaseStep < first))
                first = plainSites[j].ReleaseStep;
        }
        if (r.first != first)
            return QStringLiteral("peak trial: first release at step %1 against %2").arg(r.first).arg(first);
    }
    return QString();
}

// compareWithPlain with every draw scan this processor has.
inline QString compareWithPlainOnEveryScan(const Case &c, std::uint32_t seed)
{
    for (const std::string &scan : availableDrawScans()) {
        cleftsim::testing::ScanInUse use(scan);
        if (!use.used())
            return QStringLiteral("the %1 scan cannot be chosen").arg(QString::fromStdString(scan));
        const QString d = compareWithPlain(c, seed);
        if (!d.isEmpty())
            return QString::fromStdString(scan) + QStringLiteral(" scan: ") + d;
    }
    return QString();
}

} // namespace cleftsim::testing
