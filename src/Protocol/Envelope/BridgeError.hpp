#pragma once

#include <exception>
#include <string>

namespace larkspin {

// Why a request over the reader bridge failed, when the bridge or its caller
// decides it. Errors of the page call itself (a script exception, a rejected
// promise, a page that is gone) are PageCallError; encoding errors are
// CodingError, each passed on unchanged.
class BridgeError : public std::exception {
public:
    enum class Kind {
        invalidResponse,    // the reply is not a valid envelope (detail)
        messageIDMismatch,  // the reply answers another message (expected, actual)
        unexpectedType,     // raised by callers: the reply's type is not the one they expect
        remote,             // the page answered "error" (code, message)
        notAttached,        // no web view is bound
        invalidRequest,     // the request envelope is not a JSON object
    };

    static BridgeError invalidResponse(std::string detail);
    static BridgeError messageIDMismatch(std::string expected, std::string actual);
    static BridgeError unexpectedType(std::string type);
    static BridgeError remote(std::string code, std::string message);
    static BridgeError notAttached();
    static BridgeError invalidRequest();

    Kind kind() const { return kind_; }
    // The values of the case; empty where the case has none.
    const std::string& detail() const { return first_; }    // invalidResponse
    const std::string& expected() const { return first_; }  // messageIDMismatch
    const std::string& actual() const { return second_; }   // messageIDMismatch
    const std::string& type() const { return first_; }      // unexpectedType
    const std::string& code() const { return first_; }      // remote
    const std::string& message() const { return second_; }  // remote

    // The description ("bridge 未绑定 WKWebView", "JS 端错误 code：message"…).
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    BridgeError(Kind kind, std::string first, std::string second, std::string description);

    Kind kind_;
    std::string first_;
    std::string second_;
    std::string description_;
};

}  // namespace larkspin
