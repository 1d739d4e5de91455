#pragma once

#include <webkit/webkit.h>

#include <functional>
#include <string>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Web/ReaderContextMenu.hpp"

namespace larkspin {

// The web view that shows a rendered document (also the prewarmed spare).
// It is a plain WebKitWebView made and configured here:
// - its own user content manager (the bridge registers its message handler
//   there);
// - the settings of every web view (`WebViewSettings::make`);
// - script dialogs (alert, confirm, prompt) are refused without showing
//   anything, and requests for new windows are refused;
// - its context menu loses the items that make no sense in a reader and ends
//   with the items the window layer gives (its file-path items).
// The window is not dragged from the web view's background: in GTK that
// would take the pointer from text selection.
namespace ReaderWebView {

// A new reader web view in `context` whose context menu ends with
// `windowItems`. Main thread.
GObjectPtr<WebKitWebView> create(WebKitWebContext* context,
                                 std::vector<ReaderContextMenu::WindowItem> windowItems = {});

// Told of each alert, confirm and prompt the page asked for, after it was
// answered; an empty function removes it.
using PanelObserver = std::function<void(WebKitScriptDialogType type, const std::string& message)>;
void setPanelObserver(WebKitWebView* webView, PanelObserver observer);

// The context menu's preparation ("context-menu" handler): the inert items
// go, then the view's window items are appended. Exposed for tests.
void prepareContextMenu(WebKitWebView* webView, WebKitContextMenu* menu);

}  // namespace ReaderWebView

}  // namespace larkspin
