#pragma once

#include <string>

namespace cleftsim {

// The one way the Qt-free core says why it refused something: what was
// refused ("Rg 0.505", "line 3, column 7"), why, and what is accepted (empty
// where nothing short can be said). The batch tool, the Python module and the
// windows turn it into their own words.
struct RunProblem {
    std::string what;
    std::string reason;
    std::string accepted;
    // "what: reason; accepted accepted", or "what: reason" when nothing is
    // said of what is accepted.
    std::string text() const;
};

} // namespace cleftsim
