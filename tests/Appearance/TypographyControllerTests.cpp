#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <span>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/AppearanceTestSupport.hpp"
#include "Appearance/Fonts/FontResolverTestFonts.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/MainLoop.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using Kind = TypographyFontStatus::Kind;
using Role = TypographyController::FontRole;
using FontResolver::Location;
using FontResolver::ResolvedFont;
using nlohmann::json;
using W = TypographyWidthPreset;
using L = TypographyLineHeightPreset;

// Installed fonts as the tests declare them (PostScript names and weights of
// the faces; "Flex" is variable); counts the questions asked.
struct FakeFonts {
    std::map<std::string, std::vector<std::pair<std::string, int>>> installed = {
        {"Duo", {{"Duo-Light", 300}, {"Duo-Medium", 500}}},
        {"Wide Grotesk", {{"WideGrotesk-Regular", 400}, {"WideGrotesk-Bold", 700}}},
        {"Flex", {{"Flex-Regular", 400}}},
        {"Code", {{"Code-Regular", 400}, {"Code-Bold", 700}}}};
    std::map<Location, std::vector<std::string>> byLocation;
    std::vector<std::string> fixedPitch;
    int resolveCalls = 0, familiesCalls = 0, familiesOnWorkers = 0, resolvesOnWorkers = 0;

    TypographyController::FontSource source() {
        return {.resolve = [this](std::string_view name) -> std::optional<ResolvedFont> {
                    ++resolveCalls;
                    if (WorkerPool::isPoolThread()) ++resolvesOnWorkers;
                    const auto it = installed.find(std::string(name));
                    if (it == installed.end()) return std::nullopt;
                    ResolvedFont font{.familyName = it->first, .location = Location::user};
                    if (name == "Flex")
                        font.variableWeightRange = FontResolver::WeightRange{100, 1000};
                    for (const auto& [postScript, weight] : it->second) {
                        font.faces.push_back({postScript, postScript, weight});
                    }
                    return font;
                },
                .families =
                    [this](Location location, bool excludingSerif) {
                        ++familiesCalls;
                        if (WorkerPool::isPoolThread()) ++familiesOnWorkers;
                        EXPECT_TRUE(excludingSerif);
                        return byLocation[location];
                    },
                .fixedPitchFamilies = [this] { return fixedPitch; }};
    }
};

class TypographyControllerTest : public ::testing::Test {
protected:
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    // Writes run on a queue: let them end before the folder goes.
    void TearDown() override { EXPECT_TRUE(defaults.drainForTesting()); }
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    FakeFonts fonts;
    TypographyController controller{defaults, *center, fonts.source()};
    test::NotificationRecorder posts{*center, TypographyController::didChangeNotification};
};

TEST_F(TypographyControllerTest, StoredValuesAreNormalisedOrIgnored) {
    EXPECT_EQ(controller.settings(), TypographySettings::defaults);
    // As the preferences file holds them.
    const std::pair<const char*, double> sizes[] = {{"17.3", 17.5},  {"12", 13},     {"30", 24},
                                                    {"17.25", 17.5}, {"\"18\"", 16}, {"true", 16},
                                                    {"null", 16}};
    for (const auto& [stored, expected] : sizes) {
        defaults.setValue(TypographyController::fontSizeKey, json::parse(stored));
        EXPECT_EQ(controller.settings().fontSizePx, expected) << stored;
    }
    // Hundreds, halves away from zero; out of range on either side clamps to
    // that end, whatever kind of number holds it. A number with a fraction is
    // no weight at all: the default.
    using Weight = std::pair<const char*, std::int64_t>;
    const Weight weights[] = {{"449", 400},     {"451", 500},    {"150", 200},   {"149", 100},
                              {"1000", 900},    {"-20", 100},    {"500.0", 500}, {"400.5", 400},
                              {"\"700\"", 400}, {"true", 400},   {"1e300", 900}, {"-1e300", 100},
                              {"1e19", 900},    {"1000.5", 400}, {"-0.5", 400},  {"650.5", 400},
                              {"700.0", 700},   {"650.25", 400}, {"2e3", 900}};
    const Weight extremes[] = {{"9223372036854775807", 900},  {"-9223372036854775808", 100},
                               {"9223372036854775808", 900},  {"18446744073709551615", 900},
                               {"18446744073709551616", 900}, {"-9223372036854775809", 100}};
    for (const auto table : {std::span<const Weight>(weights), std::span<const Weight>(extremes)}) {
        for (const auto& [stored, expected] : table) {
            defaults.setValue(TypographyController::fontWeightKey, json::parse(stored));
            EXPECT_EQ(controller.settings().fontWeight, expected) << stored;
        }
    }
    // Sizes that no preference holds.
    EXPECT_EQ(TypographySettings::clampFontSize(std::nan("")), 13);
    EXPECT_EQ(TypographySettings::clampFontSize(std::numeric_limits<double>::infinity()), 24);
    EXPECT_EQ(TypographySettings::clampFontSize(-std::numeric_limits<double>::infinity()), 13);

    defaults.setValue(TypographyController::widthPresetKey, "Wide");  // letter case counts
    EXPECT_EQ(controller.settings().widthPreset, TypographyWidthPreset::comfortable);
    defaults.setValue(TypographyController::widthPresetKey, "wide");
    defaults.setValue(TypographyController::lineHeightPresetKey, "loose");
    defaults.setValue(TypographyController::wideBlocksKey, "full");
    defaults.setValue(TypographyController::bodyFamilyKey, "  \"Wide Grotesk\"\n");
    EXPECT_EQ(controller.settings(), (TypographySettings{16, W::wide, L::loose, "\"Wide Grotesk\"",
                                                         "", "", 100, WideBlockMode::full}));
}

// A family name longer than any font's is refused where it is read (logged
// once, the system stack used, nothing asked of the fonts) and where it
// would be stored; one at the limit is an ordinary (missing) family.
TEST_F(TypographyControllerTest, AnOverLongFamilyIsLoggedAndIgnored) {
    test::LogCapture log;
    const std::string huge(100000, 'F');
    defaults.setValue(TypographyController::bodyFamilyKey, huge);
    defaults.setValue(TypographyController::monoFamilyKey, "Code");
    EXPECT_EQ(controller.settings().bodyFamily, "");
    EXPECT_EQ(controller.settings().monoFamily, "Code");
    EXPECT_EQ(controller.fontStatus(Role::body).kind, Kind::defaultStack);
    const int asked = fonts.resolveCalls;
    EXPECT_EQ(controller.effectiveSettings().bodyFamily, "");
    EXPECT_EQ(fonts.resolveCalls, asked + 1) << "only the code font was looked up";
    int lines = 0;
    for (const auto& record : log.records()) {
        if (record.message.find("typography.bodyFamily 的字体名过长（100000 字节") !=
            std::string::npos) {
            ++lines;
        }
    }
    EXPECT_EQ(lines, 1) << "logged once, not at every read";

    const std::string longest(TypographySettings::maximumFamilyLength, 'G');
    defaults.setValue(TypographyController::headingFamilyKey, longest);
    EXPECT_EQ(controller.settings().headingFamily, longest);
    EXPECT_EQ(controller.fontStatus(Role::heading).kind, Kind::familyMissing);

    // Choosing such a name changes nothing.
    const std::size_t announced = posts.senders.size();
    controller.setFamily(longest + "G", Role::mono);
    EXPECT_EQ(controller.settings().monoFamily, "Code");
    EXPECT_EQ(posts.senders.size(), announced);
}

TEST_F(TypographyControllerTest, SettersWriteAndAnnounceOnlyRealChanges) {
    controller.update(TypographySettings::defaults, "nothing");
    EXPECT_TRUE(posts.senders.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "prefs.json"));  // nothing written

    controller.setFontSize(17.26);
    controller.setWidthPreset(TypographyWidthPreset::compact);
    controller.setLineHeightPreset(TypographyLineHeightPreset::loose);
    controller.setFamily("  Wide Grotesk  ", Role::heading);
    controller.setFamily("  Code ", Role::mono);
    controller.setFontWeight(651);
    controller.setWideBlocks(WideBlockMode::full);
    EXPECT_EQ(posts.senders, std::vector<const void*>(7, &controller));
    EXPECT_EQ(controller.revision(), 7);
    EXPECT_EQ(controller.settings(),
              (TypographySettings{17.5, W::compact, L::loose, "", "Code", "Wide Grotesk", 700,
                                  WideBlockMode::full}));
    // All eight keys, the size a fraction and the weight a whole number.
    const auto stored = defaults.storedValues();
    EXPECT_EQ(stored.size(), 8u);
    EXPECT_TRUE(stored.at("typography.fontSizePx").is_number_float());
    EXPECT_TRUE(stored.at("typography.fontWeight").is_number_integer());
    EXPECT_EQ(stored.at("typography.monoFamily"), "Code");

    // Setting what is already there changes nothing.
    controller.setFontSize(17.4);
    controller.setFamily("Code", Role::mono);
    EXPECT_EQ(controller.revision(), 7);
    EXPECT_TRUE(controller.canRestoreThemeTypography());
    controller.restoreThemeTypography();
    EXPECT_FALSE(controller.canRestoreThemeTypography());  // families and weight do not count
    EXPECT_EQ(controller.settings(),
              (TypographySettings{16, W::comfortable, L::standard, "", "Code", "Wide Grotesk", 700,
                                  WideBlockMode::aligned}));
    // Resetting announces even with nothing stored.
    controller.resetTypography();
    controller.resetTypography();
    EXPECT_EQ(controller.revision(), 10);
    EXPECT_TRUE(defaults.storedValues().empty());
}

TEST_F(TypographyControllerTest, FontStatusTellsHowEachRoleIsDrawn) {
    const std::tuple<Role, const char*, std::int64_t, Kind, std::int64_t> cases[] = {
        {Role::body, "", 400, Kind::defaultStack, 400},
        {Role::body, "Duo", 400, Kind::weightMapped, 300},  // 300, 500 equally near: the lower
        {Role::body, "Duo", 500, Kind::exact, 500},
        // Heading and code take the requested weight whatever the family has.
        {Role::heading, "\"Wide Grotesk\"", 500, Kind::exact, 500},
        {Role::mono, "Duo", 400, Kind::exact, 400},
        {Role::mono, "Missing Sans", 700, Kind::familyMissing, 400},
        {Role::body, "Nowhere", 600, Kind::familyMissing, 400}};
    for (const auto& [role, family, weight, kind, effectiveWeight] : cases) {
        controller.setFamily(family, role);
        controller.setFontWeight(weight);
        const auto status = controller.fontStatus(role);
        EXPECT_EQ(status.kind, kind) << family;
        EXPECT_EQ(status.effectiveWeight, effectiveWeight) << family;
        EXPECT_EQ(status.effectiveFamily.empty(),
                  kind == Kind::defaultStack || kind == Kind::familyMissing);
    }
    EXPECT_EQ(controller.availableBodyWeights().size(), 9u);  // nothing found: every weight
    EXPECT_EQ(fonts.resolveCalls, 4);  // each family asked of the installed fonts once

    controller.setFamily("Duo", Role::body);
    controller.setFontWeight(400);
    const auto duo = controller.fontStatus(Role::body);
    EXPECT_EQ(duo.availableWeights, (std::vector<int>{300, 500}));
    EXPECT_EQ(controller.availableBodyWeights(), duo.availableWeights);
    EXPECT_EQ(duo.location, Location::user);
    // The message names the family, the weight asked for, then the one used.
    const std::string message = duo.message();
    EXPECT_LT(message.find("Duo"), message.find("400"));
    EXPECT_LT(message.find("400"), message.find("300"));
}

TEST_F(TypographyControllerTest, PageAndPanelGetTheFontsReallyUsed) {
    controller.setFontSize(18);
    controller.setFamily("Flex", Role::body);
    controller.setFamily("Wide Grotesk", Role::heading);
    controller.setFamily("Gone Mono", Role::mono);
    controller.setFontWeight(800);
    // The variable axis has the weight; a missing family is the desktop's.
    EXPECT_EQ(controller.effectiveSettings(),
              (TypographySettings{18, W::comfortable, L::standard, "Flex", "", "\"Wide Grotesk\"",
                                  800, WideBlockMode::aligned}));
    EXPECT_EQ(controller.currentFont(Role::mono), (ReaderFont{"", "", "", 400, 18, true}));

    // Body: the nearest face to the effective weight; heading and mono aim at 400.
    controller.setFamily("Code", Role::body);
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 700);
    EXPECT_EQ(controller.currentFont(Role::body),
              (ReaderFont{"Code", "Code-Bold", "Code-Bold", 700, 18, false}));
    controller.setFamily("Code", Role::heading);
    EXPECT_EQ(controller.currentFont(Role::heading).postScriptName, "Code-Regular");
    // Without a family: the desktop's weight nearest the one asked for.
    controller.setFamily("", Role::body);
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 800);
    EXPECT_EQ(controller.currentFont(Role::body).cssWeight, 800);
}

TEST_F(TypographyControllerTest, CandidateListsAreFilteredSortedAndBuiltOnce) {
    fonts.byLocation[Location::system] = {"Wide Grotesk", ".Hidden UI", "Code", "Noto Serif CJK"};
    fonts.byLocation[Location::user] = {"apple Chancery", "Code", "Times Sans"};
    fonts.byLocation[Location::other] = {"Zeta", "Bodoni Moda"};
    fonts.fixedPitch = {"Code", "Zeta Mono"};
    EXPECT_EQ(
        test::runTask(controller.loadCandidateFamilies(Role::body)),
        (std::vector<std::string>{"apple Chancery", "Code", "Times Sans", "Wide Grotesk", "Zeta"}));
    EXPECT_EQ(test::runTask(controller.loadCandidateFamilies(Role::mono)),
              (std::vector<std::string>{"Code"}));
    test::runTask(controller.loadCandidateFamilies(Role::body));
    EXPECT_EQ(fonts.familiesCalls, 8);  // four locations for each of two roles, once
}

// The settings page's lists and the family it chooses come from the workers:
// they read fontconfig and the font files. What was read is kept.
TEST_F(TypographyControllerTest, PickerListsAndChosenFamiliesAreReadOnTheWorkersOnce) {
    fonts.byLocation[Location::user] = {"Wide Grotesk", "Code"};
    fonts.fixedPitch = {"Code"};
    EXPECT_EQ(test::runTask(controller.loadCandidateFamilies(Role::mono)),
              std::vector<std::string>{"Code"});
    EXPECT_EQ(fonts.familiesOnWorkers, 4);
    EXPECT_EQ(test::runTask(controller.loadCandidateFamilies(Role::mono)),
              std::vector<std::string>{"Code"});
    EXPECT_EQ(fonts.familiesCalls, 4);

    // A family prepared ahead of its choice is resolved there too, once.
    test::runTask(controller.prepareFamily("\"Duo\""));
    test::runTask(controller.prepareFamily("Duo"));
    controller.setFamily("Duo", Role::body);
    EXPECT_NE(controller.fontStatus(Role::body).kind, TypographyFontStatus::Kind::familyMissing);
    EXPECT_EQ(fonts.resolveCalls, 1);
    EXPECT_EQ(fonts.resolvesOnWorkers, 1);
}

TEST_F(TypographyControllerTest, FontPanelChoicesGoToTheRoleShown) {
    test::FakeFontPanel panel;
    controller.showFontPanel(Role::body, panel, true);
    EXPECT_EQ(controller.fontPanelRole(), Role::body);
    EXPECT_EQ(panel.shown.sizePx, 16);
    EXPECT_FALSE(panel.monospace);
    EXPECT_TRUE(panel.front);
    panel.choose({"Wide Grotesk", "WideGrotesk-Bold", 700});
    ASSERT_TRUE(test::runMainLoopUntil([&] { return controller.revision() == 1; }));
    EXPECT_EQ(controller.settings().bodyFamily, "\"Wide Grotesk\"");
    EXPECT_EQ(controller.settings().fontWeight, 700);

    controller.showFontPanel(Role::mono, panel, false);
    EXPECT_TRUE(panel.monospace);
    EXPECT_FALSE(panel.front);
    panel.choose({"Code", "Code-Regular", 400});
    panel.choose({"", "Nothing", 300});  // no family: nothing happens
    ASSERT_TRUE(test::runMainLoopUntil([&] { return controller.revision() == 2; }));
    MainThread::drainForTesting();
    EXPECT_EQ(controller.settings().monoFamily, "Code");
    EXPECT_EQ(controller.settings().fontWeight, 700);  // mono does not take the weight
    EXPECT_EQ(controller.revision(), 2);

    // A panel that answers after the controller is gone is ignored.
    auto shortLived = std::make_unique<TypographyController>(defaults, *center, fonts.source());
    shortLived->showFontPanel(Role::heading, panel, true);
    shortLived.reset();
    panel.choose({"Code", "Code-Regular", 400});
    EXPECT_EQ(controller.settings().headingFamily, "");
}

// What the page needs is resolved on the workers: the stored families, asked
// for by several readers at once, are resolved once, and a family chosen in
// the font panel is resolved before the choice applies.
TEST_F(TypographyControllerTest, StoredAndChosenFamiliesAreResolvedOnTheWorkersOnce) {
    defaults.setValue(TypographyController::bodyFamilyKey, "Duo");
    defaults.setValue(TypographyController::monoFamilyKey, "Code");
    defaults.setValue(TypographyController::headingFamilyKey, "\"Wide Grotesk\"");
    const auto first = test::startTask(controller.prepareStoredFamilies());
    const auto second = test::startTask(controller.prepareStoredFamilies());
    ASSERT_TRUE(test::runMainLoopUntil([&] { return first->finished && second->finished; }));
    EXPECT_FALSE(first->error || second->error);
    EXPECT_EQ(fonts.resolveCalls, 3);
    EXPECT_EQ(fonts.resolvesOnWorkers, 3);
    EXPECT_EQ(controller.effectiveSettings().headingFamily, "\"Wide Grotesk\"");
    EXPECT_EQ(controller.effectiveSettings().fontWeight, 300);  // Duo's nearest to 400
    EXPECT_EQ(fonts.resolveCalls, 3) << "answered from memory";

    test::FakeFontPanel panel;
    controller.showFontPanel(Role::heading, panel, true);
    panel.choose({"Flex", "Flex-Regular", 400});
    EXPECT_EQ(controller.revision(), 0) << "applied once resolved";
    ASSERT_TRUE(test::runMainLoopUntil([&] { return controller.revision() == 1; }));
    EXPECT_EQ(controller.settings().headingFamily, "Flex");
    EXPECT_EQ(controller.effectiveSettings().headingFamily, "Flex");
    EXPECT_EQ(fonts.resolveCalls, 4);
    EXPECT_EQ(fonts.resolvesOnWorkers, 4);
}

TEST_F(TypographyControllerTest, RestoringAllAppearanceDefaultsAnnouncesTwice) {
    AppearanceController appearance(defaults, *center, nullptr);
    appearance.select(ThemeID::midnight);
    appearance.select(ThemeID::linen);
    controller.setFontSize(20);
    std::vector<std::string> order;
    auto a = center->addObserver(std::string(AppearanceController::didChangeNotification), nullptr,
                                 [&order](const Notification&) { order.push_back("appearance"); });
    auto t = center->addObserver(std::string(TypographyController::didChangeNotification), nullptr,
                                 [&order](const Notification&) { order.push_back("typography"); });
    controller.restoreAllAppearanceDefaults(appearance, defaults);
    EXPECT_EQ(order, (std::vector<std::string>{"typography", "appearance"}));
    EXPECT_EQ(defaults.storedValues(), (json{{"appearanceMode", "system"}}));
}

TEST(TypographyFamilies, QuotingKeepsTheCSSValid) {
    using T = TypographyController;
    const std::pair<std::string, std::string> quoted[] = {
        {"  Wide Grotesk \n", "\"Wide Grotesk\""},
        {"Cantarell", "Cantarell"},
        {"\"Already Quoted\"", "\"Already Quoted\""},
        {"   ", ""},
        // Quotes and backslashes inside are escaped, and force quoting.
        {"My \"Best\" Font", R"("My \"Best\" Font")"},
        {R"(Back\slash)", R"("Back\\slash")"},
        {"It's", "\"It's\""},
        {"Tab\tInside", "\"Tab\\9 Inside\""},
        // A text that only begins with a quote is not one CSS string: quoted afresh.
        {R"("Foo"; color: red)", R"("Foo\"; color: red")"},
        {"\"Open", "\"Open\""},
    };
    for (const auto& [name, css] : quoted) EXPECT_EQ(T::quotedFamily(name), css) << name;
    EXPECT_EQ(T::unquotedFamily(" \"Wide Grotesk\" "), "Wide Grotesk");
    EXPECT_EQ(T::unquotedFamily("'Single'"), "Single");
    EXPECT_EQ(T::unquotedFamily("\" Spaced \""), "Spaced");
    for (const char* name : {"My \"Best\" Font", R"(Back\slash)", "It's", "Tab\tInside"}) {
        EXPECT_EQ(T::unquotedFamily(T::quotedFamily(name)), name) << name;
    }
}

// The controller's own font source against the pinned fonts.
TEST_F(TypographyControllerTest, InstalledFontSourceAsksFontconfig) {
    test::PinnedFonts::install();
    TypographyController installed(defaults, *center);
    EXPECT_EQ(test::runTask(installed.loadCandidateFamilies(Role::body)),
              (std::vector<std::string>{"Cantarell", "DejaVu Sans", "DejaVu Sans Mono", "Inter"}));
    EXPECT_EQ(test::runTask(installed.loadCandidateFamilies(Role::mono)),
              (std::vector<std::string>{"DejaVu Sans Mono"}));
    installed.setFamily("cantarell", Role::body);
    EXPECT_EQ(installed.currentFont(Role::body).postScriptName, "Cantarell-Regular");
}

}  // namespace
}  // namespace larkspin
