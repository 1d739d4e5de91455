#pragma once

#include <chrono>
#include <functional>

#include "Platform/Async/Clock.hpp"

namespace larkspin::MainThread {

// Records the calling thread as the main thread (the thread that runs the
// default GMainContext). Call once, first thing in main() and in test mains.
void initialize();

// True on the thread given to initialize().
bool isMainThread();

// Marks the start of quitting: from now on the main thread may block in a
// BlockingWait (to let queued saves and drafts reach the disk before the
// process ends). Never undone.
void beginQuitting();
bool isQuitting();

// Runs `job` on the main thread on a later turn of the default main context,
// in FIFO order with every other posted job; one turn runs jobs for 20 ms at
// most, and the rest wait for the next. Never runs `job` synchronously, not
// even when called on the main thread. Safe from any thread.
void post(std::function<void()> job);

// Posts `job` (as post() does) once `delay` has passed on `clock`. Cancelling
// the handle stops the job until it starts running, including after the timer
// has fired and the job is already waiting in the main queue. Safe from any
// thread.
TimerHandle postAfter(Clock& clock, Clock::Duration delay, std::function<void()> job);

// Runs queued jobs on the calling (main) thread until the queue is empty or
// `maxRounds` turns of the main context have passed; for tests and shutdown.
void drainForTesting(int maxRounds = 1000);

// Runs one turn of the default main context on the calling (main) thread:
// what is ready, or else waits for something to become ready, but no longer
// than `maxWait`. For tests, benchmarks and waits that must turn the loop.
void turnMainLoop(std::chrono::milliseconds maxWait);

// Number of jobs waiting; for tests.
std::size_t pendingCount();

}  // namespace larkspin::MainThread

// Fails loudly in debug builds when called off the main thread.
#if defined(LARKSPIN_DEBUG_ASSERTS)
#include <glib.h>
#define LARKSPIN_ASSERT_MAIN_THREAD()                                                   \
    do {                                                                                \
        if (!::larkspin::MainThread::isMainThread()) {                                  \
            g_error("%s:%d: %s must run on the main thread", __FILE__, __LINE__, __func__); \
        }                                                                               \
    } while (0)
#else
#define LARKSPIN_ASSERT_MAIN_THREAD() \
    do {                              \
    } while (0)
#endif
