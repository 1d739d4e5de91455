#pragma once

#include <webkit/webkit.h>

#include <memory>
#include <optional>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Protocol/Diagrams/DiagramHostDriving.hpp"
#include "Protocol/Diagrams/DiagramHostIsolation.hpp"
#include "Protocol/Bridge/ReaderBridgePort.hpp"

namespace larkspin {

class AppResourceSchemeHandler;
class WebKitBridgePort;

// The diagram render service's host: a WebKitWebView that lives in no window
// and loads "app-resource://renderer/diagram-host.html".
// - Its web context is the one given (the reader's shared context, whose
//   "app-resource" scheme registration it reuses and routes to the given
//   handler), or, for `freshProcessPool`, a context of its own; for
//   `nonPersistentStore` it gets an ephemeral network session.
// - Its own user content manager carries the script message handler
//   "orvikDiagramHost"; requests go through WebKitBridgePort as JSON text to
//   window.OrvikDiagramHost.handleMessage.
// - Script dialogs are answered at once, new windows refused, and every
//   navigation outside app-resource://renderer is refused and logged.
// - destroy() disconnects the termination handler and ends the web process
//   (webkit_web_view_terminate_web_process), so a page stuck in a layout
//   stops at once; releasing the host without destroy() only lets the web
//   view go.
// Main thread only. Create with `create`; owned by a shared_ptr.
class DiagramHostWebView final : public DiagramHostDriving,
                                 public std::enable_shared_from_this<DiagramHostWebView> {
public:
    static std::shared_ptr<DiagramHostWebView> create(
        WebKitWebContext* context, std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
        DiagramHostIsolation isolation = DiagramHostIsolation::shared);
    ~DiagramHostWebView() override;
    DiagramHostWebView(const DiagramHostWebView&) = delete;
    DiagramHostWebView& operator=(const DiagramHostWebView&) = delete;

    void load(LoadDone done) override;
    void render(DiagramHostRequest request, RenderDone done) override;
    void destroy() override;

    // The web view while the host has one (for tests).
    WebKitWebView* webView() const { return webView_.get(); }

private:
    struct PendingRender {
        ReaderBridgePort::CallID call = 0;
        RenderDone done;
    };

    DiagramHostWebView(WebKitWebContext* context,
                       std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
                       DiagramHostIsolation isolation);

    void makeWebView();
    void handleMessage(const ReaderBridgePort::ScriptMessage& message);
    void pageDidEnd(ReaderBridgePort::PageEnd end);
    void failLoad(std::exception_ptr error);
    void failRender(std::exception_ptr error);
    void callDidEnd(ReaderBridgePort::CallID call, std::string messageID,
                    ReaderBridgePort::CallResult result);
    void tearDown(bool terminate);

    static gboolean onDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    static void onTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                             gpointer data);
    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                 GError* error, gpointer data);

    GObjectPtr<WebKitWebContext> context_;
    std::shared_ptr<AppResourceSchemeHandler> schemeHandler_;
    DiagramHostIsolation isolation_;
    GObjectPtr<WebKitWebView> webView_;
    std::shared_ptr<WebKitBridgePort> port_;
    std::optional<LoadDone> loadDone_;
    std::optional<PendingRender> pending_;
    bool destroyed_ = false;
};

}  // namespace larkspin
