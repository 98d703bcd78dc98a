#pragma once

// Peak trials one after another: the loop of runPeakTrial (trial.h) with
// what the trials of one clamp potential share worked out once. Where no
// step is reported, a trial gives the same draws, releases and peak as the
// step rule from bounds on the thresholds of whole stretches of steps, a
// running sum of the conductance over the steps and the known places of the
// smallest states in the generator's stream.

#include "model/drawscan.h"
#include "model/smallstates.h"
#include "model/stepdecision.h"
#include "model/trial.h"
#include "model/trialtables.h"

#include <array>
#include <optional>

namespace cleftsim {

namespace detail {

// The extreme current of the conductances followed, with strict comparisons
// from 0 (the smallest where lowest, else the largest); a conductance equal
// to the one followed last is passed over, as its current is the same.
struct PeakFollower {
    double Vc;
    double Rg;
    bool lowest;
    double peak = 0;
    bool any = false;
    double followed = 0;
    void follow(double G)
    {
        if (any && G == followed)
            return;
        any = true;
        followed = G;
        const double I = stepCurrent(Vc, Rg, G);
        if (lowest ? I < peak : I > peak)
            peak = I;
    }
};

} // namespace detail

class PeakTrials {
public:
    // Trials with the parameters p (read now and while trials run: make a
    // new PeakTrials after an edit), at clamp potential Vc over the steps
    // kStart..kEnd, following the current of that kind.
    PeakTrials(const ParameterSet &p, int spikeSteps, double Vc, int kStart, int kEnd, PeakKind kind);
    ~PeakTrials();
    PeakTrials(const PeakTrials &) = delete;
    PeakTrials &operator=(const PeakTrials &) = delete;

    // One trial, as runPeakTrial runs it.
    PeakTrialResult run(SiteTable &sites, Generator &rng);

    // The longest window of steps the loop takes (the records window has 321).
    static constexpr int MaxLoopSteps = 512;
    // The loop for the kernels K of a draw scan (the scan's PeakLoopFunction),
    // made in the scan's file of kernels (peakloop.h).
    template <class K> static PeakTrialResult loopOn(PeakTrials &trials, SiteTable &sites, Generator &rng);

private:
    template <class K> PeakTrialResult loop(SiteTable &sites, Generator &rng);
    PeakTrialResult stepByStep(SiteTable &sites, Generator &rng);

    const ParameterSet &m_p;
    int m_N;
    double m_Vc;
    int m_kStart;
    int m_kEnd;
    bool m_wantLowest;
    bool m_wantHighest;
    std::optional<TrialTablesLease> m_lease; // none for an empty window
    TrialTables *m_t = nullptr;
    // The loop of the scan in use, where it applies.
    PeakLoopFunction m_loop = nullptr;
    detail::SmallStatePlace m_place;
    const double *m_onePeaks = nullptr; // the peaks of one release (see TrialTables::onePeak)
    // Steps whose draws are scanned at once against bounds of their own,
    // and those bounds, one for every draw and 64 to read past them.
    static constexpr int EachSteps = EachBoundSteps;
    alignas(64) std::array<std::uint32_t, MaxSites * EachSteps + 64> m_laneBound {};
};

} // namespace cleftsim
