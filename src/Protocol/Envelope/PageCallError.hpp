#pragma once

#include <stdexcept>
#include <string>

namespace larkspin {

// The failure of one call of the page function, as the web view reports it:
// a script exception or a rejected promise, another error of the call, or a
// page that is gone (its web content process ended, or a new page replaced
// it) while the call waited. The reader bridge passes it on unchanged.
class PageCallError : public std::runtime_error {
public:
    enum class Kind {
        script,                // the page threw, or its promise was rejected
        call,                  // the web view could not make the call or return its result
        webProcessTerminated,  // the page's web content process ended
        pageReplaced,          // another page was loaded into the web view
    };

    // `domain` and `code` are the platform error's (a GError's domain name and
    // code); `message` is its text and the what().
    PageCallError(Kind kind, std::string domain, int code, std::string message);

    static PageCallError webProcessTerminated();
    static PageCallError pageReplaced();

    Kind kind() const { return kind_; }
    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

private:
    Kind kind_;
    std::string domain_;
    int code_;
};

}  // namespace larkspin
