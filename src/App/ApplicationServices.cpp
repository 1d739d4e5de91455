#include "App/ApplicationServices.hpp"

#include <glib.h>
#include <webkit/webkit.h>

#include <cstdlib>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Log.hpp"
#include "Platform/TestHost.hpp"
#include "Platform/UserDefaults.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Payloads/RendererLanguage.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Reader/WebViewPrewarmer.hpp"
#include "Reader/WebViewWorkingSet.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Reader/PasteboardService.hpp"
#include "Web/DiagramRenderServices.hpp"
#include "Window/FilePathMenu.hpp"
#include "Window/SessionStore.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

ApplicationServices::ApplicationServices(Options options) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    WebKitWebContext* context =
        options.webContext ? options.webContext : webkit_web_context_get_default();
    rendererFiles_ = AppResourceSchemeHandler::createForRenderer();
    webViewFactory_ = std::make_shared<ReaderWebViewFactory>(context, FilePathMenu::describeItems());
    if (rendererFiles_) {
        const DiagramRenderService::Configuration configuration;
        AppLog::diagrams.info("独立渲染服务：isolation=%{public}s timeout=%ld ms",
                              rawValue(configuration.isolation), configuration.timeoutMs());
        diagramService_ = DiagramRenderServices::make(context, rendererFiles_->sibling(), configuration);
    }
    const bool prewarm = options.prewarm.value_or(WebViewPrewarmer::isEnabledByConfiguration(
        isTestHost(),
        UserDefaults::standard().boolean(WebViewPrewarmer::preferenceKey)));
    WebViewPrewarmer::Dependencies spares;
    spares.rendererFiles = rendererFiles_;
    spares.clock = &Clock::system();
    // The factory outlives the prewarmer's use of it: the prewarmer holds it.
    spares.makeWebView = [factory = webViewFactory_](
                             std::shared_ptr<AppResourceSchemeHandler> appResources,
                             std::shared_ptr<DocumentResourceSchemeHandler> documentResources) {
        return factory->makeSpare(std::move(appResources), std::move(documentResources));
    };
    prewarmer_ = WebViewPrewarmer::create(prewarm, std::move(spares));
    workingSet_ = WebViewWorkingSet::create(WebViewWorkingSet::configuredHotLimit(
        UserDefaults::standard().integer(WebViewWorkingSet::hotLimitKey)));
    recoveryStore_ = RecoveryStore::shared();
    documentPreferences_ = &DocumentPreferences::shared();
    if (options.keepSession) {
        sessionQueue_ = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.session");
        sessionStore_ = std::make_unique<SessionStore>(
            std::filesystem::path(g_get_user_state_dir()) / "Larkspin", Clock::system(),
            sessionQueue_, [] { return TabGroupWindow::sessionSnapshot(); });
        TabGroupWindow::onSessionChanged() = [store = sessionStore_.get()] { store->noteChanged(); };
    }
}

ApplicationServices::ApplicationServices() : ApplicationServices(Options{}) {}

ApplicationServices::~ApplicationServices() {
    if (sessionStore_) TabGroupWindow::onSessionChanged() = nullptr;
}

ReaderEnvironment ApplicationServices::readerEnvironment() const {
    ReaderEnvironment environment;
    environment.clock = &Clock::system();
    environment.rendererFiles = rendererFiles_;
    environment.preferredLocalizations = [] { return RendererLanguage::preferredLocalizations(); };
    environment.pasteboard = &PasteboardService::general();
    environment.diagramService = diagramService_;
    environment.prewarmer = prewarmer_;
    environment.workingSet = workingSet_;
    environment.currentTheme = [] {
        return ThemeCatalog::theme(AppearanceController::shared().currentThemeID());
    };
    environment.webViewFactory = webViewFactory_.get();
    return environment;
}

void ApplicationServices::startPrewarming() { prewarmer_->schedule(); }

}  // namespace larkspin
