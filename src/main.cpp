#include <glib.h>

#include "App/BuildInfo.hpp"
#include "App/ApplicationServices.hpp"
#include "App/Desktop/LarkspinApplication.hpp"
#include "App/Desktop/DesktopShellDocuments.hpp"
#include "App/DocumentLinks.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Log.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Desktop/ReaderAppearanceFeed.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

int main(int argc, char** argv) {
    using namespace larkspin;
    MainThread::initialize();
    AppLog::installWriter();
    LaunchTiming::mark("main");
    g_set_application_name(BuildInfo::name);
    // The program's preferences and notification centre. The preferences are
    // never destroyed (a page released at exit may still read them): a static
    // keeps them reachable.
    static UserDefaults* preferences = nullptr;
    {
        // The preferences are read once, before the main loop runs.
        FileAccessCheck::Allowance allowance;
        preferences = new UserDefaults(UserDefaults::standardLocation());
    }
    const std::shared_ptr<NotificationCenter> notifications = NotificationCenter::create();
    int status = 0;
    {
        LarkspinApplication application(*preferences, *notifications, [](ApplicationServices& services,
                                                                         GtkApplication* app) {
            DesktopDocumentController::Dependencies dependencies;
            dependencies.environment = services.readerEnvironment();
            dependencies.application = app;
            provideDocumentLinks(dependencies);
            dependencies.appearance = ReaderAppearanceFeed::program(
                {services.appearance(), services.typography(), services.accessibility(), services.defaults(),
                 services.notifications()});
            dependencies.fileManager = FileManagerReveal::systemPort();
            auto controller = DesktopDocumentController::create(services.windowServices(), std::move(dependencies));
            auto shell =
                std::make_shared<DesktopShellDocuments>(controller, app, services.sessionChanges());
            LarkspinApplication::Documents documents;
            documents.controller = controller;
            documents.shell = shell;
            documents.placePage = [weak = std::weak_ptr(controller)](
                                      OpenedDocument& document, TabGroupWindow& group, bool select) {
                if (auto alive = weak.lock()) alive->placePage(document, group, select);
            };
            return documents;
        });
        status = application.run(argc, argv);
    }
    // Queued writes (drafts, the session, preferences) reach the disk.
    MainThread::beginQuitting();
    SerialExecutor::finishAll();
    return status;
}
