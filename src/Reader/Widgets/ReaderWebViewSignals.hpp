#pragma once

#include <webkit/webkit.h>

#include <memory>

#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// A reader web view's signals as `ReaderHostEvents`: the navigation policy
// (responses are left to WebKit), the end of a load, a failed load (no error
// page is shown), the end of the web process (any reason; the reason is
// passed on by name) and the page panels it answered. Whoever holds the web
// view holds one of these; a web view handed on is disconnected here and
// connected there. Main thread.
class ReaderWebViewSignals {
public:
    ReaderWebViewSignals() { g_weak_ref_init(&webView_, nullptr); }
    ~ReaderWebViewSignals() {
        disconnect();
        g_weak_ref_clear(&webView_);
    }
    ReaderWebViewSignals(const ReaderWebViewSignals&) = delete;
    ReaderWebViewSignals& operator=(const ReaderWebViewSignals&) = delete;

    void connect(WebKitWebView* webView, std::weak_ptr<ReaderHostEvents> events);
    void setEvents(std::weak_ptr<ReaderHostEvents> events) { events_ = std::move(events); }
    void disconnect();

private:
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data);
    static gboolean onLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri,
                                 GError* error, gpointer data);
    static void onTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason,
                             gpointer data);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data);

    GWeakRef webView_;  // for the panel observer, which refers to this object
    std::weak_ptr<ReaderHostEvents> events_;
    SignalConnection decidePolicy_;
    SignalConnection loadChanged_;
    SignalConnection loadFailed_;
    SignalConnection terminated_;
    SignalConnection create_;
};

}  // namespace larkspin
