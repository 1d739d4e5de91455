#include "Protocol/Envelope/PageCallError.hpp"

#include <utility>

namespace larkspin {

namespace {
constexpr const char* pageDomain = "larkspin-page-call-error";
}

PageCallError::PageCallError(Kind kind, std::string domain, int code, std::string message)
    : std::runtime_error(std::move(message)),
      kind_(kind),
      domain_(std::move(domain)),
      code_(code) {}

PageCallError PageCallError::webProcessTerminated() {
    return PageCallError(Kind::webProcessTerminated, pageDomain, 1, "web 内容进程已终止");
}

PageCallError PageCallError::pageReplaced() {
    return PageCallError(Kind::pageReplaced, pageDomain, 2, "页面已被新载入的页面替换");
}

}  // namespace larkspin
