#pragma once

#include <optional>

namespace larkspin {

// The check mark of a menu item. GMenu radio items have no "mixed" state; the
// menu layer shows what GTK can (mixed as off, or as a separate marker).
enum class MenuItemState { off, on, mixed };

// What an action answers for one of its menu items: whether it is enabled,
// and its check mark, or nothing to leave the item's mark as it is.
struct MenuItemValidation {
    bool enabled = true;
    std::optional<MenuItemState> state;

    bool operator==(const MenuItemValidation&) const = default;
};

}  // namespace larkspin
