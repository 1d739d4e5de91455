#pragma once

#include <memory>

#include "Platform/Async/Task.hpp"
#include "Protocol/Bridge/ReaderBridge.hpp"

namespace larkspin::reader {

// Sends a request through `bridge` and reads the reply as `Reply`, which must
// come as `expected` (BridgeError::unexpectedType otherwise).
template <typename Reply>
Task<Reply> pageRequest(std::shared_ptr<ReaderBridge> bridge, BridgeMessageType type,
                        JSONValue payload, BridgeMessageType expected) {
    co_return co_await bridge->template request<Reply>(type, std::move(payload), expected);
}

inline JSONValue emptyObject() { return JSONValue::object(); }

}  // namespace larkspin::reader
