#include "Platform/Actions/ActionTable.hpp"

#include <algorithm>

namespace larkspin {

const AppAction* ActionTable::find(std::string_view name) const {
    const auto it = std::find_if(actions_.begin(), actions_.end(),
                                 [name](const AppAction& action) { return action.name == name; });
    return it == actions_.end() ? nullptr : &*it;
}

bool ActionTable::activate(std::string_view name, const AppAction::Target& target) const {
    const AppAction* action = find(name);
    if (!action) return false;
    action->activate(target);
    return true;
}

MenuItemValidation ActionTable::validate(std::string_view name,
                                         const AppAction::Target& target) const {
    const AppAction* action = find(name);
    return action ? action->validate(target) : MenuItemValidation{true, std::nullopt};
}

}  // namespace larkspin
