#include "Web/PageScript.hpp"

#include <webkit/webkit.h>

#include <memory>
#include <utility>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Protocol/Envelope/PageCallError.hpp"

namespace larkspin {

namespace {

using Result = std::optional<std::string>;

void scriptFinished(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Completion<Result>> done(static_cast<Completion<Result>*>(data));
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (value == nullptr) {
        const bool script = error != nullptr && error->domain == WEBKIT_JAVASCRIPT_ERROR &&
                            error->code == WEBKIT_JAVASCRIPT_ERROR_SCRIPT_FAILED;
        PageCallError failure(script ? PageCallError::Kind::script : PageCallError::Kind::call,
                              error ? g_quark_to_string(error->domain) : "",
                              error ? error->code : 0, error ? error->message : "no result");
        if (error) g_error_free(error);
        done->fail(std::make_exception_ptr(std::move(failure)));
        return;
    }
    Result text;
    if (jsc_value_is_string(value)) {
        if (gchar* raw = jsc_value_to_string(value)) {
            text.emplace(raw);
            g_free(raw);
        }
    }
    g_object_unref(value);
    done->resolve(std::move(text));
}

Task<Result> callScript(GObjectPtr<WebKitWebView> view, std::string body) {
    auto start = [view, body](Completion<Result> done) {
        webkit_web_view_call_async_javascript_function(
            view.get(), body.c_str(), static_cast<gssize>(body.size()), nullptr /* no arguments */,
            nullptr /* the page's world */, nullptr /* main frame */, nullptr, &scriptFinished,
            new Completion<Result>(std::move(done)));
    };
    co_return co_await awaitCompletion<Result>(std::move(start));
}

}  // namespace

Task<std::optional<std::string>> runPageScript(WebKitWebView* webView, std::string body) {
    // Held from here: the call starts only when the task is awaited.
    return callScript(GObjectPtr<WebKitWebView>::retain(webView), std::move(body));
}

}  // namespace larkspin
