#include "model/storedstates.h"

namespace cleftsim {

std::string DiffCode(const ParameterSet &current, const ParameterSet &initial)
{
    std::string d;
    if (current.BackgroundOn != initial.BackgroundOn)
        d += current.BackgroundOn == 1 ? "+" : "~";
    if (current.N != initial.N)
        d += "n" + std::to_string(current.N);
    static const Param reals[] = {Param::Rg, Param::V2, Param::Emax, Param::V1r, Param::du, Param::ex,
        Param::gf, Param::Gmax, Param::tc, Param::Gb};
    for (Param f : reals) {
        if (fieldValue(current, f) != fieldValue(initial, f))
            d += fieldCode(f);
    }
    return d;
}

std::string stateNumber(const std::string &name)
{
    const std::string::size_type colon = name.find(": ");
    return colon == std::string::npos ? name : name.substr(0, colon);
}

std::string storedStateName(int slot, const std::string &initialName, const std::string &diff)
{
    return std::to_string(slot) + ": " + stateNumber(initialName) + ">" + diff;
}

std::string nameForParameters(const ModelState &state, const ParameterSet &p)
{
    if (sameModel(p, state.LPI))
        return state.LPI.Name;
    for (int slot = 0; slot <= state.StoredCount && slot < StoredSlots; ++slot)
        if (sameModel(p, state.StoredStates[static_cast<std::size_t>(slot)]))
            return state.StoredStates[static_cast<std::size_t>(slot)].Name;
    // With the table full no slot is left for p: it is named by what differs
    // from the default set, without a slot number.
    if (state.StoredCount + 1 >= StoredSlots)
        return stateNumber(DefaultParameterSet.Name) + ">" + DiffCode(p, DefaultParameterSet);
    return storedStateName(state.StoredCount + 1, state.LPI.Name, DiffCode(p, state.LPI));
}

StoreOutcome storeCurrentState(ModelState &state)
{
    const std::string d = DiffCode(state.LPC, state.LPI);
    if (d.empty())
        return StoreOutcome::Unchanged;
    const int slot = state.StoredCount + 1;
    if (slot >= StoredSlots)
        return StoreOutcome::TableFull;
    state.StoredCount = slot;
    state.LPC.Name = storedStateName(slot, state.LPI.Name, d);
    state.LPI = state.LPC;
    state.StoredStates[static_cast<std::size_t>(slot)] = state.LPI;
    return StoreOutcome::Stored;
}

bool replaceStoredStates(ModelState &state, const std::vector<ParameterSet> &states)
{
    if (states.empty() || states.size() > static_cast<std::size_t>(StoredSlots))
        return false;
    for (std::size_t slot = 0; slot < state.StoredStates.size(); ++slot)
        state.StoredStates[slot] = slot < states.size() ? states[slot] : ParameterSet {};
    state.StoredCount = static_cast<int>(states.size()) - 1;
    return true;
}

bool restoreState(ModelState &state, int slot)
{
    if (slot < 0 || slot > state.StoredCount)
        return false;
    state.LPI = state.StoredStates[static_cast<std::size_t>(slot)];
    state.LPC = state.LPI;
    return true;
}

} // namespace cleftsim
