#pragma once

#include "model/parameterset.h"
#include "run/problem.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cleftsim {

// The stored states of a session as a states file keeps them: the states of
// the table in slot order (the first is "0: default"), the slot of the
// initial state and the current parameters when they differ from it (edits
// not stored; a file without them is valid).
struct StatesSession {
    std::vector<ParameterSet> states;
    int initial = 0;
    // Named as the initial state, which they were derived from.
    std::optional<ParameterSet> current;
};

// The format version this program writes and reads.
constexpr int StatesFileVersion = 1;
// A states file is refused above this size; a full table needs a few kB.
constexpr std::size_t MaxStatesFileBytes = 1 << 20;
// The longest state name a file may give, in characters: far above the
// longest the program makes ("15: 14>+n20RgV2EmaxV1rduexgfGmaxtcGb").
constexpr std::size_t MaxStateNameLength = 255;

// The stored states of a model state (slots 0..StoredCount), the slot that
// LPI is and LPC when its model differs from LPI.
StatesSession sessionOf(const ModelState &state);

// The JSON text of a states file.
std::string statesFileText(const StatesSession &session);

// Reads the text of a states file, checking everything the editors and the
// table would: the format and its version, every member of every state with
// its type, range and decimals (the switch 0 or 1, or false or true), Gb not
// above Gmax and 0 without the switch, the first state the default set, each
// name starting with its slot number, without control characters and at most
// MaxStateNameLength characters long, at most StoredSlots states, the initial
// slot among them, and the current parameters, when given, as a state. The
// JSON text itself must be UTF-8 and name no member of an object twice. On a
// fault returns false with the problem in *problem (its text() one line) and
// leaves session as it was.
bool parseStatesFile(const std::string &text, StatesSession &session, RunProblem *problem);

// Reads a states file from path (refusing a file above MaxStatesFileBytes
// before reading it); the system's reason when it cannot be read.
bool readStatesFile(const std::string &path, StatesSession &session, RunProblem *problem);

// The state of a session named by its full name ("2: 1>Rg") or its number
// ("2"); nullptr when there is none.
const ParameterSet *findState(const StatesSession &session, const std::string &nameOrNumber);

} // namespace cleftsim
