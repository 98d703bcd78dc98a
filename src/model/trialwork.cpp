#include "model/trialwork.h"

#include <cstdio>
#include <cstdlib>

namespace cleftsim::detail {

void trialWorkExceeded(const char *loop, int steps)
{
    std::fprintf(stderr,
        "cleftsim: the %s took more rounds than its window has steps (%d): a round that does not move "
        "the step on\n",
        loop, steps);
    std::abort();
}

} // namespace cleftsim::detail
