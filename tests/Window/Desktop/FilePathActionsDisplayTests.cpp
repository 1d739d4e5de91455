// A document's file path on the display's own clipboard.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

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

}  // namespace
}  // namespace larkspin
