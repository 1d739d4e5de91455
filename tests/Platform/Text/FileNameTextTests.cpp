#include <gtest/gtest.h>

#include <string>

#include "Platform/Text/FileNameText.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {
namespace {

// A name in Latin-1 ("café" with the byte E9) and one cut in the middle of a
// character: legal names on Linux, never valid UTF-8.
const std::string latin1 = "caf\xE9.md";
const std::string cut = "\xE4\xB8.md";

TEST(FileNameText, KeepsUtf8NamesAndReplacesWhatIsNotUtf8) {
    EXPECT_EQ(FileNameText::baseName("/home/u/文档/说明 v2.md"), "说明 v2.md");
    EXPECT_EQ(FileNameText::path("/home/u/文档/说明 v2.md"), "/home/u/文档/说明 v2.md");

    for (const std::string& name : {latin1, cut}) {
        const std::string base = FileNameText::baseName("/tmp/" + name);
        const std::string whole = FileNameText::path("/tmp/\xFF/" + name);
        EXPECT_TRUE(utf8::isValid(base)) << base;
        EXPECT_TRUE(utf8::isValid(whole)) << whole;
        // The readable parts stay, the rest is marked, nothing is dropped.
        EXPECT_NE(base.find("\xEF\xBF\xBD"), std::string::npos) << base;
        EXPECT_EQ(base.rfind(".md"), base.size() - 3) << base;
        EXPECT_EQ(whole.rfind("/tmp/", 0), 0u) << whole;
        EXPECT_NE(whole.find(base), std::string::npos) << whole;
    }
    EXPECT_EQ(FileNameText::baseName("/tmp/" + latin1), "caf\xEF\xBF\xBD.md");
}

TEST(FileNameText, TakesTheLastComponentOfAnyPath) {
    EXPECT_EQ(FileNameText::baseName("/a/b.md"), "b.md");
    EXPECT_EQ(FileNameText::baseName("b.md"), "b.md");
    EXPECT_EQ(FileNameText::baseName("/a/dir/"), "dir");
    EXPECT_EQ(FileNameText::baseName("/"), "/");
}

}  // namespace
}  // namespace larkspin
