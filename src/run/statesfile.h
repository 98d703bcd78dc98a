#pragma once

#include "model/parameterset.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cleftsim {

// The stored states of a session as a states file keeps them: the states of
// the table in slot order (the first is "0: default") and the slot of the
// initial state.
struct StatesSession {
    std::vector<ParameterSet> states;
    int initial = 0;
};

// The format version this program writes and reads.
constexpr int StatesFileVersion = 1;
// A states file is refused above this size; a full table needs a few kB.
constexpr std::size_t MaxStatesFileBytes = 1 << 20;

// The stored states of a model state (slots 0..StoredCount) and the slot that LPI is.
StatesSession sessionOf(const ModelState &state);

// The JSON text of a states file.
std::string statesFileText(const StatesSession &session);

// Reads the text of a states file, checking everything the editors and the
// table would: the format and its version, every member of every state with
// its type, range and decimals, Gb not above Gmax and 0 without the switch,
// the first state the default set, each name starting with its slot number,
// at most StoredSlots states, the initial slot among them. On a fault returns
// false with one line naming the problem in *problem and leaves session as it was.
bool parseStatesFile(const std::string &text, StatesSession &session, std::string *problem);

// Reads a states file from path (refusing a file above MaxStatesFileBytes
// before reading it); the system's message when it cannot be read.
bool readStatesFile(const std::string &path, StatesSession &session, std::string *problem);

// The state of a session named by its full name ("2: 1>Rg") or its number
// ("2"); nullptr when there is none.
const ParameterSet *findState(const StatesSession &session, const std::string &nameOrNumber);

} // namespace cleftsim
