#pragma once

#include <webkit/webkit.h>

#include <memory>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Reader/ReaderHost.hpp"
#include "Reader/Widgets/ReaderWebViewSignals.hpp"

namespace larkspin {

// The prewarmer's spare in GTK: a reader web view from the factory that
// lives in no window (hidden, 0×0; its page says "ready" without a frame)
// until a `ReaderView` adopts it. Its bridge port is made once, on first
// request. Main thread.
class SpareReaderWebView final : public SpareWebView {
public:
    explicit SpareReaderWebView(GObjectPtr<WebKitWebView> webView);

    WebKitWebView* webView() const { return webView_.get(); }

    std::shared_ptr<ReaderBridgePort> bridgePort() override;
    void setEvents(std::weak_ptr<ReaderHostEvents> events) override;
    void loadEntryPage(std::string_view url) override;
    void stopLoading() override;

private:
    GObjectPtr<WebKitWebView> webView_;
    std::shared_ptr<ReaderBridgePort> port_;
    ReaderWebViewSignals signals_;
};

}  // namespace larkspin
