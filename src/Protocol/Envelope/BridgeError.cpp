#include "Protocol/Envelope/BridgeError.hpp"

#include <utility>

namespace larkspin {

BridgeError::BridgeError(Kind kind, std::string first, std::string second, std::string description)
    : kind_(kind),
      first_(std::move(first)),
      second_(std::move(second)),
      description_(std::move(description)) {}

BridgeError BridgeError::invalidResponse(std::string detail) {
    std::string description = "响应不是合法信封：" + detail;
    return BridgeError(Kind::invalidResponse, std::move(detail), {}, std::move(description));
}

BridgeError BridgeError::messageIDMismatch(std::string expected, std::string actual) {
    std::string description = "messageID 不匹配：期望 " + expected + "，实际 " + actual;
    return BridgeError(Kind::messageIDMismatch, std::move(expected), std::move(actual),
                       std::move(description));
}

BridgeError BridgeError::unexpectedType(std::string type) {
    std::string description = "响应类型不符：" + type;
    return BridgeError(Kind::unexpectedType, std::move(type), {}, std::move(description));
}

BridgeError BridgeError::remote(std::string code, std::string message) {
    std::string description = "JS 端错误 " + code + "：" + message;
    return BridgeError(Kind::remote, std::move(code), std::move(message), std::move(description));
}

BridgeError BridgeError::notAttached() {
    return BridgeError(Kind::notAttached, {}, {}, "bridge 未绑定 WKWebView");
}

BridgeError BridgeError::invalidRequest() {
    return BridgeError(Kind::invalidRequest, {}, {}, "请求信封无法序列化为 JSON 对象");
}

}  // namespace larkspin
