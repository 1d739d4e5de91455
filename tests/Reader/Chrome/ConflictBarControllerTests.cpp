#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Appearance/ThemeCatalog.hpp"
#include "Reader/Chrome/ConflictBarController.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

using Tone = ConflictBarContent::Tone;

class FakeBarView final : public ConflictBarView {
public:
    void render(const ConflictBarPresentation& presentation) override {
        renders.push_back(presentation);
    }
    void applyPalette(const ConflictBarPalette& palette) override { palettes.push_back(palette); }
    void setRevealed(bool value) override { revealed = value; }
    void announce(const std::string& message) override { announcements.push_back(message); }

    void press(std::size_t index) {
        if (const auto run = onActionPressed) run(index);
    }

    std::vector<ConflictBarPresentation> renders;
    std::vector<ConflictBarPalette> palettes;
    std::vector<std::string> announcements;
    bool revealed = false;
};

ColorComponents rgb(int red, int green, int blue) {
    return {red / 255.0, green / 255.0, blue / 255.0, 1.0};
}

void expectNear(const ColorComponents& actual, const ColorComponents& expected,
                const std::string& what) {
    EXPECT_NEAR(actual.red, expected.red, 1e-9) << what;
    EXPECT_NEAR(actual.green, expected.green, 1e-9) << what;
    EXPECT_NEAR(actual.blue, expected.blue, 1e-9) << what;
    EXPECT_EQ(actual.alpha, 1.0) << what;
}

TEST(ConflictBarPresentation, IconAccentAndTintFollowToneThemeAndKind) {
    const Theme light = ThemeCatalog::theme(ThemeID::porcelain);
    const Theme dark = ThemeCatalog::theme(ThemeID::graphite);
    struct Case {
        Tone tone;
        const Theme* theme;
        std::string kind;
        std::string icon;
        ColorComponents accent;
        double share;
    };
    const std::vector<Case> cases{
        {Tone::warning, &light, "conflict", "dialog-warning-symbolic", rgb(0x9C, 0x4E, 0x00), 0.12},
        {Tone::warning, &dark, "conflict", "dialog-warning-symbolic", rgb(0xFF, 0xB4, 0x5C), 0.12},
        {Tone::error, &light, "missing", "dialog-error-symbolic", rgb(0xB3, 0x3D, 0x31), 0.10},
        {Tone::error, &dark, "saveFailed", "dialog-error-symbolic", rgb(0xFF, 0x88, 0x7F), 0.18},
        {Tone::error, &light, "permission", "dialog-error-symbolic", rgb(0xB3, 0x3D, 0x31), 0.14},
        {Tone::info, &light, "externalChanged", "view-refresh-symbolic", rgb(0x22, 0x5D, 0xAD), 0.12},
        {Tone::info, &dark, "recovered", "view-refresh-symbolic", rgb(0x8A, 0xBE, 0xFF), 0.12},
        {Tone::error, &dark, "unreadable", "dialog-error-symbolic", rgb(0xFF, 0x88, 0x7F), 0.12},
    };
    for (const auto& c : cases) {
        const std::string what = c.icon + " " + c.kind;
        ConflictBarContent content;
        content.tone = c.tone;
        content.kind = c.kind;
        content.message = "m";
        content.actions = {{"一", false, nullptr}, {"二", true, nullptr}};
        const auto shown = ConflictBarPresentation::make(content, *c.theme);
        EXPECT_EQ(shown.iconName, c.icon) << what;
        EXPECT_EQ(shown.actionTitles, (std::vector<std::string>{"一", "二"})) << what;
        expectNear(shown.palette.accent, c.accent, what);
        expectNear(shown.palette.text, c.theme->web.text.nativeColor(), what);
        const auto base = ConflictBarPalette::mix(c.theme->web.canvas.nativeColor(),
                                                  c.theme->native.separator.nativeColor(), 0.12);
        expectNear(shown.palette.background, ConflictBarPalette::mix(base, c.accent, c.share), what);
    }
}

TEST(ConflictBarPresentation, HeavierIssuesTintMoreAndBrokenColoursShowMagenta) {
    const Theme theme = ThemeCatalog::theme(ThemeID::linen);
    const auto distance = [&](const std::string& kind) {
        const auto palette = ConflictBarPalette::make(theme, Tone::error, kind);
        const auto canvas = ConflictBarPalette::mix(theme.web.canvas.nativeColor(),
                                                    theme.native.separator.nativeColor(), 0.12);
        return std::abs(palette.background.red - canvas.red) +
               std::abs(palette.background.green - canvas.green) +
               std::abs(palette.background.blue - canvas.blue);
    };
    EXPECT_LT(distance("missing"), distance("conflict"));
    EXPECT_LT(distance("conflict"), distance("permission"));
    EXPECT_LT(distance("permission"), distance("saveFailed"));

    Theme broken = theme;
    broken.web.text = HexColor("not a colour");
    EXPECT_EQ(ConflictBarPalette::make(broken, Tone::info, "x").text, (ColorComponents{1, 0, 1, 1}));

    ConflictBarPalette palette;
    palette.background = {1, 0.5, 0, 1};
    palette.text = {0, 0, 0, 1};
    palette.accent = {2, -1, 0.2, 1};
    EXPECT_EQ(palette.css(),
              ".notice-bar { background-color: #ff8000; }\n"
              ".notice-bar-message { color: #000000; }\n"
              ".notice-bar-icon { color: #ff0033; }\n");
}

class ConflictBarControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar.onVisibilityChange = [this](bool shown) { visibility.push_back(shown); };
    }

    ConflictBarContent content(std::string message, std::vector<std::string> titles) {
        ConflictBarContent made;
        made.tone = Tone::warning;
        made.kind = "conflict";
        made.message = std::move(message);
        for (std::size_t i = 0; i < titles.size(); ++i) {
            made.actions.push_back({titles[i], false, [this, i] { pressed.push_back(i); }});
        }
        return made;
    }

    test::LogCapture logs;
    std::shared_ptr<FakeBarView> view = std::make_shared<FakeBarView>();
    ConflictBarController bar{view, ThemeCatalog::theme(ThemeID::porcelain)};
    std::vector<bool> visibility;
    std::vector<std::size_t> pressed;
};

TEST_F(ConflictBarControllerTest, ShowingAgainReplacesTheContentAndAnnouncesAgain) {
    bar.show(content("文件变了", {"重新载入", "保留我的"}));
    bar.show(content("又变了", {"知道了"}));
    EXPECT_TRUE(view->revealed);
    ASSERT_EQ(view->renders.size(), 2u);
    EXPECT_EQ(view->renders[1].actionTitles, std::vector<std::string>{"知道了"});
    EXPECT_EQ(view->announcements, (std::vector<std::string>{"文件变了", "又变了"}));
    EXPECT_EQ(visibility, (std::vector<bool>{true, true}));
    EXPECT_TRUE(logs.contains("document", "提示条显示：kind=conflict actions=重新载入/保留我的"));
    EXPECT_TRUE(logs.contains("document", "提示条显示：kind=conflict actions=知道了"));

    view->press(0);
    EXPECT_EQ(pressed, std::vector<std::size_t>{0});
    view->press(1);  // no second button any more
    EXPECT_EQ(pressed, std::vector<std::size_t>{0});

    bar.hide();
    EXPECT_FALSE(view->revealed);
    EXPECT_FALSE(bar.content());
    view->press(0);  // a stale press on a hidden bar
    EXPECT_EQ(pressed, std::vector<std::size_t>{0});
    bar.hide();
    EXPECT_EQ(visibility, (std::vector<bool>{true, true, false})) << "hiding nothing is silent";
}

TEST_F(ConflictBarControllerTest, AHandlerMayReplaceOrHideItsOwnBar) {
    ConflictBarContent first = content("一", {"换掉", "收起"});
    first.actions[0].handler = [this] { bar.show(content("二", {"好"})); };
    first.actions[1].handler = [this] { bar.hide(); };
    bar.show(first);
    view->press(0);
    ASSERT_TRUE(bar.content());
    EXPECT_EQ(bar.content()->message, "二");

    bar.show(first);
    view->press(1);
    EXPECT_FALSE(bar.content());
    EXPECT_FALSE(view->revealed);
}

TEST_F(ConflictBarControllerTest, ANewThemeRecoloursWhatIsShown) {
    bar.applyTheme(ThemeCatalog::theme(ThemeID::midnight));
    EXPECT_TRUE(view->palettes.empty()) << "nothing shown, nothing to recolour";

    bar.show(content("m", {}));
    EXPECT_TRUE(view->renders.back().actionTitles.empty());
    bar.applyTheme(ThemeCatalog::theme(ThemeID::porcelain));
    ASSERT_EQ(view->palettes.size(), 1u);
    EXPECT_EQ(view->palettes[0],
              ConflictBarPalette::make(ThemeCatalog::theme(ThemeID::porcelain), Tone::warning,
                                       "conflict"));
}

}  // namespace
}  // namespace larkspin
