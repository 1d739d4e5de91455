#pragma once

#include <functional>
#include <string_view>

// The main thread never touches the disk while its loop runs: a read, stat or
// fsync there freezes every window for as long as the slowest disk takes (a
// network mount that went away). The file layer's entry points and the real
// system calls check it in debug builds, and fail loudly when it is broken.
//
// Allowed: every thread but the main one; the main thread outside a turn of
// the default main context (start-up before the loop first runs, tests that
// call file functions directly, the time after the loop has ended); the main
// thread once quitting has begun (MainThread::beginQuitting: queued writes
// are flushed then); and the main thread inside a FileAccessAllowance.
namespace larkspin::FileAccessCheck {

// The rule above, for the calling thread. In every build.
bool isAllowed();

// Allows file access on the main thread while it lives, also inside a turn
// of the main loop. For main() (reading what the program needs before its
// first window) and for tests that must; nesting is fine. Main thread only.
class Allowance {
public:
    Allowance();
    ~Allowance();
    Allowance(const Allowance&) = delete;
    Allowance& operator=(const Allowance&) = delete;
};

// What a broken rule does: by default the program aborts with `what` (the
// function that was called) in the message. Tests install a handler that
// records instead; null puts the default back.
using ViolationHandler = std::function<void(std::string_view what)>;
void setViolationHandlerForTesting(ViolationHandler handler);

// Calls the violation handler when the rule is broken; `what` names the call.
void check(const char* what);

}  // namespace larkspin::FileAccessCheck

#if defined(LARKSPIN_DEBUG_ASSERTS)
#define LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED() ::larkspin::FileAccessCheck::check(__func__)
#else
#define LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED() \
    do {                                      \
    } while (0)
#endif
