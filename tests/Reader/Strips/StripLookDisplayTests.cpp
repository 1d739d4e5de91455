// The strips above the page as a user sees them in a 1000×720 window under Xvfb: the
// find strip, the notice bar, the banner and the status page, in every theme
// under both of libadwaita's colour schemes. Their place and size, and the
// contrast of every text and icon, measured from what GTK draws.

#include <adwaita.h>
#include <gmock/gmock.h>
#include <fmt/format.h>

#include "Reader/Strips/StripColors.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/Strips/FindBarState.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Reader/Widgets/NoticeBarViewController.hpp"
#include "Reader/Widgets/FindBarViewController.hpp"

namespace larkspin::test {
namespace {

using Tone = NoticeBarContent::Tone;

class StripLookDisplayTest : public ReaderDisplayTest {
protected:
    void SetUp() override {
        ReaderDisplayTest::SetUp();
        window = GTK_WINDOW(gtk_window_new());
        gtk_window_set_default_size(window, 1000, 720);
        GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_box_append(GTK_BOX(page), findView->widget());
        gtk_box_append(GTK_BOX(page), barView->widget());
        gtk_box_append(GTK_BOX(page), view->widget());
        gtk_window_set_child(window, page);
        gtk_window_present(window);
    }
    void TearDown() override {
        adw_style_manager_set_color_scheme(adw_style_manager_get_default(), ADW_COLOR_SCHEME_DEFAULT);
        ReaderDisplayTest::TearDown();
    }
    // Waits until GTK has drawn two more frames: styles and sizes are in force.
    bool settled() {
        int frames = 0;
        const guint tick = gtk_widget_add_tick_callback(
            GTK_WIDGET(window),
            +[](GtkWidget*, GdkFrameClock*, gpointer count) -> gboolean {
                ++*static_cast<int*>(count);
                return G_SOURCE_CONTINUE;
            },
            &frames, nullptr);
        const bool drawn = waitFor([&] { return frames >= 3; });
        gtk_widget_remove_tick_callback(GTK_WIDGET(window), tick);
        return drawn;
    }
    void showFindStrip(std::int64_t matches, std::int64_t active) {
        FindBarState state;
        state.query = "needle";
        state.matchCount = matches;
        state.activeIndex = active;
        findView->render(state);
        findView->setRevealed(true);
    }
    void showNotice(Tone tone, const Theme& theme, std::string message = "文件在磁盘上已被其他程序修改。") {
        bar->applyTheme(theme);
        NoticeBarContent content{tone, std::move(message), {}, ExternalIssueKind::saveFailed};
        content.actions.push_back({"重新载入", false, [] {}});
        content.actions.push_back({"保留我的版本", false, [] {}});
        bar->show(content);
    }
    graphene_rect_t bounds(GtkWidget* widget, GtkWidget* in) {
        graphene_rect_t rect = GRAPHENE_RECT_INIT(0, 0, 0, 0);
        EXPECT_TRUE(gtk_widget_compute_bounds(widget, in, &rect));
        return rect;
    }

    std::shared_ptr<FindBarViewController> findView = FindBarViewController::create();
    std::shared_ptr<NoticeBarViewController> barView = NoticeBarViewController::create();
    std::shared_ptr<NoticeBarController> bar =
        NoticeBarController::create(barView, ThemeCatalog::theme(ThemeID::porcelain));
};

// The contrast failures of one drawn strip: every text against what lies
// behind it, every shown icon (sensitive ones; disabled controls are exempt)
// against its own background.
std::vector<std::string> contrastFailures(GtkWidget* strip, const std::string& where) {
    std::vector<std::string> failures;
    DrawnWidget drawn(strip);
    if (!drawn.drawn() || drawn.texts().empty()) return {where + ": nothing drawn"};
    drawn.save(where);
    for (const auto& text : drawn.texts()) {
        const ColorComponents behind = drawn.background(text.bounds);
        const double ratio = ColorContrast::ratio(ColorContrast::over(text.color, behind), behind);
        if (ratio < ColorContrast::minimumForText) {
            failures.push_back(fmt::format("{}: a text at x {} y {} reaches {:.2f}:1", where, text.bounds.origin.x,
                                           text.bounds.origin.y, ratio));
        }
    }
    std::vector<GtkWidget*> pending{strip};
    while (!pending.empty()) {
        GtkWidget* widget = pending.back();
        pending.pop_back();
        if (!gtk_widget_is_drawable(widget) || !gtk_widget_is_sensitive(widget)) continue;
        if (GTK_IS_IMAGE(widget) && gtk_image_get_storage_type(GTK_IMAGE(widget)) != GTK_IMAGE_EMPTY) {
            const double ratio = drawn.strongestContrast(drawn.boundsOf(widget));
            if (ratio < ColorContrast::minimumForIcons) {
                failures.push_back(fmt::format("{}: icon {} reaches {:.2f}:1", where,
                                               gtk_image_get_icon_name(GTK_IMAGE(widget)) ?: "?", ratio));
            }
        }
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
            pending.push_back(child);
        }
    }
    return failures;
}

TEST_F(StripLookDisplayTest, EveryTextAndIconIsReadableInEveryThemeAndScheme) {
    showFindStrip(342, 0);
    view->showBanner("链接没有打开：找不到 other.md。", "知道了", {}, {});
    std::vector<std::string> failures;
    for (const ThemeID id : allThemeIDs) {
        const Theme theme = ThemeCatalog::theme(id);
        for (const auto scheme : {ADW_COLOR_SCHEME_FORCE_LIGHT, ADW_COLOR_SCHEME_FORCE_DARK}) {
            adw_style_manager_set_color_scheme(adw_style_manager_get_default(), scheme);
            const std::string name = std::string(rawValue(id)) + (scheme == ADW_COLOR_SCHEME_FORCE_DARK ? "-dark" : "-light");
            view->showStatus({"Web 内容进程反复终止", "3 秒内终止了 2 次，已停止自动重建。", std::nullopt, "重试"},
                             theme, {});
            for (const Tone tone : {Tone::warning, Tone::error, Tone::info}) {
                showNotice(tone, theme);
                ASSERT_TRUE(settled());
                const std::string toneName = tone == Tone::warning ? "warning" : tone == Tone::error ? "error" : "info";
                for (const auto& failure : contrastFailures(barView->bar(), name + "-notice-" + toneName)) {
                    failures.push_back(failure);
                }
            }
            // The notice bar's buttons hovered and pressed, drawn from its palette.
            for (const auto state : {GTK_STATE_FLAG_PRELIGHT, GTK_STATE_FLAG_ACTIVE}) {
                for (GtkWidget* button : barView->buttons()) gtk_widget_set_state_flags(button, state, FALSE);
                ASSERT_TRUE(settled());
                const std::string stateName = state == GTK_STATE_FLAG_PRELIGHT ? "hover" : "active";
                for (const auto& failure : contrastFailures(barView->bar(), name + "-notice-" + stateName)) {
                    failures.push_back(failure);
                }
                for (GtkWidget* button : barView->buttons()) gtk_widget_unset_state_flags(button, state);
            }
            for (const auto& failure : contrastFailures(gtk_revealer_get_child(GTK_REVEALER(findView->widget())), name + "-find")) {
                failures.push_back(failure);
            }
            for (const auto& failure : contrastFailures(view->bannerView()->widget(), name + "-banner")) {
                failures.push_back(failure);
            }
            for (const auto& failure : contrastFailures(view->statusView()->widget(), name + "-status")) {
                failures.push_back(failure);
            }
        }
    }
    EXPECT_THAT(failures, ::testing::IsEmpty());
}

TEST_F(StripLookDisplayTest, TheStripsAreAlikeAndTheCounterKeepsItsWidth) {
    showFindStrip(342, 0);
    showNotice(Tone::warning, ThemeCatalog::theme(ThemeID::porcelain));
    view->showBanner("链接没有打开：找不到 other.md。", "知道了", {}, {});
    ASSERT_TRUE(waitFor([&] {
        return gtk_revealer_get_child_revealed(GTK_REVEALER(findView->widget())) &&
               gtk_revealer_get_child_revealed(GTK_REVEALER(barView->widget()));
    }));
    ASSERT_TRUE(settled());
    GtkWidget* banner = view->bannerView()->widget();
    EXPECT_EQ(gtk_widget_get_height(findView->widget()), ReaderWidgetStyle::stripHeight);
    EXPECT_EQ(gtk_widget_get_height(barView->widget()), ReaderWidgetStyle::stripHeight);
    EXPECT_EQ(gtk_widget_get_height(banner), ReaderWidgetStyle::stripHeight);
    // The notice's and the banner's icons and texts start at the same places.
    EXPECT_EQ(bounds(barView->icon(), barView->bar()).origin.x, bounds(view->bannerView()->icon(), banner).origin.x);
    EXPECT_EQ(bounds(barView->messageLabel(), barView->bar()).origin.x,
              bounds(view->bannerView()->label(), banner).origin.x);
    // The same font everywhere.
    const auto fontSize = [](GtkWidget* label) {
        return pango_font_description_get_size(pango_context_get_font_description(gtk_widget_get_pango_context(label)));
    };
    EXPECT_EQ(fontSize(barView->messageLabel()), fontSize(view->bannerView()->label()));
    EXPECT_EQ(fontSize(barView->messageLabel()), fontSize(findView->countLabel()));

    // Stepping from 1 to 342 of 342 moves nothing after the counter.
    const float stepper = bounds(findView->previousButton(), findView->widget()).origin.x;
    showFindStrip(342, 341);
    ASSERT_TRUE(settled());
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(findView->countLabel())), "342 / 342");
    EXPECT_EQ(bounds(findView->previousButton(), findView->widget()).origin.x, stepper);

    // In a narrow window a long notice wraps to two lines rather than losing its end.
    gtk_window_set_default_size(window, 640, 720);
    showNotice(Tone::error, ThemeCatalog::theme(ThemeID::porcelain),
               "无法保存“一份很长的文件名称的笔记.md”：没有写入所在文件夹的权限，请检查文件夹的权限后再试。");
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_width(GTK_WIDGET(window)) == 640; }));
    ASSERT_TRUE(settled());
    PangoLayout* layout = gtk_label_get_layout(GTK_LABEL(barView->messageLabel()));
    EXPECT_EQ(pango_layout_get_line_count(layout), 2);
    EXPECT_FALSE(pango_layout_is_ellipsized(layout));
    const graphene_rect_t label = bounds(barView->messageLabel(), barView->widget());
    EXPECT_LE(label.origin.y + label.size.height, gtk_widget_get_height(barView->widget()));
}

TEST_F(StripLookDisplayTest, TheStatusPageHasExactlyTheReadersRectangle) {
    std::string preview;
    for (int line = 1; line <= 400; ++line) preview += "第 " + std::to_string(line) + " 行：只读预览的文字。\n";
    const std::string longDetail = std::string(40, 'x') + "文件大小为 12.5 MiB，超过 10 MiB，只显示前 1 MiB 的只读预览；"
                                   "要查看全部内容，请用别的程序打开它。这是一段足够长、会换成好几行的说明文字。";
    const struct {
        const char* name;
        DocumentStatusContent content;
        const char* icon;
    } pages[] = {
        {"preview", {"文件太大，只显示只读预览", longDetail, preview, std::nullopt}, "text-x-generic-symbolic"},
        {"crash", {"Web 内容进程反复终止", "3 秒内终止了 2 次，已停止自动重建。", std::nullopt, "重试"}, "computer-fail-symbolic"},
        {"failure", {"无法读取文件", "没有读取它的权限。", std::nullopt, std::nullopt}, "dialog-warning-symbolic"},
    };
    for (const bool banner : {false, true}) {
        if (banner) view->showBanner("图片 a.png 无权读取", "知道了", {}, {});
        for (const auto& page : pages) {
            SCOPED_TRACE(std::string(page.name) + (banner ? " under the banner" : ""));
            for (const auto scheme : {ADW_COLOR_SCHEME_FORCE_LIGHT, ADW_COLOR_SCHEME_FORCE_DARK}) {
                adw_style_manager_set_color_scheme(adw_style_manager_get_default(), scheme);
                const bool dark = scheme == ADW_COLOR_SCHEME_FORCE_DARK;
                view->showStatus(page.content, ThemeCatalog::theme(dark ? ThemeID::graphite : ThemeID::porcelain), {});
                ASSERT_TRUE(settled());
                DocumentStatusView* status = view->statusView();
                GtkWidget* root = view->widget();
                const graphene_rect_t area = bounds(status->widget(), root);
                const int top = banner ? gtk_widget_get_height(view->bannerView()->widget()) : 0;
                EXPECT_EQ(area.origin.y, top);
                EXPECT_EQ(area.size.height + top, gtk_widget_get_height(root));
                EXPECT_EQ(area.size.width, gtk_widget_get_width(root));
                EXPECT_STREQ(gtk_image_get_icon_name(GTK_IMAGE(status->icon())), page.icon);
                if (page.content.preview) {
                    const graphene_rect_t scroller = bounds(status->previewScroller(), status->widget());
                    EXPECT_GT(scroller.size.height, 100);
                    EXPECT_LE(scroller.origin.y + scroller.size.height, area.size.height);
                } else {
                    // Centred: as much room above the texts as below them.
                    const graphene_rect_t icon = bounds(status->icon(), status->widget());
                    GtkWidget* last = page.content.actionTitle ? status->actionButton() : status->detailLabel();
                    const graphene_rect_t end = bounds(last, status->widget());
                    EXPECT_NEAR(icon.origin.y, area.size.height - (end.origin.y + end.size.height), 14);
                }
                DrawnWidget(window ? GTK_WIDGET(window) : root).save(std::string("status-") + page.name +
                                                                   (banner ? "-banner" : "") + (dark ? "-dark" : "-light"));
            }
        }
    }
}

}  // namespace
}  // namespace larkspin::test
