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

std::vector<AppAction> editingActions(const std::shared_ptr<const WindowActionHandlers>& handlers) {
    std::vector<AppAction> actions;
    AppAction toggle;
    toggle.name = toggleEditing;
    toggle.activate = [handlers](const AppAction::Target&) {
        if (handlers->toggleEditing) handlers->toggleEditing();
    };
    toggle.validate = [handlers](const AppAction::Target&) {
        return MenuItemValidation{static_cast<bool>(handlers->toggleEditing), std::nullopt};
    };
    actions.push_back(std::move(toggle));

    // Editing at the reading position applies only while reading.
    AppAction here;
    here.name = editHere;
    const auto canEditHere = [handlers] {
        return handlers->editHere && handlers->mode && ModeSwitch::canEditHere(handlers->mode());
    };
    here.activate = [handlers, canEditHere](const AppAction::Target&) {
        if (canEditHere()) handlers->editHere();
    };
    here.validate = [canEditHere](const AppAction::Target&) {
        return MenuItemValidation{canEditHere(), std::nullopt};
    };
    actions.push_back(std::move(here));

    // A check item: marked while line numbers show.
    AppAction numbers;
    numbers.name = toggleLineNumbers;
    numbers.activate = [handlers](const AppAction::Target&) {
        if (handlers->toggleLineNumbers) handlers->toggleLineNumbers();
    };
    numbers.validate = [handlers](const AppAction::Target&) {
        const bool shows = handlers->showsLineNumbers && handlers->showsLineNumbers();
        return MenuItemValidation{static_cast<bool>(handlers->toggleLineNumbers),
                                  shows ? MenuItemState::on : MenuItemState::off};
    };
    actions.push_back(std::move(numbers));
    return actions;
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
    // A check item: marked while the sidebar shows.
    sidebar.validate = [shared](const AppAction::Target&) {
        const bool shown = shared->sidebarShown && shared->sidebarShown();
        return MenuItemValidation{static_cast<bool>(shared->toggleSidebar),
                                  shown ? MenuItemState::on : MenuItemState::off};
    };
    actions.push_back(std::move(sidebar));
    actions.push_back(findAction(showFindBar, FindPanelTag::showFindInterface, shared));
    actions.push_back(findAction(findNext, FindPanelTag::next, shared));
    actions.push_back(findAction(findPrevious, FindPanelTag::previous, shared));
    actions.push_back(findAction(useSelectionForFind, FindPanelTag::setFindString, shared));
    actions.push_back(fileAction(save, shared->save));
    actions.push_back(fileAction(saveAs, shared->saveAs));
    actions.push_back(fileAction(revert, shared->revert));
    actions.push_back(fileAction(copyFilePath, shared->copyFilePath));
    actions.push_back(fileAction(revealInFileManager, shared->revealInFileManager));
    if (ModeSwitch::sourceEditingEnabled()) {
        for (auto& action : editingActions(shared)) actions.push_back(std::move(action));
    }
    return ActionTable(std::move(actions));
}

std::vector<Shortcut> shortcuts() {
    std::vector<Shortcut> table{
        {"win.toggle-sidebar", {"F9"}},
        {"win.show-find-bar", {"<Control>f"}},
        {"win.find-next", {"<Control>g"}},
        {"win.find-previous", {"<Shift><Control>g"}},
        {"win.use-selection-for-find", {"<Control>e"}},
    };
    if (ModeSwitch::sourceEditingEnabled()) {
        table.push_back({"win.toggle-editing", {"<Shift><Control>e"}});
        table.push_back({"win.edit-here", {"<Alt><Shift><Control>e"}});
    }
    return table;
}

}  // namespace larkspin::WindowActions
