#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/AppearanceMode.hpp"
#include "Appearance/Fonts/TypographyFontStatus.hpp"
#include "Appearance/ThemeID.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/NotificationCenter.hpp"

namespace larkspin {

class AppearanceController;
class FontPanel;
class RecoveryStore;
class TypographyController;
class UserDefaults;

// The one facade through which the settings pages read and change
// preferences. It owns none of them: every read goes to the appearance and
// typography controllers, the document preferences, the editor's key and the
// recovery store, and every change goes through them. Whenever one of those
// announces a change (appearance, typography, editor or document
// preferences), `revision` rises by one and the model posts
// didChangeNotification, so every page redraws, also after a change made
// from a menu or by the desktop's light/dark switch. Main thread.
class SettingsModel {
public:
    static constexpr std::string_view didChangeNotification =
        "dev.corvantel.larkspin.settingsModelDidChange";
    // The editor has no preference store of its own yet: its one key lives in
    // the program's preference store and this model announces its changes.
    static constexpr std::string_view spellCheckingKey = "editor.spellChecking";
    static constexpr std::string_view editorDidChangeNotification =
        "dev.corvantel.larkspin.editorPreferencesDidChange";

    struct Collaborators {
        AppearanceController& appearance;
        TypographyController& typography;
        DocumentPreferences& document;
        std::shared_ptr<RecoveryStore> recoveryStore;
        // Where the remembered light and dark theme picks live.
        UserDefaults& appearanceDefaults;
        // Where the editor's key lives.
        UserDefaults& editorDefaults;
        NotificationCenter& center;
        // The font panel the font buttons open; may be null (no panel).
        FontPanel* fontPanel = nullptr;
    };

    explicit SettingsModel(Collaborators collaborators);
    SettingsModel(const SettingsModel&) = delete;
    SettingsModel& operator=(const SettingsModel&) = delete;

    std::int64_t revision() const { return revision_; }
    NotificationCenter& center() const { return c_.center; }

    // ---- appearance ----
    AppearanceMode appearanceMode() const;
    void setAppearanceMode(AppearanceMode mode);
    ThemeID currentThemeID() const;
    ThemeID selectedLightThemeID() const;
    ThemeID selectedDarkThemeID() const;
    void selectTheme(ThemeID theme);
    // Every typography key removed, both theme picks forgotten, mode back to
    // system: the typography controller's one implementation.
    void restoreAllAppearanceDefaults();

    // ---- typography ----
    TypographySettings typography() const;
    TypographyFontStatus fontStatus(TypographyFontRole role) const;
    // The role's stored family without surrounding quotes, apostrophes and
    // blanks; empty for the system font stack.
    std::string family(TypographyFontRole role) const;
    // Stores `name` for the role, quoted as the page's CSS needs it.
    void setFamily(std::string_view name, TypographyFontRole role);
    // Looks `name` up among the installed fonts on the workers, ahead of
    // storing it.
    Task<void> prepareFamily(std::string name);
    // The installed families offered for the role; enumerated once per role
    // per process on the shared workers (the controller keeps them).
    Task<std::vector<std::string>> candidateFamilies(TypographyFontRole role);
    std::vector<int> availableBodyWeights() const;
    void setFontSize(double size);
    void setFontWeight(std::int64_t weight);
    void setWidthPreset(TypographyWidthPreset preset);
    void setLineHeightPreset(TypographyLineHeightPreset preset);
    void setWideBlocks(WideBlockMode mode);
    void showFontPanel(TypographyFontRole role);
    // Size 16, comfortable, standard, aligned; families and weight stay.
    void restoreThemeTypography();

    // ---- editor and documents ----
    bool spellChecking() const;
    void setSpellChecking(bool on);
    ExternalChangePolicy externalChangePolicy() const;
    void setExternalChangePolicy(ExternalChangePolicy policy);

    // ---- recovery drafts ----
    // The drafts marked resolved (read on the store's queue).
    Task<std::int64_t> resolvedDraftCount();
    // Deletes the resolved drafts; the number the store reports.
    Task<std::int64_t> clearResolvedDrafts();

private:
    void bump();

    Collaborators c_;
    std::int64_t revision_ = 0;
    std::vector<NotificationObserver> observers_;
};

}  // namespace larkspin
