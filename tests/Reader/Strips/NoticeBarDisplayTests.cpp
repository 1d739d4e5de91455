// The notice bar's GTK strip under Xvfb: shown, replaced and hidden in a
// page, its buttons, its text (never markup), its colours and its
// accessibility.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/Widgets/NoticeBarViewController.hpp"
#include "Reader/Widgets/Tooltips.hpp"
#include "Reader/Strips/StripLayout.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Tone = NoticeBarContent::Tone;

// A press of the button as its "clicked" signal (activating a button waits
// for a timer before it clicks).
void click(GtkWidget* button) { g_signal_emit_by_name(button, "clicked"); }
std::string nameOf(GtkWidget* widget) { return gtk_widget_get_name(widget); }
std::string labelOf(GtkWidget* button) { return gtk_button_get_label(GTK_BUTTON(button)); }
// A widget's text colour as "#rrggbb".
std::string colorOf(GtkWidget* widget) {
    GdkRGBA color;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_style_context_get_color(gtk_widget_get_style_context(widget), &color);
    G_GNUC_END_IGNORE_DEPRECATIONS
    return cssHex({color.red, color.green, color.blue, 1});
}
std::string hex(const HexColor& color) { return cssHex(color.nativeColor()); }
std::string accent(Tone tone, ThemeAppearance appearance) {
    return hex(NoticeBarPalette::accentColor(tone, appearance));
}

TEST(NoticeBarDisplay, ShowsTextButtonsAndColoursAndHidesWhenAButtonSettlesIt) {
    test::LogCapture logs;
    AccessibilityAnnouncer::resetForTesting();
    auto view = NoticeBarViewController::create();
    const Theme light = ThemeCatalog::theme(ThemeID::porcelain);
    auto bar = NoticeBarController::create(view, light);
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window, 640, 200);
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(page), view->widget());
    gtk_box_append(GTK_BOX(page), gtk_label_new("page"));
    gtk_window_set_child(window, page);
    gtk_window_present(window);
    const auto revealed = [&] { return gtk_revealer_get_reveal_child(GTK_REVEALER(view->widget())); };
    std::vector<std::size_t> pressed;
    const auto content = [&](std::string message, std::vector<std::string> titles) {
        NoticeBarContent made{Tone::error, std::move(message), {}, ExternalIssueKind::missing};
        for (std::size_t i = 0; i < titles.size(); ++i) {
            made.actions.push_back({titles[i], i == 0, [&pressed, i] { pressed.push_back(i); }});
        }
        return made;
    };

    EXPECT_FALSE(revealed());
    const std::string message = "源文件 <b>notes</b> & 1 < 2 已被删除或移走。";
    bar->show(content(message, {"另存副本…", "重新定位…"}));
    EXPECT_TRUE(revealed());
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(view->messageLabel())), message.c_str());
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(view->messageLabel())));
    EXPECT_EQ(nameOf(view->bar()), "Orvik.conflictBar");
    EXPECT_EQ(gtk_accessible_get_accessible_role(GTK_ACCESSIBLE(view->bar())), GTK_ACCESSIBLE_ROLE_ALERT);
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), message);
    auto buttons = view->buttons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(labelOf(buttons[0]) + nameOf(buttons[1]), "另存副本…Orvik.conflictBar.action.1");
    // A button's title is all there; the message, when cut short, is given
    // whole by its tooltip.
    EXPECT_FALSE(gtk_widget_get_has_tooltip(buttons[1]));
    EXPECT_EQ(Tooltips::textOf(view->messageLabel()), message);
    // 36 pixels with its buttons, which are not clipped; text and buttons centred.
    ASSERT_TRUE(test::runMainLoopUntil([&] {
        return gtk_revealer_get_child_revealed(GTK_REVEALER(view->widget())) &&
               gtk_widget_get_height(view->bar()) > 0 &&
               gtk_widget_get_height(view->widget()) == gtk_widget_get_height(view->bar());
    }));
    EXPECT_TRUE(test::fitsCentred(view->widget(), view->bar(),
                                  {view->icon(), view->messageLabel(), buttons[0], buttons[1]}));
    click(buttons[1]);
    click(buttons[0]);
    EXPECT_EQ(pressed, (std::vector<std::size_t>{1, 0}));
    EXPECT_TRUE(revealed()) << "a button does not hide the bar by itself";

    // Colours follow the theme; another bar keeps its own.
    EXPECT_EQ(colorOf(view->messageLabel()), hex(light.web.text));
    EXPECT_EQ(colorOf(view->icon()), accent(Tone::error, ThemeAppearance::light));
    EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(view->icon())), "dialog-error-symbolic");
    const Theme dark = ThemeCatalog::theme(ThemeID::midnight);
    bar->applyTheme(dark);
    EXPECT_EQ(colorOf(view->messageLabel()), hex(dark.web.text));
    EXPECT_EQ(colorOf(view->icon()), accent(Tone::error, ThemeAppearance::dark));
    auto otherView = NoticeBarViewController::create();
    auto other = NoticeBarController::create(otherView, light);
    NoticeBarContent info = content("i", {});
    info.tone = Tone::info;
    other->show(info);
    EXPECT_EQ(colorOf(otherView->icon()), accent(Tone::info, ThemeAppearance::light));
    EXPECT_EQ(colorOf(view->messageLabel()), hex(dark.web.text));

    // Replaced from inside its own click: the old buttons go, the new come,
    // and the new message is announced; a button that settles the problem
    // hides the bar.
    NoticeBarContent chained = content("一", {"下一步"});
    chained.actions[0].handler = [&] { bar->show(content("二", {"甲", "乙"})); };
    bar->show(chained);
    click(view->buttons()[0]);
    buttons = view->buttons();
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(labelOf(buttons[1]), "乙");
    EXPECT_EQ(AccessibilityAnnouncer::lastAnnouncement(), "二");
    NoticeBarContent settling = content("文件在磁盘上已被其他程序修改。", {"重新载入"});
    settling.actions[0].handler = [&] { bar->hide(); };
    bar->show(settling);
    click(view->buttons()[0]);
    EXPECT_FALSE(revealed());
    EXPECT_FALSE(bar->content());
    gtk_window_destroy(window);
}

}  // namespace
}  // namespace larkspin
