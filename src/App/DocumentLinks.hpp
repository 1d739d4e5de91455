#pragma once

#include "Window/Desktop/DesktopDocumentController.hpp"

namespace larkspin {

// The desktop side of links clicked in documents: the question before
// another file goes to its default application (MessageDialogConfirmation,
// on the document's window) and GIO's default applications
// (GioApplicationLauncher). Fills the document controller's link entries;
// Markdown files open through the controller itself. Main thread.
void provideDocumentLinks(DesktopDocumentController::Dependencies& dependencies);

}  // namespace larkspin
