#include "Settings/SettingsModel.hpp"

#include <algorithm>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

SettingsModel::SettingsModel(Collaborators collaborators) : c_(std::move(collaborators)) {
    const std::string_view names[] = {
        AppearanceController::didChangeNotification, TypographyController::didChangeNotification,
        editorDidChangeNotification, DocumentPreferences::didChangeNotification};
    for (std::string_view name : names) {
        // The observers go with the model: no handler outlives it.
        observers_.push_back(
            c_.center.addObserver(std::string(name), nullptr, [this](const Notification&) { bump(); }));
    }
}

void SettingsModel::bump() {
    ++revision_;
    c_.center.post(didChangeNotification, this);
}

AppearanceMode SettingsModel::appearanceMode() const { return c_.appearance.mode(); }
void SettingsModel::setAppearanceMode(AppearanceMode mode) { c_.appearance.select(mode); }
ThemeID SettingsModel::currentThemeID() const { return c_.appearance.currentThemeID(); }

ThemeID SettingsModel::selectedLightThemeID() const {
    return c_.appearance.themeID(AppearanceController::lightThemeKey, ThemeAppearance::light,
                                 ThemeID::porcelain);
}

ThemeID SettingsModel::selectedDarkThemeID() const {
    return c_.appearance.themeID(AppearanceController::darkThemeKey, ThemeAppearance::dark,
                                 ThemeID::graphite);
}

void SettingsModel::selectTheme(ThemeID theme) { c_.appearance.select(theme); }

void SettingsModel::restoreAllAppearanceDefaults() {
    c_.typography.restoreAllAppearanceDefaults(c_.appearance, c_.appearanceDefaults);
}

TypographySettings SettingsModel::typography() const { return c_.typography.settings(); }

TypographyFontStatus SettingsModel::fontStatus(TypographyFontRole role) const {
    return c_.typography.fontStatus(role);
}

std::string SettingsModel::family(TypographyFontRole role) const {
    const TypographySettings settings = c_.typography.settings();
    switch (role) {
    case TypographyFontRole::body: return TypographyController::unquotedFamily(settings.bodyFamily);
    case TypographyFontRole::mono: return TypographyController::unquotedFamily(settings.monoFamily);
    case TypographyFontRole::heading:
        return TypographyController::unquotedFamily(settings.headingFamily);
    }
    return {};
}

Task<void> SettingsModel::prepareFamily(std::string name) {
    return c_.typography.prepareFamily(std::move(name));
}

void SettingsModel::setFamily(std::string_view name, TypographyFontRole role) {
    c_.typography.setFamily(TypographyController::quotedFamily(name), role);
}

Task<std::vector<std::string>> SettingsModel::candidateFamilies(TypographyFontRole role) {
    return c_.typography.loadCandidateFamilies(role);
}

std::vector<int> SettingsModel::availableBodyWeights() const {
    return c_.typography.availableBodyWeights();
}

void SettingsModel::setFontSize(double size) { c_.typography.setFontSize(size); }
void SettingsModel::setFontWeight(std::int64_t weight) { c_.typography.setFontWeight(weight); }
void SettingsModel::setWidthPreset(TypographyWidthPreset preset) {
    c_.typography.setWidthPreset(preset);
}
void SettingsModel::setLineHeightPreset(TypographyLineHeightPreset preset) {
    c_.typography.setLineHeightPreset(preset);
}
void SettingsModel::setWideBlocks(WideBlockMode mode) { c_.typography.setWideBlocks(mode); }

void SettingsModel::showFontPanel(TypographyFontRole role) {
    if (c_.fontPanel) c_.typography.showFontPanel(role, *c_.fontPanel, true);
}

void SettingsModel::restoreThemeTypography() { c_.typography.restoreThemeTypography(); }

bool SettingsModel::spellChecking() const {
    return c_.editorDefaults.boolean(spellCheckingKey).value_or(false);
}

void SettingsModel::setSpellChecking(bool on) {
    if (spellChecking() == on && c_.editorDefaults.contains(spellCheckingKey)) return;
    c_.editorDefaults.setBool(spellCheckingKey, on);
    c_.center.post(editorDidChangeNotification, this);
}

ExternalChangePolicy SettingsModel::externalChangePolicy() const {
    return c_.document.externalChangePolicy();
}

void SettingsModel::setExternalChangePolicy(ExternalChangePolicy policy) {
    c_.document.setExternalChangePolicy(policy);
}

Task<std::int64_t> SettingsModel::resolvedDraftCount() {
    // Held by value: the count may finish after the page that asked is gone.
    const std::shared_ptr<RecoveryStore> store = c_.recoveryStore;
    if (!store) co_return 0;
    const std::vector<RecoveryDraft> drafts = co_await store->allDrafts();
    co_return static_cast<std::int64_t>(std::count_if(
        drafts.begin(), drafts.end(), [](const RecoveryDraft& draft) { return draft.isResolved(); }));
}

Task<std::int64_t> SettingsModel::clearResolvedDrafts() {
    const std::shared_ptr<RecoveryStore> store = c_.recoveryStore;
    if (!store) co_return 0;
    co_return co_await store->clearResolved();
}

}  // namespace larkspin
