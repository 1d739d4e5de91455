#include "Appearance/Actions/AppearanceActions.hpp"

#include <array>
#include <string>
#include <vector>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"

namespace larkspin {

namespace {

using Target = AppAction::Target;

MenuItemState checked(bool on) {
    return on ? MenuItemState::on : MenuItemState::off;
}

MenuItemValidation enabledIf(bool enabled) {
    return {enabled, std::nullopt};
}

MenuItemValidation alwaysEnabled(const Target&) {
    return {true, std::nullopt};
}

// An action whose items carry no target.
AppAction plain(std::string_view name, std::function<void()> activate,
                std::function<MenuItemValidation()> validate = {}) {
    return AppAction{
        .name = name,
        .takesTarget = false,
        .activate = [activate = std::move(activate)](const Target&) { activate(); },
        .validate =
            validate ? std::function<MenuItemValidation(const Target&)>(
                           [validate = std::move(validate)](const Target&) { return validate(); })
                     : alwaysEnabled,
    };
}

// An action whose items each name one value of an enumeration by its raw
// value: activating selects the value, `state` gives the item's mark. A
// missing target, or one that names no value, does nothing, and its item
// gets `unknownState` (none: keeps its mark).
template <typename Value, std::size_t count>
AppAction selecting(std::string_view name, const std::array<Value, count>& values,
                    std::optional<Value> (*fromRaw)(std::string_view),
                    std::function<void(Value)> select, std::function<MenuItemState(Value)> state,
                    std::optional<MenuItemState> unknownState) {
    std::vector<std::string> targets;
    for (const Value value : values) targets.emplace_back(rawValue(value));
    return AppAction{
        .name = name,
        .takesTarget = true,
        .activate =
            [fromRaw, select = std::move(select)](const Target& target) {
                if (!target) return;
                if (auto value = fromRaw(*target)) select(*value);
            },
        .validate =
            [fromRaw, state = std::move(state), unknownState](const Target& target) {
                const auto value = target ? fromRaw(*target) : std::nullopt;
                return MenuItemValidation{true, value ? state(*value) : unknownState};
            },
        .targets = std::move(targets),
    };
}

}  // namespace

AppearanceActions::AppearanceActions(AppearanceController& appearance,
                                     TypographyController& typography, FontPanel& fontPanel) {
    using Role = TypographyController::FontRole;
    auto& a = appearance;
    auto& t = typography;
    auto& panel = fontPanel;
    table_ = ActionTable({
        // The theme in force is on; the theme remembered for the other
        // appearance is mixed. Theme and mode items without a known target
        // keep their mark; preset items show off.
        selecting<ThemeID>(
            selectTheme, allThemeIDs, themeIDFromRaw, [&a](ThemeID id) { a.select(id); },
            [&a](ThemeID id) {
                if (id == a.currentThemeID()) return MenuItemState::on;
                if (id == a.selectedLightThemeID() || id == a.selectedDarkThemeID())
                    return MenuItemState::mixed;
                return MenuItemState::off;
            },
            std::nullopt),
        selecting<AppearanceMode>(
            selectAppearanceMode, allAppearanceModes, appearanceModeFromRaw,
            [&a](AppearanceMode mode) { a.select(mode); },
            [&a](AppearanceMode mode) { return checked(mode == a.mode()); }, std::nullopt),
        plain(
            increaseFontSize, [&t] { t.increaseFontSize(); },
            [&t] { return enabledIf(t.canIncreaseFontSize()); }),
        plain(
            decreaseFontSize, [&t] { t.decreaseFontSize(); },
            [&t] { return enabledIf(t.canDecreaseFontSize()); }),
        plain(
            actualSize, [&t] { t.setFontSize(TypographySettings::defaultFontSize); },
            [&t] {
                return enabledIf(t.settings().fontSizePx != TypographySettings::defaultFontSize);
            }),
        selecting<TypographyWidthPreset>(
            selectWidthPreset, allWidthPresets, widthPresetFromRaw,
            [&t](TypographyWidthPreset preset) { t.setWidthPreset(preset); },
            [&t](TypographyWidthPreset preset) {
                return checked(preset == t.settings().widthPreset);
            },
            MenuItemState::off),
        selecting<TypographyLineHeightPreset>(
            selectLineHeightPreset, allLineHeightPresets, lineHeightPresetFromRaw,
            [&t](TypographyLineHeightPreset preset) { t.setLineHeightPreset(preset); },
            [&t](TypographyLineHeightPreset preset) {
                return checked(preset == t.settings().lineHeightPreset);
            },
            MenuItemState::off),
        plain(
            toggleWideBlocks,
            [&t] {
                t.setWideBlocks(t.settings().wideBlocks == WideBlockMode::full
                                    ? WideBlockMode::aligned
                                    : WideBlockMode::full);
            },
            [&t] {
                return MenuItemValidation{true,
                                          checked(t.settings().wideBlocks == WideBlockMode::full)};
            }),
        plain(showBodyFontPanel, [&t, &panel] { t.showFontPanel(Role::body, panel, true); }),
        plain(showMonoFontPanel, [&t, &panel] { t.showFontPanel(Role::mono, panel, true); }),
        plain(
            restoreThemeTypography, [&t] { t.restoreThemeTypography(); },
            [&t] { return enabledIf(t.canRestoreThemeTypography()); }),
        plain(restoreAllAppearanceDefaults,
              [&t, &a] { t.restoreAllAppearanceDefaults(a, a.defaults()); }),
    });
}

}  // namespace larkspin
