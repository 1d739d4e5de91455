#include "Reader/ReaderHost.hpp"

#include "Protocol/Envelope/BridgeError.hpp"

namespace larkspin {

Task<std::optional<std::string>> ReaderHost::runPageScript(std::string) {
    throw BridgeError::notAttached();
    co_return std::nullopt;  // makes this a task: the error comes at its co_await
}

}  // namespace larkspin
