#include "Platform/Async/Task.hpp"

#include <cstdlib>

#include "Platform/Log.hpp"

namespace larkspin {

const char* BrokenPromise::what() const noexcept {
    return "operation abandoned without a result";
}

void spawn(Task<void> task) {
    auto handle = std::exchange(task.handle_, {});
    if (handle) detail::startInScope(handle, {});
}

namespace detail {

void startInScope(std::coroutine_handle<TaskPromise<void>> handle, CancellationToken scope) {
    auto& promise = handle.promise();
    promise.started = true;
    promise.detached = true;
    promise.scope = std::move(scope);
    MainThread::post([handle] {
        // Its scope went before it could start: it has never run, so it is
        // freed without running.
        if (handle.promise().scope.isCancelled()) {
            handle.destroy();
            return;
        }
        handle.resume();
    });
}

void reportDetachedTaskError(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled&) {
        AppLog::document.debug("后台任务已取消");
    } catch (const std::exception& e) {
        AppLog::document.fault("后台任务因错误结束：%{private}s", e.what());
    } catch (...) {
        AppLog::document.fault("后台任务因未知错误结束");
    }
}

void taskMisuse(const char* what) noexcept {
    AppLog::document.fault("协程使用错误：%{public}s", what);
    std::abort();
}

bool OperationCoreBase::claim(State how) noexcept {
    int previous = pending;
    if (state_.compare_exchange_strong(previous, how, std::memory_order_acq_rel)) return true;
    // Late cancels and broken promises are expected; a second result is a bug
    // in the code that completes the operation.
    const bool isResult = how == resolved || how == failed;
    if (isResult && (previous == resolved || previous == failed)) {
        AppLog::document.fault("异步操作重复完成，忽略后一次结果");
    }
    return false;
}

void OperationCoreBase::resumeWaiter() noexcept {
    MainThread::post([waiter = waiter_] { waiter.resume(); });
}

bool OperationCoreBase::fail(std::exception_ptr error) noexcept {
    if (!claim(failed)) return false;
    error_ = std::move(error);
    resumeWaiter();
    return true;
}

void OperationCoreBase::cancel() noexcept {
    if (!claim(cancelled)) return;
    error_ = std::make_exception_ptr(TaskCancelled());
    resumeWaiter();
}

void OperationCoreBase::breakPromise() noexcept {
    if (!claim(broken)) return;
    error_ = std::make_exception_ptr(BrokenPromise());
    resumeWaiter();
}

bool OperationCoreBase::isFinished() const noexcept {
    return state_.load(std::memory_order_acquire) != pending;
}

bool OperationCoreBase::isCancelled() const noexcept {
    return state_.load(std::memory_order_acquire) == cancelled;
}

void SleepAwaiter::start(std::coroutine_handle<> waiter) {
    createCore(waiter);
    if (isCancelled()) {
        core_->cancel();
        return;
    }
    const TimerHandle timer =
        clock_.scheduleAfter(delay_, [done = completion()] { done.resolve(); });
    // Cancel the operation first, then drop the timer (and with it the last
    // Completion, whose broken promise then arrives too late to count).
    watchToken([timer] { timer.cancel(); });
}

}  // namespace detail
}  // namespace larkspin
