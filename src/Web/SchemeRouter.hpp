#pragma once

#include <webkit/webkit.h>

#include <map>
#include <memory>
#include <string>

#include "Protocol/Schemes/SchemeHandler.hpp"

namespace larkspin {

// The one entry point of a URL scheme in a web context: WebKit registers
// scheme handlers per context, not per web view, so the router hands each
// request to the handler routed for the web view that made it. A route lasts
// until its web view is destroyed or unrouted; then that view's unanswered
// requests are dropped (WebKit has no "stop" of its own), while a handler
// routed for other views too goes on serving theirs. A request from a web
// view without a route is refused. Main thread only.
class SchemeRouter : public std::enable_shared_from_this<SchemeRouter> {
public:
    explicit SchemeRouter(std::string scheme);
    ~SchemeRouter();
    SchemeRouter(const SchemeRouter&) = delete;
    SchemeRouter& operator=(const SchemeRouter&) = delete;

    const std::string& scheme() const { return scheme_; }

    // Sends the scheme's requests of `webView` to `handler` from now on (a
    // handler routed before for it is stopped and let go).
    void route(WebKitWebView* webView, std::shared_ptr<SchemeHandler> handler);
    void unroute(WebKitWebView* webView);
    std::shared_ptr<SchemeHandler> handlerFor(WebKitWebView* webView) const;

    // WebKit's callback for a request of the scheme.
    void dispatch(WebKitURISchemeRequest* request);

private:
    struct Route {
        std::shared_ptr<SchemeHandler> handler;
        std::weak_ptr<SchemeRouter>* watch = nullptr;  // the web view's weak-reference data
    };
    static void webViewGone(gpointer data, GObject* webView);

    std::string scheme_;
    std::map<WebKitWebView*, Route> routes_;
};

}  // namespace larkspin
