#pragma once

#include <memory>
#include <optional>

#include "Platform/NotificationCenter.hpp"
#include "Reader/ReaderEnvironment.hpp"
#include "Window/SessionChanges.hpp"
#include "Window/WindowServices.hpp"

typedef struct _WebKitWebContext WebKitWebContext;

namespace larkspin {

class AccessibilityDisplaySource;
class AppResourceSchemeHandler;
class AppearanceController;
class DesktopAccessibilityMonitor;
class DiagramRenderService;
class DocumentPreferences;
class DraftWriter;
class EditorPreferences;
class RecoveryStore;
class ResourceWorkers;
class SerialExecutor;
class SessionStore;
class TabGroups;
class PasteboardService;
class ReaderWebViewFactory;
class TypographyController;
class UserDefaults;
class WebViewPrewarmer;
class WebViewWorkingSet;

// The program's composition root, made once by whoever runs the program over
// its preference store and notification centre. It makes and owns the
// reader's process-wide services, handed to each reader as one
// `ReaderEnvironment`: the renderer's files (walked once) and the queues the
// schemes read files on, the web view
// factory over one web context, the diagram service in that context, the
// prewarmer of spare web views, the working set of live web views, the
// clipboard and the theme in force; and the program's other shared
// instances, handed to the document controller and its pages as one
// `WindowServices`: the appearance, typography, editor and document
// preferences, the desktop's accessibility flags, the recovery store, the
// draft writer, the session's changes, the group windows with their pages
// and, for the program itself, the session store. Nothing below the App layer reaches any of them but through
// what it is given. Readers, spares and windows hold what they need; these
// services live until the last of them lets go. Main thread.
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

    // `defaults` and `notifications` outlive the services.
    ApplicationServices(UserDefaults& defaults, NotificationCenter& notifications, Options options);
    ~ApplicationServices();
    ApplicationServices(const ApplicationServices&) = delete;
    ApplicationServices& operator=(const ApplicationServices&) = delete;

    // What each reader is given.
    ReaderEnvironment readerEnvironment() const;
    // What the document controller and each tab page are given.
    WindowServices windowServices() const;
    // Asks for the first spare; the shell calls it once it has launched.
    void startPrewarming();

    ReaderWebViewFactory& webViewFactory() const { return *webViewFactory_; }
    const std::shared_ptr<AppResourceSchemeHandler>& rendererFiles() const { return rendererFiles_; }
    const std::shared_ptr<DiagramRenderService>& diagramService() const { return diagramService_; }
    const std::shared_ptr<WebViewPrewarmer>& prewarmer() const { return prewarmer_; }
    const std::shared_ptr<WebViewWorkingSet>& workingSet() const { return workingSet_; }
    UserDefaults& defaults() const { return defaults_; }
    NotificationCenter& notifications() const { return notifications_; }
    AppearanceController& appearance() const { return *appearance_; }
    TypographyController& typography() const { return *typography_; }
    EditorPreferences& editorPreferences() const { return *editorPreferences_; }
    DocumentPreferences& documentPreferences() const { return *documentPreferences_; }
    // The desktop's accessibility flags.
    AccessibilityDisplaySource& accessibility() const;
    const PasteboardService& pasteboard() const { return *pasteboard_; }
    const std::shared_ptr<RecoveryStore>& recoveryStore() const { return recoveryStore_; }
    const std::shared_ptr<DraftWriter>& draftWriter() const { return draftWriter_; }
    // Where the group windows note what changes the session; the session
    // store (with `Options::keepSession`) subscribes first.
    SessionChanges& sessionChanges() const { return sessionChanges_; }
    // The group windows and their pages.
    TabGroups& tabGroups() const { return *tabGroups_; }
    // Null unless `Options::keepSession`.
    SessionStore* sessionStore() const { return sessionStore_.get(); }
    // The session store's queue (its reads and writes); null with it.
    const std::shared_ptr<SerialExecutor>& sessionQueue() const { return sessionQueue_; }

private:
    UserDefaults& defaults_;
    NotificationCenter& notifications_;
    std::unique_ptr<AppearanceController> appearance_;
    std::unique_ptr<TypographyController> typography_;
    std::unique_ptr<EditorPreferences> editorPreferences_;
    std::unique_ptr<DocumentPreferences> documentPreferences_;
    std::unique_ptr<DesktopAccessibilityMonitor> accessibility_;
    std::unique_ptr<PasteboardService> pasteboard_;
    std::shared_ptr<RecoveryStore> recoveryStore_;
    std::shared_ptr<DraftWriter> draftWriter_;
    mutable SessionChanges sessionChanges_;
    // After the session's changes: a window destroyed with it notes its end.
    std::unique_ptr<TabGroups> tabGroups_;
    // The two queues the schemes read files on: the renderer's files one at
    // a time, document images two at a time.
    std::shared_ptr<ResourceWorkers> rendererFileWorkers_;
    std::shared_ptr<ResourceWorkers> imageWorkers_;
    std::shared_ptr<AppResourceSchemeHandler> rendererFiles_;
    std::shared_ptr<ReaderWebViewFactory> webViewFactory_;
    std::shared_ptr<DiagramRenderService> diagramService_;
    std::shared_ptr<WebViewPrewarmer> prewarmer_;
    std::shared_ptr<WebViewWorkingSet> workingSet_;
    std::shared_ptr<SerialExecutor> sessionQueue_;
    std::unique_ptr<SessionStore> sessionStore_;
    NotificationObserver sessionSubscription_;
};

}  // namespace larkspin
