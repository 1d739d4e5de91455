#pragma once

#include <webkit/webkit.h>

#include <memory>

#include "Web/SchemeRouter.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DocumentResourceSchemeHandler;

// The program's two URL schemes in one web context: "app-resource" (the
// renderer's files) and "document-resource" (a document's images), each
// registered once per context with its router, and both registered as secure
// so that the renderer page is a secure context. The context owns them.
class ResourceSchemes {
public:
    // Registers the schemes on `context` the first time; afterwards returns
    // the same instance.
    static std::shared_ptr<ResourceSchemes> install(WebKitWebContext* context);

    SchemeRouter& appResources() { return *appResources_; }
    SchemeRouter& documentResources() { return *documentResources_; }

    // Routes both schemes of `webView` (either handler may be null to leave
    // that scheme unrouted).
    void route(WebKitWebView* webView, std::shared_ptr<AppResourceSchemeHandler> appResources,
               std::shared_ptr<DocumentResourceSchemeHandler> documentResources);
    void unroute(WebKitWebView* webView);

    ResourceSchemes();  // use install()

private:
    std::shared_ptr<SchemeRouter> appResources_;
    std::shared_ptr<SchemeRouter> documentResources_;
};

}  // namespace larkspin
