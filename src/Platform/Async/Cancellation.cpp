#include "Platform/Async/Cancellation.hpp"

namespace larkspin {

const char* TaskCancelled::what() const noexcept {
    return "task cancelled";
}

bool isCancellation(const std::exception_ptr& error) noexcept {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled&) {
        return true;
    } catch (...) {
        return false;
    }
}

void rethrowIfCancelled(const std::exception_ptr& error) {
    if (isCancellation(error)) std::rethrow_exception(error);
}

void CancellationToken::throwIfCancelled() const {
    if (isCancelled()) throw TaskCancelled();
}

CancellationRegistration CancellationToken::onCancel(std::function<void()> callback) const {
    if (!token_.stop_possible()) return {};
    return CancellationRegistration(
        std::make_unique<CancellationRegistration::Callback>(token_, std::move(callback)));
}

}  // namespace larkspin
