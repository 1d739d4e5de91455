#pragma once

// What the bounded waits of the display tests know of each other. A wait
// whose bound is long (`meantToEnd` or more: it only turns a hang into a
// failure) and runs out means that the page or the program is stuck; the
// waits after it would each run out in turn, and a test of a dozen waits
// would reach the test run's time-out before it failed. So once one has run
// out, the later waits of the same test look once and give up, and after
// three tests with such a wait every later wait of the process does: a
// broken run fails within minutes, each give-up saying where. Header-only and
// free of GoogleTest (the benchmarks wait with it too); the display tests'
// main starts each test with `beginTest`.

#include <chrono>
#include <cstdio>
#include <source_location>
#include <string>

namespace larkspin::test::waits {

// Bounds at least this long are bounds on a hang, not pauses.
inline constexpr std::chrono::seconds meantToEnd{10};
// After this many tests with a wait that ran out, no wait waits any more.
inline constexpr int testsBeforeGivingUp = 3;

struct State {
    std::string ranOutInTest;  // where a wait of the running test ran out
    std::string firstRanOut;   // the first such wait of the process
    int testsWithAWaitRunOut = 0;
};
inline State state;

inline std::string where(const std::source_location& location) {
    return std::string(location.file_name()) + ":" + std::to_string(location.line());
}

// A new test begins: its waits wait again (unless too many tests have had
// one run out).
inline void beginTest() { state.ranOutInTest.clear(); }

// Whether a wait at `location` with `bound` should wait at all; says why not.
inline bool shouldWait(std::chrono::milliseconds bound, const std::source_location& location) {
    if (bound < meantToEnd) return true;
    if (state.testsWithAWaitRunOut >= testsBeforeGivingUp) {
        std::fprintf(stderr, "%s: not waiting: waits in %d tests ran out, the first at %s\n",
                     where(location).c_str(), state.testsWithAWaitRunOut, state.firstRanOut.c_str());
        return false;
    }
    if (!state.ranOutInTest.empty()) {
        std::fprintf(stderr, "%s: not waiting: a wait of this test ran out at %s\n", where(location).c_str(),
                     state.ranOutInTest.c_str());
        return false;
    }
    return true;
}

// A wait at `location` ran out after `bound`.
inline void ranOut(std::chrono::milliseconds bound, const std::source_location& location) {
    std::fprintf(stderr, "%s: the wait ran out after %lld ms\n", where(location).c_str(),
                 static_cast<long long>(bound.count()));
    if (bound < meantToEnd || !state.ranOutInTest.empty()) return;
    state.ranOutInTest = where(location);
    if (state.firstRanOut.empty()) state.firstRanOut = state.ranOutInTest;
    ++state.testsWithAWaitRunOut;
}

}  // namespace larkspin::test::waits
