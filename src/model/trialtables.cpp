#include "model/trialtables.h"

#include "model/synapse.h"

#include <algorithm>

namespace cleftsim {

namespace {

bool sameBits(double a, double b)
{
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

} // namespace

// The model fields compared bit for bit: tables made from the same bits are
// the same tables (a field of -0 against 0 only makes them anew).
bool TrialTables::matches(const ParameterSet &p, int spikeSteps, int kStart, int kEnd) const
{
    const ParameterSet &q = m_params;
    return m_valid && spikeSteps == m_spikeSteps && kStart >= m_kStart && kEnd <= m_kEnd
        && p.BackgroundOn == q.BackgroundOn && p.N == q.N && sameBits(p.Rg, q.Rg) && sameBits(p.V2, q.V2)
        && sameBits(p.Emax, q.Emax) && sameBits(p.V1r, q.V1r) && sameBits(p.du, q.du) && sameBits(p.ex, q.ex)
        && sameBits(p.gf, q.gf) && sameBits(p.Gmax, q.Gmax) && sameBits(p.tc, q.tc) && sameBits(p.Gb, q.Gb);
}

void TrialTables::build(const ParameterSet &p, int spikeSteps, int kStart, int kEnd)
{
    m_valid = false;
    const auto steps = static_cast<std::size_t>(kEnd - kStart) + 1;
    m_spike.resize(steps);
    m_quantum.resize(steps);
    for (int k = kStart; k <= kEnd; ++k)
        m_spike[static_cast<std::size_t>(k - kStart)] = SpikePotential(p, k * TimeStep);
    for (int d = 0; d <= kEnd - kStart; ++d)
        m_quantum[static_cast<std::size_t>(d)] = (p.Gmax - p.Gb) * ConductanceShape(p, d * TimeStep);
    m_quanta.assign(steps + 2 * QuantaPad, 0.0);
    std::copy(m_quantum.begin(), m_quantum.end(), m_quanta.begin() + QuantaPad);
    setLaw(p, spikeSteps);
    m_background = p.Gb * p.N;
    m_params = p;
    m_spikeSteps = spikeSteps;
    m_kStart = kStart;
    m_kEnd = kEnd;

    m_quantumCeiling.resize(steps);
    bool quantaUsable = true;
    double highest = 0;
    for (std::size_t d = 0; d < steps; ++d) {
        const double q = m_quantum[d];
        quantaUsable = quantaUsable && std::isfinite(q) && q >= 0;
        highest = q > highest ? q : highest;
        m_quantumCeiling[d] = highest;
    }
    m_sameSpikeUntil.resize(steps);
    bool spikeUsable = true;
    for (int k = kEnd; k >= kStart; --k) {
        const auto i = static_cast<std::size_t>(k - kStart);
        spikeUsable = spikeUsable && std::isfinite(m_spike[i]);
        const bool same = k < kEnd && std::memcmp(&m_spike[i], &m_spike[i + 1], sizeof(double)) == 0;
        m_sameSpikeUntil[i] = same ? m_sameSpikeUntil[i + 1] : k;
    }
    std::size_t top = 0;
    for (std::size_t d = 1; d < steps; ++d)
        top = m_quantum[d] > m_quantum[top] ? d : top;
    m_quantumTop = static_cast<int>(top);
    m_quantumUnimodal = quantaUsable;
    for (std::size_t d = 1; d < steps; ++d)
        if (d <= top ? m_quantum[d] < m_quantum[d - 1] : m_quantum[d] > m_quantum[d - 1])
            m_quantumUnimodal = false;
    // The grid of threshold bounds covers every conductance a trial can
    // have: the background and N quanta at the table's largest, summed as a
    // trial sums (rounding is monotone, so no sum of the trial exceeds it).
    double cap = m_background;
    for (int j = 0; j < p.N && j < MaxSites; ++j)
        cap += highest;
    m_gridStep = cap / (GridSize - GridSpareCells);
    m_gridScale = m_gridStep > 0 ? (1.0 + detail::BoundMargin) / m_gridStep : 0.0;
    m_gridSpike[0] = p.Emax;
    m_gridSpike[1] = p.V1r;
    m_grid.assign(static_cast<std::size_t>(2 * GridSize * 2), 0);
    m_coarse.assign(static_cast<std::size_t>(2 * CoarseRow * 2), Unmade);
    m_gridCells = m_grid.data();
    m_coarseCells = m_coarse.data();
    m_gridGeneration = 0;
    m_gridClampSet = false;
    const std::uint64_t zeroBits = 0;
    quantaUsable = quantaUsable && std::memcmp(&m_quantum[0], &zeroBits, sizeof zeroBits) == 0;
    m_stretchesUsable = (boundUsable() || noRelease()) && quantaUsable && spikeUsable
        && std::isfinite(m_background) && m_background >= 0 && std::isfinite(p.Rg) && p.Rg >= 0
        && std::isfinite(p.Emax);
    m_valid = true;
}

// A new clamp potential starts a new generation of the grid. The grid is
// used only where its cells are narrow enough to keep the bounds close: one
// cell changes the shift of the presynaptic potential by at most
// Rg |Vc| h, which is kept to GridCellShift ex.
void TrialTables::setGridClamp(double Vc)
{
    std::memcpy(&m_gridClampBits, &Vc, sizeof m_gridClampBits);
    m_gridClampSet = true;
    m_gridVc = Vc;
    if (++m_gridGeneration == 0) {
        std::fill(m_grid.begin(), m_grid.end(), 0);
        m_gridGeneration = 1;
    }
    m_gridUsable = m_stretchesUsable && !noRelease() && std::isfinite(Vc)
        && m_params.Rg * std::fabs(Vc) * m_gridStep <= GridCellShift * m_params.ex;
    // (Where the grid is not used no conductance finds a coarse cell but
    // the last of its row, which is never made.)
    if (m_gridUsable)
        std::fill(m_coarse.begin(), m_coarse.end(), Unmade);
    m_clampThreshold[0] = exactThresholdAtBackground(m_gridSpike[0], Vc);
    m_clampThreshold[1] = exactThresholdAtBackground(m_gridSpike[1], Vc);
    m_onePeakMade[0] = m_onePeakMade[1] = false;
}

// The step rule's threshold for a step whose conductance is the background.
std::uint64_t TrialTables::exactThresholdAtBackground(double E, double Vc) const
{
    return detail::stepThreshold(
        E, m_background, Vc, m_params.Rg, m_params.Emax, m_params.ex, releaseConstant());
}

// The conductance of a step d >= 1 steps after the one release is the
// background plus quantum(d), and that of every step before, and of the
// release step itself, the background plus quantum(0), as runPeakTrial sums
// them; following the currents in any order with strict comparisons gives
// the same extreme value (equal values have equal bits but for the zeros,
// which never replace the start at +0).
double TrialTables::onePeak(double Vc, bool lowest, int d)
{
    return onePeaks(Vc, lowest)[d];
}

const double *TrialTables::onePeaks(double Vc, bool lowest)
{
    useClamp(Vc);
    std::vector<double> &table = m_onePeak[lowest ? 1 : 0];
    if (!m_onePeakMade[lowest ? 1 : 0]) {
        const double Rg = m_params.Rg;
        table.resize(m_quantum.size());
        double peak = 0;
        for (std::size_t age = 0; age < m_quantum.size(); ++age) {
            const double G = m_background + m_quantum[age];
            const double I = detail::stepCurrent(Vc, Rg, G);
            if (lowest ? I < peak : I > peak)
                peak = I;
            table[age] = peak;
        }
        m_onePeakMade[lowest ? 1 : 0] = true;
    }
    return table.data();
}

// The bound of cell i of the slot, width cells of the grid wide, made for
// the conductances (width i - 1) h and width (i + 1) h between which all of
// the cell's lie (doc/exactness.md, "The grid"). Each bound is made when
// first asked for; those of the grid's own cells carry the generation they
// were made in.
void TrialTables::fillCell(int width, int slot, int i, bool upper)
{
    // A coarse cell is made with the others of its group of eight not yet
    // made: a trial that asks for one soon asks for its neighbours, and the
    // processor works on the eight side by side.
    const int from = width == 1 ? i : i & ~7;
    const int to = width == 1 ? i : from + 7;
    const double E = m_gridSpike[slot];
    for (int cell = from; cell <= to; ++cell) {
        std::uint64_t &entry = cellOf(width, slot, cell)[upper ? 1 : 0];
        if (cell != i && made(width, entry, m_gridGeneration))
            continue;
        const double Gup = width * (cell + 1) * m_gridStep;
        const double Gdown = cell >= 1 ? (width * cell - 1) * m_gridStep : 0.0;
        const std::uint32_t bound = upper
            ? detail::thresholdAboveAt(*this, E, Gup, m_gridVc, m_params.Rg, m_params.Emax)
            : detail::thresholdBelowAt(*this, E, Gdown, Gup, m_gridVc, m_params.Rg, m_params.Emax);
        entry = width == 1 ? static_cast<std::uint64_t>(m_gridGeneration) << 32 | bound : bound;
    }
}

// Apart from the loop's fast path, so that the loop stays small.
std::uint32_t TrialTables::thresholdAboveOutOfRow(int slot, double E, double G)
{
    return thresholdAboveIn(slot, E, G);
}

namespace {

TrialTables &sharedTables()
{
    thread_local TrialTables tables;
    return tables;
}

} // namespace

TrialTablesLease::TrialTablesLease(const ParameterSet &p, int spikeSteps, int kStart, int kEnd)
{
    TrialTables &shared = sharedTables();
    if (shared.inUse) {
        m_own = std::make_unique<TrialTables>();
        m_tables = m_own.get();
    } else {
        m_tables = &shared;
    }
    if (!m_tables->matches(p, spikeSteps, kStart, kEnd))
        m_tables->build(p, spikeSteps, kStart, kEnd);
    m_tables->inUse = true;
}

TrialTablesLease::~TrialTablesLease()
{
    m_tables->inUse = false;
}

} // namespace cleftsim
