#include "Reader/ReaderView.hpp"

#include <string>

#include "Reader/ReaderWebViewFactory.hpp"
#include "Reader/ReaderWidgetStyle.hpp"
#include "Web/WebKitBridgePort.hpp"

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

}  // namespace

ReaderView::ReaderView(ReaderWebViewFactory& factory) : factory_(factory) {
    root_ = GObjectPtr<GtkWidget>::adopt(gtk_overlay_new());
    gtk_widget_set_hexpand(root_.get(), TRUE);
    gtk_widget_set_vexpand(root_.get(), TRUE);
}

ReaderView::~ReaderView() { discardWebView(); }

void ReaderView::showRendererMissing(const std::string& text) {
    missingLabel_ = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(missingLabel_), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(missingLabel_), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(missingLabel_), GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(missingLabel_, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(missingLabel_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_start(missingLabel_, 24);
    gtk_widget_set_margin_end(missingLabel_, 24);
    gtk_overlay_set_child(GTK_OVERLAY(root_.get()), missingLabel_);
}

std::shared_ptr<ReaderBridgePort> ReaderView::installWebView(
    std::shared_ptr<AppResourceSchemeHandler> appResources,
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources,
    const std::optional<ColorComponents>& underPageColor) {
    discardWebView();
    webView_ = factory_.makeWebView(std::move(appResources), std::move(documentResources));
    WebKitWebView* view = webView_.get();
    gtk_widget_set_hexpand(GTK_WIDGET(view), TRUE);
    gtk_widget_set_vexpand(GTK_WIDGET(view), TRUE);
    if (underPageColor) {
        const GdkRGBA color = ReaderWidgetStyle::rgba(*underPageColor);
        webkit_web_view_set_background_color(view, &color);
    }
    gtk_widget_set_visible(GTK_WIDGET(view), statusView_ == nullptr);
    decidePolicy_ = SignalConnection::connect(view, "decide-policy",
                                              G_CALLBACK(&ReaderView::onDecidePolicy), this);
    loadChanged_ = SignalConnection::connect(view, "load-changed",
                                             G_CALLBACK(&ReaderView::onLoadChanged), this);
    loadFailed_ =
        SignalConnection::connect(view, "load-failed", G_CALLBACK(&ReaderView::onLoadFailed), this);
    terminated_ = SignalConnection::connect(view, "web-process-terminated",
                                            G_CALLBACK(&ReaderView::onTerminated), this);
    gtk_overlay_set_child(GTK_OVERLAY(root_.get()), GTK_WIDGET(view));
    return WebKitBridgePort::create(view);
}

void ReaderView::loadEntryPage(std::string_view url) {
    if (webView_) webkit_web_view_load_uri(webView_.get(), std::string(url).c_str());
}

void ReaderView::stopLoading() {
    if (webView_) webkit_web_view_stop_loading(webView_.get());
}

void ReaderView::discardWebView() {
    if (!webView_) return;
    decidePolicy_.disconnect();
    loadChanged_.disconnect();
    loadFailed_.disconnect();
    terminated_.disconnect();
    webkit_web_view_stop_loading(webView_.get());
    if (gtk_overlay_get_child(GTK_OVERLAY(root_.get())) == GTK_WIDGET(webView_.get())) {
        gtk_overlay_set_child(GTK_OVERLAY(root_.get()), nullptr);
    }
    webView_ = {};
}

void ReaderView::setUnderPageColor(const ColorComponents& color) {
    underPageColor_ = color;
    if (webView_) {
        const GdkRGBA rgba = ReaderWidgetStyle::rgba(color);
        webkit_web_view_set_background_color(webView_.get(), &rgba);
    }
    // Shown where no web view is (released, crashed).
    ReaderWidgetStyle::setWidgetCss(
        root_.get(), "overlay { background-color: " + ReaderWidgetStyle::cssColor(color) + "; }");
}

std::string ReaderView::underPageColorDescription() const {
    if (!webView_) return underPageColor_ ? ReaderWidgetStyle::cssColor(*underPageColor_) : "-";
    GdkRGBA color;
    webkit_web_view_get_background_color(webView_.get(), &color);
    gchar* text = gdk_rgba_to_string(&color);
    std::string description = text;
    g_free(text);
    return description;
}

void ReaderView::showStatus(const DocumentStatusContent& content, const Theme& theme,
                            std::function<void()> onAction) {
    if (!statusView_) {
        statusView_ = std::make_unique<DocumentStatusView>();
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), statusView_->widget());
        if (bannerView_) {  // the banner stays on top (the view holds its own reference)
            gtk_overlay_remove_overlay(GTK_OVERLAY(root_.get()), bannerView_->widget());
            gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), bannerView_->widget());
        }
    }
    statusView_->applyTheme(theme);
    statusView_->configure(content, std::move(onAction));
    if (webView_) gtk_widget_set_visible(GTK_WIDGET(webView_.get()), FALSE);
}

void ReaderView::hideStatus() {
    if (statusView_) {
        gtk_overlay_remove_overlay(GTK_OVERLAY(root_.get()), statusView_->widget());
        statusView_.reset();
    }
    if (webView_) gtk_widget_set_visible(GTK_WIDGET(webView_.get()), TRUE);
}

void ReaderView::showBanner(const std::string& message, const std::string& actionTitle,
                            std::function<void()> onAction, std::function<void()> onDismiss) {
    if (!bannerView_) {
        bannerView_ = std::make_unique<ResourceBannerView>();
        gtk_overlay_add_overlay(GTK_OVERLAY(root_.get()), bannerView_->widget());
    }
    bannerView_->configure(message, actionTitle, std::move(onAction), std::move(onDismiss));
}

void ReaderView::hideBanner() {
    if (!bannerView_) return;
    gtk_overlay_remove_overlay(GTK_OVERLAY(root_.get()), bannerView_->widget());
    bannerView_.reset();
}

gboolean ReaderView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer data) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    auto* self = static_cast<ReaderView*>(data);
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

void ReaderView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    if (auto events = static_cast<ReaderView*>(data)->events_.lock()) events->webViewDidFinishLoad();
}

gboolean ReaderView::onLoadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError* error,
                                  gpointer data) {
    if (auto events = static_cast<ReaderView*>(data)->events_.lock()) {
        events->webViewDidFailLoad(event == WEBKIT_LOAD_STARTED, error ? error->message : "");
    }
    return TRUE;  // no error page: the reader navigates nowhere else
}

void ReaderView::onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                              gpointer data) {
    if (auto events = static_cast<ReaderView*>(data)->events_.lock()) {
        events->webViewProcessDidTerminate(terminationReason(reason));
    }
}

}  // namespace larkspin
