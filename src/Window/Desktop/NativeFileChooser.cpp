#include "Window/Desktop/NativeFileChooser.hpp"

#include <gtk/gtk.h>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Localization.hpp"

namespace larkspin::NativeFileChooser {

namespace {

using Answer = Completion<std::optional<std::filesystem::path>>;

void onResponse(GtkNativeDialog* dialog, int response, gpointer data) {
    g_signal_handlers_disconnect_by_func(dialog, reinterpret_cast<gpointer>(&onResponse), data);
    std::optional<std::filesystem::path> chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        if (GFile* file = gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog))) {
            if (char* path = g_file_get_path(file)) {
                chosen = std::filesystem::path(path);
                g_free(path);
            }
            g_object_unref(file);
        }
    }
    static_cast<Answer*>(data)->resolve(std::move(chosen));
    // The dialog held itself while shown; it goes with its answer.
    g_object_unref(dialog);
}

GtkFileFilter* filter(const std::string& name, std::initializer_list<const char*> types,
                      std::initializer_list<const char*> patterns) {
    GtkFileFilter* result = gtk_file_filter_new();
    gtk_file_filter_set_name(result, name.c_str());
    for (const char* type : types) gtk_file_filter_add_mime_type(result, type);
    for (const char* pattern : patterns) gtk_file_filter_add_pattern(result, pattern);
    return result;
}

Task<std::optional<std::filesystem::path>> ask(GObjectPtr<GtkWindow> parent, Panel panel) {
    auto start = [parent, panel](Answer answer) {
        const bool save = panel.purpose == Panel::Purpose::save;
        const std::string cancel = L10n::text("common.cancel");
        GtkFileChooserNative* native = gtk_file_chooser_native_new(
            panel.title.c_str(), parent.get(),
            save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, panel.accept.c_str(),
            cancel.c_str());
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(native);
        if (!save) gtk_file_chooser_set_select_multiple(chooser, FALSE);
        gtk_file_chooser_add_filter(chooser, filter(L10n::text("relocate.filter.markdown"),
                                                    {"text/markdown", "text/x-markdown"},
                                                    {"*.md", "*.markdown", "*.mdown", "*.mkd"}));
        gtk_file_chooser_add_filter(chooser, filter(L10n::text("relocate.filter.text"), {"text/plain"}, {}));
        if (panel.folder) {
            GFile* folder = g_file_new_for_path(panel.folder->c_str());
            gtk_file_chooser_set_current_folder(chooser, folder, nullptr);
            g_object_unref(folder);
        }
        if (save) gtk_file_chooser_set_current_name(chooser, panel.name.c_str());
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native), TRUE);
        auto* held = new Answer(std::move(answer));
        g_object_set_data_full(G_OBJECT(native), "larkspin-answer", held,
                               [](gpointer data) { delete static_cast<Answer*>(data); });
        g_signal_connect(native, "response", G_CALLBACK(onResponse), held);
        gtk_native_dialog_show(GTK_NATIVE_DIALOG(native));
    };
    co_return co_await awaitCompletion<std::optional<std::filesystem::path>>(start);
}

}  // namespace

Task<std::optional<std::filesystem::path>> choose(GtkWindow* parent, Panel panel) {
    return ask(GObjectPtr<GtkWindow>::retain(parent), std::move(panel));
}

}  // namespace larkspin::NativeFileChooser
