#include "Protocol/Navigation/ContextMenuEntry.hpp"

namespace larkspin {

std::vector<bool> keptContextMenuEntries(std::span<const ContextMenuEntry> entries) {
    std::vector<bool> kept(entries.size(), true);
    // 1. The inert items.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].isSeparator && entries[i].inert) kept[i] = false;
    }
    // 2. Separators at the top and after a separator.
    bool previousWasSeparator = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!kept[i]) continue;
        if (entries[i].isSeparator && previousWasSeparator) {
            kept[i] = false;
            continue;
        }
        previousWasSeparator = entries[i].isSeparator;
    }
    // 3. A trailing separator.
    for (std::size_t i = entries.size(); i-- > 0;) {
        if (!kept[i]) continue;
        if (entries[i].isSeparator) kept[i] = false;
        break;
    }
    return kept;
}

}  // namespace larkspin
