#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace larkspin {

// A page's place in its group window, as the session keeps it.
struct TabRestorationInfo {
    // The window number of the group's first page when the session was taken.
    std::int64_t groupToken = 0;
    // The page's position in its group, 0-based.
    std::int64_t index = 0;
    // Whether it was the group's selected page.
    bool isSelected = false;

    bool operator==(const TabRestorationInfo&) const = default;

    // The place of page `page` in a group holding `groupPages` (window
    // numbers in tab order; empty or without the page for a page not yet in
    // a group) whose selected page is `selected`. A page alone reports its own
    // number, index 0 and selected.
    static TabRestorationInfo current(std::int64_t page, const std::vector<std::int64_t>& groupPages,
                                      std::optional<std::int64_t> selected);
};

}  // namespace larkspin
