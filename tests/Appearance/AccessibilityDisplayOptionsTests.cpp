#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Appearance/AccessibilityDisplayOptions.hpp"
#include "Appearance/AccessibilityDisplaySource.hpp"
#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Platform/UserDefaults.hpp"
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

// An environment holding the override variable with `value`, or nothing.
AccessibilityDisplayOptions::Environment environment(std::optional<std::string> value) {
    return [value](std::string_view name) {
        return name == "MD_A11Y_OVERRIDE" ? value : std::nullopt;
    };
}

using Options = AccessibilityDisplayOptions;

TEST(AccessibilityDisplayOptions, ParsesOverrideTokens) {
    const std::pair<const char*, Options> cases[] = {
        {"motion, Contrast", {true, false, true}},
        {"REDUCE-TRANSPARENCY,,reducemotion", {true, true, false}},
        {"increasecontrast contrast contrast", {false, false, true}},
        // Only "," and " " separate; an underscore is not a token.
        {"reduce_motion", Options::none},
        {"motion\tcontrast", Options::none},
        {"", Options::none}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Options::parseOverride(text), expected) << text;
}

TEST(AccessibilityDisplayOptions, OverrideFromPreferencesWinsOverEnvironmentAndDesktop) {
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    FixedDesktop desktop;
    desktop.motion = true;
    desktop.transparency = true;

    // Neither set: the desktop's flags.
    EXPECT_EQ(Options::launchOverride(defaults, environment(std::nullopt)), std::nullopt);
    EXPECT_EQ(Options::current(desktop, defaults, environment(std::nullopt)),
              (Options{true, true, false}));
    // The environment replaces the desktop's flags entirely.
    const auto env = environment("contrast");
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, false, true}));
    // An empty stored override still wins, with every flag off.
    defaults.setString("MDA11yOverride", "");
    EXPECT_EQ(Options::launchOverride(defaults, environment("motion")), Options::none);
    defaults.setString("MDA11yOverride", "transparency");
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, true, false}));
    // Looked up afresh on every call.
    defaults.remove("MDA11yOverride");
    EXPECT_EQ(Options::current(desktop, defaults, env), (Options{false, false, true}));
    EXPECT_TRUE(defaults.drainForTesting());  // before the folder goes
}

TEST(AccessibilityDisplayOptions, SolidBackgroundJoinsThemeTokensWithoutOverwriting) {
    const auto tokens = ThemeCatalog::theme(ThemeID::mist).cssVariables();
    for (auto [options, solid] : {std::pair{Options{true, false, false}, false},
                                  {Options{false, true, false}, true},
                                  {Options{false, false, true}, true}}) {
        auto expected = tokens;
        if (solid) expected["--md-background-style"] = "solid";
        EXPECT_EQ(options.mergingThemeTokens(tokens), expected);
    }
    auto existing = tokens;
    existing["--md-background-style"] = "gradient";
    EXPECT_EQ((Options{false, true, true}.mergingThemeTokens(existing).at("--md-background-style")),
              "gradient");
}

TEST(AccessibilityDisplayOptions, PageFormHasExactlyThreeBooleans) {
    EXPECT_EQ(Options({true, false, true}).toJSON().dump(),
              R"({"reduceMotion":true,"reduceTransparency":false,"increaseContrast":true})");
    const std::pair<const char*, std::optional<Options>> pages[] = {
        {R"({"increaseContrast":false,"reduceMotion":true,"reduceTransparency":true,"x":1})",
         Options{true, true, false}},
        {R"({"reduceMotion":true,"reduceTransparency":true})", std::nullopt},
        {R"({"reduceMotion":1,"reduceTransparency":true,"increaseContrast":true})", std::nullopt},
        {"[true,true,true]", std::nullopt}};
    for (const auto& [json, expected] : pages) {
        EXPECT_EQ(Options::fromJSON(nlohmann::json::parse(json)), expected) << json;
    }
}

TEST(AccessibilityAnnouncer, TrimsAndSkipsBlankTexts) {
    AccessibilityAnnouncer::resetForTesting();
    AccessibilityAnnouncer::announce(" \n\t", AccessibilityAnnouncer::Priority::high);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), std::nullopt);
    AccessibilityAnnouncer::announce("  找到 3 个结果\n", AccessibilityAnnouncer::Priority::medium);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "找到 3 个结果");
    // Unicode spaces trim too; a blank text keeps the last announcement.
    AccessibilityAnnouncer::announce("\u3000完成\u00A0", AccessibilityAnnouncer::Priority::low);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "完成");
    AccessibilityAnnouncer::announce("\u2028", AccessibilityAnnouncer::Priority::low);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "完成");
}

}  // namespace
}  // namespace larkspin
