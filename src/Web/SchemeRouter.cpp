#include "Web/SchemeRouter.hpp"

#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Web/WebKitSchemeTask.hpp"

namespace larkspin {

SchemeRouter::SchemeRouter(std::string scheme) : scheme_(std::move(scheme)) {}

SchemeRouter::~SchemeRouter() {
    // Web views still routed keep their weak-reference data, which now points
    // at nothing and is freed when they go.
    for (auto& [view, route] : routes_) route.handler->stopAll(WebKitSchemeTask::keyOf(view));
}

void SchemeRouter::route(WebKitWebView* webView, std::shared_ptr<SchemeHandler> handler) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto found = routes_.find(webView);
    if (found != routes_.end()) {
        if (found->second.handler != handler) {
            found->second.handler->stopAll(WebKitSchemeTask::keyOf(webView));
        }
        found->second.handler = std::move(handler);
        return;
    }
    auto* watch = new std::weak_ptr<SchemeRouter>(weak_from_this());
    g_object_weak_ref(G_OBJECT(webView), &SchemeRouter::webViewGone, watch);
    routes_.emplace(webView, Route{std::move(handler), watch});
}

void SchemeRouter::unroute(WebKitWebView* webView) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto found = routes_.find(webView);
    if (found == routes_.end()) return;
    Route route = std::move(found->second);
    routes_.erase(found);
    g_object_weak_unref(G_OBJECT(webView), &SchemeRouter::webViewGone, route.watch);
    delete route.watch;
    route.handler->stopAll(WebKitSchemeTask::keyOf(webView));
}

std::shared_ptr<SchemeHandler> SchemeRouter::handlerFor(WebKitWebView* webView) const {
    const auto found = routes_.find(webView);
    return found == routes_.end() ? nullptr : found->second.handler;
}

void SchemeRouter::webViewGone(gpointer data, GObject* webView) {
    std::unique_ptr<std::weak_ptr<SchemeRouter>> watch(
        static_cast<std::weak_ptr<SchemeRouter>*>(data));
    const auto router = watch->lock();
    if (!router) return;
    auto found = router->routes_.find(reinterpret_cast<WebKitWebView*>(webView));
    if (found == router->routes_.end()) return;
    const std::shared_ptr<SchemeHandler> handler = std::move(found->second.handler);
    router->routes_.erase(found);
    // Only this view's requests: the handler may serve the view that
    // replaced it, whose requests are still on their way.
    handler->stopAll(WebKitSchemeTask::keyOf(reinterpret_cast<WebKitWebView*>(webView)));
}

void SchemeRouter::dispatch(WebKitURISchemeRequest* request) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto task = std::make_shared<WebKitSchemeTask>(request);
    WebKitWebView* webView = webkit_uri_scheme_request_get_web_view(request);
    const auto found = webView ? routes_.find(webView) : routes_.end();
    if (found == routes_.end()) {
        AppLog::resources.error("拒绝：该 web view 没有 %{public}s 处理者 %{private}s", scheme_,
                                task->requestURL().value_or("<nil>"));
        task->fail(SchemeFailure::fileDoesNotExist());
        return;
    }
    const std::shared_ptr<SchemeHandler> handler = found->second.handler;  // may unroute itself
    handler->start(std::move(task));
}

}  // namespace larkspin
