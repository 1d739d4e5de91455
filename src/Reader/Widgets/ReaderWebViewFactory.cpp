#include "Reader/Widgets/ReaderWebViewFactory.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Reader/Widgets/SpareReaderWebView.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/ResourceSchemes.hpp"

namespace larkspin {

ReaderWebViewFactory::ReaderWebViewFactory(WebKitWebContext* context,
                                           std::vector<ReaderContextMenu::WindowItem> windowItems)
    : context_(GObjectPtr<WebKitWebContext>::retain(context)),
      windowItems_(std::move(windowItems)),
      schemes_(ResourceSchemes::install(context)) {}

ReaderWebViewFactory::~ReaderWebViewFactory() = default;

GObjectPtr<WebKitWebView> ReaderWebViewFactory::makeWebView(
    std::shared_ptr<AppResourceSchemeHandler> appResources,
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto webView = ReaderWebView::create(context_.get(), windowItems_);
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(webView.get());
    for (const auto& source : startScripts_) {
        WebKitUserScript* script = webkit_user_script_new(
            source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager, script);
        webkit_user_script_unref(script);
    }
    schemes_->route(webView.get(), std::move(appResources), std::move(documentResources));
    return webView;
}

std::shared_ptr<SpareWebView> ReaderWebViewFactory::makeSpare(
    std::shared_ptr<AppResourceSchemeHandler> appResources,
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
    auto spare = std::make_shared<SpareReaderWebView>(
        makeWebView(std::move(appResources), std::move(documentResources)));
    std::erase_if(spares_, [](const auto& made) { return made.expired(); });
    spares_.push_back(spare);
    return spare;
}

SpareReaderWebView* ReaderWebViewFactory::madeSpare(const SpareWebView& spare) const {
    std::erase_if(spares_, [](const auto& made) { return made.expired(); });
    for (const auto& made : spares_) {
        const auto alive = made.lock();
        if (alive && static_cast<const SpareWebView*>(alive.get()) == &spare) return alive.get();
    }
    return nullptr;
}

}  // namespace larkspin
