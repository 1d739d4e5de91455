#include "Platform/Async/TaskSlot.hpp"

#include <utility>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

void TaskSlot::spawn(Task<void> task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    // The old scope cancels as it goes; its tasks keep their own tokens.
    scope_ = std::make_unique<TaskScope>();
    scope_->spawn(std::move(task));
}

void TaskSlot::cancel() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    scope_.reset();
}

}  // namespace larkspin
