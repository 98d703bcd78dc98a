#pragma once

#include "model/parameterset.h"

#include <string>
#include <vector>

namespace cleftsim {

// The difference code of a parameter set against the set it was derived
// from: "+" or "~" when the background switch went on or off, "n" with the
// new number of sites when N changed, then the codes of the changed reals in
// the order Rg, V2, Emax, V1r, du, ex, gf, Gmax, tc, Gb. Exact comparison;
// the name is not compared. Empty when nothing differs.
std::string DiffCode(const ParameterSet &current, const ParameterSet &initial);

// The number of the state a name belongs to: the part before its first ": "
// (the whole name when it has none).
std::string stateNumber(const std::string &name);

// The name of a newly stored state: its slot, ": ", the number of the state it
// was derived from, ">" and the difference code ("2: 1>n12V2").
std::string storedStateName(int slot, const std::string &initialName, const std::string &diff);

// The name of the state a parameter set belongs to, to name what was made
// with it (files, figures): the initial state when its model equals p, else
// the first stored state whose model does, else the name a Store would give
// p now (nothing is stored); with the table full, "0>" and the difference
// code of p against the default set ("0>n12Rg").
std::string nameForParameters(const ModelState &state, const ParameterSet &p);

// What a store did.
enum class StoreOutcome {
    Unchanged, // the current set equals the initial one: nothing stored
    Stored, // a new slot was filled and became the initial set
    TableFull // a 16th slot would be needed: nothing changed
};

// Stores LPC of the model state as a new state if it differs from LPI: names
// it, makes it the initial set and puts it into the next slot. A full table
// leaves the whole model state as it was.
StoreOutcome storeCurrentState(ModelState &state);

// Replaces the table of stored states by states, slot 0 first, and empties
// the slots beyond them; the initial and the current set stay as they are.
// Returns false (and changes nothing) unless there are 1 to StoredSlots states.
bool replaceStoredStates(ModelState &state, const std::vector<ParameterSet> &states);

// Makes slot i the initial and the current set. Returns false (and changes
// nothing) when slot i is not filled.
bool restoreState(ModelState &state, int slot);

} // namespace cleftsim
