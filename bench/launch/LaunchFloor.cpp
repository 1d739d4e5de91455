// The floor of a cold launch: the least a GTK 4 + WebKitGTK program does to
// show a Markdown file, for larkspin_launch_bench to start beside the real
// program. It reads the file, turns it into plain HTML on the spot (headings,
// paragraphs, fenced code; no parser, no style sheet, no script of the
// document), shows it in a web view filling a window of the program's default
// size, and prints "first screen" once a frame has painted content down to
// the window's bottom. It then waits to be killed.
//
//   larkspin_launch_floor <file.md>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Sets the page's title when the first frame showing content to the
// window's bottom has painted.
constexpr const char* probe = R"(
(() => {
    const after = new MessageChannel();
    const filled = () => {
        const last = document.body && document.body.lastElementChild;
        return last && last.getBoundingClientRect().bottom >= innerHeight;
    };
    after.port1.onmessage = () => { if (filled()) document.title = 'first screen'; };
    const tick = () => {
        if (document.title === 'first screen') return;
        after.port2.postMessage(0);
        requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
})();
)";

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

std::string page(const std::string& markdown) {
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
    std::istringstream lines(markdown);
    std::string line, paragraph, code;
    bool inCode = false;
    auto flush = [&] {
        if (!paragraph.empty()) html += "<p>" + escaped(paragraph) + "</p>";
        paragraph.clear();
    };
    while (std::getline(lines, line)) {
        if (line.rfind("```", 0) == 0) {
            flush();
            if (inCode) html += "<pre><code>" + escaped(code) + "</code></pre>";
            code.clear();
            inCode = !inCode;
        } else if (inCode) {
            code += line + "\n";
        } else if (line.empty()) {
            flush();
        } else if (line[0] == '#') {
            flush();
            const auto level = std::min<std::size_t>(line.find_first_not_of('#'), 6);
            const std::string tag = "h" + std::to_string(level);
            html += "<" + tag + ">" + escaped(line.substr(level)) + "</" + tag + ">";
        } else {
            paragraph += (paragraph.empty() ? "" : " ") + line;
        }
    }
    flush();
    return html + "</body></html>";
}

void titleChanged(WebKitWebView* view, GParamSpec*, gpointer) {
    const char* title = webkit_web_view_get_title(view);
    if (title && std::string(title) == "first screen") {
        std::printf("first screen\n");
        std::fflush(stdout);
    }
}

void activate(GtkApplication* application, gpointer file) {
    std::ifstream input(static_cast<const char*>(file), std::ios::binary);
    std::stringstream text;
    text << input.rdbuf();
    auto* manager = webkit_user_content_manager_new();
    WebKitUserScript* script =
        webkit_user_script_new(probe, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
    auto* view = WEBKIT_WEB_VIEW(
        g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager, nullptr));
    g_object_unref(manager);
    g_signal_connect(view, "notify::title", G_CALLBACK(titleChanged), nullptr);
    GtkWidget* window = gtk_application_window_new(application);
    gtk_window_set_default_size(GTK_WINDOW(window), 1180, 820);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
    gtk_window_present(GTK_WINDOW(window));
    webkit_web_view_load_html(view, page(text.str()).c_str(), "about:blank");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    GtkApplication* application =
        gtk_application_new("dev.corvantel.larkspin.floor", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(activate), argv[1]);
    char* args[] = {argv[0], nullptr};
    const int status = g_application_run(G_APPLICATION(application), 1, args);
    g_object_unref(application);
    return status;
}
