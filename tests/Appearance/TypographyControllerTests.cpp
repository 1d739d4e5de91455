#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Platform/UserDefaults.hpp"
#include "Appearance/Fonts/FontResolverTestFonts.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using Kind = TypographyFontStatus::Kind;
using Role = TypographyController::FontRole;
using FontResolver::Face;
using FontResolver::Location;
using FontResolver::ResolvedFont;

ResolvedFont family(std::string name, std::vector<std::pair<std::string, int>> faces,
                    std::optional<FontResolver::WeightRange> range = {}) {
    ResolvedFont font;
    font.requestedName = name;
    font.familyName = name;
    font.location = Location::user;
    for (auto& [postScript, weight] : faces) {
        font.faces.push_back(
            Face{.postScriptName = postScript, .styleName = postScript, .cssWeight = weight});
    }
    font.postScriptName = font.faces.empty() ? "" : font.faces.front().postScriptName;
    font.variableWeightRange = range;
    return font;
}

// Installed fonts as the tests declare them; counts the questions asked.
struct FakeFonts {
    std::map<std::string, ResolvedFont> installed;
    std::map<Location, std::vector<std::string>> byLocation;
    std::vector<std::string> fixedPitch;
    int resolveCalls = 0;
    int familiesCalls = 0;

    TypographyController::FontSource source() {
        return {
            .resolve = [this](std::string_view name) -> std::optional<ResolvedFont> {
                ++resolveCalls;
                auto it = installed.find(std::string(name));
                if (it == installed.end()) return std::nullopt;
                return it->second;
            },
            .families =
                [this](Location location, bool excludingSerif) {
                    ++familiesCalls;
                    EXPECT_TRUE(excludingSerif);
                    return byLocation[location];
                },
            .fixedPitchFamilies = [this] { return fixedPitch; },
        };
    }
};

class TypographyControllerTest : public ::testing::Test {
protected:
    TypographyControllerTest() {
        fonts.installed.emplace("Duo", family("Duo", {{"Duo-Light", 300}, {"Duo-Medium", 500}}));
        fonts.installed.emplace(
            "Wide Grotesk",
            family("Wide Grotesk", {{"WideGrotesk-Regular", 400}, {"WideGrotesk-Bold", 700}}));
        fonts.installed.emplace(
            "Flex", family("Flex", {{"Flex-Regular", 400}}, FontResolver::WeightRange{100, 1000}));
        fonts.installed.emplace("Code",
                                family("Code", {{"Code-Regular", 400}, {"Code-Bold", 700}}));
    }

    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    FakeFonts fonts;
    TypographyController controller{defaults, *center, fonts.source()};
    test::NotificationRecorder posts{*center,
                                     std::string(TypographyController::didChangeNotification)};

    void store(std::string_view key, nlohmann::json value) {
        defaults.setValue(key, std::move(value));
    }
};

TEST_F(TypographyControllerTest, StoredValuesAreNormalisedOrIgnored) {
    EXPECT_EQ(controller.settings(), TypographySettings::defaults);
    const std::pair<nlohmann::json, double> sizes[] = {
        {17.3, 17.5}, {12, 13}, {30, 24}, {17.25, 17.5}, {"18", 16}, {true, 16}, {nullptr, 16}};
    for (const auto& [stored, expected] : sizes) {
        store(TypographyController::fontSizeKey, stored);
        EXPECT_EQ(controller.settings().fontSizePx, expected) << stored.dump();
    }
    // Out of range on either side clamps to that end, whatever kind of
    // number holds it.
    const std::pair<nlohmann::json, std::int64_t> weights[] = {
        {449, 400},
        {451, 500},
        {1000, 900},
        {-20, 100},
        {500.0, 500},
        {400.5, 400},
        {"700", 400},
        {true, 400},
        {std::numeric_limits<std::uint64_t>::max(), 900},
        {std::uint64_t{9223372036854775808u}, 900},
        {std::numeric_limits<std::int64_t>::max(), 900},
        {std::numeric_limits<std::int64_t>::min(), 100},
        {1e300, 900},
        {-1e300, 100},
        {1e19, 900},
        {1000.5, 900},
        {-0.5, 100},
        {nlohmann::json::parse("18446744073709551616"), 900},
        {nlohmann::json::parse("-9223372036854775809"), 100},
    };
    for (const auto& [stored, expected] : weights) {
        store(TypographyController::fontWeightKey, stored);
        EXPECT_EQ(controller.settings().fontWeight, expected) << stored.dump();
    }
    store(TypographyController::widthPresetKey, "Wide");
    EXPECT_EQ(controller.settings().widthPreset, TypographyWidthPreset::comfortable);
    store(TypographyController::widthPresetKey, "wide");
    store(TypographyController::lineHeightPresetKey, "loose");
    store(TypographyController::wideBlocksKey, "full");
    store(TypographyController::bodyFamilyKey, "  \"Wide Grotesk\"\n");
    const auto s = controller.settings();
    EXPECT_EQ(s.widthPreset, TypographyWidthPreset::wide);
    EXPECT_EQ(s.lineHeightPreset, TypographyLineHeightPreset::loose);
    EXPECT_EQ(s.wideBlocks, WideBlockMode::full);
    EXPECT_EQ(s.bodyFamily, "\"Wide Grotesk\"");
}

TEST(TypographySettings, Clamps) {
    using S = TypographySettings;
    EXPECT_EQ(S::clampFontSize(std::nan("")), 13);
    EXPECT_EQ(S::clampFontSize(std::numeric_limits<double>::infinity()), 24);
    EXPECT_EQ(S::clampFontSize(-std::numeric_limits<double>::infinity()), 13);
    EXPECT_EQ(S::clampFontSize(16.74), 16.5);
    EXPECT_EQ(S::clampFontSize(16.75), 17);
    EXPECT_EQ(S::clampFontWeight(149), 100);
    EXPECT_EQ(S::clampFontWeight(150), 200);
    EXPECT_EQ(S::clampFontWeight(450), 500);
    EXPECT_EQ(S::clampFontWeight(-1), 100);
    EXPECT_EQ(S::clampFontWeight(std::numeric_limits<std::int64_t>::max()), 900);
    EXPECT_EQ(S::clampFontWeight(std::numeric_limits<std::int64_t>::min()), 100);
    EXPECT_EQ(localizedName(TypographyWidthPreset::wide), "宽松");
    EXPECT_EQ(localizedName(TypographyLineHeightPreset::compact), "紧凑");
}

TEST_F(TypographyControllerTest, UpdatesWriteAndAnnounceOnlyRealChanges) {
    controller.update(TypographySettings::defaults, "nothing");
    EXPECT_TRUE(posts.senders.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "prefs.json"));  // nothing written

    test::LogCapture capture;
    auto next = TypographySettings::defaults;
    next.fontSizePx = 18.2;
    next.monoFamily = "  Code ";
    controller.update(next, "测试");
    EXPECT_EQ(posts.senders, (std::vector<const void*>{&controller}));
    EXPECT_EQ(controller.revision(), 1);
    // All eight keys, with their kinds.
    const auto stored = defaults.storedValues();
    EXPECT_EQ(stored.size(), 8u);
    EXPECT_TRUE(stored.at("typography.fontSizePx").is_number_float());
    EXPECT_EQ(stored.at("typography.fontSizePx"), 18.0);
    EXPECT_TRUE(stored.at("typography.fontWeight").is_number_integer());
    EXPECT_EQ(stored.at("typography.monoFamily"), "Code");
    EXPECT_EQ(stored.at("typography.widthPreset"), "comfortable");
    EXPECT_EQ(stored.at("typography.wideBlocks"), "aligned");
    EXPECT_TRUE(capture.contains(
        "document",
        "排版变化（测试）：fontSize=18.000000 width=comfortable lineHeight=standard body=默认 "
        "mono=Code weight=400 wideBlocks=aligned revision=1"));

    // Setting what is already there changes nothing.
    controller.setFontSize(18.1);
    controller.setFamily("Code", Role::mono);
    EXPECT_EQ(posts.senders.size(), 1u);
    // Resetting announces even with nothing stored.
    controller.resetTypography();
    controller.resetTypography();
    EXPECT_EQ(posts.senders.size(), 3u);
    EXPECT_TRUE(defaults.storedValues().empty());
}

TEST_F(TypographyControllerTest, SettersNameTheirChange) {
    test::LogCapture capture;
    controller.setFontSize(18);
    controller.setFontSize(17.26);
    controller.setWidthPreset(TypographyWidthPreset::compact);
    controller.setLineHeightPreset(TypographyLineHeightPreset::loose);
    controller.setFamily("  Wide Grotesk  ", Role::body);
    controller.setFamily("", Role::body);
    controller.setFontWeight(651);
    controller.setWideBlocks(WideBlockMode::full);
    for (const char* reason : {"（字号 18.0）", "（字号 17.5）", "（正文宽度 compact）",
                               "（行距 loose）", "（body 字体 Wide Grotesk）", "（body 字体 默认）",
                               "（字重 700）", "（宽块显示 full）"}) {
        EXPECT_TRUE(capture.contains("document", reason)) << reason;
    }
    EXPECT_EQ(controller.revision(), 8);

    EXPECT_TRUE(controller.canRestoreThemeTypography());
    controller.restoreThemeTypography();
    EXPECT_FALSE(controller.canRestoreThemeTypography());  // families and weight do not count
    const auto s = controller.settings();
    EXPECT_EQ(s.fontSizePx, 16);
    EXPECT_EQ(s.widthPreset, TypographyWidthPreset::comfortable);
    EXPECT_EQ(s.lineHeightPreset, TypographyLineHeightPreset::standard);
    EXPECT_EQ(s.wideBlocks, WideBlockMode::aligned);
    EXPECT_EQ(s.fontWeight, 700);  // kept
    EXPECT_TRUE(capture.contains("document", "（恢复主题排版）"));
}

TEST_F(TypographyControllerTest, FontSizeStepsStopAtTheLimits) {
    controller.setFontSize(23.5);
    controller.increaseFontSize();
    EXPECT_EQ(controller.settings().fontSizePx, 24);
    EXPECT_FALSE(controller.canIncreaseFontSize());
    const auto before = controller.revision();
    controller.increaseFontSize();
    EXPECT_EQ(controller.revision(), before);
    EXPECT_TRUE(controller.canDecreaseFontSize());
    controller.setFontSize(13.5);
    controller.decreaseFontSize();
    controller.decreaseFontSize();
    EXPECT_EQ(controller.settings().fontSizePx, 13);
    EXPECT_FALSE(controller.canDecreaseFontSize());
    EXPECT_TRUE(controller.canIncreaseFontSize());
}

TEST_F(TypographyControllerTest, FontStatusTellsHowEachRoleIsDrawn) {
    auto status = controller.fontStatus(Role::body);
    EXPECT_EQ(status.kind, Kind::defaultStack);
    EXPECT_EQ(status.effectiveWeight, 400);
    EXPECT_EQ(status.message(), "系统默认字体栈 · 字重 400");

    controller.setFamily("Duo", Role::body);
    status = controller.fontStatus(Role::body);
    EXPECT_EQ(status.kind, Kind::weightMapped);  // 300 and 500 are equally near 400: the lower wins
    EXPECT_EQ(status.effectiveWeight, 300);
    EXPECT_EQ(status.availableWeights, (std::vector<int>{300, 500}));
    EXPECT_EQ(status.location, Location::user);
    EXPECT_EQ(status.message(), "Duo · 字重 400 不可用，已用 300");
    controller.setFontWeight(500);
    EXPECT_EQ(controller.fontStatus(Role::body).kind, Kind::exact);
    EXPECT_EQ(controller.fontStatus(Role::body).message(), "Duo · 字重 500");
    EXPECT_EQ(controller.availableBodyWeights(), (std::vector<int>{300, 500}));

    // Heading and code take the requested weight whatever the family has.
    controller.setFamily("\"Wide Grotesk\"", Role::heading);
    status = controller.fontStatus(Role::heading);
    EXPECT_EQ(status.kind, Kind::exact);
    EXPECT_EQ(status.effectiveWeight, 500);
    EXPECT_EQ(status.requestedFamily, "Wide Grotesk");

    controller.setFamily("Missing Sans", Role::mono);
    status = controller.fontStatus(Role::mono);
    EXPECT_EQ(status.kind, Kind::familyMissing);
    EXPECT_EQ(status.effectiveWeight, 400);
    EXPECT_TRUE(status.effectiveFamily.empty());
    EXPECT_EQ(status.message(), "字体「Missing Sans」本机没有，已回退系统默认");

    controller.setFamily("Nowhere", Role::body);
    EXPECT_EQ(controller.availableBodyWeights().size(), 9u);
    EXPECT_EQ(controller.fontStatus(Role::body).effectiveWeight, 400);

    // Each family was asked of the installed fonts once.
    EXPECT_EQ(fonts.resolveCalls, 4);
}

TEST_F(TypographyControllerTest, PageGetsTheFamiliesAndWeightReallyUsed) {
    controller.setFamily("Flex", Role::body);
    controller.setFamily("Wide Grotesk", Role::heading);
    controller.setFamily("Gone Mono", Role::mono);
    controller.setFontWeight(800);
    const auto effective = controller.effectiveSettings();
    EXPECT_EQ(effective.bodyFamily, "Flex");
    EXPECT_EQ(effective.headingFamily, "\"Wide Grotesk\"");
    EXPECT_EQ(effective.monoFamily, "");
    EXPECT_EQ(effective.fontWeight, 800);  // the variable axis has it
    controller.setFamily("Code", Role::body);
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 700);
    controller.setFamily("", Role::body);
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 800);
}

TEST_F(TypographyControllerTest, CandidateListsAreFilteredSortedAndBuiltOnce) {
    fonts.byLocation[Location::system] = {"Wide Grotesk", ".Hidden UI", "Code", "Noto Serif CJK"};
    fonts.byLocation[Location::user] = {"apple Chancery", "Code", "Times Sans"};
    fonts.byLocation[Location::other] = {"Zeta", "Bodoni Moda"};
    fonts.fixedPitch = {"Code", "Zeta Mono"};
    const auto body = controller.candidateFamilies(Role::body);
    EXPECT_EQ(body, (std::vector<std::string>{"apple Chancery", "Code", "Times Sans",
                                              "Wide Grotesk", "Zeta"}));
    EXPECT_EQ(controller.candidateFamilies(Role::mono), (std::vector<std::string>{"Code"}));
    controller.candidateFamilies(Role::body);
    EXPECT_EQ(fonts.familiesCalls, 8);  // four locations for each of two roles, once
}

TEST_F(TypographyControllerTest, CurrentFontPicksTheNearestFace) {
    controller.setFontSize(18);
    controller.setFamily("Code", Role::body);
    controller.setFontWeight(600);
    // Body: the effective weight (700, the nearest Code has).
    EXPECT_EQ(controller.currentFont(Role::body),
              (ReaderFont{"Code", "Code-Bold", "Code-Bold", 700, 18, false}));
    // Heading and mono aim at 400.
    controller.setFamily("Code", Role::heading);
    EXPECT_EQ(controller.currentFont(Role::heading).postScriptName, "Code-Regular");
    // Without a family: the desktop's fonts.
    EXPECT_EQ(controller.currentFont(Role::mono), (ReaderFont{"", "", "", 400, 18, true}));
    controller.setFamily("", Role::body);
    controller.setFontWeight(200);
    EXPECT_EQ(controller.currentFont(Role::body).cssWeight, 200);
    EXPECT_EQ(TypographyController::platformWeight(150), PlatformFontWeight::ultraLight);
    EXPECT_EQ(TypographyController::platformWeight(151), PlatformFontWeight::thin);
    EXPECT_EQ(TypographyController::platformWeight(450), PlatformFontWeight::regular);
    EXPECT_EQ(TypographyController::platformWeight(451), PlatformFontWeight::medium);
    EXPECT_EQ(TypographyController::platformWeight(850), PlatformFontWeight::heavy);
    EXPECT_EQ(TypographyController::platformWeight(851), PlatformFontWeight::black);
}

TEST_F(TypographyControllerTest, FontPanelChoicesGoToTheRoleShown) {
    test::FakeFontPanel panel;
    test::LogCapture capture;
    controller.showFontPanel(Role::body, panel, true);
    EXPECT_EQ(controller.fontPanelRole(), Role::body);
    EXPECT_FALSE(panel.monospace);
    EXPECT_TRUE(panel.front);
    panel.choose({"Wide Grotesk", "WideGrotesk-Bold", 700});
    auto s = controller.settings();
    EXPECT_EQ(s.bodyFamily, "\"Wide Grotesk\"");
    EXPECT_EQ(s.fontWeight, 700);
    EXPECT_TRUE(capture.contains("document", "（字体面板 body Wide Grotesk WideGrotesk-Bold）"));
    EXPECT_EQ(panel.shown.sizePx, 16);

    controller.showFontPanel(Role::mono, panel, false);
    EXPECT_TRUE(panel.monospace);
    EXPECT_FALSE(panel.front);
    panel.choose({"Code", "Code-Bold", 700});
    panel.choose({"", "Nothing", 300});  // no family: nothing happens
    s = controller.settings();
    EXPECT_EQ(s.monoFamily, "Code");
    EXPECT_EQ(s.fontWeight, 700);  // mono does not take the weight
    EXPECT_EQ(controller.revision(), 2);

    // A panel that answers after the controller is gone is ignored.
    auto shortLived = std::make_unique<TypographyController>(defaults, *center, fonts.source());
    shortLived->showFontPanel(Role::heading, panel, true);
    shortLived.reset();
    panel.choose({"Code", "Code-Regular", 400});
    EXPECT_EQ(controller.settings().headingFamily, "");
}

TEST_F(TypographyControllerTest, RestoringAllAppearanceDefaultsAnnouncesTwice) {
    auto desktop = std::make_shared<test::FakeDesktopAppearance>();
    AppearanceController appearance(defaults, *center, desktop);
    appearance.select(ThemeID::midnight);
    controller.setFontSize(20);
    std::vector<std::string> order;
    auto a = center->addObserver(std::string(AppearanceController::didChangeNotification), nullptr,
                                 [&order](const Notification&) { order.push_back("appearance"); });
    auto t = center->addObserver(std::string(TypographyController::didChangeNotification), nullptr,
                                 [&order](const Notification&) { order.push_back("typography"); });
    controller.restoreAllAppearanceDefaults(appearance, defaults);
    EXPECT_EQ(order, (std::vector<std::string>{"typography", "appearance"}));
    EXPECT_EQ(defaults.storedValues(), (nlohmann::json{{"appearanceMode", "system"}}));
    EXPECT_EQ(appearance.currentThemeID(), ThemeID::porcelain);
}

TEST(TypographyFamilies, QuotingKeepsTheCSSValid) {
    using T = TypographyController;
    EXPECT_EQ(T::quotedFamily("  Wide Grotesk \n"), "\"Wide Grotesk\"");
    EXPECT_EQ(T::quotedFamily("Cantarell"), "Cantarell");
    EXPECT_EQ(T::quotedFamily("\"Already Quoted\""), "\"Already Quoted\"");
    EXPECT_EQ(T::quotedFamily("   "), "");
    // Quotes and backslashes inside are escaped, and force quoting.
    EXPECT_EQ(T::quotedFamily("My \"Best\" Font"), R"("My \"Best\" Font")");
    EXPECT_EQ(T::quotedFamily(R"(Back\slash)"), R"("Back\\slash")");
    EXPECT_EQ(T::quotedFamily("It's"), "\"It's\"");
    EXPECT_EQ(T::quotedFamily("Tab\tInside"), "\"Tab\\9 Inside\"");
    // A text that only begins with a quote is not one CSS string: quoted afresh.
    EXPECT_EQ(T::quotedFamily(R"("Foo"; color: red)"), R"("Foo\"; color: red")");
    EXPECT_EQ(T::quotedFamily("\"Open"), "\"Open\"");

    EXPECT_EQ(T::unquotedFamily(" \"Wide Grotesk\" "), "Wide Grotesk");
    EXPECT_EQ(T::unquotedFamily("'Single'"), "Single");
    EXPECT_EQ(T::unquotedFamily("\" Spaced \""), "Spaced");
    for (const char* name : {"My \"Best\" Font", R"(Back\slash)", "It's", "Tab\tInside", "Plain"}) {
        EXPECT_EQ(T::unquotedFamily(T::quotedFamily(name)), name) << name;
    }
}

}  // namespace
}  // namespace larkspin

namespace larkspin {
namespace {

TEST(TypographyWithInstalledFonts, ResolvesAgainstTheMachinesFonts) {
    test::PinnedFonts::install();
    test::TempDir dir;
    UserDefaults defaults(dir / "prefs.json");
    auto center = NotificationCenter::create();
    TypographyController controller(defaults, *center);

    // Serif designs (by name, or by OS/2 class as "DejaVu Slab") are not offered.
    EXPECT_EQ(controller.candidateFamilies(Role::body),
              (std::vector<std::string>{"Cantarell", "DejaVu Sans", "DejaVu Sans Mono", "Inter"}));
    EXPECT_EQ(controller.candidateFamilies(Role::mono),
              (std::vector<std::string>{"DejaVu Sans Mono"}));

    controller.setFamily("cantarell", Role::body);
    controller.setFontWeight(500);
    auto status = controller.fontStatus(Role::body);
    EXPECT_EQ(status.kind, Kind::weightMapped);
    EXPECT_EQ(status.effectiveFamily, "Cantarell");
    EXPECT_EQ(status.effectiveWeight, 400);
    EXPECT_EQ(status.availableWeights, (std::vector<int>{100, 300, 400, 700, 800}));
    EXPECT_EQ(status.location, Location::system);
    EXPECT_EQ(controller.currentFont(Role::body).postScriptName, "Cantarell-Regular");

    // The variable font draws every weight.
    controller.setFamily("Inter", Role::body);
    EXPECT_EQ(controller.fontStatus(Role::body).kind, Kind::exact);
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 500);

    controller.setFamily("DejaVu Sans Mono", Role::mono);
    EXPECT_EQ(controller.effectiveSettings().monoFamily, "\"DejaVu Sans Mono\"");
    EXPECT_EQ(controller.currentFont(Role::mono).postScriptName, "DejaVuSansMono");
}

}  // namespace
}  // namespace larkspin
