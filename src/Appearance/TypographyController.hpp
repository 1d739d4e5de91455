#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Appearance/Fonts/FontPanel.hpp"
#include "Appearance/Fonts/TypographyFontStatus.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Appearance/Fonts/FontResolver.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"

namespace larkspin {

class AppearanceController;
class NotificationCenter;
class UserDefaults;

// The desktop's named font weights, lightest first.
enum class PlatformFontWeight {
    ultraLight,
    thin,
    light,
    regular,
    medium,
    semibold,
    bold,
    heavy,
    black
};

// The Pango weight of a platform weight (100 for ultra-light … 900 for black).
int pangoWeight(PlatformFontWeight weight);

// Owns the reader's typography: persists it under the "typography." keys,
// normalises every value, tells for each role how its family will really be
// drawn (through the font resolver), drives the font panel and announces
// every change with "dev.corvantel.larkspin.typographyDidChange" (sender: the
// controller). The menu actions over it are in Actions/AppearanceActions.
// Keeps no copy of the settings: every answer reads the preference store.
// Main thread.
class TypographyController {
public:
    using FontRole = TypographyFontRole;

    static constexpr std::string_view didChangeNotification =
        "dev.corvantel.larkspin.typographyDidChange";
    static constexpr std::string_view fontSizeKey = "typography.fontSizePx";
    static constexpr std::string_view widthPresetKey = "typography.widthPreset";
    static constexpr std::string_view lineHeightPresetKey = "typography.lineHeightPreset";
    static constexpr std::string_view bodyFamilyKey = "typography.bodyFamily";
    static constexpr std::string_view monoFamilyKey = "typography.monoFamily";
    static constexpr std::string_view headingFamilyKey = "typography.headingFamily";
    static constexpr std::string_view fontWeightKey = "typography.fontWeight";
    static constexpr std::string_view wideBlocksKey = "typography.wideBlocks";

    // What the controller asks of the installed fonts; the font resolver in
    // the program, fixed answers in tests.
    struct FontSource {
        std::function<std::optional<FontResolver::ResolvedFont>(std::string_view)> resolve;
        std::function<std::vector<std::string>(FontResolver::Location, bool)> families;
        std::function<std::vector<std::string>()> fixedPitchFamilies;

        static FontSource installed();
    };

    // Starts resolving the stored families on the shared workers.
    TypographyController(UserDefaults& defaults, NotificationCenter& center,
                         FontSource fonts = FontSource::installed());
    ~TypographyController();
    TypographyController(const TypographyController&) = delete;
    TypographyController& operator=(const TypographyController&) = delete;

    UserDefaults& defaults() const { return defaults_; }
    std::int64_t revision() const { return revision_; }
    FontRole fontPanelRole() const { return fontPanelRole_; }

    // The stored settings over the defaults, normalised. Values of the wrong
    // kind are ignored (a size must be a finite number, a weight a whole
    // number, a preset its exact raw value).
    TypographySettings settings() const;
    // What the page receives: `settings()` with each family replaced by the
    // one really used (quoted as needed, empty for the default stack) and the
    // weight by the body family's nearest supported weight.
    TypographySettings effectiveSettings() const;

    TypographyFontStatus fontStatus(FontRole role) const;
    std::vector<int> availableBodyWeights() const;
    // Candidate families of a role's picker, listed on the shared workers
    // once per role (listing reads fontconfig's configuration and looks at
    // every font file).
    Task<std::vector<std::string>> loadCandidateFamilies(FontRole role);
    // Resolves `family` on the shared workers unless it is known already, so
    // that the answers about it that follow come from memory. A family
    // already being resolved is waited for, not resolved twice.
    Task<void> prepareFamily(std::string family);
    // The same for the three stored families: what the page's typography
    // (`effectiveSettings`) and the status of each role need.
    Task<void> prepareStoredFamilies();

    // Normalises `settings`; when the result differs from `settings()`, stores
    // it and announces with `reason`, otherwise does nothing.
    void update(const TypographySettings& settings, std::string_view reason);
    void setFontSize(double size);
    void setWidthPreset(TypographyWidthPreset preset);
    void setLineHeightPreset(TypographyLineHeightPreset preset);
    void setFamily(std::string_view family, FontRole role);
    void setFontWeight(std::int64_t weight);
    void setWideBlocks(WideBlockMode mode);

    // Removes every typography key; always announces.
    void resetTypography();
    // Size 16, comfortable width, standard line height, aligned wide blocks;
    // families and weight stay.
    void restoreThemeTypography();
    // Whether restoreThemeTypography() would change anything.
    bool canRestoreThemeTypography() const;
    // Typography reset, both remembered themes removed from
    // `appearanceDefaults`, mode back to system: two announcements.
    void restoreAllAppearanceDefaults(AppearanceController& appearance,
                                      UserDefaults& appearanceDefaults);

    void increaseFontSize();
    void decreaseFontSize();
    bool canIncreaseFontSize() const;
    bool canDecreaseFontSize() const;

    // The font the role would be drawn with at the current size.
    ReaderFont currentFont(FontRole role) const;

    // Shows `panel` for `role` with the role's current font selected (mono
    // lists only monospace families); the user's choice comes back through
    // changeFont for the role last shown.
    void showFontPanel(FontRole role, FontPanel& panel, bool orderFront);
    // Resolves the chosen family on the shared workers, then applies the
    // choice.
    void changeFont(const FontPanelSelection& selection);
    // Body takes the family (quoted) and the chosen weight, mono and heading
    // only the family. A choice without a family does nothing.
    void applyFontPanelSelection(const FontPanelSelection& selection);

    // A family as the page's CSS takes it: trimmed; empty stays empty; a name
    // already beginning with a double quote stays as it is; a name with a
    // space is wrapped in double quotes, with any double quote or backslash
    // inside escaped; otherwise the name unquoted.
    static std::string quotedFamily(std::string_view family);
    // Double quotes, single quotes and spaces trimmed from both ends, then
    // white space; the escapes `quotedFamily` adds are undone.
    static std::string unquotedFamily(std::string_view family);
    // The platform weight of a CSS weight, by cut points (below 151
    // ultra-light … above 850 black).
    static PlatformFontWeight platformWeight(std::int64_t cssWeight);

private:
    static std::vector<std::string> listCandidateFamilies(const FontSource& fonts, FontRole role);
    const std::optional<FontResolver::ResolvedFont>& resolved(const std::string& family) const;
    // The family stored under `key`; one longer than any font's name is
    // logged (once per value) and read as the system stack.
    std::string storedFamily(std::string_view key) const;
    void broadcast(std::string_view reason);
    static Task<void> prepareStored(std::weak_ptr<TypographyController*> alive);
    static Task<void> prepareFamilies(std::weak_ptr<TypographyController*> alive,
                                      std::vector<std::string> families);
    Task<void> resolveFamilies(std::vector<std::string> families);
    Task<void> changeFontWhenPrepared(FontPanelSelection selection);

    UserDefaults& defaults_;
    NotificationCenter& center_;
    FontSource fonts_;
    std::int64_t revision_ = 0;
    std::map<FontRole, std::vector<std::string>> familyCache_;
    mutable std::map<std::string, std::optional<FontResolver::ResolvedFont>, std::less<>>
        resolveCache_;
    // Families being resolved on the workers, with the tasks waiting for them.
    std::map<std::string, std::vector<Completion<void>>, std::less<>> resolving_;
    mutable std::map<std::string, std::size_t, std::less<>> refusedFamilies_;
    FontRole fontPanelRole_ = FontRole::body;
    // Lets a font panel's late callback find out that the controller is gone.
    std::shared_ptr<TypographyController*> self_;
    TaskScope tasks_;  // last: font panel choices being prepared end first
};

}  // namespace larkspin
