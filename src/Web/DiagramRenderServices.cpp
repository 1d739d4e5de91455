#include "Web/DiagramRenderServices.hpp"

#include <string>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Log.hpp"
#include "Protocol/AppResourceSchemeHandler.hpp"
#include "Web/DiagramHostWebView.hpp"

namespace larkspin::DiagramRenderServices {

std::shared_ptr<DiagramRenderService> make(WebKitWebContext* context,
                                           std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
                                           DiagramRenderService::Configuration configuration,
                                           Clock& clock) {
    const DiagramHostIsolation isolation = configuration.isolation;
    auto keptContext = GObjectPtr<WebKitWebContext>::retain(context);
    auto makeHost = [keptContext, schemeHandler, isolation]() -> std::shared_ptr<DiagramHostDriving> {
        return DiagramHostWebView::create(keptContext.get(), schemeHandler, isolation);
    };
    return DiagramRenderService::create(configuration, std::move(makeHost), clock);
}

std::shared_ptr<DiagramRenderService> shared() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    static const std::shared_ptr<DiagramRenderService> service =
        []() -> std::shared_ptr<DiagramRenderService> {
        auto schemeHandler = AppResourceSchemeHandler::createForRenderer();
        if (!schemeHandler) return nullptr;
        const DiagramRenderService::Configuration configuration;
        AppLog::diagrams.info("独立渲染服务：isolation=%{public}s timeout=%ld ms",
                              rawValue(configuration.isolation), configuration.timeoutMs());
        return make(webkit_web_context_get_default(), std::move(schemeHandler), configuration);
    }();
    return service;
}

}  // namespace larkspin::DiagramRenderServices
