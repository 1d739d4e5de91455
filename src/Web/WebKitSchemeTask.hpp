#pragma once

#include <webkit/webkit.h>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Protocol/Schemes/SchemeTask.hpp"

namespace larkspin {

// A SchemeTask over WebKit's request object. Holds the request until it is
// answered; WebKit ignores an answer to a request whose page has gone.
class WebKitSchemeTask final : public SchemeTask {
public:
    explicit WebKitSchemeTask(WebKitURISchemeRequest* request);

    // The key under which a handler keeps the requests of `webView`.
    static WebViewKey keyOf(const WebKitWebView* webView) {
        return reinterpret_cast<WebViewKey>(webView);
    }

    WebViewKey webView() const override { return webView_; }
    std::optional<std::string> requestURL() const override;
    void respond(SchemeResponse response) override;
    void fail(SchemeFailure failure) override;

    // The error domain of the URL-loading errors (fileDoesNotExist -1100,
    // badServerResponse -1011); read errors use G_IO_ERROR.
    static GQuark urlLoadingErrorQuark();

private:
    GObjectPtr<WebKitURISchemeRequest> request_;
    WebViewKey webView_ = 0;
};

}  // namespace larkspin
