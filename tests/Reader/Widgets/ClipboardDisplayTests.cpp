// Copied text on the display's own clipboard.

#include <gtest/gtest.h>

#include <string>

#include "Platform/Log.hpp"
#include "Support/Display/Clipboard.hpp"
#include "Support/LogCapture.hpp"
#include "Reader/PasteboardService.hpp"

namespace larkspin {
namespace {

TEST(ClipboardDisplay, CopiedTextReachesTheDisplaysClipboard) {
    test::LogCapture logs;
    const std::string text = "Größe 👍🏽\n中文";
    const PasteboardService pasteboard(PasteboardService::displayClipboard());
    EXPECT_TRUE(pasteboard.write(text, "selection"));
    EXPECT_EQ(test::clipboardText(), text);
    EXPECT_TRUE(logs.contains("actions", "copyText kind=selection chars=10 ok=true"));
    EXPECT_TRUE(pasteboard.write("", "selection"));
    EXPECT_EQ(test::clipboardText(), "");
}

}  // namespace
}  // namespace larkspin
