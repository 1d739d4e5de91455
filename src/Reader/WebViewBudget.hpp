#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace larkspin {

// Which documents may hold a live reader web view: at most `hotLimit` of
// them. Activating a document stamps it with the logical clock; when one
// more document wants a web view than the limit allows, the others give
// theirs up, documents whose window shows the editor first, then the least
// recently active. Knows only document identifiers. A plain value.
struct WebViewBudget {
    struct Entry {
        std::string id;
        bool isHot = false;      // holds, or is about to hold, a live web view
        bool isEditing = false;  // its window shows the editor
        std::int64_t lastActive = 0;
        bool operator==(const Entry&) const = default;
    };

    // What one activation decided.
    struct Plan {
        std::string id;
        bool becameHot = false;            // it was not hot and now is
        std::vector<std::string> release;  // web views to give up, in this order
        bool operator==(const Plan&) const = default;
    };

    // A limit below 1 counts as 1.
    explicit WebViewBudget(std::int64_t limit);

    // The document was shown (`wantsHot`: it needs its web view). Without
    // `wantsHot` a hot document stays hot and nothing is evicted; an unknown
    // document gets a cold entry.
    Plan activate(const std::string& id, bool wantsHot);
    // Marks the oldest hot documents other than `protecting` not hot until the
    // limit holds, editing ones first; returns them in eviction order.
    std::vector<std::string> evict(const std::string& protecting);
    std::int64_t hotCount() const;

    bool operator==(const WebViewBudget&) const = default;

    std::int64_t hotLimit;
    std::map<std::string, Entry> entries;
    std::int64_t clock = 0;
};

}  // namespace larkspin
