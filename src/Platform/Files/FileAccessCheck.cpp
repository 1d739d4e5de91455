#include "Platform/Files/FileAccessCheck.hpp"

#include <glib.h>

#include <mutex>

#include "Platform/Async/MainThread.hpp"

namespace larkspin::FileAccessCheck {

namespace {

// Allowances open on the main thread; only the main thread touches it.
int gAllowances = 0;

std::mutex& handlerMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

ViolationHandler& handler() {
    static auto* current = new ViolationHandler();
    return *current;
}

// A turn of the default main context on this thread: g_main_depth() counts
// the dispatches under way on the thread, and owning the default context
// means that they are the main loop's.
bool insideMainLoopTurn() {
    return g_main_depth() > 0 && g_main_context_is_owner(g_main_context_default());
}

}  // namespace

bool isAllowed() {
    if (!MainThread::isMainThread()) return true;
    if (MainThread::isQuitting() || gAllowances > 0) return true;
    return !insideMainLoopTurn();
}

Allowance::Allowance() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    ++gAllowances;
}

Allowance::~Allowance() {
    --gAllowances;
}

void setViolationHandlerForTesting(ViolationHandler replacement) {
    std::lock_guard lock(handlerMutex());
    handler() = std::move(replacement);
}

void check(const char* what) {
    if (isAllowed()) return;
    ViolationHandler current;
    {
        std::lock_guard lock(handlerMutex());
        current = handler();
    }
    if (current) {
        current(what);
        return;
    }
    g_error("%s touches the disk on the main thread while its loop runs", what);
}

}  // namespace larkspin::FileAccessCheck
