#include "Reader/Widgets/ReaderView.hpp"

#include <string>
#include <utility>

#include "Platform/Log.hpp"
#include "Reader/Widgets/ReaderWebViewFactory.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"
#include "Reader/Widgets/SpareReaderWebView.hpp"
#include "Web/PageScript.hpp"
#include "Web/WebKitBridgePort.hpp"

namespace larkspin {

ReaderView::ReaderView(ReaderWebViewFactory& factory) : factory_(factory) {
    root_ = GObjectPtr<GtkWidget>::adopt(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    gtk_widget_set_hexpand(root_.get(), TRUE);
    gtk_widget_set_vexpand(root_.get(), TRUE);
}

ReaderView::~ReaderView() { discardWebView(); }

void ReaderView::showRendererMissing(const std::string& text) {
    if (missingLabel_) {
        gtk_label_set_text(GTK_LABEL(missingLabel_), text.c_str());
        return;
    }
    missingLabel_ = gtk_label_new(text.c_str());
    gtk_label_set_wrap(GTK_LABEL(missingLabel_), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(missingLabel_), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(missingLabel_), GTK_JUSTIFY_CENTER);
    gtk_widget_set_halign(missingLabel_, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(missingLabel_, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_start(missingLabel_, 24);
    gtk_widget_set_margin_end(missingLabel_, 24);
    gtk_widget_set_vexpand(missingLabel_, TRUE);
    gtk_widget_set_visible(missingLabel_, statusView_ == nullptr);
    gtk_box_append(GTK_BOX(root_.get()), missingLabel_);
}

void ReaderView::setEvents(std::weak_ptr<ReaderHostEvents> events) {
    events_ = std::move(events);
    signals_.setEvents(events_);
}

std::shared_ptr<ReaderBridgePort> ReaderView::installWebView(
    std::shared_ptr<AppResourceSchemeHandler> appResources,
    std::shared_ptr<DocumentResourceSchemeHandler> documentResources,
    const std::optional<ColorComponents>& underPageColor) {
    mount(factory_.makeWebView(std::move(appResources), std::move(documentResources)),
          underPageColor);
    return WebKitBridgePort::create(webView_.get());
}

void ReaderView::adoptWebView(std::shared_ptr<SpareWebView> spare,
                              const std::optional<ColorComponents>& underPageColor) {
    auto* made = spare ? factory_.madeSpare(*spare) : nullptr;
    if (!made) {
        AppLog::bridge.fault("备用 WKWebView 不是本程序的 web view，未挂载");
        return;
    }
    made->setEvents({});  // its signals are the reader's from now on
    mount(GObjectPtr<WebKitWebView>::retain(made->webView()), underPageColor);
}

void ReaderView::mount(GObjectPtr<WebKitWebView> webView,
                       const std::optional<ColorComponents>& underPageColor) {
    discardWebView();
    if (missingLabel_) {  // the page is there after all
        gtk_box_remove(GTK_BOX(root_.get()), missingLabel_);
        missingLabel_ = nullptr;
    }
    webView_ = std::move(webView);
    WebKitWebView* view = webView_.get();
    gtk_widget_set_hexpand(GTK_WIDGET(view), TRUE);
    gtk_widget_set_vexpand(GTK_WIDGET(view), TRUE);
    if (underPageColor) {
        const GdkRGBA color = ReaderWidgetStyle::rgba(*underPageColor);
        webkit_web_view_set_background_color(view, &color);
    }
    gtk_widget_set_visible(GTK_WIDGET(view), statusView_ == nullptr);
    signals_.connect(view, events_);
    // Under the banner, if one is shown; the status view, if any, stays last.
    gtk_box_insert_child_after(GTK_BOX(root_.get()), GTK_WIDGET(view),
                               bannerView_ ? bannerView_->widget() : nullptr);
    // The page had the focus when its view went, and nothing took it since.
    if (std::exchange(refocusNextView_, false)) {
        GtkRoot* root = gtk_widget_get_root(root_.get());
        if (root && !gtk_root_get_focus(root)) gtk_widget_grab_focus(GTK_WIDGET(view));
    }
}

void ReaderView::loadEntryPage(std::string_view url) {
    if (webView_) webkit_web_view_load_uri(webView_.get(), std::string(url).c_str());
}

void ReaderView::stopLoading() {
    if (webView_) webkit_web_view_stop_loading(webView_.get());
}

Task<std::optional<std::string>> ReaderView::runPageScript(std::string body) {
    if (!webView_) return ReaderHost::runPageScript(std::move(body));
    return larkspin::runPageScript(webView_.get(), std::move(body));
}

void ReaderView::discardWebView() {
    if (!webView_) return;
    signals_.disconnect();
    webkit_web_view_stop_loading(webView_.get());
    GtkWidget* web = GTK_WIDGET(webView_.get());
    // A window keeps a reference to its focus widget, and moves the focus
    // off a widget that leaves it only when it lays out again: a hidden
    // window would keep the view, and its web process, until it is shown.
    // So the focus goes first; the next view mounted takes it back.
    if (GtkRoot* root = gtk_widget_get_root(web)) {
        GtkWidget* focus = gtk_root_get_focus(root);
        if (focus && (focus == web || gtk_widget_is_ancestor(focus, web))) {
            gtk_root_set_focus(root, nullptr);
            refocusNextView_ = true;
        }
    }
    if (gtk_widget_get_parent(web) == root_.get()) gtk_box_remove(GTK_BOX(root_.get()), web);
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
        root_.get(), "box { background-color: " + ReaderWidgetStyle::cssColor(color) + "; }");
}

void ReaderView::focusPage() {
    if (webView_) gtk_widget_grab_focus(GTK_WIDGET(webView_.get()));
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
        // In the page's place, below the banner: it gets exactly the
        // rectangle the page would have.
        statusView_ = std::make_unique<DocumentStatusView>();
        gtk_box_append(GTK_BOX(root_.get()), statusView_->widget());
    }
    statusView_->applyTheme(theme);
    statusView_->configure(content, std::move(onAction));
    if (webView_) gtk_widget_set_visible(GTK_WIDGET(webView_.get()), FALSE);
    if (missingLabel_) gtk_widget_set_visible(missingLabel_, FALSE);
}

void ReaderView::applyTheme(const Theme& theme) {
    if (statusView_) statusView_->applyTheme(theme);
}

void ReaderView::hideStatus() {
    if (statusView_) {
        gtk_box_remove(GTK_BOX(root_.get()), statusView_->widget());
        statusView_.reset();
    }
    if (webView_) gtk_widget_set_visible(GTK_WIDGET(webView_.get()), TRUE);
    if (missingLabel_) gtk_widget_set_visible(missingLabel_, TRUE);
}

void ReaderView::showBanner(const std::string& message, const std::string& actionTitle,
                            std::function<void()> onAction, std::function<void()> onDismiss) {
    if (!bannerView_) {
        // Above the page, which it pushes down: it covers nothing, the
        // page's scroll bar included.
        bannerView_ = std::make_unique<ResourceBannerView>();
        gtk_box_prepend(GTK_BOX(root_.get()), bannerView_->widget());
    }
    bannerView_->configure(message, actionTitle, std::move(onAction), std::move(onDismiss));
}

void ReaderView::hideBanner() {
    if (!bannerView_) return;
    gtk_box_remove(GTK_BOX(root_.get()), bannerView_->widget());
    bannerView_.reset();
}

}  // namespace larkspin
