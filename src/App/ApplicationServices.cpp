#include "App/ApplicationServices.hpp"

#include <glib.h>
#include <webkit/webkit.h>

#include <cstdlib>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/DesktopAccessibilityMonitor.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Editor/EditorPreferences.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Log.hpp"
#include "Platform/TestHost.hpp"
#include "Platform/UserDefaults.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include "Protocol/Payloads/RendererLanguage.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Reader/PasteboardService.hpp"
#include "Web/DiagramRenderServices.hpp"
#include "Window/FilePathMenu.hpp"
#include "Window/SessionStore.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin {

ApplicationServices::ApplicationServices(UserDefaults& defaults, NotificationCenter& notifications,
                                         Options options)
    : defaults_(defaults),
      notifications_(notifications),
      appearance_(AppearanceController::followingDesktop(defaults, notifications)),
      typography_(std::make_unique<TypographyController>(defaults, notifications)),
      editorPreferences_(std::make_unique<EditorPreferences>(defaults, notifications)),
      documentPreferences_(std::make_unique<DocumentPreferences>(defaults, notifications)),
      accessibility_(std::make_unique<DesktopAccessibilityMonitor>()),
      pasteboard_(std::make_unique<PasteboardService>(PasteboardService::displayClipboard())),
      recoveryStore_(std::make_shared<RecoveryStore>(RecoveryStore::defaultDirectory(
          defaults, isTestHost()))),
      draftWriter_(std::make_shared<DraftWriter>()),
      tabGroups_(std::make_unique<TabGroups>()),
      rendererFileWorkers_(std::make_shared<PooledResourceWorkers>("resources.renderer", 1)),
      imageWorkers_(std::make_shared<PooledResourceWorkers>("resources.images", 2)) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    WebKitWebContext* context =
        options.webContext ? options.webContext : webkit_web_context_get_default();
    rendererFiles_ = AppResourceSchemeHandler::createForRenderer(rendererFileWorkers_);
    webViewFactory_ = std::make_shared<ReaderWebViewFactory>(context, FilePathMenu::describeItems());
    if (rendererFiles_) {
        const DiagramRenderService::Configuration configuration;
        AppLog::diagrams.info("独立渲染服务：isolation=%{public}s timeout=%ld ms",
                              rawValue(configuration.isolation), configuration.timeoutMs());
        diagramService_ = DiagramRenderServices::make(context, rendererFiles_->sibling(), configuration);
    }
    const bool prewarm = options.prewarm.value_or(WebViewPrewarmer::isEnabledByConfiguration(
        isTestHost(),
        defaults_.boolean(WebViewPrewarmer::preferenceKey)));
    WebViewPrewarmer::Dependencies spares;
    spares.rendererFiles = rendererFiles_;
    spares.imageWorkers = imageWorkers_;
    spares.clock = &Clock::system();
    // The factory outlives the prewarmer's use of it: the prewarmer holds it.
    spares.makeWebView = [factory = webViewFactory_](
                             std::shared_ptr<AppResourceSchemeHandler> appResources,
                             std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
        return factory->makeSpare(std::move(appResources), std::move(documentResources));
    };
    prewarmer_ = WebViewPrewarmer::create(prewarm, std::move(spares));
    workingSet_ = WebViewWorkingSet::create(WebViewWorkingSet::configuredHotLimit(
        defaults_.integer(WebViewWorkingSet::hotLimitKey)));
    if (options.keepSession) {
        sessionQueue_ = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.session");
        sessionStore_ = std::make_unique<SessionStore>(
            std::filesystem::path(g_get_user_state_dir()) / "Larkspin", Clock::system(),
            sessionQueue_, [groups = tabGroups_.get()] { return groups->sessionSnapshot(); });
        sessionSubscription_ = sessionChanges_.subscribe([store = sessionStore_.get()] { store->noteChanged(); });
    }
}

// The session's subscription goes first (the last member): a window that
// outlives the services notes its end to nobody.
ApplicationServices::~ApplicationServices() = default;

ReaderEnvironment ApplicationServices::readerEnvironment() const {
    ReaderEnvironment environment;
    environment.clock = &Clock::system();
    environment.rendererFiles = rendererFiles_;
    environment.imageWorkers = imageWorkers_;
    environment.preferredLocalizations = [] { return RendererLanguage::preferredLocalizations(); };
    environment.pasteboard = pasteboard_.get();
    environment.diagramService = diagramService_;
    environment.prewarmer = prewarmer_;
    environment.workingSet = workingSet_;
    // The appearance controller lives as long as the services, which outlive
    // every reader they serve.
    environment.currentTheme = [appearance = appearance_.get()] {
        return ThemeCatalog::theme(appearance->currentThemeID());
    };
    environment.webViewFactory = webViewFactory_.get();
    return environment;
}

AccessibilityDisplaySource& ApplicationServices::accessibility() const {
    return *accessibility_;
}

WindowServices ApplicationServices::windowServices() const {
    return WindowServices{defaults_,          notifications_,  Clock::system(),  *appearance_,
                          *typography_,       *editorPreferences_, *documentPreferences_, recoveryStore_,
                          draftWriter_,       sessionChanges_, *tabGroups_};
}

void ApplicationServices::startPrewarming() { prewarmer_->schedule(); }

}  // namespace larkspin
