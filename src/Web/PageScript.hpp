#pragma once

#include <optional>
#include <string>

#include "Platform/Async/Task.hpp"

typedef struct _WebKitWebView WebKitWebView;

namespace larkspin {

// Runs `body` as the body of an asynchronous function in the page's own
// content world of `webView` (webkit_web_view_call_async_javascript_function,
// no arguments, main frame) and gives its result when it is a string, none
// for any other value. Throws PageCallError when the script throws or WebKit
// cannot make the call. The call holds the web view until WebKit answers;
// keep `body` short and synchronous in spirit (a page that never settles its
// promise keeps the view). Main thread.
Task<std::optional<std::string>> runPageScript(WebKitWebView* webView, std::string body);

}  // namespace larkspin
