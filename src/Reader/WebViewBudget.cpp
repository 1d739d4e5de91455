#include "Reader/WebViewBudget.hpp"

#include <algorithm>

namespace larkspin {

WebViewBudget::WebViewBudget(std::int64_t limit) : hotLimit(std::max<std::int64_t>(limit, 1)) {}

WebViewBudget::Plan WebViewBudget::activate(const std::string& id, bool wantsHot) {
    ++clock;
    Plan plan{id, false, {}};
    auto found = entries.find(id);
    if (found == entries.end()) {
        found = entries.emplace(id, Entry{id, wantsHot, false, 0}).first;
        plan.becameHot = wantsHot;
    } else if (wantsHot) {
        plan.becameHot = !found->second.isHot;
        found->second.isHot = true;
    }
    found->second.lastActive = clock;
    if (wantsHot) plan.release = evict(id);
    return plan;
}

std::vector<std::string> WebViewBudget::evict(const std::string& protecting) {
    std::vector<Entry*> candidates;
    for (auto& [id, entry] : entries) {
        if (entry.isHot && id != protecting) candidates.push_back(&entry);
    }
    std::ranges::stable_sort(candidates, [](const Entry* a, const Entry* b) {
        if (a->isEditing != b->isEditing) return a->isEditing;
        return a->lastActive < b->lastActive;
    });
    std::vector<std::string> released;
    for (Entry* entry : candidates) {
        if (hotCount() <= hotLimit) break;
        entry->isHot = false;
        released.push_back(entry->id);
    }
    return released;
}

std::int64_t WebViewBudget::hotCount() const {
    return std::ranges::count_if(entries, [](const auto& item) { return item.second.isHot; });
}

}  // namespace larkspin
