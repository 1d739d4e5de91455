#include "Protocol/Diagrams/DiagramHostError.hpp"

#include <utility>

namespace larkspin {

DiagramHostError::DiagramHostError(Kind kind, std::string message, std::string description)
    : kind_(kind), message_(std::move(message)), description_(std::move(description)) {}

DiagramHostError DiagramHostError::loadFailed(std::string message) {
    std::string description = "宿主页加载失败：" + message;
    return DiagramHostError(Kind::loadFailed, std::move(message), std::move(description));
}

DiagramHostError DiagramHostError::invalidResponse(std::string message) {
    std::string description = "宿主响应不合法：" + message;
    return DiagramHostError(Kind::invalidResponse, std::move(message), std::move(description));
}

DiagramHostError DiagramHostError::notLoaded() {
    return DiagramHostError(Kind::notLoaded, {}, "宿主页尚未加载");
}

DiagramHostError DiagramHostError::destroyed() {
    return DiagramHostError(Kind::destroyed, {}, "宿主已销毁");
}

}  // namespace larkspin
