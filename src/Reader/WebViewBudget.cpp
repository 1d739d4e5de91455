#include "Reader/WebViewBudget.hpp"

#include <algorithm>

namespace larkspin {

WebViewBudget::WebViewBudget(std::int64_t limit) : hotLimit(std::max<std::int64_t>(limit, 1)) {}

WebViewBudget::Plan WebViewBudget::activate(const std::string& id, bool wantsHot,
                                            const Facts& facts) {
    ++clock;
    Plan plan{id, wantsHot && !facts.isHot(id), {}};
    entries.insert_or_assign(id, Entry{id, clock});
    if (wantsHot) plan.release = evict(id, facts);
    return plan;
}

std::vector<std::string> WebViewBudget::evict(const std::string& protecting,
                                              const Facts& facts) const {
    std::vector<const Entry*> candidates;
    for (const auto& [id, entry] : entries) {
        if (id != protecting && facts.isHot(id)) candidates.push_back(&entry);
    }
    std::vector<std::pair<bool, const Entry*>> ordered;
    for (const Entry* entry : candidates) {
        if (facts.isBeingRead && facts.isBeingRead(entry->id)) continue;  // hot, but stays
        ordered.emplace_back(facts.isEditing(entry->id), entry);
    }
    std::ranges::stable_sort(ordered, [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first;
        return a.second->lastActive < b.second->lastActive;
    });
    std::int64_t hot = static_cast<std::int64_t>(candidates.size()) + 1;  // with `protecting`
    std::vector<std::string> released;
    for (const auto& [editing, entry] : ordered) {
        if (hot <= hotLimit) break;
        --hot;
        released.push_back(entry->id);
    }
    return released;
}

std::int64_t WebViewBudget::hotCount(const Facts& facts) const {
    return std::ranges::count_if(entries, [&](const auto& item) { return facts.isHot(item.first); });
}

}  // namespace larkspin
