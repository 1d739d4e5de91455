#include "Window/Desktop/FilePathActions.hpp"

#include <gio/gio.h>
#include <glib.h>
#include <gtk/gtk.h>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/Desktop/ShellMessage.hpp"

namespace larkspin::FilePathActions {

namespace {

Task<void> showFile(std::filesystem::path file, FileManagerReveal::Port port, GObjectPtr<GtkWidget> page) {
    const std::filesystem::path shown = file;
    const FileManagerReveal::Outcome outcome = co_await FileManagerReveal::reveal(std::move(file), std::move(port));
    if (outcome != FileManagerReveal::Outcome::failed) co_return;
    // Said over the page's window, as a help page that cannot be opened is.
    GtkRoot* root = gtk_widget_get_root(page.get());
    showShellMessage(GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr, L10n::text("reveal.failed.title"),
                     L10n::format("reveal.failed.body", {FileNameText::path(shown)}));
}

}  // namespace

bool copyFilePath(const std::optional<std::filesystem::path>& file, std::string_view documentLogID,
                  GdkClipboard* clipboard) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!file) return false;
    std::error_code error;
    const std::string path = std::filesystem::absolute(*file, error).lexically_normal().native();
    // The text is UTF-8: a name in another encoding is shown the way GLib
    // displays file names, which names no file. The file itself goes beside
    // it (a file list), exact to the byte, for where files are pasted.
    GFile* located = g_file_new_for_path(path.c_str());
    GdkContentProvider* both[] = {
        gdk_content_provider_new_typed(G_TYPE_STRING, FileNameText::path(path).c_str()),
        gdk_content_provider_new_typed(G_TYPE_FILE, located),
    };
    GdkContentProvider* content = gdk_content_provider_new_union(both, 2);
    gdk_clipboard_set_content(clipboard, content);
    g_object_unref(content);
    g_object_unref(located);
    AppLog::actions.info("复制文件路径：doc=%{public}s %{private}s", documentLogID, path);
    return true;
}

void revealInFileManager(const std::optional<std::filesystem::path>& file,
                         std::string_view documentLogID, TaskScope& tasks,
                         FileManagerReveal::Port fileManager, GtkWidget* page) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (!file) return;
    AppLog::actions.info("在文件管理器中显示：doc=%{public}s", documentLogID);
    tasks.spawn(showFile(*file, std::move(fileManager), GObjectPtr<GtkWidget>::retain(page)));
}

}  // namespace larkspin::FilePathActions
