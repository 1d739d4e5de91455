#include "Web/Desktop/FileManagerReveal.hpp"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <memory>

#include "Platform/Log.hpp"

namespace larkspin::FileManagerReveal {

namespace {

struct PendingCall {
    Completion<bool> done;
    std::string uri;
};

std::string uriOf(const std::filesystem::path& path) {
    char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) return {};
    std::string text(uri);
    g_free(uri);
    return text;
}

void onShown(GObject* bus, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
    if (reply == nullptr) {
        AppLog::actions.info("文件管理器没有显示文件（%{public}s），改为打开所在文件夹",
                             error->message);
        g_error_free(error);
        pending->done.resolve(false);
        return;
    }
    g_variant_unref(reply);
    pending->done.resolve(true);
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (bus == nullptr) {
        AppLog::actions.info("文件管理器没有显示文件（%{public}s），改为打开所在文件夹",
                             error->message);
        g_error_free(error);
        pending->done.resolve(false);
        return;
    }
    GVariantBuilder uris;
    g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&uris, "s", pending->uri.c_str());
    g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems",
                           g_variant_new("(ass)", &uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                           nullptr, &onShown, pending.release());
    g_object_unref(bus);
}

void onOpened(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingCall> pending(static_cast<PendingCall*>(data));
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
        AppLog::actions.error("打开所在文件夹失败：%{public}s", error->message);
        g_error_free(error);
        pending->done.resolve(false);
        return;
    }
    pending->done.resolve(true);
}

Task<bool> showItemsOverDBus(std::string fileURI) {
    auto start = [fileURI](Completion<bool> done) {
        auto* pending = new PendingCall{std::move(done), fileURI};
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, &onBus, pending);
    };
    co_return co_await awaitCompletion<bool>(std::move(start));
}

Task<bool> openFolderByDefault(std::string folderURI) {
    auto start = [folderURI](Completion<bool> done) {
        auto* pending = new PendingCall{std::move(done), folderURI};
        GAppLaunchContext* context = nullptr;
        if (GdkDisplay* display = gdk_display_get_default()) {
            context = G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display));
        }
        g_app_info_launch_default_for_uri_async(folderURI.c_str(), context, nullptr, &onOpened,
                                                pending);
        if (context) g_object_unref(context);
    };
    co_return co_await awaitCompletion<bool>(std::move(start));
}

}  // namespace

Port systemPort() {
    return Port{&showItemsOverDBus, &openFolderByDefault};
}

std::string fileURI(const std::filesystem::path& file) {
    return uriOf(file);
}

std::string folderURI(const std::filesystem::path& file) {
    return uriOf(file.parent_path());
}

Task<Outcome> reveal(std::filesystem::path file, Port port) {
    const std::string fileText = fileURI(file);
    const std::string folderText = folderURI(file);
    bool shown = false;
    try {
        shown = co_await port.showItems(fileText);
    } catch (const std::exception&) {
        rethrowIfCancelled(std::current_exception());
        shown = false;
    }
    if (shown) co_return Outcome::shownInFileManager;
    bool opened = false;
    try {
        opened = co_await port.openFolder(folderText);
    } catch (const std::exception&) {
        rethrowIfCancelled(std::current_exception());
        opened = false;
    }
    co_return opened ? Outcome::openedFolder : Outcome::failed;
}

}  // namespace larkspin::FileManagerReveal
