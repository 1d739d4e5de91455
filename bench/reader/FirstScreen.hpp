#pragma once

// What the reader benchmarks share: the page's first-screen probe, wall-clock
// stamps comparable with the page's, medians and a shown window.

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "BenchSetup.hpp"
#include "Support/Display/WebViewHarness.hpp"

namespace larkspin::bench {

constexpr int windowWidth = 1024;
constexpr int windowHeight = 768;

// Put at the start of every measured page: records (wall-clock milliseconds)
// the end of the first frame whose content reaches the window's bottom.
constexpr const char* firstScreenProbe = R"(
(() => {
    const after = new MessageChannel();
    const filled = () => {
        const content = document.getElementById('content');
        if (!content) return false;
        const shown = Array.from(content.children).filter((c) => !c.classList.contains('md-staging'));
        return shown.length > 0 && shown[shown.length - 1].getBoundingClientRect().bottom >= innerHeight;
    };
    after.port1.onmessage = () => {
        if (window.__firstScreen === undefined && filled()) {
            window.__firstScreen = performance.timeOrigin + performance.now();
        }
    };
    const tick = () => {
        if (window.__firstScreen !== undefined) return;
        after.port2.postMessage(0);
        requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
})();
)";

inline double nowMs() { return static_cast<double>(g_get_real_time()) / 1000.0; }

inline std::string formatMs(double ms) {
    if (ms < 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

inline GtkWindow* presentWindow(GtkWidget* child) {
    auto* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window, windowWidth, windowHeight);
    gtk_window_set_child(window, child);
    gtk_window_present(window);
    return window;
}

// The page's first-screen stamp, waiting for it.
inline std::optional<double> firstScreenOf(WebKitWebView* view) {
    std::optional<double> stamp;
    test::waitFor([&] {
        const auto outcome = test::callScript(view, "return window.__firstScreen ?? null;");
        if (outcome.ok && outcome.json != "null") stamp = std::stod(outcome.json);
        return stamp.has_value();
    });
    return stamp;
}

// The end of the next frame the page draws, as a wall-clock stamp.
inline std::optional<double> nextFrameOf(WebKitWebView* view) {
    const auto outcome = test::callScript(
        view, "return await new Promise((done) => requestAnimationFrame(() => "
              "setTimeout(() => done(performance.timeOrigin + performance.now()))));");
    if (!outcome.ok) return std::nullopt;
    return std::stod(outcome.json);
}

}  // namespace larkspin::bench
