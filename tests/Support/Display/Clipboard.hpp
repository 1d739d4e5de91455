#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "Support/Display/WebViewHarness.hpp"

namespace larkspin::test {

inline GdkClipboard* displayClipboard() {
    return gdk_display_get_clipboard(gdk_display_get_default());
}

// The text on the display's clipboard, read back through GDK.
inline std::optional<std::string> clipboardText() {
    struct Read {
        bool done = false;
        std::optional<std::string> text;
    } read;
    gdk_clipboard_read_text_async(
        displayClipboard(), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            auto* read = static_cast<Read*>(data);
            if (char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr)) {
                read->text = text;
                g_free(text);
            }
            read->done = true;
        },
        &read);
    EXPECT_TRUE(waitFor([&] { return read.done; }));
    return read.text;
}

}  // namespace larkspin::test
