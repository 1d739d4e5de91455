#include "Web/DiagramHostWebView.hpp"

#include <utility>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Log.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Diagrams/DiagramHostError.hpp"
#include "Protocol/Envelope/PageCallError.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Web/WebKitBridgePort.hpp"
#include "Web/WebViewSettings.hpp"

namespace larkspin {

namespace {

const std::string handlerName(DiagramHostProtocol::handlerName);

gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
            break;
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
            break;
        case WEBKIT_SCRIPT_DIALOG_ALERT:
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            break;
    }
    return TRUE;  // answered: nothing is shown, nothing waits
}

GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
    return nullptr;
}

// Callbacks of the host are never called inside the call that was given them.
template <typename Callback, typename Argument>
void later(Callback callback, Argument argument) {
    MainThread::post([callback = std::move(callback), argument = std::move(argument)]() mutable {
        callback(std::move(argument));
    });
}

}  // namespace

std::shared_ptr<DiagramHostWebView> DiagramHostWebView::create(
    WebKitWebContext* context, std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
    DiagramHostIsolation isolation) {
    return std::shared_ptr<DiagramHostWebView>(
        new DiagramHostWebView(context, std::move(schemeHandler), isolation));
}

DiagramHostWebView::DiagramHostWebView(WebKitWebContext* context,
                                       std::shared_ptr<AppResourceSchemeHandler> schemeHandler,
                                       DiagramHostIsolation isolation)
    : context_(GObjectPtr<WebKitWebContext>::retain(context)),
      schemeHandler_(std::move(schemeHandler)),
      isolation_(isolation) {}

DiagramHostWebView::~DiagramHostWebView() {
    // Released by its owner: nobody waits for the callbacks any more.
    loadDone_.reset();
    pending_.reset();
    tearDown(false);
}

void DiagramHostWebView::makeWebView() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (isolation_ == DiagramHostIsolation::freshProcessPool) {
        context_ = GObjectPtr<WebKitWebContext>::adopt(webkit_web_context_new());
    }
    auto manager = GObjectPtr<WebKitUserContentManager>::adopt(webkit_user_content_manager_new());
    auto settings = WebViewSettings::make();
    GObjectPtr<WebKitNetworkSession> session;
    if (isolation_ == DiagramHostIsolation::nonPersistentStore) {
        session = GObjectPtr<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    }
    auto* object = session
        ? g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), "user-content-manager",
                       manager.get(), "settings", settings.get(), "network-session",
                       session.get(), nullptr)
        : g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(), "user-content-manager",
                       manager.get(), "settings", settings.get(), nullptr);
    webView_ = GObjectPtr<WebKitWebView>::adopt(WEBKIT_WEB_VIEW(object));
    WebKitWebView* view = webView_.get();

    ResourceSchemes::install(context_.get())->appResources().route(view, schemeHandler_);
    g_signal_connect(view, "decide-policy", G_CALLBACK(&DiagramHostWebView::onDecidePolicy), this);
    g_signal_connect(view, "load-failed", G_CALLBACK(&DiagramHostWebView::onLoadFailed), this);
    g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), this);
    g_signal_connect(view, "create", G_CALLBACK(onCreate), this);
    // The one listener of the process end (the port does not hear it).
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(&DiagramHostWebView::onTerminated),
                     this);

    port_ = WebKitBridgePort::create(view, DiagramHostProtocol::callBody);
    std::weak_ptr<DiagramHostWebView> weak = weak_from_this();
    port_->registerMessageHandler(handlerName, [weak](const ReaderBridgePort::ScriptMessage& m) {
        if (auto self = weak.lock()) self->handleMessage(m);
    });
    port_->setPageEndHandler([weak](ReaderBridgePort::PageEnd end) {
        if (auto self = weak.lock()) self->pageDidEnd(end);
    });
}

void DiagramHostWebView::load(LoadDone done) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (destroyed_) {
        later(std::move(done), std::make_exception_ptr(DiagramHostError::destroyed()));
        return;
    }
    if (!webView_) makeWebView();
    loadDone_ = std::move(done);
    const std::string url(DiagramHostProtocol::hostURL);
    webkit_web_view_load_uri(webView_.get(), url.c_str());
}

void DiagramHostWebView::render(DiagramHostRequest request, RenderDone done) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!webView_ || destroyed_ || !port_) {
        later(std::move(done), RenderOutcome{std::nullopt,
                                             std::make_exception_ptr(DiagramHostError::notLoaded())});
        return;
    }
    if (pending_) {
        // The service sends one request at a time; a second one ends the first.
        failRender(std::make_exception_ptr(DiagramHostError::invalidResponse("请求被新的请求取代")));
    }
    std::string messageJSON;
    std::string messageID;
    try {
        const BridgeEnvelope envelope = DiagramHostProtocol::requestEnvelope(request);
        messageID = envelope.messageID;
        messageJSON = envelope.jsonText();
    } catch (...) {
        later(std::move(done), RenderOutcome{std::nullopt, std::current_exception()});
        return;
    }
    pending_ = PendingRender{0, std::move(done)};
    std::weak_ptr<DiagramHostWebView> weak = weak_from_this();
    auto callID = std::make_shared<ReaderBridgePort::CallID>(0);
    const ReaderBridgePort::CallID call = port_->callPageFunction(
        std::move(messageJSON), [weak, callID, messageID](ReaderBridgePort::CallResult result) {
            if (auto self = weak.lock()) self->callDidEnd(*callID, messageID, std::move(result));
        });
    *callID = call;
    if (pending_ && pending_->call == 0) pending_->call = call;
}

void DiagramHostWebView::callDidEnd(ReaderBridgePort::CallID call, std::string messageID,
                                    ReaderBridgePort::CallResult result) {
    if (!pending_ || (call != 0 && pending_->call != 0 && pending_->call != call)) return;
    RenderDone done = std::move(pending_->done);
    pending_.reset();
    RenderOutcome outcome;
    if (result.error) {
        outcome.error = result.error;
    } else {
        try {
            outcome.response = DiagramHostProtocol::readReply(messageID, result.replyJSON);
        } catch (...) {
            outcome.error = std::current_exception();
        }
    }
    later(std::move(done), std::move(outcome));
}

void DiagramHostWebView::destroy() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    destroyed_ = true;
    failLoad(std::make_exception_ptr(DiagramHostError::destroyed()));
    failRender(std::make_exception_ptr(DiagramHostError::destroyed()));
    tearDown(true);
}

void DiagramHostWebView::tearDown(bool terminate) {
    if (!webView_) return;
    WebKitWebView* view = webView_.get();
    if (port_) {
        // The termination that follows is ours: nobody is told of it.
        port_->setPageEndHandler({});
        port_->unregisterMessageHandler(handlerName);
        port_.reset();
    }
    g_signal_handlers_disconnect_by_data(view, this);
    webkit_web_view_stop_loading(view);
    if (terminate) webkit_web_view_terminate_web_process(view);
    ResourceSchemes::install(context_.get())->appResources().unroute(view);
    webView_.reset();
}

void DiagramHostWebView::failLoad(std::exception_ptr error) {
    if (!loadDone_) return;
    LoadDone done = std::move(*loadDone_);
    loadDone_.reset();
    later(std::move(done), std::move(error));
}

void DiagramHostWebView::failRender(std::exception_ptr error) {
    if (!pending_) return;
    if (port_ && pending_->call != 0) port_->abandonCall(pending_->call);
    RenderDone done = std::move(pending_->done);
    pending_.reset();
    later(std::move(done), RenderOutcome{std::nullopt, std::move(error)});
}

void DiagramHostWebView::handleMessage(const ReaderBridgePort::ScriptMessage& message) {
    if (message.handlerName != handlerName) return;
    const auto read = DiagramHostProtocol::readHostMessage(message.bodyJSON);
    switch (read.kind) {
        case DiagramHostProtocol::HostMessage::Kind::ready:
            AppLog::diagrams.info("独立渲染宿主 ready");
            if (loadDone_) failLoad(nullptr);
            break;
        case DiagramHostProtocol::HostMessage::Kind::error:
            AppLog::diagrams.error("宿主报错：%{private}s", read.errorPayload.value_or("nil"));
            break;
        case DiagramHostProtocol::HostMessage::Kind::ignored:
            break;
    }
}

void DiagramHostWebView::pageDidEnd(ReaderBridgePort::PageEnd end) {
    switch (end) {
        case ReaderBridgePort::PageEnd::webProcessTerminated:
            AppLog::diagrams.error("独立渲染 WebView 的 Web 内容进程终止");
            failLoad(std::make_exception_ptr(DiagramHostError::loadFailed("Web 内容进程终止")));
            failRender(std::make_exception_ptr(PageCallError::webProcessTerminated()));
            break;
        case ReaderBridgePort::PageEnd::pageReplaced:
            failRender(std::make_exception_ptr(PageCallError::pageReplaced()));
            break;
        case ReaderBridgePort::PageEnd::webViewGone:
            failLoad(std::make_exception_ptr(DiagramHostError::destroyed()));
            failRender(std::make_exception_ptr(DiagramHostError::destroyed()));
            break;
    }
}

void DiagramHostWebView::onTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                      gpointer data) {
    static_cast<DiagramHostWebView*>(data)->pageDidEnd(ReaderBridgePort::PageEnd::webProcessTerminated);
}

gboolean DiagramHostWebView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                            WebKitPolicyDecisionType type, gpointer) {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    std::optional<std::string> url;
    if (uri) url = uri;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        DiagramHostProtocol::allowsNavigation(url)) {
        return FALSE;  // the host page (or another file of the renderer)
    }
    AppLog::diagrams.error("宿主拦截导航：%{private}s", url.value_or("<nil>"));
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

gboolean DiagramHostWebView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                                          gpointer data) {
    auto* self = static_cast<DiagramHostWebView*>(data);
    const std::string message = error && error->message ? error->message : "未知错误";
    self->failLoad(std::make_exception_ptr(DiagramHostError::loadFailed(message)));
    return FALSE;
}

}  // namespace larkspin
