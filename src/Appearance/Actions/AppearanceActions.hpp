#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Actions/ActionTable.hpp"

namespace larkspin {

class AppearanceController;
class FontPanel;
class TypographyController;

// The actions of the appearance and typography menus, over the two
// controllers, which keep the operations and the state; the actions only
// decode targets and turn the controllers' state into enabled and checked
// items. Keeps nothing itself: every answer asks the controllers. The
// controllers and the panel must outlive it. Main thread.
class AppearanceActions {
public:
    // Targets: a theme's raw value ("porcelain").
    static constexpr std::string_view selectTheme = "select-theme";
    // Targets: an appearance mode's raw value ("system").
    static constexpr std::string_view selectAppearanceMode = "select-appearance-mode";
    static constexpr std::string_view increaseFontSize = "increase-font-size";
    static constexpr std::string_view decreaseFontSize = "decrease-font-size";
    static constexpr std::string_view actualSize = "actual-size";
    // Targets: a width preset's raw value ("wide").
    static constexpr std::string_view selectWidthPreset = "select-width-preset";
    // Targets: a line-height preset's raw value ("loose").
    static constexpr std::string_view selectLineHeightPreset = "select-line-height-preset";
    static constexpr std::string_view toggleWideBlocks = "toggle-wide-blocks";
    static constexpr std::string_view showBodyFontPanel = "show-body-font-panel";
    static constexpr std::string_view showMonoFontPanel = "show-mono-font-panel";
    static constexpr std::string_view restoreThemeTypography = "restore-theme-typography";
    // Typography reset, both remembered themes forgotten (in the appearance
    // controller's store), mode back to system.
    static constexpr std::string_view restoreAllAppearanceDefaults =
        "restore-all-appearance-defaults";

    AppearanceActions(AppearanceController& appearance, TypographyController& typography,
                      FontPanel& fontPanel);
    AppearanceActions(const AppearanceActions&) = delete;
    AppearanceActions& operator=(const AppearanceActions&) = delete;

    // Every action, in menu order, for the GAction binder.
    const ActionTable& table() const { return table_; }
    const std::vector<AppAction>& all() const { return table_.all(); }
    const AppAction* find(std::string_view name) const { return table_.find(name); }

    // Activates the named action; false (and nothing done) for an unknown name.
    bool activate(std::string_view name, const AppAction::Target& target = std::nullopt) const {
        return table_.activate(name, target);
    }
    // The named action's answer for the item with `target`; an unknown name
    // is enabled and leaves the mark as it is.
    MenuItemValidation validate(std::string_view name,
                                const AppAction::Target& target = std::nullopt) const {
        return table_.validate(name, target);
    }

private:
    ActionTable table_;
};

}  // namespace larkspin
