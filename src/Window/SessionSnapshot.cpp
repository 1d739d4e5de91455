#include "Window/SessionSnapshot.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>

#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Platform/Json/PayloadCodec.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/Base64.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {

bool SessionSnapshot::empty() const {
    for (const auto& group : groups) {
        if (!group.tabs.empty()) return false;
    }
    return true;
}

SessionSnapshot withFilesBeingOpened(SessionSnapshot snapshot, std::int64_t frontToken,
                                     const std::vector<std::string>& opening) {
    std::set<std::string> named;
    for (const SessionGroup& group : snapshot.groups) {
        for (const SessionTab& tab : group.tabs) named.insert(tab.path);
    }
    std::vector<std::string> added;
    for (const std::string& path : opening) {
        if (!path.empty() && named.insert(path).second) added.push_back(path);
    }
    if (added.empty()) return snapshot;
    auto front = std::find_if(snapshot.groups.begin(), snapshot.groups.end(), [frontToken](const SessionGroup& group) {
        return !group.tabs.empty() && group.tabs.front().info && group.tabs.front().info->groupToken == frontToken;
    });
    if (front == snapshot.groups.end()) {
        // A window of their own, at the size the planner gives by default.
        std::int64_t token = frontToken;
        for (const SessionGroup& group : snapshot.groups) {
            for (const SessionTab& tab : group.tabs) {
                if (tab.info) token = std::max(token, tab.info->groupToken + 1);
            }
        }
        snapshot.groups.push_back(SessionGroup{0, 0, {}});
        front = std::prev(snapshot.groups.end());
        frontToken = token;
    }
    std::int64_t index = 0;
    for (SessionTab& tab : front->tabs) {
        if (!tab.info) continue;
        tab.info->isSelected = false;
        index = std::max(index, tab.info->index + 1);
    }
    for (std::string& path : added) {
        const bool last = &path == &added.back();
        front->tabs.push_back(SessionTab{std::move(path), TabRestorationInfo{frontToken, index++, last}});
    }
    return snapshot;
}

namespace {

struct TabRecord {
    // A path JSON cannot carry as text (its name is not UTF-8) is written
    // as its bytes in Base64, beside its shown form.
    std::string path;
    std::optional<std::string> pathBytes;
    std::optional<bool> present;
    std::optional<std::int64_t> groupToken;
    std::optional<std::int64_t> index;
    std::optional<bool> isSelected;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("path", self.path);
        coder.field("pathBytes", self.pathBytes);
        coder.field("Orvik.tab.present", self.present);
        coder.field("Orvik.tab.groupToken", self.groupToken);
        coder.field("Orvik.tab.index", self.index);
        coder.field("Orvik.tab.isSelected", self.isSelected);
    }
};

struct GroupRecord {
    double width = 0;
    double height = 0;
    std::vector<TabRecord> tabs;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("width", self.width);
        coder.field("height", self.height);
        coder.field("tabs", self.tabs);
    }
};

struct SessionRecord {
    std::int64_t version = 0;
    std::vector<GroupRecord> groups;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("version", self.version);
        coder.field("groups", self.groups);
    }
};

}  // namespace

namespace SessionCodec {

std::string encode(const SessionSnapshot& snapshot) {
    SessionRecord record;
    record.version = version;
    for (const auto& group : snapshot.groups) {
        GroupRecord out;
        // A size JSON cannot carry is left for the planner's default.
        out.width = std::isfinite(group.width) ? group.width : 0;
        out.height = std::isfinite(group.height) ? group.height : 0;
        for (const auto& tab : group.tabs) {
            if (tab.path.empty()) {
                AppLog::document.error("会话快照略过空路径");
                continue;
            }
            TabRecord entry;
            if (utf8::isValid(tab.path)) {
                entry.path = tab.path;
            } else {
                entry.path = FileNameText::path(tab.path);
                entry.pathBytes = Base64::encode(tab.path);
            }
            if (tab.info) {
                entry.present = true;
                entry.groupToken = tab.info->groupToken;
                entry.index = tab.info->index;
                entry.isSelected = tab.info->isSelected;
            }
            out.tabs.push_back(std::move(entry));
        }
        record.groups.push_back(std::move(out));
    }
    return PayloadCodec::encode(record).serialized();
}

std::expected<SessionSnapshot, std::string> decode(std::string_view text) {
    SessionRecord record;
    try {
        record = PayloadCodec::decode<SessionRecord>(JSONValue::parse(text));
    } catch (const CodingError& error) {
        return std::unexpected(std::string(error.what()));
    }
    if (record.version != version) {
        return std::unexpected("unsupported version " + std::to_string(record.version));
    }
    SessionSnapshot snapshot;
    for (auto& group : record.groups) {
        SessionGroup out;
        out.width = group.width;
        out.height = group.height;
        for (auto& tab : group.tabs) {
            SessionTab entry;
            entry.path = std::move(tab.path);
            if (tab.pathBytes) {
                std::optional<std::string> bytes = Base64::decode(*tab.pathBytes);
                if (!bytes || bytes->empty() || bytes->find('\0') != std::string::npos) {
                    AppLog::document.error("会话快照的路径字节无法解读，略过该标签");
                    continue;
                }
                entry.path = std::move(*bytes);
            }
            // The program writes absolute paths only; a relative one would be
            // opened against whatever folder the program was started in.
            if (!entry.path.starts_with('/')) {
                AppLog::document.error("会话快照的路径不是绝对路径，略过该标签：%{private}s",
                                       FileNameText::path(entry.path));
                continue;
            }
            if (tab.present.value_or(false)) {
                entry.info = TabRestorationInfo{tab.groupToken.value_or(0), tab.index.value_or(0),
                                                tab.isSelected.value_or(false)};
            }
            out.tabs.push_back(std::move(entry));
        }
        snapshot.groups.push_back(std::move(out));
    }
    return snapshot;
}

}  // namespace SessionCodec

}  // namespace larkspin
