#include <gtest/gtest.h>

#include "Platform/Files/FileBookmark.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

TEST(FileBookmark, FindsTheFileAtItsPathAndAfterARenameInItsFolder) {
    test::TempDir dir;
    EXPECT_EQ(FileBookmark::make(dir / "missing.md"), std::nullopt);
    const auto original = dir.write("a.md", "text");
    const auto bookmark = FileBookmark::make(original);
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(FileBookmark::resolve(*bookmark), original);

    std::filesystem::rename(original, dir / "b.md");
    dir.write("other.md", "x");
    EXPECT_EQ(FileBookmark::resolve(*bookmark), dir / "b.md");

    // A new file at the old path is not the file; the renamed one still is.
    dir.write("a.md", "new");
    EXPECT_EQ(FileBookmark::resolve(*bookmark), dir / "b.md");

    std::filesystem::remove(dir / "b.md");
    EXPECT_EQ(FileBookmark::resolve(*bookmark), std::nullopt);
}

TEST(FileBookmark, RefusesMalformedRecords) {
    test::TempDir dir;
    const auto bookmark = FileBookmark::make(dir.write("a.md", ""));
    ASSERT_TRUE(bookmark);
    auto otherVersion = *bookmark;
    otherVersion[4] = 2;
    const std::string header = bookmark->substr(0, 21);
    for (const std::string& record : {std::string(), header, otherVersion, header + "a.md",
                                      *bookmark + std::string(1, '\0')}) {
        EXPECT_EQ(FileBookmark::resolve(record), std::nullopt) << testing::PrintToString(record);
    }
}

}  // namespace
}  // namespace larkspin
