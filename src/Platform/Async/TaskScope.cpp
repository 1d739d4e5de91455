#include "Platform/Async/TaskScope.hpp"

#include <utility>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

void TaskScope::spawn(Task<void> task) {
    auto handle = std::exchange(task.handle_, {});
    if (handle) detail::startInScope(handle, source_.token());
}

void TaskScope::cancel() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    source_.cancel();
}

}  // namespace larkspin
