#include "Web/WebKitBridgePort.hpp"

#include <webkit/webkit.h>

#include <unordered_map>
#include <utility>

#include "Platform/Async/MainThread.hpp"
#include "Protocol/Envelope/BridgeError.hpp"
#include "Protocol/Envelope/PageCallError.hpp"

namespace larkspin {

namespace {

// Calls waiting for WebKit, by number. WebKit's callback carries only the
// number, so a call that was abandoned (or whose port is gone) is simply not
// found; WebKit may keep an unanswered callback for ever without holding
// anything of ours. Main thread only; never destroyed.
std::unordered_map<ReaderBridgePort::CallID, ReaderBridgePort::CallCallback>& waitingCalls() {
    static auto* calls =
        new std::unordered_map<ReaderBridgePort::CallID, ReaderBridgePort::CallCallback>();
    return *calls;
}

ReaderBridgePort::CallID nextCallID() {
    static ReaderBridgePort::CallID next = 0;
    return ++next;
}

// The value as JSON text; none when it has none (undefined, a function, a
// value whose serialisation throws).
std::optional<std::string> jsonText(JSCValue* value) {
    if (jsc_value_is_string(value)) {
        // The page's own form: the JSON text itself, taken as it is.
        gchar* text = jsc_value_to_string(value);
        if (text == nullptr) return std::nullopt;
        std::string copy(text);
        g_free(text);
        return copy;
    }
    gchar* json = jsc_value_to_json(value, 0);
    if (json == nullptr) {
        if (JSCContext* context = jsc_value_get_context(value)) {
            jsc_context_clear_exception(context);
        }
        return std::nullopt;
    }
    std::string text(json);
    g_free(json);
    return text;
}

PageCallError callError(const GError* error) {
    if (error == nullptr) {
        return PageCallError(PageCallError::Kind::call, {}, 0, "no result");
    }
    const bool script = error->domain == WEBKIT_JAVASCRIPT_ERROR &&
                        error->code == WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED;
    return PageCallError(script ? PageCallError::Kind::script : PageCallError::Kind::call,
                         g_quark_to_string(error->domain), error->code, error->message);
}

void callFinished(GObject* source, GAsyncResult* result, gpointer data) {
    const auto id = static_cast<ReaderBridgePort::CallID>(GPOINTER_TO_SIZE(data));
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source),
                                                                            result, &error);
    ReaderBridgePort::CallResult outcome;
    if (value == nullptr) {
        outcome.error = std::make_exception_ptr(callError(error));
    } else if (jsc_value_is_string(value) || jsc_value_is_object(value)) {
        outcome.replyJSON = jsonText(value);
    }
    if (error) g_error_free(error);
    if (value) g_object_unref(value);

    auto node = waitingCalls().extract(id);
    if (!node.empty()) node.mapped()(std::move(outcome));
}

// What a registration keeps (freed when its signal handler goes).
struct MessageRegistration {
    ReaderBridgePort::MessageHandler handler;
    std::string name;
    const void* webView;
};

void scriptMessageReceived(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    const auto* registration = static_cast<const MessageRegistration*>(data);
    ReaderBridgePort::ScriptMessage message;
    message.handlerName = registration->name;
    message.fromMainFrame = true;
    message.webView = registration->webView;
    message.bodyJSON = jsonText(value);
    // A copy: the handler may unregister itself (and free the registration).
    const ReaderBridgePort::MessageHandler handler = registration->handler;
    handler(message);
}

}  // namespace

std::shared_ptr<WebKitBridgePort> WebKitBridgePort::create(WebKitWebView* webView,
                                                           std::string body) {
    return std::shared_ptr<WebKitBridgePort>(new WebKitBridgePort(webView, std::move(body)));
}

WebKitBridgePort::WebKitBridgePort(WebKitWebView* webView, std::string body)
    : webView_(webView), body_(std::move(body)) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    g_object_weak_ref(G_OBJECT(webView_), &WebKitBridgePort::webViewFinalized, this);
    loadChanged_ = SignalConnection::connect(
        webView_, "load-changed",
        G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
            if (event == WEBKIT_LOAD_COMMITTED) {
                static_cast<WebKitBridgePort*>(self)->pageDidEnd(PageEnd::pageReplaced);
            }
        }),
        this);
}

WebKitBridgePort::~WebKitBridgePort() {
    // The message handlers stay registered: a released bridge's handler lives
    // as long as the web view (teardown is what removes it).
    if (webView_ == nullptr) return;
    g_object_weak_unref(G_OBJECT(webView_), &WebKitBridgePort::webViewFinalized, this);
}

void WebKitBridgePort::webViewFinalized(gpointer data, GObject*) {
    auto* self = static_cast<WebKitBridgePort*>(data);
    self->webView_ = nullptr;  // its signal handlers went with it
    self->messageHandlers_.clear();
    self->pageDidEnd(PageEnd::webViewGone);
}

void WebKitBridgePort::pageDidEnd(PageEnd end) {
    if (!pageEnd_) return;
    const PageEndHandler handler = pageEnd_;  // it may replace itself
    handler(end);
}

bool WebKitBridgePort::registerMessageHandler(const std::string& name, MessageHandler handler) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (webView_ == nullptr) return false;
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(webView_);
    if (!webkit_user_content_manager_register_script_message_handler(manager, name.c_str(),
                                                                     nullptr)) {
        return false;
    }
    auto* registration = new MessageRegistration{std::move(handler), name, webView_};
    const std::string signal = "script-message-received::" + name;
    messageHandlers_[name] = g_signal_connect_data(
        manager, signal.c_str(), G_CALLBACK(scriptMessageReceived), registration,
        +[](gpointer data, GClosure*) { delete static_cast<MessageRegistration*>(data); },
        GConnectFlags(0));
    return true;
}

void WebKitBridgePort::unregisterMessageHandler(const std::string& name) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (webView_ == nullptr) return;
    const auto found = messageHandlers_.find(name);
    if (found == messageHandlers_.end()) return;
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(webView_);
    webkit_user_content_manager_unregister_script_message_handler(manager, name.c_str(), nullptr);
    g_signal_handler_disconnect(manager, found->second);
    messageHandlers_.erase(found);
}

namespace {

// The text as a GVariant string, handed over without a copy or a second UTF-8
// check: the strict codec wrote it (or the bridge cut it on a character
// boundary), so it is UTF-8 with every control character escaped (no NUL).
GVariant* textVariant(std::string text) {
    auto* owned = new std::string(std::move(text));
    return g_variant_new_from_data(
        G_VARIANT_TYPE_STRING, owned->c_str(), owned->size() + 1, TRUE,
        +[](gpointer data) { delete static_cast<std::string*>(data); }, owned);
}

// The reading page's transport entries (see ReaderBridgePort::PageCall).
constexpr const char* messageBody =
    "return window.Orvik.handleMessageText(message, transfer, index, replySliceBytes);";
constexpr const char* appendSliceBody =
    "return window.Orvik.appendMessageText(transfer, index, message);";
constexpr const char* takeReplySliceBody = "return window.Orvik.takeReplyText(transfer, index);";

}  // namespace

ReaderBridgePort::CallID WebKitBridgePort::callPageFunction(std::string messageJSON,
                                                            CallCallback done) {
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    g_variant_dict_insert_value(&arguments, "message", textVariant(std::move(messageJSON)));
    return startCall(body_.c_str(), &arguments, std::move(done));
}

ReaderBridgePort::CallID WebKitBridgePort::callPage(PageCall call, CallCallback done) {
    GVariantDict arguments;
    g_variant_dict_init(&arguments, nullptr);
    const char* body = messageBody;
    switch (call.entry) {
        case PageCall::Entry::message:
            g_variant_dict_insert_value(&arguments, "replySliceBytes",
                                        g_variant_new_double(static_cast<double>(call.replySliceBytes)));
            break;
        case PageCall::Entry::appendSlice: body = appendSliceBody; break;
        case PageCall::Entry::takeReplySlice: body = takeReplySliceBody; break;
    }
    if (call.entry != PageCall::Entry::takeReplySlice) {
        g_variant_dict_insert_value(&arguments, "message", textVariant(std::move(call.text)));
    }
    g_variant_dict_insert_value(&arguments, "transfer", textVariant(std::move(call.transfer)));
    g_variant_dict_insert_value(&arguments, "index",
                                g_variant_new_double(static_cast<double>(call.index)));
    return startCall(body, &arguments, std::move(done));
}

ReaderBridgePort::CallID WebKitBridgePort::startCall(const char* body, GVariantDict* arguments,
                                                     CallCallback done) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const CallID id = nextCallID();
    GVariant* argumentVariant = g_variant_ref_sink(g_variant_dict_end(arguments));
    if (webView_ == nullptr) {
        g_variant_unref(argumentVariant);
        CallResult result;
        result.error = std::make_exception_ptr(BridgeError::notAttached());
        done(std::move(result));
        return id;
    }
    waitingCalls().emplace(id, std::move(done));
    webkit_web_view_call_async_javascript_function(webView_, body, -1, argumentVariant,
                                                   nullptr /* page world */, nullptr, nullptr,
                                                   &callFinished, GSIZE_TO_POINTER(id));
    g_variant_unref(argumentVariant);
    return id;
}

void WebKitBridgePort::abandonCall(CallID call) {
    waitingCalls().erase(call);
}

void WebKitBridgePort::setPageEndHandler(PageEndHandler handler) {
    pageEnd_ = std::move(handler);
}

}  // namespace larkspin
