#include "App/DocumentLinks.hpp"

#include <memory>
#include <utility>

#include "App/Desktop/GioApplicationLauncher.hpp"
#include "App/Desktop/MessageDialogConfirmation.hpp"

namespace larkspin {

void provideDocumentLinks(DesktopDocumentController::Dependencies& dependencies) {
    dependencies.makeLinkConfirmation = [](std::function<GtkWindow*()> parent) {
        return std::shared_ptr<OpenConfirmation>(
            std::make_shared<MessageDialogConfirmation>(std::move(parent)));
    };
    dependencies.linkLauncher = std::make_shared<GioApplicationLauncher>();
}

}  // namespace larkspin
