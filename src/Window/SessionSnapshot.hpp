#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Window/TabRestorationInfo.hpp"

namespace larkspin {

// One titled document page of the session: its file and its place.
struct SessionTab {
    std::string path;
    // Nothing when the page's place was not recorded: it opens alone.
    std::optional<TabRestorationInfo> info;

    bool operator==(const SessionTab&) const = default;
};

// One group window: its size and its pages in tab order.
struct SessionGroup {
    double width = 0;
    double height = 0;
    std::vector<SessionTab> tabs;

    bool operator==(const SessionGroup&) const = default;
};

// Every group window of the program at one moment, as the session file
// keeps it between runs.
struct SessionSnapshot {
    std::vector<SessionGroup> groups;

    bool operator==(const SessionSnapshot&) const = default;
    bool empty() const;
};

// `snapshot` with the files still being opened (`opening`, in the order they
// were asked for) kept as well: after the tabs of the group window whose
// token is `frontToken`, where their pages were going, or as a group of
// their own when the snapshot has no such group; the last of them selected,
// as it would have been once shown. A file the snapshot names already is not
// named again.
SessionSnapshot withFilesBeingOpened(SessionSnapshot snapshot, std::int64_t frontToken,
                                     const std::vector<std::string>& opening);

// The session file's text and back. The file is one JSON object:
//     {"version": 1, "groups": [{"width": …, "height": …, "tabs": [
//         {"path": "/…", "Orvik.tab.present": true, "Orvik.tab.groupToken": 3,
//          "Orvik.tab.index": 0, "Orvik.tab.isSelected": true}]}]}
// A tab without "Orvik.tab.present" true has no place; the place's other keys
// default to 0 and false.
namespace SessionCodec {

inline constexpr std::int64_t version = 1;
// The largest session file read; far beyond any real session.
inline constexpr std::uint64_t maximumFileSize = 1024 * 1024;

// The file's text. A tab whose path is not UTF-8 cannot be written in JSON
// and is left out (and logged); so is a tab with an empty path.
std::string encode(const SessionSnapshot& snapshot);
// The snapshot of a file's text, or why it is refused: not JSON, another
// shape or another version.
std::expected<SessionSnapshot, std::string> decode(std::string_view text);

}  // namespace SessionCodec

}  // namespace larkspin
