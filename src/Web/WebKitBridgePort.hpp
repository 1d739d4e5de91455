#pragma once

#include <glib.h>

#include <map>
#include <memory>
#include <string>

#include "Platform/Glib/SignalConnection.hpp"
#include "Protocol/Bridge/ReaderBridgePort.hpp"

typedef struct _GObject GObject;
typedef struct _WebKitWebView WebKitWebView;

namespace larkspin {

// The reader bridge's binding to a WebKitGTK web view, held weakly.
// - Script messages: the handler is registered with the web view's own user
//   content manager (page world) and its "script-message-received::<name>"
//   signal. WebKitGTK names neither frame nor web view in a message: the web
//   view is the manager's, and the page's content security policy allows no
//   sub-frames, so every message counts as the main frame's.
// - Calls: webkit_web_view_call_async_javascript_function in the main frame
//   and page world, with the request's JSON text in the argument "message"
//   (GVariant arguments carry only numbers, strings and dictionaries). The
//   reading page answers with the reply's JSON text, a string, which is
//   taken as it is; an object or array result (the diagram host's) comes
//   back through jsc_value_to_json. Message bodies likewise: a string is the
//   JSON text, anything else is written as JSON. WebKit rebuilds a result or
//   a message body on the main thread before handing it over, and a string
//   costs a copy where an object graph of a large document costs seconds.
// - Page ends: a committed load (the old page is gone) and the web view's
//   finalisation. The end of the web process is not heard here: the view's
//   owner (the reader's signals, the diagram host) is its one listener and
//   tells the bridge, so the order of the two never depends on the order of
//   connections. WebKit does not answer a call
//   whose page was replaced or whose view was dropped, at best much later
//   when the page's script engine collects the promise; a waiting call also
//   keeps its web view alive. The bridge therefore ends such calls itself,
//   and a late answer finds its call abandoned and is dropped.
// Main thread only.
class WebKitBridgePort final : public ReaderBridgePort {
public:
    // The body run for every call of the reader's page.
    static constexpr const char* callBody = "return window.Orvik.handleMessageText(message);";

    // A port whose calls run `body` (another page's entry point, such as the
    // diagram host's) with the same "message" argument.
    static std::shared_ptr<WebKitBridgePort> create(WebKitWebView* webView,
                                                    std::string body = callBody);
    ~WebKitBridgePort() override;
    WebKitBridgePort(const WebKitBridgePort&) = delete;
    WebKitBridgePort& operator=(const WebKitBridgePort&) = delete;

    bool isAlive() const override { return webView_ != nullptr; }
    const void* webViewIdentity() const override { return webView_; }
    bool registerMessageHandler(const std::string& name, MessageHandler handler) override;
    void unregisterMessageHandler(const std::string& name) override;
    CallID callPageFunction(std::string messageJSON, CallCallback done) override;
    // The reading page's entries: `handleMessageText`, `appendMessageText`
    // and `takeReplyText` of `window.Orvik`.
    CallID callPage(PageCall call, CallCallback done) override;
    void abandonCall(CallID call) override;
    void setPageEndHandler(PageEndHandler handler) override;

private:
    WebKitBridgePort(WebKitWebView* webView, std::string body);

    static void webViewFinalized(gpointer data, GObject* whereTheObjectWas);
    void pageDidEnd(PageEnd end);
    CallID startCall(const char* body, GVariantDict* arguments, CallCallback done);

    WebKitWebView* webView_ = nullptr;  // cleared when the view is finalised
    std::string body_;
    SignalConnection loadChanged_;
    std::map<std::string, gulong> messageHandlers_;  // name → signal handler on the manager
    PageEndHandler pageEnd_;
};

}  // namespace larkspin
