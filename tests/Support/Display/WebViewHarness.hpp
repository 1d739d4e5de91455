#pragma once

// Helpers for tests that drive a real WebKitGTK web view under Xvfb: a web
// context of the test's own, a window to show views in, loading a page and
// running script with bounded waits on the main loop. Header-only, so that
// only the display tests that use WebKit compile and link it.
//
// Web-view tests run one after the other in their executable, with generous
// time-outs: a bound only turns a hang into a failure, it never measures.
// Once such a bound has run out, the later waits of the test give up at once
// (`Support/Waits.hpp`), each saying where.
//
// WebKit's sandbox stays on. Only when a web process cannot start at all in
// this environment (a container without user namespaces, say) does the
// harness set WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1, for this test
// process only; the program itself never does.

#include <gtk/gtk.h>
#include <stdlib.h>
#include <webkit/webkit.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Support/Waits.hpp"

namespace larkspin::test {

inline constexpr std::chrono::seconds webTimeout{60};

// Turns the default main context until `done()` holds or `timeout` has
// passed; false on time-out (said on stderr with the wait's place). After a
// long wait of the test ran out, only looks once.
namespace detail {
inline bool turnUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MainThread::turnMainLoop(std::chrono::milliseconds(10));
    }
    return true;
}
}  // namespace detail

inline bool waitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = webTimeout,
                    std::source_location location = std::source_location::current()) {
    if (!waits::shouldWait(timeout, location)) return done();
    if (detail::turnUntil(done, timeout)) return true;
    waits::ranOut(timeout, location);
    return false;
}

// A PNG that WebKit can decode: `width`×`height` opaque white pixels.
inline std::string whitePng(int width, int height) {
    std::vector<guchar> pixels(static_cast<std::size_t>(width * height * 4), 0xFF);
    GBytes* data = g_bytes_new(pixels.data(), pixels.size());
    GdkTexture* texture = gdk_memory_texture_new(width, height, GDK_MEMORY_R8G8B8A8, data,
                                                 static_cast<gsize>(width) * 4);
    GBytes* png = gdk_texture_save_to_png_bytes(texture);
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(png, &size));
    std::string result(bytes, size);
    g_bytes_unref(png);
    g_object_unref(texture);
    g_bytes_unref(data);
    return result;
}

// A file beside a test source: fixturePath(__FILE__, "fixtures/dist"). A
// compiler cache that rewrites paths (CCACHE_BASEDIR) makes __FILE__ relative
// to the build tree, whatever folder the test runs in.
inline std::filesystem::path fixturePath(std::string_view sourceFile, std::string_view relative) {
    std::filesystem::path source(sourceFile);
#ifdef LARKSPIN_TEST_BUILD_DIR
    if (source.is_relative()) source = std::filesystem::path(LARKSPIN_TEST_BUILD_DIR) / source;
#endif
    return source.parent_path() / relative;
}

struct LoadOutcome {
    bool finished = false;  // the load ended (successfully or not)
    bool failed = false;
    std::string error;  // the GError's message
    GQuark errorDomain = 0;
    int errorCode = 0;
};

struct ScriptOutcome {
    bool finished = false;
    bool ok = false;
    std::string json;   // the result as JSON ("null" for undefined)
    std::string error;  // the script's error
};

namespace detail {

struct LoadWatch {
    LoadOutcome outcome;
};

inline void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<LoadWatch*>(data)->outcome.finished = true;
}

inline gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error,
                             gpointer data) {
    auto& outcome = static_cast<LoadWatch*>(data)->outcome;
    outcome.failed = true;
    outcome.error = error->message;
    outcome.errorDomain = error->domain;
    outcome.errorCode = error->code;
    return FALSE;
}

inline void onScriptFinished(GObject* view, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<ScriptOutcome>> holder(
        static_cast<std::shared_ptr<ScriptOutcome>*>(data));
    ScriptOutcome& outcome = **holder;
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view),
                                                                            result, &error);
    outcome.finished = true;
    if (value == nullptr) {
        outcome.error = error ? error->message : "no result";
        if (error) g_error_free(error);
        return;
    }
    outcome.ok = true;
    gchar* json = jsc_value_is_undefined(value) ? nullptr : jsc_value_to_json(value, 0);
    outcome.json = json ? json : "null";
    g_free(json);
    g_object_unref(value);
}

}  // namespace detail

// Loads `uri` in `view` and waits until the load finishes or fails.
inline LoadOutcome loadAndWait(WebKitWebView* view, const std::string& uri,
                               std::chrono::milliseconds timeout = webTimeout,
                               std::source_location location = std::source_location::current()) {
    detail::LoadWatch watch;
    const gulong changed =
        g_signal_connect(view, "load-changed", G_CALLBACK(detail::onLoadChanged), &watch);
    const gulong failed =
        g_signal_connect(view, "load-failed", G_CALLBACK(detail::onLoadFailed), &watch);
    webkit_web_view_load_uri(view, uri.c_str());
    waitFor([&] { return watch.outcome.finished; }, timeout, location);
    g_signal_handler_disconnect(view, changed);
    g_signal_handler_disconnect(view, failed);
    return watch.outcome;
}

// Runs `body` as the body of an async function in the page (it may await and
// return a promise) and waits for its result.
inline ScriptOutcome callScript(WebKitWebView* view, const std::string& body,
                                std::chrono::milliseconds timeout = webTimeout,
                                std::source_location location = std::source_location::current()) {
    auto outcome = std::make_shared<ScriptOutcome>();
    webkit_web_view_call_async_javascript_function(view, body.c_str(), -1, nullptr, nullptr,
                                                   nullptr, nullptr, &detail::onScriptFinished,
                                                   new std::shared_ptr<ScriptOutcome>(outcome));
    waitFor([&] { return outcome->finished; }, timeout, location);
    if (!outcome->finished) outcome->error = "no result within the time-out";
    return *outcome;
}

// Owns a web context and the windows that show the test's web views.
class WebViewHarness {
public:
    WebViewHarness() {
        ensureWebProcessStarts();
        context_ = webkit_web_context_new();
    }
    ~WebViewHarness() {
        for (GtkWindow* window : windows_) gtk_window_destroy(window);
        for (int turn = 0; turn < 100 && g_main_context_pending(nullptr); ++turn) {
            g_main_context_iteration(nullptr, FALSE);
        }
        g_object_unref(context_);
    }
    WebViewHarness(const WebViewHarness&) = delete;
    WebViewHarness& operator=(const WebViewHarness&) = delete;

    WebKitWebContext* context() const { return context_; }

    // Shows `view` in a window of its own (which holds it until the harness
    // goes or the window is destroyed) and returns the window.
    GtkWindow* show(WebKitWebView* view) {
        auto* window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 640, 480);
        gtk_window_set_child(window, GTK_WIDGET(view));
        gtk_window_present(window);
        windows_.push_back(window);
        return window;
    }

    // Destroys the window shown for `view` (and with it the window's hold on
    // the view).
    void close(GtkWindow* window) {
        std::erase(windows_, window);
        gtk_window_destroy(window);
    }

private:
    // Starts one web process in a throw-away context; when it cannot start
    // with WebKit's sandbox, turns the sandbox off for this test process.
    static void ensureWebProcessStarts() {
        static const bool checked = [] {
            if (!probeWebProcess()) {
                std::fprintf(stderr,
                             "WebKit's web process did not start with its sandbox here; "
                             "tests go on with WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1\n");
                ::setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
            }
            return true;
        }();
        (void)checked;
    }

    static bool probeWebProcess() {
        WebKitWebContext* context = webkit_web_context_new();
        auto* view = WEBKIT_WEB_VIEW(
            g_object_ref_sink(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, nullptr)));
        bool crashed = false;
        const gulong terminated =
            g_signal_connect(view, "web-process-terminated",
                             G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason,
                                            gpointer flag) { *static_cast<bool*>(flag) = true; }),
                             &crashed);
        webkit_web_view_load_html(view, "<p>probe</p>", "about:blank");
        const auto script = std::make_shared<ScriptOutcome>();
        webkit_web_view_call_async_javascript_function(view, "return 1;", -1, nullptr, nullptr,
                                                       nullptr, nullptr, &detail::onScriptFinished,
                                                       new std::shared_ptr<ScriptOutcome>(script));
        // Not a test's wait: a probe that runs out is no failure.
        detail::turnUntil([&] { return script->finished || crashed; }, std::chrono::seconds(30));
        const bool started = script->ok && !crashed;
        g_signal_handler_disconnect(view, terminated);
        g_object_unref(view);
        g_object_unref(context);
        return started;
    }

    WebKitWebContext* context_ = nullptr;
    std::vector<GtkWindow*> windows_;
};

}  // namespace larkspin::test
