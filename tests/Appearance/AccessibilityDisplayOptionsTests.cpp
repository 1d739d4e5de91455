#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"
#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/AccessibilityDisplaySource.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

class FixedDesktop final : public AccessibilityDisplaySource {
public:
    bool motion = false, transparency = false, contrast = false;
    bool shouldReduceMotion() const override { return motion; }
    bool shouldReduceTransparency() const override { return transparency; }
    bool shouldIncreaseContrast() const override { return contrast; }
    NotificationObserver observeChanges(std::function<void()>) override { return {}; }
};

AccessibilityDisplayOptions::Environment environment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
        auto it = values.find(std::string(name));
        if (it == values.end()) return std::nullopt;
        return it->second;
    };
}

using Options = AccessibilityDisplayOptions;

TEST(AccessibilityDisplayOptions, ParsesOverrideTokens) {
    EXPECT_EQ(Options::parseOverride("motion, Contrast"), (Options{true, false, true}));
    EXPECT_EQ(Options::parseOverride("REDUCE-TRANSPARENCY,,reducemotion"),
              (Options{true, true, false}));
    EXPECT_EQ(Options::parseOverride("increasecontrast contrast contrast"),
              (Options{false, false, true}));
    // Only "," and " " separate; an underscore is not a token.
    EXPECT_EQ(Options::parseOverride("reduce_motion"), Options::none);
    EXPECT_EQ(Options::parseOverride("motion\tcontrast"), Options::none);
    EXPECT_EQ(Options::parseOverride(""), Options::none);
}

TEST(AccessibilityDisplayOptions, OverrideFromPreferencesWinsOverEnvironmentAndDesktop) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    FixedDesktop desktop;
    desktop.motion = true;
    desktop.transparency = true;

    // Neither set: the desktop's flags.
    EXPECT_EQ(Options::launchOverride(defaults, environment({})), std::nullopt);
    EXPECT_EQ(Options::current(desktop, defaults, environment({})), (Options{true, true, false}));
    // The environment replaces the desktop's flags entirely.
    const auto env = environment({{"MD_A11Y_OVERRIDE", "contrast"}});
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, false, true}));
    // An empty stored override still wins, with every flag off.
    defaults.setString("MDA11yOverride", "");
    EXPECT_EQ(Options::launchOverride(defaults, environment({{"MD_A11Y_OVERRIDE", "motion"}})),
              Options::none);
    defaults.setString("MDA11yOverride", "transparency");
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, true, false}));
    // Looked up afresh on every call.
    defaults.remove("MDA11yOverride");
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, false, true}));
}

TEST(AccessibilityDisplayOptions, SolidBackgroundJoinsThemeTokensWithoutOverwriting) {
    const auto tokens = ThemeCatalog::theme(ThemeID::mist).cssVariables();
    EXPECT_EQ((Options{true, false, false}.mergingThemeTokens(tokens)), tokens);
    for (const Options& solid : {Options{false, true, false}, Options{false, false, true}}) {
        EXPECT_TRUE(solid.prefersSolidBackground());
        const auto merged = solid.mergingThemeTokens(tokens);
        EXPECT_EQ(merged.size(), 32u);
        EXPECT_EQ(merged.at("--md-background-style"), "solid");
    }
    auto existing = tokens;
    existing["--md-background-style"] = "gradient";
    EXPECT_EQ((Options{false, true, true}.mergingThemeTokens(existing).at("--md-background-style")),
              "gradient");
}

TEST(AccessibilityDisplayOptions, PageFormHasExactlyThreeBooleans) {
    EXPECT_EQ(Options({true, false, true}).toJSON().dump(),
              R"({"reduceMotion":true,"reduceTransparency":false,"increaseContrast":true})");
    const auto back = Options::fromJSON(nlohmann::json::parse(
        R"({"increaseContrast":false,"reduceMotion":true,"reduceTransparency":true,"extra":1})"));
    EXPECT_EQ(back, (Options{true, true, false}));
    EXPECT_FALSE(Options::fromJSON(
        nlohmann::json::parse(R"({"reduceMotion":true,"reduceTransparency":true})")));
    EXPECT_FALSE(Options::fromJSON(nlohmann::json::parse(
        R"({"reduceMotion":1,"reduceTransparency":true,"increaseContrast":true})")));
    EXPECT_FALSE(Options::fromJSON(nlohmann::json::parse("[true,true,true]")));
}

TEST(AccessibilityAnnouncer, TrimsAndSkipsBlankTexts) {
    AccessibilityAnnouncer::resetForTesting();
    test::LogCapture capture;
    AccessibilityAnnouncer::announce(" \n\t", AccessibilityAnnouncer::Priority::high);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), std::nullopt);
    AccessibilityAnnouncer::announce("  找到 3 个结果\n", AccessibilityAnnouncer::Priority::medium);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "找到 3 个结果");
    EXPECT_TRUE(capture.contains("actions", "无障碍播报 priority=50"));
    // Unicode spaces trim too; a blank text keeps the last announcement.
    AccessibilityAnnouncer::announce("\u3000完成\u00A0", AccessibilityAnnouncer::Priority::low);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "完成");
    AccessibilityAnnouncer::announce("\u2028", AccessibilityAnnouncer::Priority::low);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "完成");
}

}  // namespace
}  // namespace larkspin
