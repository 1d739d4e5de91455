#include "Platform/Async/Cancellation.hpp"

namespace larkspin {

const char* TaskCancelled::what() const noexcept {
    return "task cancelled";
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
