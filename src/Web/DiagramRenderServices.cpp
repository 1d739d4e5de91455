#include "Web/DiagramRenderServices.hpp"

#include <string>

#include "Platform/Glib/GObjectPtr.hpp"
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

}  // namespace larkspin::DiagramRenderServices
