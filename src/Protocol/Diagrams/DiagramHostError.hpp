#pragma once

#include <exception>
#include <string>

namespace larkspin {

// Why a diagram host could not load its page or answer a render. Errors of
// the page call itself are PageCallError, a page's "error" reply is
// BridgeError::remote, and undecodable replies are CodingError.
class DiagramHostError : public std::exception {
public:
    enum class Kind {
        loadFailed,       // the host page's navigation failed, or its web process ended, while loading
        invalidResponse,  // the page's reply is not usable
        notLoaded,        // render() without a loaded page, or after destroy()
        destroyed,        // destroy() while load() waited
    };

    static DiagramHostError loadFailed(std::string message);
    static DiagramHostError invalidResponse(std::string message);
    static DiagramHostError notLoaded();
    static DiagramHostError destroyed();

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }
    // "宿主页加载失败：…", "宿主响应不合法：…", "宿主页尚未加载", "宿主已销毁".
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    DiagramHostError(Kind kind, std::string message, std::string description);

    Kind kind_;
    std::string message_;
    std::string description_;
};

}  // namespace larkspin
