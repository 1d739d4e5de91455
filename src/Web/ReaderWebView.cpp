#include "Web/ReaderWebView.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Web/ReaderContextMenu.hpp"
#include "Web/WebViewSettings.hpp"

namespace larkspin::ReaderWebView {

namespace {

constexpr const char* panelObserverKey = "larkspin-panel-observer";
constexpr const char* windowItemsKey = "larkspin-window-items";

gboolean onContextMenu(WebKitWebView* webView, WebKitContextMenu* menu, WebKitHitTestResult*,
                       gpointer) {
    prepareContextMenu(webView, menu);
    return FALSE;  // show the menu as edited
}

gboolean onScriptDialog(WebKitWebView* webView, WebKitScriptDialog* dialog, gpointer) {
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    switch (type) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
            break;
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);  // never hold a page
            break;
        case WEBKIT_SCRIPT_DIALOG_ALERT:
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            break;  // a prompt answers null
    }
    const auto* observer =
        static_cast<const PanelObserver*>(g_object_get_data(G_OBJECT(webView), panelObserverKey));
    if (observer && type != WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        const char* message = webkit_script_dialog_get_message(dialog);
        (*observer)(type, message ? message : "");
    }
    return TRUE;  // handled: nothing is shown
}

GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
    return nullptr;  // no new windows
}

}  // namespace

GObjectPtr<WebKitWebView> create(WebKitWebContext* context,
                                 std::vector<ReaderContextMenu::WindowItem> windowItems) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    auto contentManager =
        GObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    auto settings = WebViewSettings::make();
    auto webView = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                     contentManager.get(), "settings", settings.get(), nullptr)));
    g_signal_connect(webView.get(), "context-menu", G_CALLBACK(onContextMenu), nullptr);
    g_signal_connect(webView.get(), "script-dialog", G_CALLBACK(onScriptDialog), nullptr);
    g_signal_connect(webView.get(), "create", G_CALLBACK(onCreate), nullptr);
    if (!windowItems.empty()) {
        g_object_set_data_full(
            G_OBJECT(webView.get()), windowItemsKey,
            new std::vector<ReaderContextMenu::WindowItem>(std::move(windowItems)),
            [](gpointer data) { delete static_cast<std::vector<ReaderContextMenu::WindowItem>*>(data); });
    }
    return webView;
}

void setPanelObserver(WebKitWebView* webView, PanelObserver observer) {
    if (!observer) {
        g_object_set_data(G_OBJECT(webView), panelObserverKey, nullptr);
        return;
    }
    g_object_set_data_full(G_OBJECT(webView), panelObserverKey, new PanelObserver(std::move(observer)),
                           [](gpointer data) { delete static_cast<PanelObserver*>(data); });
}

void prepareContextMenu(WebKitWebView* webView, WebKitContextMenu* menu) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    ReaderContextMenu::removeInertItems(menu);
    if (const auto* items = static_cast<const std::vector<ReaderContextMenu::WindowItem>*>(
            g_object_get_data(G_OBJECT(webView), windowItemsKey))) {
        ReaderContextMenu::appendWindowItems(menu, GTK_WIDGET(webView), *items);
    }
}

}  // namespace larkspin::ReaderWebView
