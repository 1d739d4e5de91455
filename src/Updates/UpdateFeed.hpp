#pragma once

#include <cstdint>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspin {

// One release of the update feed.
struct FeedItem {
    std::string version;          // the machine version, compared with ours
    std::string displayVersion;   // what the user is shown (the version when absent)
    std::string releaseNotesLink; // https, or empty
    std::string downloadLink;     // https: the page the user is sent to
    std::string os;               // empty: any system
    std::string arch;             // empty: any processor
    bool operator==(const FeedItem&) const = default;
};

// The update feed: an RSS 2.0 document, one <item> per release, each with
// elements of our namespace for what a release needs:
//
//     <rss version="2.0" xmlns:larkspin="https://larkspin.corvantel.dev/xmlns/update-feed">
//       <channel><item>
//         <larkspin:version>1.3.0</larkspin:version>
//         <larkspin:displayVersion>1.3</larkspin:displayVersion>
//         <larkspin:releaseNotesLink>https://…</larkspin:releaseNotesLink>
//         <larkspin:downloadLink>https://…</larkspin:downloadLink>
//         <larkspin:os>linux</larkspin:os> <larkspin:arch>x86_64</larkspin:arch>
//       </item></channel>
//     </rss>
//
// Elements are matched by namespace URI and local name, whatever the prefix.
namespace UpdateFeed {

inline constexpr std::string_view namespaceURI = "https://larkspin.corvantel.dev/xmlns/update-feed";
// Where the feed files lie.
inline constexpr std::string_view baseAddress = "https://larkspin.corvantel.dev/updates";

// The feed of a major version: base + "/appcast-v" + major (at least 1) + ".xml".
std::string urlString(std::string_view base, std::int64_t major);

// The major version of a short version ("2.5.1" → 2): the leading run of
// numeric characters after blanks and tabs, in decimal; 1 when there is none,
// when it holds a numeric character other than 0-9, when it is beyond a
// signed 64-bit integer, or when it is below 1.
std::int64_t majorVersion(std::string_view shortVersion);

struct Parsed {
    std::vector<FeedItem> items;
    // Why the document was refused; empty when it was read. Items that lack a
    // version or an https download address are left out (counted in `skipped`).
    std::string error;
    int skipped = 0;
};

// Reads a feed from its bytes. Never reaches the network or the disk: a
// document with a document type declaration (where entities, internal or
// external, would be declared) is refused before its declarations are read.
Parsed parse(std::string_view bytes);

// The newest release newer than `current`, for this system and processor,
// other than `skipped`.
std::optional<FeedItem> newestApplicable(const std::vector<FeedItem>& items,
                                         std::string_view current, std::string_view skipped,
                                         std::string_view os, std::string_view arch);

// This build's system and processor names, as the feed's filters write them.
std::string_view currentOS();
std::string_view currentArch();

}  // namespace UpdateFeed

}  // namespace larkspin
