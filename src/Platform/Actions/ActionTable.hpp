#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One action of the menus, in the terms a menu layer turns into a GAction: a
// name, whether its items carry a text target (a theme, a preset), what
// activating it does and how each of its items shows.
struct AppAction {
    using Target = std::optional<std::string>;

    std::string_view name;
    bool takesTarget = false;
    // Does what the item asks; a target the action does not know does nothing.
    std::function<void(const Target&)> activate;
    // Whether the item with `target` is enabled, and its check mark.
    std::function<MenuItemValidation(const Target&)> validate;
    // For an action whose items carry targets: every target its items use,
    // in menu order (the binder shows the one that is on as the radio state).
    std::vector<std::string> targets;
};

// The actions of one menu area, in menu order: what the application, a window
// and the appearance menus hand to the GAction binder. Keeps no state of its
// own: every answer comes from the actions' functions. Main thread.
class ActionTable {
public:
    ActionTable() = default;
    explicit ActionTable(std::vector<AppAction> actions) : actions_(std::move(actions)) {}

    const std::vector<AppAction>& all() const { return actions_; }
    const AppAction* find(std::string_view name) const;

    // Activates the named action; false (and nothing done) for an unknown name.
    bool activate(std::string_view name, const AppAction::Target& target = std::nullopt) const;
    // The named action's answer for the item with `target`; an unknown name
    // is enabled and leaves the mark as it is.
    MenuItemValidation validate(std::string_view name,
                                const AppAction::Target& target = std::nullopt) const;

private:
    std::vector<AppAction> actions_;
};

}  // namespace larkspin
