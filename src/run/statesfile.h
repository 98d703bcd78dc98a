#pragma once

#include "model/parameterset.h"
#include "run/fit.h"
#include "run/measureddata.h"
#include "run/problem.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cleftsim {

// A member of a states file that this version does not know (a comment, or
// what a later version adds), kept to be written back unchanged in its place:
// the member as it stood in the text ("\"comment\": \"by hand\""), and the
// member known here that it followed in its object (empty when it came
// before every known one).
struct KeptMember {
    std::string after;
    std::string text;
    bool operator==(const KeptMember &o) const { return after == o.after && text == o.text; }
};

// The members not known here of a file's top level, of each state (by slot;
// slots beyond the list have none) and of the current parameters.
struct KeptMembers {
    std::vector<KeptMember> top;
    std::vector<std::vector<KeptMember>> states;
    std::vector<KeptMember> current;
    bool operator==(const KeptMembers &o) const
    {
        return top == o.top && states == o.states && current == o.current;
    }
};

// The stored states of a session as a states file keeps them: the states of
// the table in slot order (the first is "0: default"), the slot of the
// initial state and the current parameters when they differ from it (edits
// not stored; a file without them is valid).
struct StatesSession {
    std::vector<ParameterSet> states;
    int initial = 0;
    // Named as the initial state, which they were derived from.
    std::optional<ParameterSet> current;
    // The recording loaded, its name, SHA-256 and rows, so that the session
    // reopens with it wherever its file has gone ("measured"; a file without
    // it is valid).
    std::optional<MeasuredData> measured;
    // The last fit to that recording ("fit", only with "measured"): its
    // request (data: the recording) and result, without the terms of the
    // likelihood, which a fit's JSON output holds.
    std::optional<FitResult> fit;
    // What the file held besides; written back by statesFileText.
    KeptMembers kept;
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

// The JSON text of a states file. The kept members are written as they were
// read, each after the known member it followed (when that one is not written,
// after the one before it), so that a file this program wrote, with members
// added by hand or by another version, reads and writes back byte for byte.
std::string statesFileText(const StatesSession &session);

// Reads the text of a states file, checking everything the editors and the
// table would: the format and its version, every member of every state with
// its type, range and decimals (the switch 0 or 1, or false or true), Gb not
// above Gmax and 0 without the switch, the first state the default set, each
// name starting with its slot number, without control characters and at most
// MaxStateNameLength characters long, at most StoredSlots states, the initial
// slot among them, and the current parameters, when given, as a state. The
// JSON text itself must be UTF-8 and name no member of an object twice.
// Members not known here are kept in session.kept, as they were written. On a
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
