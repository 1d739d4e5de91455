// Copied text and copied file paths on the display's own clipboard.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "Platform/Log.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/LogCapture.hpp"
#include "Web/Desktop/FilePathActions.hpp"
#include "Web/Desktop/PasteboardService.hpp"

namespace larkspin {
namespace {

GdkClipboard* clipboard() {
    return gdk_display_get_clipboard(gdk_display_get_default());
}

std::optional<std::string> clipboardText() {
    struct Read {
        bool done = false;
        std::optional<std::string> text;
    } read;
    gdk_clipboard_read_text_async(
        clipboard(), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<Read*>(data);
            if (char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr)) {
                read->text = text;
                g_free(text);
            }
            read->done = true;
        },
        &read);
    EXPECT_TRUE(test::waitFor([&] { return read.done; }));
    return read.text;
}

TEST(ClipboardDisplay, CopiedTextAndFilePathsReachTheDisplaysClipboard) {
    test::LogCapture logs;
    AppLog::setRevealPrivateForTesting(true);
    const std::string text = "Größe 👍🏽\n中文";
    EXPECT_TRUE(PasteboardService::general().write(text, "selection"));
    EXPECT_EQ(clipboardText(), text);
    EXPECT_TRUE(logs.contains("actions", "copyText kind=selection chars=10 ok=true"));
    EXPECT_TRUE(PasteboardService::general().write("", "selection"));
    EXPECT_EQ(clipboardText(), "");

    // A document without a file copies nothing; a path goes as plain text.
    EXPECT_FALSE(FilePathActions::copyFilePath(std::nullopt, "doc", clipboard()));
    EXPECT_TRUE(FilePathActions::copyFilePath(std::filesystem::path("/tmp/my notes/./read me.md"), "doc",
                                              clipboard()));
    EXPECT_EQ(clipboardText(), "/tmp/my notes/read me.md");
    EXPECT_TRUE(logs.contains("actions", "复制文件路径：doc=doc /tmp/my notes/read me.md"));
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

}  // namespace
}  // namespace larkspin
