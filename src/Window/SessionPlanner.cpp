#include "Window/SessionPlanner.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "Platform/Log.hpp"

namespace larkspin::SessionPlanner {

namespace {

struct Member {
    std::string path;
    TabRestorationInfo info;
};

struct Pending {
    const SessionGroup* sizeFrom = nullptr;
    std::vector<Member> members;
};

double side(double value, double fallback, double minimum) {
    if (!std::isfinite(value) || value <= 0) return fallback;
    return std::clamp(value, minimum, maximumSide);
}

}  // namespace

std::vector<std::string> paths(const SessionSnapshot& snapshot) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& group : snapshot.groups) {
        for (const auto& tab : group.tabs) {
            if (seen.insert(tab.path).second) out.push_back(tab.path);
        }
    }
    return out;
}

SessionPlan plan(const SessionSnapshot& snapshot, const std::set<std::string>& existing,
                 const std::set<std::string>& alreadyOpen) {
    std::map<std::int64_t, Pending> byToken;
    std::vector<Pending> loose;
    for (const auto& group : snapshot.groups) {
        for (const auto& tab : group.tabs) {
            if (!tab.info) {
                loose.push_back(Pending{&group, {Member{tab.path, {}}}});
                continue;
            }
            auto& pending = byToken[tab.info->groupToken];
            if (!pending.sizeFrom) pending.sizeFrom = &group;
            pending.members.push_back(Member{tab.path, *tab.info});
        }
    }

    SessionPlan result;
    std::set<std::string> placed;
    auto assemble = [&](Pending& pending) {
        std::stable_sort(pending.members.begin(), pending.members.end(),
                         [](const Member& a, const Member& b) { return a.info.index < b.info.index; });
        PlannedGroup group;
        std::optional<std::size_t> selected;
        for (const auto& member : pending.members) {
            if (!existing.contains(member.path)) {
                AppLog::document.notice("会话恢复跳过已不存在的文件：%{private}s", member.path);
                result.missing.push_back(member.path);
                continue;
            }
            if (alreadyOpen.contains(member.path) || !placed.insert(member.path).second) {
                AppLog::document.info("会话恢复跳过已打开的文件：%{private}s", member.path);
                result.alreadyOpen.push_back(member.path);
                continue;
            }
            if (member.info.isSelected && !selected) selected = group.paths.size();
            group.paths.push_back(member.path);
        }
        if (group.paths.empty()) return;
        group.selected = selected.value_or(0);
        group.width = side(pending.sizeFrom ? pending.sizeFrom->width : 0, defaultWidth, minimumWidth);
        group.height =
            side(pending.sizeFrom ? pending.sizeFrom->height : 0, defaultHeight, minimumHeight);
        result.groups.push_back(std::move(group));
    };
    for (auto& [token, pending] : byToken) assemble(pending);
    for (auto& pending : loose) assemble(pending);
    return result;
}

}  // namespace larkspin::SessionPlanner
