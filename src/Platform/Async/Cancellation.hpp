#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <stop_token>

namespace larkspin {

// The error an awaited operation ends with when its token is cancelled.
class TaskCancelled : public std::exception {
public:
    const char* what() const noexcept override;
};

// For every catch block that can see a TaskCancelled (`catch (...)`,
// `catch (const std::exception&)`) in a coroutine: its first statement is
//     rethrowIfCancelled(std::current_exception());
// so a cancelled task ends there and never runs its handling for an owner that
// may be gone. Does nothing for any other error.
void rethrowIfCancelled(const std::exception_ptr& error);
// True when `error` is a TaskCancelled.
bool isCancellation(const std::exception_ptr& error) noexcept;

// Keeps a cancellation callback registered; destroying it (or reset()) removes
// the callback. Removal waits if the callback is running on another thread at
// that moment, so what it captured may be destroyed right after.
class CancellationRegistration {
public:
    CancellationRegistration() = default;
    void reset() { callback_.reset(); }

private:
    friend class CancellationToken;
    using Callback = std::stop_callback<std::function<void()>>;
    explicit CancellationRegistration(std::unique_ptr<Callback> callback)
        : callback_(std::move(callback)) {}

    std::unique_ptr<Callback> callback_;
};

// The reading side of a CancellationSource. Copyable, thread-safe. A default
// token is never cancelled.
class CancellationToken {
public:
    CancellationToken() = default;

    bool isCancelled() const noexcept { return token_.stop_requested(); }
    // False for a default token (nothing can cancel it).
    bool canBeCancelled() const noexcept { return token_.stop_possible(); }
    // Throws TaskCancelled when cancelled.
    void throwIfCancelled() const;

    // Runs `callback` once when the source is cancelled, on the thread that
    // cancels it, or at once on the calling thread when it already is.
    [[nodiscard]] CancellationRegistration onCancel(std::function<void()> callback) const;

private:
    friend class CancellationSource;
    explicit CancellationToken(std::stop_token token) : token_(std::move(token)) {}

    std::stop_token token_;
};

// Cancels the tokens it hands out. Copies share the same state.
class CancellationSource {
public:
    CancellationSource() = default;

    CancellationToken token() const { return CancellationToken(source_.get_token()); }
    // Idempotent; runs the registered callbacks on the calling thread, once.
    void cancel() const { source_.request_stop(); }
    bool isCancelled() const noexcept { return source_.stop_requested(); }

private:
    mutable std::stop_source source_;
};

}  // namespace larkspin
