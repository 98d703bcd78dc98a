#include "model/trial.h"

#include "model/rounding.h"

namespace cleftsim {

int shortWindowStart()
{
    return Round(SpikeOnset / TimeStep);
}

int shortWindowEnd(const ParameterSet &p)
{
    return Round((SpikeOnset + p.du + p.tc) / TimeStep);
}

bool TrialTables::matches(const ParameterSet &p, int spikeSteps, int kStart, int kEnd) const
{
    return m_valid && spikeSteps == m_spikeSteps && kStart >= m_kStart && kEnd <= m_kEnd
        && sameModel(p, m_params);
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
    m_c = 1.0 - std::exp(std::log(1.0 - p.gf) / spikeSteps);
    m_background = p.Gb * p.N;
    m_params = p;
    m_spikeSteps = spikeSteps;
    m_kStart = kStart;
    m_kEnd = kEnd;
    m_bound2 = 1.4426950408889634 / p.ex;
    m_boundScale = m_c * 4294967296.0 * (1.0 + 1e-9);
    m_boundUsable = m_c > 0 && std::isfinite(m_boundScale) && std::isfinite(m_bound2) && m_bound2 > 0;
    m_valid = true;
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
