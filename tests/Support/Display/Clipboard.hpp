#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

#include "Support/Display/WebViewHarness.hpp"

namespace larkspin::test {

inline GdkClipboard* displayClipboard() {
    return gdk_display_get_clipboard(gdk_display_get_default());
}

// The text on the display's clipboard, read back through GDK. The read is
// shared with its callback, which may come after a wait that gave up.
inline std::optional<std::string> clipboardText() {
    struct Read {
        bool done = false;
        std::optional<std::string> text;
    };
    auto read = std::make_shared<Read>();
    gdk_clipboard_read_text_async(
        displayClipboard(), nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<std::shared_ptr<Read>> held(static_cast<std::shared_ptr<Read>*>(data));
            Read& read = **held;
            if (char* text = gdk_clipboard_read_text_finish(GDK_CLIPBOARD(source), result, nullptr)) {
                read.text = text;
                g_free(text);
            }
            read.done = true;
        },
        new std::shared_ptr<Read>(read));
    EXPECT_TRUE(waitFor([&] { return read->done; }));
    return read->text;
}

}  // namespace larkspin::test
