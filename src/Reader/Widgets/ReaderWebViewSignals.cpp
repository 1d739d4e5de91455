#include "Reader/Widgets/ReaderWebViewSignals.hpp"

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Web/ReaderWebView.hpp"

namespace larkspin {

namespace {

// WebKitGTK numbers its navigation types differently from the protocol (its
// "other" is 5): map by name. A value WebKit may add later is unknown.
NavigationType navigationType(WebKitNavigationType type) {
    switch (type) {
        case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
            return NavigationType::linkActivated;
        case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
            return NavigationType::formSubmitted;
        case WEBKIT_NAVIGATION_TYPE_BACK_FORWARD:
            return NavigationType::backForward;
        case WEBKIT_NAVIGATION_TYPE_RELOAD:
            return NavigationType::reload;
        case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
            return NavigationType::formResubmitted;
        case WEBKIT_NAVIGATION_TYPE_OTHER:
            return NavigationType::other;
    }
    return static_cast<NavigationType>(1000 + static_cast<int>(type));
}

const char* terminationReason(WebKitWebProcessTerminationReason reason) {
    switch (reason) {
        case WEBKIT_WEB_PROCESS_CRASHED:
            return "crashed";
        case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
            return "exceededMemoryLimit";
        case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
            return "terminatedByAPI";
    }
    return "unknown";
}

// What a handler hears may drop the web view; WebKit still uses it after
// the signal returns, so it lives on until a later turn.
void keepUntilLater(WebKitWebView* view) {
    MainThread::post([kept = GObjectPtr<WebKitWebView>::retain(view)] {});
}

}  // namespace

void ReaderWebViewSignals::connect(WebKitWebView* webView, std::weak_ptr<ReaderHostEvents> events) {
    disconnect();
    g_weak_ref_set(&webView_, webView);
    events_ = std::move(events);
    decidePolicy_ = SignalConnection::connect(webView, "decide-policy",
                                              G_CALLBACK(&ReaderWebViewSignals::onDecidePolicy), this);
    loadChanged_ = SignalConnection::connect(webView, "load-changed",
                                             G_CALLBACK(&ReaderWebViewSignals::onLoadChanged), this);
    loadFailed_ = SignalConnection::connect(webView, "load-failed",
                                            G_CALLBACK(&ReaderWebViewSignals::onLoadFailed), this);
    terminated_ = SignalConnection::connect(webView, "web-process-terminated",
                                            G_CALLBACK(&ReaderWebViewSignals::onTerminated), this);
    // After the web view's own handler, which makes no window either.
    create_ = SignalConnection::connect(webView, "create", G_CALLBACK(&ReaderWebViewSignals::onCreate), this);
    ReaderWebView::setPanelObserver(
        webView, [this](WebKitScriptDialogType type, const std::string& message) {
            const ScriptPanel panel = type == WEBKIT_SCRIPT_DIALOG_ALERT     ? ScriptPanel::alert
                                      : type == WEBKIT_SCRIPT_DIALOG_CONFIRM ? ScriptPanel::confirm
                                                                             : ScriptPanel::prompt;
            if (auto events = events_.lock()) events->webViewDidIgnorePanel(panel, message);
        });
}

void ReaderWebViewSignals::disconnect() {
    decidePolicy_.disconnect();
    loadChanged_.disconnect();
    loadFailed_.disconnect();
    terminated_.disconnect();
    create_.disconnect();
    if (auto* view = static_cast<WebKitWebView*>(g_weak_ref_get(&webView_))) {
        ReaderWebView::setPanelObserver(view, {});
        g_object_unref(view);
    }
    g_weak_ref_set(&webView_, nullptr);
}

gboolean ReaderWebViewSignals::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                              WebKitPolicyDecisionType type, gpointer data) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    auto* self = static_cast<ReaderWebViewSignals*>(data);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    NavigationRequest request;
    if (const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        uri != nullptr && *uri != '\0') {
        request.url = uri;
    }
    // A new-window request has no target frame; sub-frames cannot exist (the
    // page's content security policy has frame-src 'none').
    request.hasTargetFrame = type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    request.isMainFrame = request.hasTargetFrame;
    request.type = navigationType(webkit_navigation_action_get_navigation_type(action));
    const auto events = self->events_.lock();
    if (events && events->webViewShouldNavigate(request)) {
        webkit_policy_decision_use(decision);
    } else {
        webkit_policy_decision_ignore(decision);
    }
    return TRUE;
}

void ReaderWebViewSignals::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    if (auto events = static_cast<ReaderWebViewSignals*>(data)->events_.lock()) {
        events->webViewDidFinishLoad();
    }
}

gboolean ReaderWebViewSignals::onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar*,
                                            GError* error, gpointer data) {
    keepUntilLater(view);
    if (auto events = static_cast<ReaderWebViewSignals*>(data)->events_.lock()) {
        events->webViewDidFailLoad(event == WEBKIT_LOAD_STARTED, error ? error->message : "");
    }
    return TRUE;  // no error page: the reader navigates nowhere else
}

void ReaderWebViewSignals::onTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                                        gpointer data) {
    keepUntilLater(view);
    if (auto events = static_cast<ReaderWebViewSignals*>(data)->events_.lock()) {
        events->webViewProcessDidTerminate(terminationReason(reason));
    }
}

GtkWidget* ReaderWebViewSignals::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
    std::optional<std::string> url;
    if (const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action))) url = uri;
    if (auto events = static_cast<ReaderWebViewSignals*>(data)->events_.lock()) {
        events->webViewDidRefuseNewWindow(url);
    }
    return nullptr;
}

}  // namespace larkspin
