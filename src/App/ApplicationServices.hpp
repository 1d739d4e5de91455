#pragma once

#include <webkit/webkit.h>

#include <memory>
#include <optional>

#include "Reader/ReaderEnvironment.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class DiagramRenderService;
class PasteboardService;
class ReaderWebViewFactory;
class WebViewPrewarmer;
class WebViewWorkingSet;

// The reader's process-wide services, made once by whoever runs the program
// and handed to each reader as one `ReaderEnvironment`: the renderer's files
// (walked once), the web view factory over one web context, the diagram
// service in that context, the prewarmer of spare web views, the working set
// of live web views, the clipboard and the theme in force. Readers, spares
// and windows hold what they need; these services live until the last of
// them lets go. Main thread.
class ApplicationServices {
public:
    struct Options {
        // The web context of every reader web view and diagram host; the
        // default context when null.
        WebKitWebContext* webContext = nullptr;
        // The prewarmer's switch; by the configuration when unset (off in a
        // test host, else "MDWebViewPrewarm", on by default).
        std::optional<bool> prewarm;
    };

    ApplicationServices();
    explicit ApplicationServices(Options options);
    ~ApplicationServices();
    ApplicationServices(const ApplicationServices&) = delete;
    ApplicationServices& operator=(const ApplicationServices&) = delete;

    // What each reader is given.
    ReaderEnvironment readerEnvironment() const;
    // Asks for the first spare; the shell calls it once it has launched.
    void startPrewarming();

    ReaderWebViewFactory& webViewFactory() const { return *webViewFactory_; }
    const std::shared_ptr<AppResourceSchemeHandler>& rendererFiles() const { return rendererFiles_; }
    const std::shared_ptr<DiagramRenderService>& diagramService() const { return diagramService_; }
    const std::shared_ptr<WebViewPrewarmer>& prewarmer() const { return prewarmer_; }
    const std::shared_ptr<WebViewWorkingSet>& workingSet() const { return workingSet_; }

private:
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles_;
    std::shared_ptr<ReaderWebViewFactory> webViewFactory_;
    std::shared_ptr<DiagramRenderService> diagramService_;
    std::shared_ptr<WebViewPrewarmer> prewarmer_;
    std::shared_ptr<WebViewWorkingSet> workingSet_;
};

}  // namespace larkspin
