#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "Platform/Text/Base64.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Text/Iso8601.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono;

TEST(Base64, EncodesWithPaddingAndRoundTripsEveryByte) {
    EXPECT_EQ(Base64::encode(""), "");
    EXPECT_EQ(Base64::encode("f"), "Zg==");
    EXPECT_EQ(Base64::encode("fo"), "Zm8=");
    EXPECT_EQ(Base64::encode("foo"), "Zm9v");
    EXPECT_EQ(Base64::encode("\xFB\xFF"), "+/8=");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (std::size_t length : {0u, 1u, 2u, 3u, 255u, 256u}) {
        const auto bytes = all.substr(0, length);
        EXPECT_EQ(Base64::decode(Base64::encode(bytes)), bytes) << length;
    }
}

TEST(Base64, RefusesAnythingTheEncoderWouldNotWrite) {
    for (const char* junk :
         {"Zg", "Zg=", "Zg===", "Z===", "====", "Zm9v\n", " Zm9v", "Zm 9v",
          "Zm9v====", "Zg==Zg==", "Z=g=", "Zm9-", "Zm9_", "Zh==", "Zm9=", "\xC3\xA9xyz"}) {
        EXPECT_EQ(Base64::decode(junk), std::nullopt) << junk;
    }
    EXPECT_EQ(Base64::decode("Zm8="), "fo");
}

TEST(Iso8601, WritesWholeSecondsInUtc) {
    EXPECT_EQ(Iso8601::format(Date{}), "1970-01-01T00:00:00Z");
    const Date date = sys_days(2024y / 2 / 29) + 23h + 59min + 58s + 999ms;
    EXPECT_EQ(Iso8601::format(date), "2024-02-29T23:59:58Z");
    EXPECT_EQ(Iso8601::format(Date{} - 1ns), "1969-12-31T23:59:59Z");  // towards the past
    EXPECT_EQ(Iso8601::format(distantPast()), "1677-09-21T00:12:44Z");
    EXPECT_EQ(Iso8601::parse("2024-02-29T23:59:58Z"), floor<seconds>(date));
}

TEST(Iso8601, ReadsOnlyTheWrittenForm) {
    for (const char* bad :
         {"", "2024-02-30T00:00:00Z", "2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z",
          "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z", "2024-01-01T00:00:60Z",
          "2024-01-01T00:00:00", "2024-01-01T00:00:00.5Z", "2024-01-01T00:00:00+00:00",
          "2024-01-01 00:00:00Z", "2024-01-01t00:00:00z", "+024-01-01T00:00:00Z",
          "2024-1-01T00:00:00Z", " 2024-01-01T00:00:00Z", "2024-01-01T00:00:00Zjunk"}) {
        EXPECT_EQ(Iso8601::parse(bad), std::nullopt) << bad;
    }
}

TEST(Iso8601, ClampsDatesOutsideWhatADateHolds) {
    EXPECT_EQ(Iso8601::parse("0001-01-01T00:00:00Z"), distantPast());
    EXPECT_EQ(Iso8601::parse("1677-09-21T00:12:43Z"), distantPast());
    EXPECT_EQ(Iso8601::parse("1677-09-21T00:12:44Z"), distantPast());
    EXPECT_EQ(Iso8601::parse("1677-09-21T00:12:45Z"), distantPast() + 1s);
    const auto latest = Iso8601::parse("9999-12-31T23:59:59Z");
    ASSERT_TRUE(latest);
    EXPECT_EQ(*latest, floor<seconds>(Date::max()));
    EXPECT_EQ(Iso8601::parse(Iso8601::format(*latest)), latest);
}

TEST(FileBookmark, FindsTheFileAtItsPathAndAfterARenameInItsFolder) {
    test::TempDir dir;
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

TEST(FileBookmark, RefusesMalformedRecordsAndMissingFiles) {
    test::TempDir dir;
    EXPECT_EQ(FileBookmark::make(dir / "missing.md"), std::nullopt);
    const auto bookmark = FileBookmark::make(dir.write("a.md", ""));
    ASSERT_TRUE(bookmark);
    EXPECT_EQ(FileBookmark::resolve(""), std::nullopt);
    EXPECT_EQ(FileBookmark::resolve(bookmark->substr(0, 21)), std::nullopt);  // no path
    auto otherVersion = *bookmark;
    otherVersion[4] = 2;
    EXPECT_EQ(FileBookmark::resolve(otherVersion), std::nullopt);
    auto relative = bookmark->substr(0, 21) + "a.md";
    EXPECT_EQ(FileBookmark::resolve(relative), std::nullopt);
    auto withNul = *bookmark + std::string(1, '\0');
    EXPECT_EQ(FileBookmark::resolve(withNul), std::nullopt);
}

}  // namespace
}  // namespace larkspin
