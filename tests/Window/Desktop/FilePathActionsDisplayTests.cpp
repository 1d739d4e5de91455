// A document's file path on the display's own clipboard.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "Platform/Log.hpp"
#include "Support/Display/Clipboard.hpp"
#include "Support/LogCapture.hpp"
#include "Window/Desktop/FilePathActions.hpp"

namespace larkspin {
namespace {

TEST(FilePathActionsDisplay, APathGoesAsPlainTextAndNoFileCopiesNothing) {
    test::LogCapture logs;
    AppLog::setRevealPrivateForTesting(true);
    EXPECT_FALSE(FilePathActions::copyFilePath(std::nullopt, "doc", test::displayClipboard()));
    EXPECT_TRUE(FilePathActions::copyFilePath(std::filesystem::path("/tmp/my notes/./read me.md"),
                                              "doc", test::displayClipboard()));
    EXPECT_EQ(test::clipboardText(), "/tmp/my notes/read me.md");
    EXPECT_TRUE(logs.contains("actions", "复制文件路径：doc=doc /tmp/my notes/read me.md"));
    AppLog::setRevealPrivateForTesting(std::nullopt);
}

// A value of `type` read back from the display's clipboard.
GValue clipboardValue(GType type) {
    struct Read {
        bool done = false;
        GValue value = G_VALUE_INIT;
    } read;
    gdk_clipboard_read_value_async(
        test::displayClipboard(), type, G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<Read*>(data);
            if (const GValue* value = gdk_clipboard_read_value_finish(GDK_CLIPBOARD(source), result, nullptr)) {
                g_value_init(&read->value, G_VALUE_TYPE(value));
                g_value_copy(value, &read->value);
            }
            read->done = true;
        },
        &read);
    EXPECT_TRUE(test::waitFor([&] { return read.done; }));
    return read.value;
}

// A name that is not UTF-8 shows its bytes marked in the text, which names no
// file; the file offered beside it (also as a URI list) is the file itself.
TEST(FilePathActionsDisplay, TheFileGoesBesideItsPathExactEvenWhenItsNameIsNotUtf8) {
    const std::filesystem::path path("/tmp/caf\xE9 notes.md");
    EXPECT_TRUE(FilePathActions::copyFilePath(path, "doc", test::displayClipboard()));
    EXPECT_EQ(test::clipboardText(), "/tmp/caf\uFFFD notes.md");

    GdkContentFormats* formats = gdk_clipboard_get_formats(test::displayClipboard());
    EXPECT_TRUE(gdk_content_formats_contain_gtype(formats, G_TYPE_FILE));
    EXPECT_TRUE(gdk_content_formats_contain_mime_type(formats, "text/uri-list"));
    GValue value = clipboardValue(G_TYPE_FILE);
    ASSERT_TRUE(G_VALUE_HOLDS(&value, G_TYPE_FILE));
    char* copied = g_file_get_path(G_FILE(g_value_get_object(&value)));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(std::string(copied), path.native());
    g_free(copied);
    g_value_unset(&value);
}

}  // namespace
}  // namespace larkspin
