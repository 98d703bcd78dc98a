#pragma once

// The tables of the trial routine: what the step rule needs that depends
// only on the parameters, the spike length and the step window, and the
// grid of threshold bounds kept for the last clamp potential.

#include "model/drawscan.h"
#include "model/lawbounds.h"
#include "model/parameterset.h"
#include "model/stepdecision.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace cleftsim {

// Values of the step rule that depend only on the parameters, the spike
// length and the step window, worked out once and looked up at every step.
// Every entry is computed by the same expression as the laws in synapse.h,
// so a looked-up value is bit for bit the value the law returns. The scales
// of the release law and its bounds are those of LawScales (lawbounds.h).
class TrialTables : public detail::LawScales {
public:
    TrialTables() = default;
    // The cells are reached through pointers into the tables' own storage.
    TrialTables(const TrialTables &) = delete;
    TrialTables &operator=(const TrialTables &) = delete;

    // Whether these tables were made from exactly these parameters (every
    // model field with the same bits) and cover the steps kStart..kEnd.
    bool matches(const ParameterSet &p, int spikeSteps, int kStart, int kEnd) const;
    // Makes the tables for p over the steps kStart..kEnd (kEnd >= kStart).
    void build(const ParameterSet &p, int spikeSteps, int kStart, int kEnd);

    // SpikePotential(k * TimeStep) [mV], kStart <= k <= kEnd.
    double spike(int k) const { return m_spike[static_cast<std::size_t>(k - m_kStart)]; }
    // spike(k), spike(k + 1), ... for a loop that reads them often.
    const double *spikesFrom(int k) const { return &m_spike[static_cast<std::size_t>(k - m_kStart)]; }
    // (Gmax - Gb) * ConductanceShape(d * TimeStep) [nS], 0 <= d <= kEnd - kStart.
    double quantum(int d) const { return m_quantum[static_cast<std::size_t>(d)]; }
    // quantum(0), quantum(1), ..., with 8 zeros before and after, for the
    // scans' whole vectors (see AddQuantaFunction).
    const double *quanta() const { return m_quanta.data() + QuantaPad; }
    // Background conductance of all sites, Gb * N [nS].
    double background() const { return m_background; }
    // The largest of quantum(0..d): a bound on quantum(d') for all d' <= d.
    double quantumCeiling(int d) const { return m_quantumCeiling[static_cast<std::size_t>(d)]; }
    // The last step of the run of steps from k on with the same spike potential.
    int sameSpikeUntil(int k) const { return m_sameSpikeUntil[static_cast<std::size_t>(k - m_kStart)]; }
    const int *sameSpikeUntilFrom(int k) const
    {
        return &m_sameSpikeUntil[static_cast<std::size_t>(k - m_kStart)];
    }
    // Whether the draws may be scanned over stretches of steps (see runTrial):
    // the release bound is usable and the conductances are finite and not
    // negative, so that the current only grows in size with the conductance.
    bool stretchesUsable() const { return m_stretchesUsable; }
    // Whether thresholdBand comes from the grid at Vc (cheap) rather than
    // from the law's bounds worked out on the spot.
    bool bandFromGrid(double Vc);
    // Where quantum(d) is largest (the first such d), and whether the table
    // never falls before it and never rises after it.
    int quantumTop() const { return m_quantumTop; }
    bool quantumUnimodal() const { return m_quantumUnimodal; }

    // Bounds on the threshold ceil(p 2^32) of a step at clamp potential Vc
    // with spike potential E and conductance G, only where
    // stretchesUsable(): no state at or above upper releases (upper 0: no
    // bound below 2^32), every state below lower does. They come from a grid
    // over G kept for the last clamp potential and filled in as trials need
    // it, so that a trial rarely divides or takes an exponential.
    void thresholdBand(double E, double G, double Vc, std::uint32_t &lower, std::uint32_t &upper);
    std::uint32_t thresholdAbove(double E, double G, double Vc);

    // The exact threshold ceil(p 2^32) of a step at clamp potential Vc and
    // spike potential E whose conductance is the background alone (no site
    // has released yet): 0 where no state releases, 2^32 where every state
    // does. Worked out by the step rule's own expressions, once per clamp
    // potential for the two spike potentials.
    std::uint64_t thresholdBeforeRelease(double E, double Vc);
    // The extreme current of a trial at clamp potential Vc (lowest: the most
    // negative, else the most positive, followed from 0 as runPeakTrial
    // follows it) whose one release came d steps before its last step:
    // over the background's current and those of the one quantum at ages
    // 1..d. Worked out for all d on the first call at a clamp potential.
    double onePeak(double Vc, bool lowest, int d);
    // The same for every d at once: valid while the clamp potential stays.
    const double *onePeaks(double Vc, bool lowest);

    // The same for trials that all run at clamp potential Vc, after
    // useClamp(Vc), by the slot of the spike potential (gridSlot: -1 for a
    // spike potential the grid does not hold), without asking for the clamp
    // potential at every question.
    void useClamp(double Vc);
    int gridSlot(double E) const { return detail::gridSlotOf(E, m_gridSpike); }
    double gridSpike(int slot) const { return m_gridSpike[slot]; }
    // These come from cells of Coarse cells of the grid, which fewer trials
    // fill; thresholdBandFineIn from the grid's own.
    std::uint32_t thresholdAboveIn(int slot, double E, double G);
    void thresholdBandIn(int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper);
    void thresholdBandFineIn(int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper);
    std::uint64_t thresholdBeforeReleaseIn(int slot, double E);
    // The coarse cells of one slot as they stand, for a loop that asks for
    // many of their upper bounds (thresholdAboveIn with the row): a scale of
    // infinity where the grid does not hold the slot, so that every
    // conductance finds the row's last cell, which is never filled. Valid
    // until the next useClamp.
    struct UpperRow {
        const std::uint64_t *cells = nullptr; // [i][lower, upper]
        double scale = HUGE_VAL;
        double limit = GridSize; // x = G scale from here on: the last cell
    };
    UpperRow upperRow(int slot) const;
    std::uint32_t thresholdAboveIn(const UpperRow &row, int slot, double E, double G);

    bool inUse = false; // a trial is reading these tables now

private:
    bool m_valid = false;
    ParameterSet m_params;
    int m_spikeSteps = 0;
    int m_kStart = 0;
    int m_kEnd = -1;
    std::vector<double> m_spike;
    std::vector<double> m_quantum;
    static constexpr std::size_t QuantaPad = 8;
    std::vector<double> m_quanta; // m_quantum with QuantaPad zeros on either side
    double m_background = 0;
    std::vector<double> m_quantumCeiling;
    std::vector<int> m_sameSpikeUntil;
    bool m_stretchesUsable = false;
    int m_quantumTop = 0;
    bool m_quantumUnimodal = false;

    // The grid of threshold bounds: entry (slot, i) holds, tagged with the
    // generation it was made in, the bounds for the spike potential of the
    // slot and every G with i = trunc(G / h (1 + BoundMargin)).
    static constexpr int GridSize = 2048;
    // The cells past the largest conductance a trial can have, whose cell is
    // then at most GridSize - GridSpareCells: a whole number of coarse cells,
    // so that a conductance raised by the margin, the cell after it that
    // bounds it from above and the row's last coarse cell, which is never
    // made, all stay clear of one another (doc/exactness.md, "The grid").
    static constexpr int GridSpareCells = 48;
    // The grid is used where one cell shifts the presynaptic potential by at
    // most GridCellShift ex, so that the law changes across a cell by a
    // factor of at most exp(0.02), about 2 %: bands narrow enough to decide
    // nearly every state.
    static constexpr double GridCellShift = 0.02;
    const std::uint64_t *gridEntry(double E, double G, double Vc);
    void setGridClamp(double Vc);
    // Cells of the grid in one coarse cell, as the loop's step bounds kernel
    // (EachBoundsFunction) reads them.
    static constexpr int Coarse = EachBoundWidth;
    // A row of coarse cells holds one more, past the grid, never filled. A
    // coarse bound not yet made is Unmade (above every bound); the bounds of
    // the grid's own cells carry the generation in their upper half.
    static constexpr int CoarseRow = GridSize / Coarse + 1;
    static constexpr std::uint64_t Unmade = UnmadeBound;
    static bool made(int width, std::uint64_t entry, std::uint32_t generation)
    {
        return width == 1 ? entry >> 32 == generation : entry != Unmade;
    }
    // The entry [lower, upper] of cell i of the slot in the grid (width 1)
    // or its coarse cells (width Coarse), and the making of one of its bounds.
    std::uint64_t *cellOf(int width, int slot, int i)
    {
        if (width == 1)
            return m_gridCells
                + (static_cast<std::size_t>(slot) * GridSize + static_cast<std::size_t>(i)) * 2;
        return m_coarseCells + (static_cast<std::size_t>(slot) * CoarseRow + static_cast<std::size_t>(i)) * 2;
    }
    void fillCell(int width, int slot, int i, bool upper);
    std::uint32_t thresholdAboveOutOfRow(int slot, double E, double G);
    void bandIn(int width, int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper);
    std::vector<std::uint64_t> m_coarse; // [slot][i / Coarse][lower, upper], CoarseRow cells a slot
    std::vector<std::uint64_t> m_grid; // [slot][i][lower, upper]
    std::uint64_t *m_gridCells = nullptr; // m_grid.data()
    std::uint64_t *m_coarseCells = nullptr; // m_coarse.data()
    std::uint32_t m_gridGeneration = 0;
    std::uint64_t m_gridClampBits = 0;
    bool m_gridClampSet = false;
    bool m_gridUsable = false;
    double m_gridVc = 0;
    double m_gridStep = 0; // h [nS]
    double m_gridScale = 0; // (1 + BoundMargin) / h
    double m_gridSpike[2] = {0, 0}; // spike potential of each slot
    // What else is kept for the last clamp potential: the thresholds before
    // any release at the two spike potentials, the peaks of one release.
    std::uint64_t exactThresholdAtBackground(double E, double Vc) const;
    std::uint64_t m_clampThreshold[2] = {0, 0};
    bool m_onePeakMade[2] = {false, false}; // highest, lowest
    std::vector<double> m_onePeak[2];
};

// Hands a trial the tables for its parameters: the thread's shared tables,
// rebuilt when the parameters differ from those they were made from, or,
// for a trial started while another one runs, tables of its own.
class TrialTablesLease {
public:
    TrialTablesLease(const ParameterSet &p, int spikeSteps, int kStart, int kEnd);
    ~TrialTablesLease();
    TrialTablesLease(const TrialTablesLease &) = delete;
    TrialTablesLease &operator=(const TrialTablesLease &) = delete;

    TrialTables &tables() const { return *m_tables; }

private:
    TrialTables *m_tables = nullptr;
    std::unique_ptr<TrialTables> m_own;
};

inline const std::uint64_t *TrialTables::gridEntry(double E, double G, double Vc)
{
    useClamp(Vc);
    if (!m_gridUsable)
        return nullptr;
    const int slot = gridSlot(E);
    const double x = G * m_gridScale;
    if (slot < 0 || !(x < GridSize - 1))
        return nullptr;
    const auto i = static_cast<int>(x);
    const std::uint64_t *entry = cellOf(1, slot, i);
    if (entry[0] >> 32 != m_gridGeneration)
        fillCell(1, slot, i, false);
    if (entry[1] >> 32 != m_gridGeneration)
        fillCell(1, slot, i, true);
    return entry;
}

// The one check of the clamp potential: a new one (by its bits) starts a
// new generation of the grid.
inline void TrialTables::useClamp(double Vc)
{
    std::uint64_t clampBits;
    std::memcpy(&clampBits, &Vc, sizeof clampBits);
    if (!m_gridClampSet || clampBits != m_gridClampBits)
        setGridClamp(Vc);
}

inline std::uint32_t TrialTables::thresholdAboveIn(int slot, double E, double G)
{
    const double x = G * m_gridScale;
    if (slot >= 0 && m_gridUsable && x < GridSize - 1) {
        const int i = static_cast<int>(static_cast<unsigned>(x) / Coarse);
        const std::uint64_t *entry = cellOf(Coarse, slot, i);
        if (entry[1] == Unmade)
            fillCell(Coarse, slot, i, true);
        return static_cast<std::uint32_t>(entry[1]);
    }
    return detail::thresholdAboveAt(*this, E, G, m_gridVc, m_params.Rg, m_params.Emax);
}

inline TrialTables::UpperRow TrialTables::upperRow(int slot) const
{
    UpperRow row;
    row.cells = m_coarseCells + static_cast<std::size_t>(slot > 0 ? slot : 0) * CoarseRow * 2;
    if (slot >= 0 && m_gridUsable)
        row.scale = m_gridScale;
    return row;
}

// As thresholdAboveIn(slot, E, G), from the row where its cell is made. A
// conductance with x = G (1 + BoundMargin) / h below GridSize has its coarse cell,
// whose bound holds up to GridSize h; a larger one (or NaN, from a scale of
// infinity at G = 0) takes the row's last cell, which is never made.
inline std::uint32_t TrialTables::thresholdAboveIn(const UpperRow &row, int slot, double E, double G)
{
    const double x = G * row.scale;
    const double inRow = x < double(GridSize) ? x : double(GridSize);
    const std::uint64_t entry = row.cells[(static_cast<unsigned>(inRow) / Coarse) * 2 + 1];
    if (entry != Unmade)
        return static_cast<std::uint32_t>(entry);
    return thresholdAboveOutOfRow(slot, E, G);
}

inline void TrialTables::thresholdBandIn(
    int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper)
{
    bandIn(Coarse, slot, E, G, lower, upper);
}

inline void TrialTables::thresholdBandFineIn(
    int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper)
{
    bandIn(1, slot, E, G, lower, upper);
}

// The band of the cell of G, `width` cells of the grid wide (1 or Coarse).
inline void TrialTables::bandIn(
    int width, int slot, double E, double G, std::uint32_t &lower, std::uint32_t &upper)
{
    const double x = G * m_gridScale;
    if (slot >= 0 && m_gridUsable && x < GridSize - 1) {
        const int i = static_cast<int>(static_cast<unsigned>(x) / static_cast<unsigned>(width));
        const std::uint64_t *entry = cellOf(width, slot, i);
        if (!made(width, entry[0], m_gridGeneration))
            fillCell(width, slot, i, false);
        if (!made(width, entry[1], m_gridGeneration))
            fillCell(width, slot, i, true);
        lower = static_cast<std::uint32_t>(entry[0]);
        upper = static_cast<std::uint32_t>(entry[1]);
        return;
    }
    upper = detail::thresholdAboveAt(*this, E, G, m_gridVc, m_params.Rg, m_params.Emax);
    lower = detail::thresholdBelowAt(*this, E, G, G, m_gridVc, m_params.Rg, m_params.Emax);
}

inline std::uint64_t TrialTables::thresholdBeforeReleaseIn(int slot, double E)
{
    if (slot >= 0)
        return m_clampThreshold[slot];
    return exactThresholdAtBackground(E, m_gridVc);
}

inline bool TrialTables::bandFromGrid(double Vc)
{
    useClamp(Vc);
    return m_gridUsable;
}

inline std::uint32_t TrialTables::thresholdAbove(double E, double G, double Vc)
{
    if (const std::uint64_t *entry = gridEntry(E, G, Vc))
        return static_cast<std::uint32_t>(entry[1]);
    return detail::thresholdAboveAt(*this, E, G, Vc, m_params.Rg, m_params.Emax);
}

inline std::uint64_t TrialTables::thresholdBeforeRelease(double E, double Vc)
{
    useClamp(Vc);
    return thresholdBeforeReleaseIn(gridSlot(E), E);
}

inline void TrialTables::thresholdBand(
    double E, double G, double Vc, std::uint32_t &lower, std::uint32_t &upper)
{
    if (const std::uint64_t *entry = gridEntry(E, G, Vc)) {
        lower = static_cast<std::uint32_t>(entry[0]);
        upper = static_cast<std::uint32_t>(entry[1]);
        return;
    }
    upper = detail::thresholdAboveAt(*this, E, G, Vc, m_params.Rg, m_params.Emax);
    lower = detail::thresholdBelowAt(*this, E, G, G, Vc, m_params.Rg, m_params.Emax);
}

} // namespace cleftsim
