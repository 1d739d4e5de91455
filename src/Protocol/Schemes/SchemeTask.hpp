#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace larkspin {

// What a URL scheme request is answered with.
struct SchemeResponse {
    int status = 200;
    std::string contentType;
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    std::string body;                                          // handed over in one piece
};

// Why a URL scheme request failed: one of the two URL-loading errors the
// handlers use, or the errno of a read, handed on unchanged.
struct SchemeFailure {
    enum class Kind {
        fileDoesNotExist,   // code -1100
        badServerResponse,  // code -1011
        readError,          // `code` is an errno value
    };
    Kind kind = Kind::fileDoesNotExist;
    int code = -1100;

    static SchemeFailure fileDoesNotExist() { return {Kind::fileDoesNotExist, -1100}; }
    static SchemeFailure badServerResponse() { return {Kind::badServerResponse, -1011}; }
    static SchemeFailure readError(int error) { return {Kind::readError, error}; }
    friend bool operator==(const SchemeFailure&, const SchemeFailure&) = default;
};

// One request of a URL scheme (WebKit's request object, or a fake in tests).
// A handler answers it exactly once, on the main thread, with respond() or
// fail(); WebKit gives no notice when the page stops waiting, so a handler may
// also drop it unanswered once its web view is gone.
class SchemeTask {
public:
    // Which web view made a request: the view's address, used only as a key
    // while the view lives (0: none known). One handler may serve several
    // web views at once (a reader keeps its handlers across rebuilds), so
    // the end of one view stops only the requests that carry its key.
    using WebViewKey = std::uintptr_t;

    virtual ~SchemeTask() = default;
    virtual WebViewKey webView() const = 0;
    // The request's URL as WebKit hands it over (absent only for a malformed
    // request object).
    virtual std::optional<std::string> requestURL() const = 0;
    virtual void respond(SchemeResponse response) = 0;
    virtual void fail(SchemeFailure failure) = 0;
};

}  // namespace larkspin
