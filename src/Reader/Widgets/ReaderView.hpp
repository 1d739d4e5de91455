#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <memory>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/Widgets/DocumentStatusView.hpp"
#include "Reader/ReaderHost.hpp"
#include "Reader/Widgets/ReaderWebViewSignals.hpp"
#include "Reader/Widgets/ResourceBannerView.hpp"

namespace larkspin {

class ReaderWebViewFactory;

// The reader's widgets: a vertical box of the banner (when shown) above the
// web view (or the renderer-missing label), whose place the status view takes
// while it is shown; nothing lies over the page. The one place where a reader web view is mounted, new
// from the factory or adopted from the prewarmer. It reports the web view's
// navigations, loads, process end and panels to the controller and shows
// what the controller decides. Main thread.
class ReaderView final : public ReaderHost {
public:
    explicit ReaderView(ReaderWebViewFactory& factory);
    ~ReaderView() override;
    ReaderView(const ReaderView&) = delete;
    ReaderView& operator=(const ReaderView&) = delete;

    // The root to put into the tab page. It requests no size of its own.
    GtkWidget* widget() const { return root_.get(); }
    WebKitWebView* webView() const { return webView_.get(); }
    DocumentStatusView* statusView() const { return statusView_.get(); }
    ResourceBannerView* bannerView() const { return bannerView_.get(); }

    void setEvents(std::weak_ptr<ReaderHostEvents> events) override;
    void showRendererMissing(const std::string& text) override;
    std::shared_ptr<ReaderBridgePort> installWebView(
        std::shared_ptr<AppResourceSchemeHandler> appResources,
        std::shared_ptr<DocumentResourceSchemeHandler> documentResources,
        const std::optional<ColorComponents>& underPageColor) override;
    void adoptWebView(std::shared_ptr<SpareWebView> spare,
                      const std::optional<ColorComponents>& underPageColor) override;
    void loadEntryPage(std::string_view url) override;
    void stopLoading() override;
    void discardWebView() override;
    void setUnderPageColor(const ColorComponents& color) override;
    void focusPage() override;
    std::string underPageColorDescription() const override;
    Task<std::optional<std::string>> runPageScript(std::string body) override;
    void showStatus(const DocumentStatusContent& content, const Theme& theme,
                    std::function<void()> onAction) override;
    void hideStatus() override;
    void applyTheme(const Theme& theme) override;
    void showBanner(const std::string& message, const std::string& actionTitle,
                    std::function<void()> onAction, std::function<void()> onDismiss) override;
    void hideBanner() override;

private:
    void mount(GObjectPtr<WebKitWebView> webView, const std::optional<ColorComponents>& underPageColor);

    ReaderWebViewFactory& factory_;
    std::weak_ptr<ReaderHostEvents> events_;
    GObjectPtr<GtkWidget> root_;
    GObjectPtr<WebKitWebView> webView_;
    ReaderWebViewSignals signals_;
    GtkWidget* missingLabel_ = nullptr;
    std::unique_ptr<DocumentStatusView> statusView_;
    std::unique_ptr<ResourceBannerView> bannerView_;
    std::optional<ColorComponents> underPageColor_;
    bool refocusNextView_ = false;  // the discarded view had the focus
};

}  // namespace larkspin
