#pragma once

// The renderer page in a real reader web view, driven the way the reader
// drives it, for tests and benchmarks that need WebKit: requests go to
// window.Orvik.handleMessage as JSON text in the argument "message" of an
// asynchronous script call, and the page's events arrive through the "orvik"
// script message handler registered here. Everything the page does that
// could leave it is written down: navigations ("decide-policy"; anything but
// the loaded page is refused), resource loads ("resource-load-started") and
// the requests of both URL schemes (routed through RecordingSchemeHandler).
//
// Header-only and free of GoogleTest, so that the renderer benchmark can use
// it too. Needs larkspin_reader.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <source_location>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Text/Uuid.hpp"
#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"
#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Web/ReaderWebView.hpp"
#include "Web/ResourceSchemes.hpp"
#include "Support/Display/RecordingSchemeHandler.hpp"
#include "Support/Display/WebViewHarness.hpp"

namespace larkspin::test {

class RendererPage {
public:
    using json = nlohmann::json;

    struct Navigation {
        WebKitPolicyDecisionType decision;
        std::string uri;
    };

    // A reader web view in `context` whose "app-resource" requests go to
    // `appResources` and "document-resource" requests to `documentResources`
    // (either may be null: that scheme is then refused).
    RendererPage(WebKitWebContext* context, std::shared_ptr<AppResourceSchemeHandler> appResources,
                 std::shared_ptr<DocumentResourceSchemeHandler> documentResources)
        : view_(ReaderWebView::create(context)) {
        auto schemes = ResourceSchemes::install(context);
        if (appResources) {
            appRequests_ = std::make_shared<RecordingSchemeHandler>(std::move(appResources));
            schemes->appResources().route(view_.get(), appRequests_);
        }
        if (documentResources) {
            documentRequests_ =
                std::make_shared<RecordingSchemeHandler>(std::move(documentResources));
            schemes->documentResources().route(view_.get(), documentRequests_);
        }
        WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(view_.get());
        manager_ = GObjectPtr<WebKitUserContentManager>::retain(manager);
        webkit_user_content_manager_register_script_message_handler(manager, "orvik", nullptr);
        g_signal_connect(manager, "script-message-received::orvik",
                         G_CALLBACK(&RendererPage::onMessage), this);
        g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(&RendererPage::onDecidePolicy),
                         this);
        g_signal_connect(view_.get(), "resource-load-started",
                         G_CALLBACK(&RendererPage::onResourceLoadStarted), this);
    }

    ~RendererPage() {
        g_signal_handlers_disconnect_by_data(view_.get(), this);
        g_signal_handlers_disconnect_by_data(manager_.get(), this);
        webkit_user_content_manager_unregister_script_message_handler(manager_.get(), "orvik",
                                                                      nullptr);
    }
    RendererPage(const RendererPage&) = delete;
    RendererPage& operator=(const RendererPage&) = delete;

    WebKitWebView* view() const { return view_.get(); }

    // A script run in the page world at the start of every document this
    // view loads, before the page's own scripts.
    void addStartScript(const std::string& source) {
        WebKitUserScript* script = webkit_user_script_new(
            source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(manager_.get(), script);
        webkit_user_script_unref(script);
    }

    // Loads `uri` and waits until the load ends; the only address the view
    // may navigate to from now on.
    LoadOutcome load(const std::string& uri = std::string(AppResourceSchemeHandler::entryURL),
                     std::source_location location = std::source_location::current()) {
        entryURI_ = uri;
        return loadAndWait(view_.get(), uri, webTimeout, location);
    }

    // ---- requests -----------------------------------------------------

    std::string viewSessionID = "SESSION-1";
    std::string documentID = "DOC-1";
    int sourceRevision = 1;

    json envelope(const std::string& type, json payload = json::object()) const {
        return {{"protocolVersion", 1},
                {"messageID", makeUUID()},
                {"viewSessionID", viewSessionID},
                {"documentID", documentID},
                {"sourceRevision", sourceRevision},
                {"renderGeneration", 0},
                {"type", type},
                {"payload", std::move(payload)}};
    }

    // Hands `message` (any JSON, usually an envelope) to the page without
    // waiting for the reply.
    std::shared_ptr<ScriptOutcome> send(const json& message) {
        return call("return await window.Orvik.handleMessage(JSON.parse(message));",
                    {{"message", message.dump()}});
    }

    // The reply to a message sent, or {"scriptError": …} when the call
    // failed or did not end within the time-out.
    static json reply(const std::shared_ptr<ScriptOutcome>& outcome,
                      std::chrono::milliseconds timeout = webTimeout,
                      std::source_location location = std::source_location::current()) {
        waitFor([&] { return outcome->finished; }, timeout, location);
        if (!outcome->finished) return {{"scriptError", "no reply within the time-out"}};
        if (!outcome->ok) return {{"scriptError", outcome->error}};
        return json::parse(outcome->json, nullptr, false);
    }

    json request(const std::string& type, json payload = json::object(),
                 std::source_location location = std::source_location::current()) {
        return reply(send(envelope(type, std::move(payload))), webTimeout, location);
    }

    // Runs `body` as an async function in the page world with string
    // arguments (available to it by name) and returns at once.
    std::shared_ptr<ScriptOutcome> call(
        const std::string& body, const std::vector<std::pair<std::string, std::string>>& arguments = {}) {
        auto outcome = std::make_shared<ScriptOutcome>();
        GVariant* variant = nullptr;
        if (!arguments.empty()) {
            GVariantBuilder builder;
            g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
            for (const auto& [name, value] : arguments) {
                g_variant_builder_add(&builder, "{sv}", name.c_str(),
                                      g_variant_new_string(value.c_str()));
            }
            variant = g_variant_ref_sink(g_variant_builder_end(&builder));
        }
        webkit_web_view_call_async_javascript_function(
            view_.get(), body.c_str(), -1, variant, nullptr, nullptr, nullptr,
            &detail::onScriptFinished, new std::shared_ptr<ScriptOutcome>(outcome));
        if (variant) g_variant_unref(variant);
        return outcome;
    }

    // Runs `body` and returns its result as JSON, or {"scriptError": …}.
    json script(const std::string& body,
                const std::vector<std::pair<std::string, std::string>>& arguments = {},
                std::chrono::milliseconds timeout = webTimeout,
                std::source_location location = std::source_location::current()) {
        return reply(call(body, arguments), timeout, location);
    }

    // ---- what the page did --------------------------------------------

    // Every message the page posted, in order of arrival.
    const std::vector<json>& messages() const { return messages_; }
    std::vector<json> eventsOf(const std::string& type) const {
        std::vector<json> found;
        for (const auto& message : messages_) {
            if (message.is_object() && message.value("type", "") == type) found.push_back(message);
        }
        return found;
    }
    // Waits for a message at index `from` or later that satisfies `match`.
    std::optional<json> waitForMessage(const std::function<bool(const json&)>& match,
                                       std::size_t from = 0,
                                       std::chrono::milliseconds timeout = webTimeout,
                                       std::source_location location = std::source_location::current()) {
        std::optional<json> found;
        waitFor(
            [&] {
                for (std::size_t i = from; i < messages_.size(); ++i) {
                    if (match(messages_[i])) {
                        found = messages_[i];
                        return true;
                    }
                }
                return false;
            },
            timeout, location);
        return found;
    }
    std::optional<json> waitForEvent(const std::string& type, std::size_t from = 0,
                                     std::chrono::milliseconds timeout = webTimeout,
                                     std::source_location location = std::source_location::current()) {
        return waitForMessage(
            [&](const json& m) { return m.is_object() && m.value("type", "") == type; }, from,
            timeout, location);
    }

    const std::vector<Navigation>& navigations() const { return navigations_; }
    const std::vector<std::string>& resourceLoads() const { return resourceLoads_; }
    std::vector<std::string> appRequests() const {
        return appRequests_ ? appRequests_->requests() : std::vector<std::string>{};
    }
    std::vector<std::string> documentRequests() const {
        return documentRequests_ ? documentRequests_->requests() : std::vector<std::string>{};
    }

private:
    static void onMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
        auto* self = static_cast<RendererPage*>(data);
        // The page posts its envelopes as JSON text.
        gchar* text = jsc_value_is_string(value) ? jsc_value_to_string(value)
                                                 : jsc_value_to_json(value, 0);
        json message = text ? json::parse(text, nullptr, false) : json();
        g_free(text);
        if (message.is_discarded() || message.is_null()) message = {{"unreadable", true}};
        self->messages_.push_back(std::move(message));
    }

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
        auto* self = static_cast<RendererPage*>(data);
        WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
            WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        self->navigations_.push_back({type, uri ? uri : ""});
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && uri && uri == self->entryURI_) {
            return FALSE;  // the page being loaded
        }
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }

    static void onResourceLoadStarted(WebKitWebView*, WebKitWebResource*,
                                      WebKitURIRequest* request, gpointer data) {
        const char* uri = webkit_uri_request_get_uri(request);
        static_cast<RendererPage*>(data)->resourceLoads_.push_back(uri ? uri : "");
    }

    GObjectPtr<WebKitWebView> view_;
    GObjectPtr<WebKitUserContentManager> manager_;
    std::shared_ptr<RecordingSchemeHandler> appRequests_;
    std::shared_ptr<RecordingSchemeHandler> documentRequests_;
    std::string entryURI_;
    std::vector<json> messages_;
    std::vector<Navigation> navigations_;
    std::vector<std::string> resourceLoads_;
};

}  // namespace larkspin::test
