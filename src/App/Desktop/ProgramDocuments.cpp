#include "App/Desktop/ProgramDocuments.hpp"

#include "App/ApplicationServices.hpp"
#include "App/Desktop/DesktopShellDocuments.hpp"
#include "App/DocumentLinks.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Desktop/ReaderAppearanceFeed.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

LarkspinApplication::Documents programDocuments(ApplicationServices& services, GtkApplication* application) {
    DesktopDocumentController::Dependencies dependencies;
    dependencies.environment = services.readerEnvironment();
    dependencies.application = application;
    provideDocumentLinks(dependencies);
    dependencies.appearance = ReaderAppearanceFeed::program(
        {services.appearance(), services.typography(), services.accessibility(), services.defaults(),
         services.notifications()});
    dependencies.fileManager = FileManagerReveal::systemPort();
    auto controller = DesktopDocumentController::create(services.windowServices(), std::move(dependencies));
    LarkspinApplication::Documents documents;
    documents.controller = controller;
    documents.shell = std::make_shared<DesktopShellDocuments>(controller, application, services.sessionChanges());
    documents.placePage = [weak = std::weak_ptr(controller)](OpenedDocument& document, TabGroupWindow& group,
                                                             bool select) {
        if (auto alive = weak.lock()) alive->placePage(document, group, select);
    };
    return documents;
}

}  // namespace larkspin
