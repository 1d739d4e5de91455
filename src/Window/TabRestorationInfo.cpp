#include "Window/TabRestorationInfo.hpp"

#include <algorithm>

namespace larkspin {

TabRestorationInfo TabRestorationInfo::current(std::int64_t page,
                                               const std::vector<std::int64_t>& groupPages,
                                               std::optional<std::int64_t> selected) {
    TabRestorationInfo info;
    info.groupToken = groupPages.empty() ? page : groupPages.front();
    const auto found = std::find(groupPages.begin(), groupPages.end(), page);
    info.index = found == groupPages.end() ? 0 : found - groupPages.begin();
    info.isSelected = !selected || *selected == page;
    return info;
}

}  // namespace larkspin
