#pragma once

#include <memory>

#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"

namespace larkspin {

// One task at a time for one job of an owner: starting a task cancels the one
// the slot held (a newer snapshot, debounce or reload replaces the older).
// The cancelled task ends at its current co_await with TaskCancelled, as in a
// TaskScope; the slot's destructor cancels what it holds. Keep it among the
// owner's last members, like a TaskScope. Main thread only.
class TaskSlot {
public:
    TaskSlot() = default;
    ~TaskSlot() = default;  // the held scope cancels as it goes
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    // Cancels the held task and starts `task` in its place, on a later turn.
    void spawn(Task<void> task);
    // Cancels the held task, if any; the slot takes new tasks afterwards.
    void cancel();
    // True from spawn() until cancel() or the next spawn(), whether or not the
    // task has finished by then.
    bool holdsTask() const { return scope_ != nullptr; }

private:
    std::unique_ptr<TaskScope> scope_;
};

}  // namespace larkspin
