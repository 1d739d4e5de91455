#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Appearance/Theme.hpp"
#include "Platform/Async/Clock.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DiagramRenderService;
class PasteboardService;
class ReaderWebViewFactory;
class ResourceWorkers;
class WebViewPrewarmer;
class WebViewWorkingSet;

// The process-wide services every reader uses, handed to each one by whoever
// owns them (the application's services; tests and benchmarks build their
// own). Nothing here has a default: a reader refuses an environment without a
// clock, the image workers, a pasteboard, a language list or a theme source,
// so that no test reaches the desktop by forgetting one.
struct ReaderEnvironment {
    Clock* clock = nullptr;
    // The renderer's files, walked once per process; each web view serves
    // them through a sibling of this handler. None when they are missing.
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles;
    // Where each web view's handler reads the document's images.
    std::shared_ptr<ResourceWorkers> imageWorkers;
    // The page's language list.
    std::function<std::vector<std::string>()> preferredLocalizations;
    const PasteboardService* pasteboard = nullptr;
    // Renders the page's diagrams; none answers every request "unavailable".
    std::shared_ptr<DiagramRenderService> diagramService;
    // The source of spare web views; none: every web view is made by the
    // reader's host.
    std::shared_ptr<WebViewPrewarmer> prewarmer;
    // The documents that keep a live web view (for window controllers).
    std::shared_ptr<WebViewWorkingSet> workingSet;
    // The theme in force, for the views drawn outside the page.
    std::function<Theme()> currentTheme;
    // The maker of reader web views, for the GTK host (`ReaderView`); the
    // deciding code never uses it.
    ReaderWebViewFactory* webViewFactory = nullptr;
};

}  // namespace larkspin
