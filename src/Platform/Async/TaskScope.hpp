#pragma once

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Task.hpp"

namespace larkspin {

// The tasks of one owner, so that they end with it by construction:
//
//     class Handler {
//         void start(Request r) { tasks_.spawn(serve(std::move(r))); }
//         Task<void> serve(Request r) {              // a plain member
//             auto read = [path = r.path] { return readFile(path); };
//             auto bytes = co_await runOn(workers(), read);
//             respond(std::move(bytes));            // `this` is alive here
//         }
//         TaskScope tasks_;  // last: it goes first
//     };
//
// Once the scope is cancelled (its destructor does it), a task of the scope
// that has not started never starts, and one that waits ends at that co_await
// with TaskCancelled, on a later turn, without running any more of its code
// (except its catch blocks: a catch-all must let TaskCancelled pass). Tasks it
// awaits inherit the scope, so runOn, sleepFor and awaitCompletion deep down
// end the same way, tokens or not. Work already handed to an executor still
// runs; only its result is dropped.
class TaskScope {
public:
    TaskScope() = default;
    // Cancels.
    ~TaskScope() { cancel(); }
    TaskScope(const TaskScope&) = delete;
    TaskScope& operator=(const TaskScope&) = delete;

    // Starts `task` as a task of this scope on a later turn of the main loop,
    // as spawn() does. Safe from any thread. After cancel() the task is freed
    // without running.
    void spawn(Task<void> task);

    // Ends the scope's tasks (see above), for good. Idempotent; main thread.
    void cancel();
    bool isCancelled() const { return source_.isCancelled(); }

private:
    CancellationSource source_;
};

}  // namespace larkspin
