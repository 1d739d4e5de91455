#pragma once

#include <memory>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Appearance/TypographyController.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/UserDefaults.hpp"
#include "Settings/SettingsModel.hpp"
#include "Storage/RecoveryStore.hpp"
#include "Support/TempDir.hpp"

namespace larkspin::test {

// Fonts as the settings tests declare them: "Duo" (300 and 500) and
// "Wide Grotesk" (400, 700) installed for text, "Code" for code.
inline TypographyController::FontSource settingsFontSource() {
    using FontResolver::Location;
    using FontResolver::ResolvedFont;
    return {.resolve = [](std::string_view name) -> std::optional<ResolvedFont> {
                std::vector<std::pair<std::string, int>> faces;
                if (name == "Duo") faces = {{"Duo-Light", 300}, {"Duo-Medium", 500}};
                if (name == "Wide Grotesk") faces = {{"WG-Regular", 400}, {"WG-Bold", 700}};
                if (name == "Code") faces = {{"Code-Regular", 400}};
                if (faces.empty()) return std::nullopt;
                ResolvedFont font{.familyName = std::string(name), .location = Location::user};
                for (const auto& [postScript, weight] : faces) {
                    font.faces.push_back({postScript, postScript, weight});
                }
                return font;
            },
            .families =
                [](Location location, bool) {
                    return location == Location::user
                               ? std::vector<std::string>{"Duo", "Wide Grotesk", "Code"}
                               : std::vector<std::string>{};
                },
            .fixedPitchFamilies = [] { return std::vector<std::string>{"Code"}; }};
}

// The settings model over stores of the test's own: one preference file,
// one notification centre, a desktop the test turns dark, drafts in a
// folder of the test.
struct SettingsFixture {
    TempDir dir;
    UserDefaults defaults{dir / "preferences.json"};
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::shared_ptr<FakeDesktopAppearance> desktop = std::make_shared<FakeDesktopAppearance>();
    AppearanceController appearance{defaults, *center, desktop};
    TypographyController typography{defaults, *center, settingsFontSource()};
    DocumentPreferences document{defaults, *center};
    std::shared_ptr<RecoveryStore> drafts = std::make_shared<RecoveryStore>(dir / "Recovery");
    FakeFontPanel fontPanel;
    SettingsModel model{{appearance, typography, document, drafts, defaults, defaults, *center,
                         &fontPanel}};
};

}  // namespace larkspin::test
