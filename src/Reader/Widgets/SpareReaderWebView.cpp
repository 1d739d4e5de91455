#include "Reader/Widgets/SpareReaderWebView.hpp"

#include <string>

#include "Web/WebKitBridgePort.hpp"

namespace larkspin {

SpareReaderWebView::SpareReaderWebView(GObjectPtr<WebKitWebView> webView)
    : webView_(std::move(webView)) {}

std::shared_ptr<ReaderBridgePort> SpareReaderWebView::bridgePort() {
    if (!port_) port_ = WebKitBridgePort::create(webView_.get());
    return port_;
}

void SpareReaderWebView::setEvents(std::weak_ptr<ReaderHostEvents> events) {
    if (events.expired()) {
        signals_.disconnect();
    } else {
        signals_.connect(webView_.get(), std::move(events));
    }
}

void SpareReaderWebView::loadEntryPage(std::string_view url) {
    webkit_web_view_load_uri(webView_.get(), std::string(url).c_str());
}

void SpareReaderWebView::stopLoading() { webkit_web_view_stop_loading(webView_.get()); }

}  // namespace larkspin
