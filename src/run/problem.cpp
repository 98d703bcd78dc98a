#include "run/problem.h"

namespace cleftsim {

std::string RunProblem::text() const
{
    std::string s = what.empty() ? reason : what + ": " + reason;
    if (!accepted.empty())
        s += "; accepted " + accepted;
    return s;
}

} // namespace cleftsim
