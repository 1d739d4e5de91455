#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace larkspin {

// Which documents may hold a live reader web view: at most `hotLimit` of
// them. Activating a document stamps it with the logical clock; when one
// more document wants a web view than the limit allows, the others give
// theirs up, documents whose window shows the editor first, then the least
// recently active. It keeps only identifiers and the order of activation;
// whether a document holds a web view and whether its window shows the
// editor it asks (`Facts`) of those who keep them. A plain value.
struct WebViewBudget {
    struct Entry {
        std::string id;
        std::int64_t lastActive = 0;
        bool operator==(const Entry&) const = default;
    };

    // What the budget asks about a document.
    struct Facts {
        // It holds a live web view that is not being given up.
        std::function<bool(const std::string&)> isHot;
        // Its window shows the editor.
        std::function<bool(const std::string&)> isEditing;
        // It is the document being read (selected in its window, in reading mode):
        // it counts as hot but is never evicted for another document, even
        // when the limit then does not hold. None protects nothing.
        std::function<bool(const std::string&)> isBeingRead = {};
    };

    // What one activation decided.
    struct Plan {
        std::string id;
        bool becameHot = false;            // it was not hot and now wants to be
        std::vector<std::string> release;  // web views to give up, in this order
        bool operator==(const Plan&) const = default;
    };

    // A limit below 1 counts as 1.
    explicit WebViewBudget(std::int64_t limit);

    // The document was shown (`wantsHot`: it needs its web view, and counts
    // as hot from now on). Without `wantsHot` nothing is evicted; an unknown
    // document gets an entry.
    Plan activate(const std::string& id, bool wantsHot, const Facts& facts);
    // The oldest hot documents other than `protecting` (counted hot) and the
    // one being read that go until the limit holds, editing ones first, in
    // eviction order.
    std::vector<std::string> evict(const std::string& protecting, const Facts& facts) const;
    std::int64_t hotCount(const Facts& facts) const;

    std::int64_t hotLimit;
    std::map<std::string, Entry> entries;
    std::int64_t clock = 0;
};

}  // namespace larkspin
