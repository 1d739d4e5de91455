#include "App/Desktop/GioApplicationLauncher.hpp"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <memory>

#include "Platform/Glib/GObjectPtr.hpp"

namespace larkspin {

namespace {

using Done = Completion<DefaultApplicationLauncher::Result>;

void onLaunched(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Done> done(static_cast<Done*>(data));
    GError* error = nullptr;
    DefaultApplicationLauncher::Result outcome;
    outcome.launched = g_app_info_launch_default_for_uri_finish(result, &error);
    if (!outcome.launched && error) outcome.error = error->message;
    if (error) g_error_free(error);
    done->resolve(std::move(outcome));
}

Task<DefaultApplicationLauncher::Result> launchURI(std::string uri) {
    auto start = [uri](Done done) {
        GdkDisplay* display = gdk_display_get_default();
        GObjectPtr<GdkAppLaunchContext> context;
        if (display) context = GObjectPtr<GdkAppLaunchContext>::adopt(
                         gdk_display_get_app_launch_context(display));
        g_app_info_launch_default_for_uri_async(uri.c_str(),
                                                context ? G_APP_LAUNCH_CONTEXT(context.get()) : nullptr,
                                                nullptr, &onLaunched, new Done(std::move(done)));
    };
    co_return co_await awaitCompletion<DefaultApplicationLauncher::Result>(start);
}

}  // namespace

Task<DefaultApplicationLauncher::Result> GioApplicationLauncher::launch(std::string uri) {
    return launchURI(std::move(uri));
}

}  // namespace larkspin
