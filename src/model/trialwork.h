#pragma once

// The trial loops' bound on their own work. Every round of a trial loop
// moves its step on by at least one (a quiet stretch is skipped whole, a
// decided step is left behind), so a window of S steps takes at most S
// rounds (doc/exactness.md, "Every round moves on"). A loop that takes more
// has a slip in its arithmetic, such as a quotient rounded the wrong way
// that leaves the step where it was: it stops the program with a message
// instead of spinning for ever. The count is kept in builds with checks
// (without NDEBUG: the Debug builds the tests run in); a Release build,
// whose loops it would slow by half a percent, leaves it out.

namespace cleftsim::detail {

// Says which loop went past its bound on standard error and aborts.
[[noreturn]] void trialWorkExceeded(const char *loop, int steps);

class TrialWork {
public:
    // A loop over a window of `steps` steps, named `loop` in the message.
#ifndef NDEBUG
    TrialWork(const char *loop, int steps)
        : m_loop(loop)
        , m_steps(steps)
        , m_left(steps)
    {
    }
    // One round of the loop.
    void round()
    {
        if (--m_left < 0)
            trialWorkExceeded(m_loop, m_steps);
    }

private:
    const char *m_loop;
    int m_steps;
    int m_left;
#else
    TrialWork(const char *, int) { }
    void round() { }
#endif
};

} // namespace cleftsim::detail
