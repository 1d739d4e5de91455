#include "Web/ResourceSchemes.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"

namespace larkspin {

namespace {

constexpr const char* dataKey = "larkspin-resource-schemes";

void dispatchRequest(WebKitURISchemeRequest* request, gpointer data) {
    if (auto router = static_cast<std::weak_ptr<SchemeRouter>*>(data)->lock()) {
        router->dispatch(request);
    }
}

void registerScheme(WebKitWebContext* context, const std::shared_ptr<SchemeRouter>& router) {
    webkit_web_context_register_uri_scheme(
        context, router->scheme().c_str(), &dispatchRequest,
        new std::weak_ptr<SchemeRouter>(router),
        [](gpointer data) { delete static_cast<std::weak_ptr<SchemeRouter>*>(data); });
    webkit_security_manager_register_uri_scheme_as_secure(
        webkit_web_context_get_security_manager(context), router->scheme().c_str());
}

}  // namespace

ResourceSchemes::ResourceSchemes()
    : appResources_(std::make_shared<SchemeRouter>(std::string(AppResourceSchemeHandler::scheme))),
      documentResources_(
          std::make_shared<SchemeRouter>(std::string(DocumentResourceSchemeHandler::scheme))) {}

std::shared_ptr<ResourceSchemes> ResourceSchemes::install(WebKitWebContext* context) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (auto* existing = static_cast<std::shared_ptr<ResourceSchemes>*>(
            g_object_get_data(G_OBJECT(context), dataKey))) {
        return *existing;
    }
    auto schemes = std::make_shared<ResourceSchemes>();
    registerScheme(context, schemes->appResources_);
    registerScheme(context, schemes->documentResources_);
    g_object_set_data_full(
        G_OBJECT(context), dataKey, new std::shared_ptr<ResourceSchemes>(schemes),
        [](gpointer data) { delete static_cast<std::shared_ptr<ResourceSchemes>*>(data); });
    return schemes;
}

void ResourceSchemes::route(WebKitWebView* webView,
                            std::shared_ptr<AppResourceSchemeHandler> appResources,
                            std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
    if (appResources) appResources_->route(webView, std::move(appResources));
    if (documentResources) documentResources_->route(webView, std::move(documentResources));
}

void ResourceSchemes::unroute(WebKitWebView* webView) {
    appResources_->unroute(webView);
    documentResources_->unroute(webView);
}

}  // namespace larkspin
