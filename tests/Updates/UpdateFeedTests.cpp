#include "Updates/UpdateFeed.hpp"

#include <gtest/gtest.h>

#include "Updates/FeedFixtures.hpp"

namespace larkspin {
namespace {

using test::feedItem;
using test::feedWith;

TEST(UpdateFeed, NamesTheFeedOfTheMajorVersion) {
    EXPECT_EQ(UpdateFeed::urlString("https://example.org/u", 3), "https://example.org/u/appcast-v3.xml");
    EXPECT_EQ(UpdateFeed::urlString("https://example.org/u", 1), "https://example.org/u/appcast-v1.xml");
    EXPECT_EQ(UpdateFeed::urlString("https://example.org/u", 0), "https://example.org/u/appcast-v1.xml");
    EXPECT_EQ(UpdateFeed::urlString("https://example.org/u", -4), "https://example.org/u/appcast-v1.xml");
}

// The program's short version names its feed: the leading number after
// blanks, strictly, and 1 for anything that is not a usable major version.
TEST(UpdateFeed, TheMajorVersionOfAShortVersion) {
    const std::pair<std::string_view, std::int64_t> cases[] = {
        {"2.5.1", 2},   {" 10 ", 10},  {"\t7\t", 7},   {"a1", 1},    {"0.9", 1},
        {"", 1},        {"12abc", 12}, {"-3", 1},       {"99999999999", 99999999999},
        {"9223372036854775807", 9223372036854775807}, {"99999999999999999999", 1},
        {"\u0661\u0662", 1}, {"3\u0661", 1}, {"\u00bd", 1}, {"3\n", 3}};
    for (const auto& [version, major] : cases) {
        EXPECT_EQ(UpdateFeed::majorVersion(version), major) << version;
    }
    EXPECT_EQ(UpdateFeed::urlString("https://example.org/u", UpdateFeed::majorVersion(" 10 ")),
              "https://example.org/u/appcast-v10.xml");
}

TEST(UpdateFeed, ReadsItemsByNamespaceAndLocalName) {
    const std::string feed = R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:other="https://larkspin.corvantel.dev/xmlns/update-feed"
     xmlns:fake="urn:not-ours">
<channel>
  <item>
    <other:version> 1.3.0 </other:version>
    <other:displayVersion>1.3</other:displayVersion>
    <other:releaseNotesLink>https://example.org/notes</other:releaseNotesLink>
    <other:downloadLink>https://example.org/get</other:downloadLink>
    <other:os>linux</other:os><other:arch>x86_64</other:arch>
  </item>
  <item>
    <fake:version>9.0</fake:version>
    <other:version>1.4</other:version>
    <other:releaseNotesLink>http://example.org/plain</other:releaseNotesLink>
    <other:downloadLink>https://example.org/get14</other:downloadLink>
  </item>
  <item><version>2.0</version><other:downloadLink>https://example.org/x</other:downloadLink></item>
  <item><other:version>2.1</other:version><other:downloadLink>http://example.org/x</other:downloadLink></item>
  <item><other:version>2.2</other:version><other:downloadLink>javascript:alert(1)</other:downloadLink></item>
</channel></rss>)";
    const auto parsed = UpdateFeed::parse(feed);
    ASSERT_EQ(parsed.error, "");
    ASSERT_EQ(parsed.items.size(), 2u);
    EXPECT_EQ(parsed.items[0], (FeedItem{"1.3.0", "1.3", "https://example.org/notes",
                                         "https://example.org/get", "linux", "x86_64"}));
    // The display version falls back to the version; a plain-http notes link is dropped.
    EXPECT_EQ(parsed.items[1], (FeedItem{"1.4", "1.4", "", "https://example.org/get14", "", ""}));
    // No version in our namespace, or no https download address.
    EXPECT_EQ(parsed.skipped, 3);
}

TEST(UpdateFeed, RefusesWhatIsNotAPlainFeed) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {"malformed", "<rss version=\"2.0\"><channel><item></channel>", "malformed XML"},
        {"empty", "", "malformed XML"},
        {"not rss", "<feed xmlns=\"http://www.w3.org/2005/Atom\"/>", "not an RSS feed"},
        {"rss in a namespace", "<rss xmlns=\"urn:x\"><channel/></rss>", "not an RSS feed"},
        {"entity bomb", test::entityBombFeed(), "document type declaration refused"},
        {"external entity", test::externalEntityFeed("file:///etc/passwd"),
         "document type declaration refused"},
        {"external DTD", "<?xml version=\"1.0\"?><!DOCTYPE rss SYSTEM \"http://127.0.0.1:9/x.dtd\"><rss/>",
         "document type declaration refused"},
    };
    for (const auto& c : cases) {
        const auto parsed = UpdateFeed::parse(c.bytes);
        EXPECT_EQ(parsed.error, c.error) << c.name;
        EXPECT_TRUE(parsed.items.empty()) << c.name;
    }
}

TEST(UpdateFeed, PicksTheNewestReleaseForThisSystem) {
    const auto item = [](const char* version, const char* os = "", const char* arch = "") {
        return FeedItem{version, version, "", "https://example.org/", os, arch};
    };
    const std::vector<FeedItem> items = {item("1.1"), item("1.3", "linux", "aarch64"),
                                         item("1.2b1"), item("1.2", "windows"),
                                         item("1.1.5", "linux", "x86_64")};
    struct Case {
        const char* current;
        const char* skipped;
        const char* arch;
        const char* expected;  // "" for none
    };
    const Case cases[] = {
        {"1.0", "", "x86_64", "1.2b1"},     // 1.3 is for another processor, 1.2 another system
        {"1.0", "", "aarch64", "1.3"},
        {"1.0", "1.2b1", "x86_64", "1.1.5"},  // the skipped version is ignored
        {"1.2b1", "", "x86_64", ""},        // nothing newer: up to date
        {"1.3.0", "", "aarch64", ""},       // 1.3 equals 1.3.0
    };
    for (const auto& c : cases) {
        const auto found = UpdateFeed::newestApplicable(items, c.current, c.skipped, "linux", c.arch);
        EXPECT_EQ(found ? found->version : "", c.expected) << c.current << " " << c.arch;
    }
}

}  // namespace
}  // namespace larkspin
