#pragma once

#include <memory>
#include <optional>

#include "Reader/ReaderEnvironment.hpp"

typedef struct _WebKitWebContext WebKitWebContext;

namespace larkspin {

class AppResourceSchemeHandler;
class DiagramRenderService;
class DocumentPreferences;
class RecoveryStore;
class SerialExecutor;
class SessionStore;
class PasteboardService;
class ReaderWebViewFactory;
class WebViewPrewarmer;
class WebViewWorkingSet;

// The reader's process-wide services, made once by whoever runs the program
// and handed to each reader as one `ReaderEnvironment`: the renderer's files
// (walked once), the web view factory over one web context, the diagram
// service in that context, the prewarmer of spare web views, the working set
// of live web views, the clipboard and the theme in force; and the program's
// other shared instances: the recovery store, the document preferences and,
// for the program itself, the session store. Readers, spares and windows
// hold what they need; these services live until the last of them lets go.
// Main thread.
class ApplicationServices {
public:
    struct Options {
        // The web context of every reader web view and diagram host; the
        // default context when null.
        WebKitWebContext* webContext = nullptr;
        // The prewarmer's switch; by the configuration when unset (off in a
        // test host, else "MDWebViewPrewarm", on by default).
        std::optional<bool> prewarm;
        // Keeps the session file (g_get_user_state_dir()/Larkspin) up to date
        // with the group windows; only the program itself does.
        bool keepSession = false;
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
    const std::shared_ptr<RecoveryStore>& recoveryStore() const { return recoveryStore_; }
    DocumentPreferences& documentPreferences() const { return *documentPreferences_; }
    // Null unless `Options::keepSession`.
    SessionStore* sessionStore() const { return sessionStore_.get(); }
    // The session store's queue (its reads and writes); null with it.
    const std::shared_ptr<SerialExecutor>& sessionQueue() const { return sessionQueue_; }

private:
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles_;
    std::shared_ptr<ReaderWebViewFactory> webViewFactory_;
    std::shared_ptr<DiagramRenderService> diagramService_;
    std::shared_ptr<WebViewPrewarmer> prewarmer_;
    std::shared_ptr<WebViewWorkingSet> workingSet_;
    std::shared_ptr<RecoveryStore> recoveryStore_;
    DocumentPreferences* documentPreferences_ = nullptr;
    std::shared_ptr<SerialExecutor> sessionQueue_;
    std::unique_ptr<SessionStore> sessionStore_;
};

}  // namespace larkspin
