// The application's single instances that are made over WebKit: the diagram
// render service and the prewarmer of spare reader web views.

#include "Reader/SharedServices.hpp"

#include <cstdlib>

#include "Platform/Async/MainThread.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/ReaderWebViewFactory.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Web/DiagramRenderServices.hpp"

namespace larkspin {

std::shared_ptr<DiagramRenderService> SharedServices::diagramService() {
    return DiagramRenderServices::shared();
}

const std::shared_ptr<WebViewPrewarmer>& WebViewPrewarmer::shared() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    static const auto instance = [] {
        const bool enabled = isEnabledByConfiguration(std::getenv(testHostVariable) != nullptr,
                                                      UserDefaults::standard().boolean(preferenceKey));
        Dependencies dependencies;
        dependencies.makeWebView = [](std::shared_ptr<AppResourceSchemeHandler> appResources,
                                      std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
            return ReaderWebViewFactory::shared().makeSpare(std::move(appResources),
                                                            std::move(documentResources));
        };
        return create(enabled, std::move(dependencies));
    }();
    return instance;
}

}  // namespace larkspin
