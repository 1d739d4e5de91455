#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "Web/Desktop/PasteboardService.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

struct ReadBack {
    bool done = false;
    std::optional<std::string> text;
};

void onText(GObject* source, GAsyncResult* result, gpointer data) {
    auto* read = static_cast<ReadBack*>(data);
    if (char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr)) {
        read->text = text;
        g_free(text);
    }
    read->done = true;
}

std::optional<std::string> clipboardText() {
    ReadBack read;
    gdk_clipboard_read_text_async(gdk_display_get_clipboard(gdk_display_get_default()), nullptr,
                                  onText, &read);
    for (int turn = 0; turn < 2000 && !read.done; ++turn) g_main_context_iteration(nullptr, TRUE);
    return read.text;
}

TEST(PasteboardDisplay, CopiedTextReachesTheDisplaysClipboard) {
    test::LogCapture logs;
    const std::string text = "Größe 👍🏽\n中文";
    EXPECT_TRUE(PasteboardService::general().write(text, "selection"));
    EXPECT_EQ(clipboardText(), text);
    EXPECT_TRUE(logs.contains("actions", "copyText kind=selection chars=10 ok=true"));

    EXPECT_TRUE(PasteboardService::general().write("", "selection"));
    EXPECT_EQ(clipboardText(), "");
}

}  // namespace
}  // namespace larkspin
