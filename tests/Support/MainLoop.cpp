#include "Support/MainLoop.hpp"

#include <glib.h>

namespace larkspin::test {

bool runMainLoopUntil(const std::function<bool()>& done, int maxTurns) {
    GMainContext* context = g_main_context_default();
    for (int turn = 0; turn < maxTurns; ++turn) {
        if (done()) return true;
        if (g_main_context_pending(context)) {
            g_main_context_iteration(context, FALSE);
            continue;
        }
        // Nothing ready: block until something is (a post from another thread
        // wakes the context), but never longer than the wake-up timer.
        GSource* wakeUp = g_timeout_source_new(5);
        g_source_set_callback(
            wakeUp, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(wakeUp, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(wakeUp);
        g_source_unref(wakeUp);
    }
    return done();
}

}  // namespace larkspin::test
