#pragma once

#include <webkit/webkit.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Web/ReaderContextMenu.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DocumentResourceSchemeHandler;
class ResourceSchemes;
class SpareReaderWebView;
class SpareWebView;

// The one maker of reader web views (a document's reader, and the spare that
// the prewarmer keeps ready). Every view it makes lives in one shared web
// context, on which both URL schemes are registered once; each view has a
// user content manager of its own and the reader's settings
// (ReaderWebView), and routes its two schemes to the handlers it was made
// with. Each view keeps its own web process (no view is related to another),
// so that a crash ends one reader only. Main thread.
class ReaderWebViewFactory {
public:
    // Every web view it makes ends its context menu with `windowItems`.
    ReaderWebViewFactory(WebKitWebContext* context,
                         std::vector<ReaderContextMenu::WindowItem> windowItems);
    ~ReaderWebViewFactory();
    ReaderWebViewFactory(const ReaderWebViewFactory&) = delete;
    ReaderWebViewFactory& operator=(const ReaderWebViewFactory&) = delete;

    WebKitWebContext* context() const { return context_.get(); }

    GObjectPtr<WebKitWebView> makeWebView(
        std::shared_ptr<AppResourceSchemeHandler> appResources,
        std::shared_ptr<DocumentResourceSchemeHandler> documentResources);
    // The same web view as the prewarmer's spare (a SpareReaderWebView).
    std::shared_ptr<SpareWebView> makeSpare(
        std::shared_ptr<AppResourceSchemeHandler> appResources,
        std::shared_ptr<DocumentResourceSchemeHandler> documentResources);
    // The GTK form of a spare this factory made and that still lives; null
    // for any other (a reader adopts only its own factory's spares).
    SpareReaderWebView* madeSpare(const SpareWebView& spare) const;

    // A script put at the start of every page of the views made from now on
    // (measurements in benchmarks); the product adds none.
    void addStartScript(std::string source) { startScripts_.push_back(std::move(source)); }

private:
    GObjectPtr<WebKitWebContext> context_;
    std::vector<ReaderContextMenu::WindowItem> windowItems_;
    std::shared_ptr<ResourceSchemes> schemes_;
    std::vector<std::string> startScripts_;
    mutable std::vector<std::weak_ptr<SpareReaderWebView>> spares_;
};

}  // namespace larkspin
