#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Appearance/ColorContrast.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

using Tone = NoticeBarContent::Tone;

class FakeBarView final : public NoticeBarView {
public:
    void render(const NoticeBarPresentation&) override {}
    void applyPalette(const NoticeBarPalette&) override {}
    void setRevealed(bool value) override {
        revealed = value;
        reveals.push_back(value);
    }
    void announce(const std::string& message) override { announcements.push_back(message); }
    void press(std::size_t index) {
        if (const auto run = onActionPressed) run(index);
    }

    std::vector<std::string> announcements;
    bool revealed = false;
    std::vector<bool> reveals;  // every reveal and hide, in order
};

ColorComponents rgb(int red, int green, int blue) { return {red / 255.0, green / 255.0, blue / 255.0, 1.0}; }

TEST(NoticeBarPresentation, IconAccentAndTintPerToneThemeAndKind) {
    const Theme light = ThemeCatalog::theme(ThemeID::porcelain), dark = ThemeCatalog::theme(ThemeID::graphite);
    const std::string warning = "dialog-warning-symbolic", error = "dialog-error-symbolic", info = "view-refresh-symbolic";
    const std::vector<std::tuple<Tone, const Theme*, ExternalIssueKind, std::string, ColorComponents, double>> cases{
        {Tone::warning, &light, ExternalIssueKind::conflict, warning, rgb(0x9C, 0x4E, 0x00), 0.12},
        {Tone::warning, &dark, ExternalIssueKind::conflict, warning, rgb(0xFF, 0xB4, 0x5C), 0.12},
        {Tone::error, &light, ExternalIssueKind::missing, error, rgb(0xB3, 0x3D, 0x31), 0.10},
        {Tone::error, &dark, ExternalIssueKind::saveFailed, error, rgb(0xFF, 0x88, 0x7F), 0.18},
        {Tone::error, &light, ExternalIssueKind::permission, error, rgb(0xB3, 0x3D, 0x31), 0.14},
        {Tone::info, &light, ExternalIssueKind::recovered, info, rgb(0x22, 0x5D, 0xAD), 0.12},
        {Tone::info, &dark, ExternalIssueKind::externalChanged, info, rgb(0x8A, 0xBE, 0xFF), 0.12},
    };
    for (const auto& [tone, theme, kind, icon, accent, share] : cases) {
        const auto shown = NoticeBarPresentation::make({tone, "m", {{"一", false, nullptr}}, kind}, *theme);
        EXPECT_EQ(shown.iconName, icon) << rawValue(kind);
        EXPECT_EQ(shown.actionTitles, std::vector<std::string>{"一"});
        const auto base = NoticeBarPalette::mix(theme->web.canvas.nativeColor(), theme->window.separator.nativeColor(), 0.12);
        EXPECT_EQ(cssHex(shown.palette.accent), cssHex(accent)) << rawValue(kind);
        EXPECT_EQ(cssHex(shown.palette.background), cssHex(NoticeBarPalette::mix(base, accent, share))) << rawValue(kind);
        EXPECT_EQ(cssHex(shown.palette.text), cssHex(theme->web.text.nativeColor())) << rawValue(kind);
    }
    Theme broken = light;
    broken.web.text = HexColor("not a colour");
    EXPECT_EQ(cssHex(NoticeBarPalette::make(broken, Tone::info, ExternalIssueKind::recovered).text), "#ff00ff");
}

// The bar's message and buttons are readable in every state, and its icon
// stands out, in every theme, tone and kind.
TEST(NoticeBarPresentation, EveryThemeToneAndKindIsReadable) {
    for (const ThemeID id : allThemeIDs) {
        const Theme theme = ThemeCatalog::theme(id);
        for (const Tone tone : {Tone::warning, Tone::error, Tone::info}) {
            for (const auto kind : {ExternalIssueKind::missing, ExternalIssueKind::permission,
                                    ExternalIssueKind::saveFailed, ExternalIssueKind::conflict}) {
                const auto palette = NoticeBarPalette::make(theme, tone, kind);
                for (const ColorComponents& behind :
                     {palette.background, palette.button, palette.buttonHover, palette.buttonActive}) {
                    EXPECT_GE(ColorContrast::ratio(palette.text, behind), ColorContrast::minimumForText)
                        << rawValue(id) << " " << rawValue(kind) << " " << cssHex(behind);
                }
                EXPECT_GE(ColorContrast::ratio(palette.accent, palette.background), ColorContrast::minimumForIcons)
                    << rawValue(id) << " " << rawValue(kind);
            }
        }
    }
    const auto css = NoticeBarPalette::make(ThemeCatalog::theme(ThemeID::graphite), Tone::error,
                                            ExternalIssueKind::conflict).css();
    for (const char* rule : {".notice-bar-button {", ".notice-bar-button:hover {", ".notice-bar-button:active {",
                             ".notice-bar-button:focus-visible {"}) {
        EXPECT_NE(css.find(rule), std::string::npos) << rule;
    }
}

TEST(NoticeBarController, ShowReplaceAndHide) {
    test::LogCapture logs;
    auto view = std::make_shared<FakeBarView>();
    auto bar = NoticeBarController::create(view, ThemeCatalog::theme(ThemeID::porcelain));
    std::vector<std::size_t> pressed;
    const auto content = [&](std::string message, std::vector<std::string> titles) {
        NoticeBarContent made{Tone::warning, std::move(message), {}, ExternalIssueKind::conflict};
        for (std::size_t i = 0; i < titles.size(); ++i) {
            made.actions.push_back({titles[i], false, [&pressed, i] { pressed.push_back(i); }});
        }
        return made;
    };
    bar->hide();
    EXPECT_TRUE(view->reveals.empty()) << "hiding nothing is silent";
    bar->show(content("文件变了", {"重新载入", "保留我的"}));
    bar->show(content("又变了", {"知道了"}));
    EXPECT_TRUE(view->revealed);
    EXPECT_EQ(view->announcements, (std::vector<std::string>{"文件变了", "又变了"}));
    EXPECT_TRUE(logs.contains("document", "提示条显示：kind=conflict actions=重新载入/保留我的"));
    view->press(0);
    view->press(1);  // the second button went with the first content
    bar->hide();
    bar->hide();
    view->press(0);  // a stale press on a hidden bar
    EXPECT_FALSE(view->revealed);
    EXPECT_EQ(pressed, std::vector<std::size_t>{0});
    EXPECT_EQ(view->reveals, (std::vector<bool>{true, true, false}));

    // The view may outlive its controller: a press then reaches nobody.
    bar->show(content("再次", {"知道了"}));
    bar.reset();
    view->press(0);
    EXPECT_EQ(pressed, std::vector<std::size_t>{0});
}

}  // namespace
}  // namespace larkspin
