// libFuzzer's entry for the states file reader. Whatever the bytes, the
// reader must neither crash nor hang (the sanitizers and libFuzzer's time
// limit watch that), and a file it takes must hold only what the editors
// would take: every state and the current parameters pass the run checks,
// the names are ones the table can show, and the table written back reads
// as the same table. A breach aborts, which libFuzzer reports with the input.

#include "model/parameterset.h"
#include "run/rundescription.h"
#include "run/statesfile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace cleftsim;

namespace {

[[noreturn]] void breach(const std::string &what)
{
    std::fprintf(stderr, "states file reader: %s\n", what.c_str());
    std::abort();
}

void checkAccepted(const ParameterSet &p, const std::string &which)
{
    RunDescription run;
    run.seeds = {1};
    run.params = p;
    RunProblem problem;
    if (!checkRun(run, &problem, "BackgroundOn 1"))
        breach(which + " taken although the run checks refuse it: " + problem.text());
    std::size_t characters = 0;
    for (const char ch : p.Name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            breach(which + " taken with a control character in its name");
        characters += (c & 0xC0) != 0x80;
    }
    if (characters > MaxStateNameLength)
        breach(which + " taken with a name of " + std::to_string(characters) + " characters");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    StatesSession session;
    RunProblem problem;
    if (!parseStatesFile(text, session, &problem)) {
        const std::string message = problem.text();
        if (message.empty() || message.find('\n') != std::string::npos)
            breach("a refusal without a one-line message: \"" + message + "\"");
        if (!session.states.empty())
            breach("a refusal that changed the session");
        return 0;
    }
    if (session.states.empty() || session.states.size() > std::size_t(StoredSlots))
        breach(std::to_string(session.states.size()) + " states taken");
    if (session.states.front() != DefaultParameterSet)
        breach("a first state other than the default set taken");
    if (session.initial < 0 || session.initial >= int(session.states.size()))
        breach("initial slot " + std::to_string(session.initial) + " taken");
    for (std::size_t slot = 0; slot < session.states.size(); ++slot) {
        const std::string which = "state " + std::to_string(slot);
        checkAccepted(session.states[slot], which);
        if (session.states[slot].Name.rfind(std::to_string(slot) + ": ", 0) != 0)
            breach(which + " taken with the name \"" + session.states[slot].Name + "\"");
    }
    if (session.current)
        checkAccepted(*session.current, "the current set");

    // Written back and read again, it is the same table, and writes the same bytes.
    const std::string written = statesFileText(session);
    StatesSession again;
    if (!parseStatesFile(written, again, &problem))
        breach("the table written back is refused: " + problem.text());
    if (again.states != session.states || again.initial != session.initial
        || again.current != session.current)
        breach("the table written back reads as another table");
    if (statesFileText(again) != written)
        breach("the table written back writes other bytes");
    return 0;
}
