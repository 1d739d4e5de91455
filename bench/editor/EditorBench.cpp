// The editor over a 5 MiB Markdown document: how long opening it takes (the
// buffer filled, the first chunk coloured), how long the whole colouring
// takes, and the main loop's longest stall meanwhile (the longest single
// iteration of the default context), against the floor of a bare
// GtkTextView filled with the same text.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" env GDK_BACKEND=x11
//     GDK_DEBUG=gl-disable LIBGL_ALWAYS_SOFTWARE=1 GSETTINGS_BACKEND=memory
//     build/release/bench/editor/larkspin_editor_bench [MiB]   (one command line)

#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Appearance/ThemeCatalog.hpp"
#include "Editor/Widgets/EditorViewController.hpp"
#include "Platform/UserDefaults.hpp"

namespace {

using BenchClock = std::chrono::steady_clock;

double ms(BenchClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string document(std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 256);
    for (int i = 0; text.size() < bytes; ++i) {
        text += "## Section " + std::to_string(i) + "\n\n";
        text += "Some **strong** words, an _emphasis_, a [link](https://example.org/" + std::to_string(i) +
                ") and `code`; ünïcödé text.\n";
        text += "> a quote with `inline` code\n\n- item one\n- item two\n1. numbered\n\n";
        if (i % 7 == 0) text += "```cpp\nint main() { return 0; }\n// # not a heading\n```\n\n";
    }
    return text;
}

// Turns the main loop until `done`, returning the longest single iteration.
template <typename Done>
double longestIteration(Done done) {
    double longest = 0;
    while (!done()) {
        const auto start = BenchClock::now();
        g_main_context_iteration(nullptr, FALSE);
        longest = std::max(longest, ms(BenchClock::now() - start));
    }
    return longest;
}

GtkWidget* presented(GtkWidget* child) {
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 1000, 800);
    gtk_window_set_child(GTK_WINDOW(window), child);
    gtk_window_present(GTK_WINDOW(window));
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace larkspin;
    gtk_init();
    const double mib = argc > 1 ? std::atof(argv[1]) : 5.0;
    const std::string text = document(static_cast<std::size_t>(mib * 1024 * 1024));
    const auto prefs = std::filesystem::temp_directory_path() / "larkspin-editor-bench.json";
    UserDefaults defaults(prefs);

    // The floor: a bare text view with the same text.
    {
        const auto start = BenchClock::now();
        GtkWidget* view = gtk_text_view_new();
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.data(),
                                 static_cast<int>(text.size()));
        GtkWidget* scroller = gtk_scrolled_window_new();
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), view);
        GtkWidget* window = presented(scroller);
        const double filled = ms(BenchClock::now() - start);
        int turns = 0;
        const double stall = longestIteration([&] { return ++turns > 200; });
        std::printf("floor (bare GtkTextView): filled %.1f ms, longest iteration over 200 turns %.1f ms\n", filled,
                    stall);
        gtk_window_destroy(GTK_WINDOW(window));
    }

    DocumentModel model;
    model.adopt({.source = text});
    const auto start = BenchClock::now();
    EditorViewController editor(model, defaults, EditorTheme::from(ThemeCatalog::theme(ThemeID::porcelain)),
                                TypographySettings::defaults);
    GtkWidget* window = presented(editor.widget());
    const double opened = ms(BenchClock::now() - start);
    const double stall = longestIteration([&] { return editor.highlighter().isFullPassComplete(); });
    const double whole = ms(BenchClock::now() - start);
    std::printf("editor, %.1f MiB (%lld characters): opened %.1f ms, coloured in %.1f ms (%lld chunks), "
                "longest main-loop iteration while colouring %.1f ms\n",
                static_cast<double>(text.size()) / (1024 * 1024), static_cast<long long>(model.textStorage().length()),
                opened, whole, static_cast<long long>(editor.highlighter().passCount()), stall);

    // Typing in the middle: one edit and its paragraph.
    GtkTextBuffer* buffer = editor.textView().buffer();
    GtkTextIter middle;
    gtk_text_buffer_get_iter_at_offset(buffer, &middle, static_cast<int>(model.textStorage().length() / 2));
    const auto typed = BenchClock::now();
    for (int i = 0; i < 100; ++i) gtk_text_buffer_insert(buffer, &middle, "x", 1);
    std::printf("100 characters typed in the middle: %.3f ms each\n", ms(BenchClock::now() - typed) / 100);
    const auto fence = BenchClock::now();
    gtk_text_buffer_insert(buffer, &middle, "\n```\n", -1);
    const double fenceEdit = ms(BenchClock::now() - fence);
    const double fenceStall = longestIteration([&] { return editor.highlighter().isFullPassComplete(); });
    std::printf("a fence typed in the middle: edit %.1f ms, rest recoloured in %.1f ms, longest iteration %.1f ms\n",
                fenceEdit, ms(BenchClock::now() - fence), fenceStall);
    gtk_window_destroy(GTK_WINDOW(window));
    std::filesystem::remove(prefs);
    return 0;
}
