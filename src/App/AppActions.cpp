#include "App/AppActions.hpp"

#include <memory>
#include <utility>

namespace larkspin::AppActions {

namespace {

using Commands = std::shared_ptr<const ShellCommands>;

AppAction plain(std::string_view name, std::function<void()> ShellCommands::*member,
                const Commands& commands) {
    AppAction action;
    action.name = name;
    action.activate = [commands, member](const AppAction::Target&) {
        if (const auto& run = (*commands).*member) run();
    };
    action.validate = [commands, member](const AppAction::Target&) {
        return MenuItemValidation{static_cast<bool>((*commands).*member), std::nullopt};
    };
    return action;
}

AppAction documentCommand(std::string_view name, DocumentCommand command,
                          const Commands& commands) {
    AppAction action;
    action.name = name;
    action.activate = [commands, command](const AppAction::Target&) {
        if (commands->documents && commands->documents->canPerform(command)) {
            commands->documents->perform(command);
        }
    };
    action.validate = [commands, command](const AppAction::Target&) {
        return MenuItemValidation{
            commands->documents != nullptr && commands->documents->canPerform(command),
            std::nullopt};
    };
    return action;
}

}  // namespace

ActionTable make(ShellCommands given) {
    const auto commands = std::make_shared<const ShellCommands>(std::move(given));
    std::vector<AppAction> actions;
    actions.push_back(plain(about, &ShellCommands::about, commands));
    actions.push_back(plain(settings, &ShellCommands::settings, commands));
    actions.push_back(plain(quit, &ShellCommands::quit, commands));
    actions.push_back(plain(open, &ShellCommands::open, commands));

    AppAction recent;
    recent.name = openRecent;
    recent.takesTarget = true;
    recent.activate = [commands](const AppAction::Target& target) {
        if (target && !target->empty() && commands->openRecent) commands->openRecent(*target);
    };
    recent.validate = [commands](const AppAction::Target&) {
        return MenuItemValidation{static_cast<bool>(commands->openRecent), std::nullopt};
    };
    actions.push_back(std::move(recent));

    actions.push_back(documentCommand(close, DocumentCommand::close, commands));
    actions.push_back(documentCommand(save, DocumentCommand::save, commands));
    actions.push_back(documentCommand(saveAs, DocumentCommand::saveAs, commands));
    actions.push_back(documentCommand(revert, DocumentCommand::revert, commands));
    actions.push_back(documentCommand(copy, DocumentCommand::copy, commands));
    actions.push_back(documentCommand(selectAll, DocumentCommand::selectAll, commands));
    actions.push_back(plain(help, &ShellCommands::help, commands));

    AppAction updates = plain(checkForUpdates, &ShellCommands::checkForUpdates, commands);
    updates.validate = [commands](const AppAction::Target&) {
        return MenuItemValidation{commands->checkForUpdates && commands->canCheckForUpdates &&
                                      commands->canCheckForUpdates(),
                                  std::nullopt};
    };
    actions.push_back(std::move(updates));
    return ActionTable(std::move(actions));
}

}  // namespace larkspin::AppActions
