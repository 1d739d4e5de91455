#include "Window/WindowStateReporter.hpp"

#include <set>

#include "Platform/Log.hpp"

namespace larkspin::WindowStateReporter {

namespace {

const WindowStateEntry* find(const WindowStateSnapshot& snapshot, std::int64_t number) {
    for (const auto& page : snapshot.pages) {
        if (page.number == number) return &page;
    }
    return nullptr;
}

std::string nameOf(const WindowStateSnapshot& snapshot, std::int64_t number) {
    const auto* page = find(snapshot, number);
    return page ? name(*page) : "<无标题窗口>";
}

}  // namespace

std::string name(const WindowStateEntry& page) {
    if (page.hasDocument) {
        auto text = page.displayName.empty() ? std::string("<未命名>") : page.displayName;
        if (page.isEdited) text += "*";
        return text;
    }
    return page.title.empty() ? "<无标题窗口>" : page.title;
}

std::string summary(const WindowStateSnapshot& snapshot) {
    std::vector<std::vector<std::int64_t>> groups;
    std::vector<std::optional<std::int64_t>> selections;
    std::set<std::int64_t> seen;
    for (const auto& pages : snapshot.documentPages) {
        for (const auto number : pages) {
            const auto* page = find(snapshot, number);
            if (!page) continue;
            auto tabs = page->groupPages.empty() ? std::vector<std::int64_t>{number} : page->groupPages;
            if (seen.contains(tabs.front())) continue;
            seen.insert(tabs.begin(), tabs.end());
            const auto* first = find(snapshot, tabs.front());
            selections.push_back(first ? first->selectedPage : page->selectedPage);
            groups.push_back(std::move(tabs));
        }
    }

    std::string key = "<无>";
    if (snapshot.keyPage) key = nameOf(snapshot, *snapshot.keyPage);
    std::string front = "<无>";
    for (const auto number : snapshot.frontToBack) {
        const auto* page = find(snapshot, number);
        if (page && page->hasDocument) {
            front = name(*page);
            break;
        }
    }

    std::string text = "文档数=" + std::to_string(snapshot.documentCount) +
                       " 标签组数=" + std::to_string(groups.size()) + " key=" + key +
                       " front=" + front + " ";
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (i > 0) text += "; ";
        text += "组" + std::to_string(i + 1) + "[" + std::to_string(groups[i].size()) + "]: ";
        for (std::size_t j = 0; j < groups[i].size(); ++j) {
            if (j > 0) text += " > ";
            auto pageName = nameOf(snapshot, groups[i][j]);
            text += selections[i] == groups[i][j] ? "[" + pageName + "]" : pageName;
        }
    }
    return text;
}

void log(std::string_view reason, const WindowStateSnapshot& snapshot) {
    AppLog::document.info("窗口状态（%{public}s）：%{private}s", reason, summary(snapshot));
}

}  // namespace larkspin::WindowStateReporter
