#pragma once

// Awaited work on the main loop: C++20 coroutines returning Task<T>.
//
// Rules for every coroutine in the program (see src/Platform/README.md):
// - Coroutines run on the main thread only. Each awaited operation resumes its
//   coroutine on the main thread on a later turn of the main loop, even when it
//   finished at once; awaiting a child Task continues as soon as the child ends.
// - Parameters are taken by value: no references, string_views, spans or raw
//   pointers to things that may die while the coroutine is suspended.
// - No lambda coroutines with captures (the captures live in the lambda object,
//   not in the frame). Write a function, static member or free, instead.
// - An owner starts its coroutines through a TaskScope it holds (its last
//   member). Once the scope is cancelled or destroyed, none of its tasks runs
//   past the co_await it is suspended in, or starts at all: each ends with
//   TaskCancelled. Such a coroutine may be a member function and use `this`
//   after every co_await. A catch-all inside it must let TaskCancelled pass.
// - A coroutine that others await without a scope of the owner's (a request
//   its caller awaits) holds the owner weakly: a static function taking
//   std::weak_ptr<Owner> by value, locking it after each co_await.
// - GCC 12 destroys twice every lambda with captures and every braced
//   aggregate (`Request{...}`) created in a statement that contains co_await,
//   and cannot compile a braced list as an argument there. Build them in a
//   statement of their own:
//       auto write = [text] { return store(text); };
//       auto result = co_await runOn(executor, write);
// - An awaitable returned by sleepFor, runOn or awaitCompletion refers to its
//   clock or executor: await it at once, never keep it for later.

#include <concepts>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"

namespace larkspin {

// The error an awaited operation ends with when every Completion of it was
// destroyed without a result (a dropped job, a destroyed clock, a callback that
// never came).
class BrokenPromise : public std::exception {
public:
    const char* what() const noexcept override;
};

template <typename T = void>
class Task;

namespace detail {

// Logs an error that ended a detached task (a cancellation only at debug level).
void reportDetachedTaskError(std::exception_ptr error) noexcept;
// Aborts with a message: for misuse that would otherwise corrupt memory.
[[noreturn]] void taskMisuse(const char* what) noexcept;

struct TaskPromiseBase {
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
    // The scope the task runs in (handed down to every task it awaits); a
    // cancelled scope ends the task at its next co_await.
    CancellationToken scope;
    bool started = false;
    bool detached = false;        // frees itself at the end; nobody awaits it
    bool startingInline = false;  // inside the awaiter's first resume()

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <typename Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> self) noexcept {
            TaskPromiseBase& promise = self.promise();
            if (promise.detached) {
                if (promise.error) reportDetachedTaskError(promise.error);
                self.destroy();
                return std::noop_coroutine();
            }
            // Finished during the awaiter's own resume(): the awaiter continues
            // the parent by returning, which keeps the stack flat.
            if (promise.startingInline || !promise.continuation) return std::noop_coroutine();
            return promise.continuation;
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T>
struct TaskPromise : TaskPromiseBase {
    std::optional<T> value;

    Task<T> get_return_object() noexcept;
    void return_value(T result) { value.emplace(std::move(result)); }
    T take() {
        if (error) std::rethrow_exception(error);
        return std::move(*value);
    }
};

template <>
struct TaskPromise<void> : TaskPromiseBase {
    Task<void> get_return_object() noexcept;
    void return_void() noexcept {}
    void take() {
        if (error) std::rethrow_exception(error);
    }
};

}  // namespace detail

// A coroutine's result. A Task starts when it is awaited (co_await
// std::move-or-temporary) or handed to spawn(); until then it has not run at
// all, and destroying it just frees it. Destroying a Task that has started but
// not finished detaches it: it runs on and frees itself.
template <typename T>
class [[nodiscard]] Task {
    static_assert(!std::is_reference_v<T>, "a Task returns values, not references");

public:
    using promise_type = detail::TaskPromise<T>;

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { release(); }

    class Awaiter {
    public:
        explicit Awaiter(std::coroutine_handle<promise_type> child) : child_(child) {}
        bool await_ready() const noexcept { return false; }
        template <typename ParentPromise>
        bool await_suspend(std::coroutine_handle<ParentPromise> parent) noexcept {
            LARKSPIN_ASSERT_MAIN_THREAD();
            if (!child_ || child_.promise().started) detail::taskMisuse("task awaited twice");
            if constexpr (std::is_base_of_v<detail::TaskPromiseBase, ParentPromise>) {
                scope_ = parent.promise().scope;
                if (scope_.isCancelled()) return false;  // the child never starts
                child_.promise().scope = scope_;
            }
            auto& promise = child_.promise();
            promise.started = true;
            promise.continuation = parent;
            promise.startingInline = true;
            child_.resume();
            if (child_.done()) return false;  // finished at once: go straight on
            promise.startingInline = false;
            return true;
        }
        T await_resume() {
            // The child's result is dropped when the scope went meanwhile.
            if (scope_.isCancelled()) throw TaskCancelled();
            return child_.promise().take();
        }

    private:
        std::coroutine_handle<promise_type> child_;
        CancellationToken scope_;
    };

    Awaiter operator co_await() && noexcept { return Awaiter(handle_); }

private:
    friend promise_type;
    friend void spawn(Task<void> task);
    friend class TaskScope;
    explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}

    void release() noexcept {
        if (!handle_) return;
        auto& promise = handle_.promise();
        if (!promise.started || handle_.done()) {
            handle_.destroy();
        } else {
            // Suspended on an operation that will resume it: never free it under
            // that operation's feet.
            promise.detached = true;
        }
        handle_ = {};
    }

    std::coroutine_handle<promise_type> handle_;
};

namespace detail {
template <typename T>
Task<T> TaskPromise<T>::get_return_object() noexcept {
    return Task<T>(std::coroutine_handle<TaskPromise<T>>::from_promise(*this));
}
inline Task<void> TaskPromise<void>::get_return_object() noexcept {
    return Task<void>(std::coroutine_handle<TaskPromise<void>>::from_promise(*this));
}
}  // namespace detail

// Starts `task` as a top-level task on a later turn of the main loop (it may be
// called from any thread). The task frees itself when it ends; an error that
// escapes it is logged as a fault, a TaskCancelled only at debug level. A task
// that works for an owner is started through the owner's TaskScope instead.
void spawn(Task<void> task);

namespace detail {
// Starts a detached top-level task on a later turn, in `scope`; when the scope
// is cancelled before then, the task is freed without running.
void startInScope(std::coroutine_handle<TaskPromise<void>> handle, CancellationToken scope);
}  // namespace detail

namespace detail {

// The shared state of one awaited operation: finished exactly once, by its
// Completion (value or error), by its token (TaskCancelled) or by the loss of
// every Completion (BrokenPromise). Finishing posts the waiter's resumption.
class OperationCoreBase {
public:
    explicit OperationCoreBase(std::coroutine_handle<> waiter) noexcept : waiter_(waiter) {}
    OperationCoreBase(const OperationCoreBase&) = delete;
    OperationCoreBase& operator=(const OperationCoreBase&) = delete;

    bool fail(std::exception_ptr error) noexcept;
    void cancel() noexcept;
    void breakPromise() noexcept;
    bool isFinished() const noexcept;
    bool isCancelled() const noexcept;

protected:
    enum State : int { pending, resolved, failed, cancelled, broken };

    bool claim(State how) noexcept;
    void resumeWaiter() noexcept;
    void rethrowIfFailed() const {
        if (error_) std::rethrow_exception(error_);
    }

    std::atomic<int> state_{pending};
    std::coroutine_handle<> waiter_;
    std::exception_ptr error_;
};

template <typename T>
class OperationCore final : public OperationCoreBase {
public:
    using OperationCoreBase::OperationCoreBase;

    template <typename... Args>
    bool resolve(Args&&... args) noexcept {
        if (!claim(resolved)) return false;
        try {
            if constexpr (!std::is_void_v<T>) value_.emplace(std::forward<Args>(args)...);
        } catch (...) {
            error_ = std::current_exception();
        }
        resumeWaiter();
        return true;
    }

    T take() {
        rethrowIfFailed();
        if constexpr (!std::is_void_v<T>) return std::move(*value_);
    }

private:
    struct Nothing {};
    std::optional<std::conditional_t<std::is_void_v<T>, Nothing, T>> value_;
};

// Held by every copy of one Completion; its end without a result breaks the promise.
template <typename T>
struct CompletionLink {
    explicit CompletionLink(std::shared_ptr<OperationCore<T>> c) : core(std::move(c)) {}
    ~CompletionLink() { core->breakPromise(); }
    CompletionLink(const CompletionLink&) = delete;
    CompletionLink& operator=(const CompletionLink&) = delete;

    std::shared_ptr<OperationCore<T>> core;
};

template <typename T>
class OperationAwaiter;

template <typename T>
class CompletionBase {
public:
    // Ends the operation with an error, rethrown at the co_await. Thread-safe.
    void fail(std::exception_ptr error) const {
        if (!error) error = std::make_exception_ptr(BrokenPromise());
        link_->core->fail(std::move(error));
    }
    // True once the waiting task was cancelled (the result is no longer wanted
    // and the work may stop early).
    bool isCancelled() const { return link_->core->isCancelled(); }

protected:
    explicit CompletionBase(std::shared_ptr<OperationCore<T>> core)
        : link_(std::make_shared<CompletionLink<T>>(std::move(core))) {}

    std::shared_ptr<CompletionLink<T>> link_;
};

}  // namespace detail

// The finishing side of an awaited operation. Copies share one operation; the
// first resolve() or fail() wins, later ones are ignored (and logged as a
// fault unless the operation was cancelled meanwhile). When the last copy is
// destroyed without a result, the waiter gets BrokenPromise. Usable from any
// thread. To pass one through a C callback's user data:
//     new Completion<T>(std::move(done))  ...
//     std::unique_ptr<Completion<T>>(static_cast<...>(data))
template <typename T>
class Completion : public detail::CompletionBase<T> {
public:
    void resolve(T value) const { this->link_->core->resolve(std::move(value)); }

private:
    friend class detail::OperationAwaiter<T>;
    using detail::CompletionBase<T>::CompletionBase;
};

template <>
class Completion<void> : public detail::CompletionBase<void> {
public:
    void resolve() const { link_->core->resolve(); }

private:
    friend class detail::OperationAwaiter<void>;
    using detail::CompletionBase<void>::CompletionBase;
};

namespace detail {

// Common part of the leaf awaitables: one operation, tied to a token.
template <typename T>
class OperationAwaiter {
public:
    explicit OperationAwaiter(CancellationToken token) : token_(std::move(token)) {}
    bool await_ready() const noexcept { return false; }
    T await_resume() {
        registration_.reset();  // before anything else can go away
        scopeRegistration_.reset();
        // A result that arrived just before the scope went is dropped too.
        if (scope_.isCancelled()) throw TaskCancelled();
        return core_->take();
    }

protected:
    // Takes the waiting task's scope, which ends the wait like the token.
    template <typename Promise>
    void adoptScope(std::coroutine_handle<Promise> waiter) {
        if constexpr (std::is_base_of_v<TaskPromiseBase, Promise>) scope_ = waiter.promise().scope;
    }
    bool isCancelled() const { return token_.isCancelled() || scope_.isCancelled(); }
    void createCore(std::coroutine_handle<> waiter) {
        LARKSPIN_ASSERT_MAIN_THREAD();
        core_ = std::make_shared<OperationCore<T>>(waiter);
    }
    // Cancels the operation when the token is cancelled (at once when it
    // already is), then runs `alsoOnCancel` (which must not throw).
    void watchToken(std::function<void()> alsoOnCancel = {}) {
        std::weak_ptr<OperationCore<T>> weak = core_;
        auto onCancel = [weak, also = std::move(alsoOnCancel)] {
            if (auto core = weak.lock()) core->cancel();
            if (also) also();
        };
        if (token_.canBeCancelled()) registration_ = token_.onCancel(onCancel);
        if (scope_.canBeCancelled()) scopeRegistration_ = scope_.onCancel(onCancel);
    }
    Completion<T> completion() const { return Completion<T>(core_); }

    CancellationToken token_;
    CancellationToken scope_;
    std::shared_ptr<OperationCore<T>> core_;
    CancellationRegistration registration_;
    CancellationRegistration scopeRegistration_;
};

template <typename T, typename Starter>
class CallbackAwaiter final : public OperationAwaiter<T> {
public:
    CallbackAwaiter(Starter starter, CancellationToken token)
        : OperationAwaiter<T>(std::move(token)), starter_(std::move(starter)) {}

    template <typename Promise>
    void await_suspend(std::coroutine_handle<Promise> waiter) {
        this->adoptScope(waiter);
        this->createCore(waiter);
        this->watchToken();
        if (this->core_->isFinished()) return;  // already cancelled: start nothing
        // Holding a copy across the call lets the starter's own exception win
        // over the broken promise of a Completion it dropped while throwing.
        const Completion<T> keep = this->completion();
        try {
            starter_(keep);
        } catch (...) {
            this->core_->fail(std::current_exception());
        }
    }

private:
    Starter starter_;
};

class SleepAwaiter final : public OperationAwaiter<void> {
public:
    SleepAwaiter(Clock& clock, Clock::Duration delay, CancellationToken token)
        : OperationAwaiter<void>(std::move(token)), clock_(clock), delay_(delay) {}
    template <typename Promise>
    void await_suspend(std::coroutine_handle<Promise> waiter) {
        adoptScope(waiter);
        start(waiter);
    }

private:
    void start(std::coroutine_handle<> waiter);

    Clock& clock_;
    Clock::Duration delay_;
};

}  // namespace detail

// Awaits a callback-style operation: `starter(done)` is called at once (on
// the main thread, inside the co_await) and must arrange for `done` to be
// resolved or failed later, from any thread. The co_await gives the value or
// rethrows the error. When `token` is cancelled first, the co_await throws
// TaskCancelled at once and the operation's late result is ignored; stopping
// the operation itself is the starter's business (the token is in its hands).
// The task's scope ends the wait the same way.
// The starter must not run the main loop.
template <typename T, typename Starter>
requires std::invocable<Starter&, Completion<T>>
[[nodiscard]] auto awaitCompletion(Starter starter, CancellationToken token = {}) {
    return detail::CallbackAwaiter<T, Starter>(std::move(starter), std::move(token));
}

// Resumes after `delay` has passed on `clock`, or throws TaskCancelled as soon
// as `token` (or the task's scope) is cancelled (at once if it already is).
[[nodiscard]] inline detail::SleepAwaiter sleepFor(Clock& clock, Clock::Duration delay,
                                                   CancellationToken token = {}) {
    return detail::SleepAwaiter(clock, delay, std::move(token));
}

// Runs `fn` on `executor` (a SerialExecutor, or any pool with the same
// `submit(job)`) and resumes with its result, or rethrows what it threw. When
// the executor refuses the job (shutting down), the co_await throws
// BrokenPromise. When `token` (or the task's scope) is cancelled first, the
// co_await throws TaskCancelled at once; the job still runs when its turn
// comes (a queued write is never dropped) and its result is dropped.
template <typename Executor, typename Fn>
requires std::invocable<Fn&> &&
         requires(Executor& e, std::move_only_function<void()> job) { e.submit(std::move(job)); }
[[nodiscard]] auto runOn(Executor& executor, Fn fn, CancellationToken token = {}) {
    using R = std::invoke_result_t<Fn&>;
    return awaitCompletion<R>([&executor, fn = std::move(fn)](Completion<R> done) mutable {
        executor.submit([fn = std::move(fn), done = std::move(done)]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    fn();
                    done.resolve();
                } else {
                    done.resolve(fn());
                }
            } catch (...) {
                done.fail(std::current_exception());
            }
        });
    }, std::move(token));
}

}  // namespace larkspin
