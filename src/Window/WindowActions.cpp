#include "Window/WindowActions.hpp"

#include <memory>
#include <string>

namespace larkspin::WindowActions {

namespace {

AppAction findAction(std::string_view name, std::int64_t tag,
                     const std::shared_ptr<const WindowActionHandlers>& handlers) {
    AppAction action;
    action.name = name;
    action.activate = [handlers, tag](const AppAction::Target&) {
        if (!handlers->find || !handlers->mode) return;
        const bool hasEditor = handlers->hasEditor && handlers->hasEditor();
        handlers->find(FindRouting::route(handlers->mode(), hasEditor, tag), tag);
    };
    action.validate = [handlers, tag](const AppAction::Target&) {
        MenuItemValidation validation;
        validation.enabled =
            handlers->mode && FindRouting::isEnabled(handlers->mode(), tag) && handlers->find;
        return validation;
    };
    return action;
}

AppAction fileAction(std::string_view name, WindowActionHandlers::FileCommand command) {
    AppAction action;
    action.name = name;
    auto shared = std::make_shared<const WindowActionHandlers::FileCommand>(std::move(command));
    action.activate = [shared](const AppAction::Target&) {
        if (shared->perform && shared->canPerform && shared->canPerform()) shared->perform();
    };
    action.validate = [shared](const AppAction::Target&) {
        return MenuItemValidation{shared->perform && shared->canPerform && shared->canPerform(),
                                  std::nullopt};
    };
    return action;
}

}  // namespace

ActionTable make(WindowActionHandlers handlers) {
    auto shared = std::make_shared<const WindowActionHandlers>(std::move(handlers));
    std::vector<AppAction> actions;
    AppAction sidebar;
    sidebar.name = toggleSidebar;
    sidebar.activate = [shared](const AppAction::Target&) {
        if (shared->toggleSidebar) shared->toggleSidebar();
    };
    sidebar.validate = [shared](const AppAction::Target&) {
        return MenuItemValidation{static_cast<bool>(shared->toggleSidebar), std::nullopt};
    };
    actions.push_back(std::move(sidebar));
    actions.push_back(findAction(showFindBar, FindPanelTag::showFindInterface, shared));
    actions.push_back(findAction(findNext, FindPanelTag::next, shared));
    actions.push_back(findAction(findPrevious, FindPanelTag::previous, shared));
    actions.push_back(findAction(useSelectionForFind, FindPanelTag::setFindString, shared));
    actions.push_back(fileAction(save, shared->save));
    actions.push_back(fileAction(saveAs, shared->saveAs));
    actions.push_back(fileAction(revert, shared->revert));
    return ActionTable(std::move(actions));
}

const std::vector<Shortcut>& shortcuts() {
    static const std::vector<Shortcut> table{
        {"win.toggle-sidebar", {"F9"}},
        {"win.show-find-bar", {"<Control>f"}},
        {"win.find-next", {"<Control>g"}},
        {"win.find-previous", {"<Shift><Control>g"}},
        {"win.use-selection-for-find", {"<Control>e"}},
    };
    return table;
}

}  // namespace larkspin::WindowActions
