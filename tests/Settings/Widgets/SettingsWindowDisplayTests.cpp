#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <fstream>
#include <sstream>

#include "Platform/Async/TaskScope.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Settings/SettingsTestSupport.hpp"
#include "Settings/Widgets/AppearancePage.hpp"
#include "Settings/Widgets/SimplePages.hpp"
#include "Settings/Widgets/SettingsWindowController.hpp"
#include "Settings/Widgets/TypographyPage.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using test::waitFor;

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

SettingsWindowController::Options options() {
    SettingsWindowController::Options o;
    o.info = {"Larkspin", "1.0", "7"};
    return o;
}

class SettingsWindowDisplayTest : public ::testing::Test, protected test::SettingsFixture {
protected:
    void TearDown() override {
        controller.reset();
        MainThread::drainForTesting();
        EXPECT_TRUE(defaults.drainForTesting());
    }
    void open(std::optional<SettingsTab> tab = std::nullopt) {
        if (!controller) {
            controller = std::make_unique<SettingsWindowController>(model, defaults, options());
        }
        controller->show(tab);
    }
    template <typename Page>
    Page& page(SettingsTab tab) {
        return *dynamic_cast<Page*>(controller->page(tab));
    }
    std::unique_ptr<SettingsWindowController> controller;
};

TEST_F(SettingsWindowDisplayTest, ShowingEveryPageStoresNothing) {
    // Values a page could echo back: a quoted family, a weight the body
    // family lacks (the picker shows 700), a half-pixel size, and the rest.
    defaults.setValues({{"typography.bodyFamily", "\"Wide Grotesk\""},
                        {"typography.monoFamily", "Gone Mono"},
                        {"typography.fontWeight", 600},
                        {"typography.fontSizePx", 14.5},
                        {"typography.lineHeightPreset", "loose"},
                        {"typography.wideBlocks", "full"},
                        {"appearanceMode", "dark"},
                        {"selectedLightThemeID", "mist"},
                        {"selectedDarkThemeID", "forest"},
                        {"document.externalChangePolicy", "ask"},
                        {"editor.spellChecking", true}});
    ASSERT_TRUE(defaults.drainForTesting());
    const std::string before = fileBytes(defaults.file());
    const std::size_t writes = defaults.writeCount();
    const std::int64_t revision = model.revision();

    open();
    for (SettingsTab tab : allSettingsTabs) {
        open(tab);
        EXPECT_STREQ(gtk_window_get_title(controller->window()), title(tab).c_str());
    }
    open(SettingsTab::typography);
    auto& typography = page<TypographySettingsPage>(SettingsTab::typography);
    ASSERT_TRUE(waitFor([&] { return typography.familiesLoaded(); }));
    open(SettingsTab::general);
    auto& general = page<GeneralSettingsPage>(SettingsTab::general);
    ASSERT_TRUE(waitFor([&] { return general.loadsForTesting() >= 1; }));

    // What the pages show.
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(typography.sizeLabel())), "14 px");
    auto* weights = gtk_drop_down_get_model(GTK_DROP_DOWN(typography.weightPicker()));
    const guint weight = gtk_drop_down_get_selected(GTK_DROP_DOWN(typography.weightPicker()));
    EXPECT_STREQ(gtk_string_list_get_string(GTK_STRING_LIST(weights), weight), "700 粗");
    GtkWidget* body = typography.familyPicker(TypographyFontRole::body);
    auto* families = gtk_drop_down_get_model(GTK_DROP_DOWN(body));
    EXPECT_STREQ(gtk_string_list_get_string(GTK_STRING_LIST(families),
                                            gtk_drop_down_get_selected(GTK_DROP_DOWN(body))),
                 "Wide Grotesk");
    GtkWidget* mono = typography.familyPicker(TypographyFontRole::mono);
    auto* monoFamilies = gtk_drop_down_get_model(GTK_DROP_DOWN(mono));
    // "系统默认", the stored family that is not installed, then the candidates.
    ASSERT_EQ(g_list_model_get_n_items(monoFamilies), 3u);
    EXPECT_STREQ(gtk_string_list_get_string(GTK_STRING_LIST(monoFamilies), 1), "Gone Mono");
    EXPECT_EQ(gtk_drop_down_get_selected(GTK_DROP_DOWN(mono)), 1u);
    auto& appearancePage = page<AppearanceSettingsPage>(SettingsTab::appearance);
    EXPECT_TRUE(gtk_toggle_button_get_active(
        GTK_TOGGLE_BUTTON(appearancePage.modeButton(AppearanceMode::dark))));
    for (const auto& card : appearancePage.cards()) {
        EXPECT_EQ(card->marks.isCurrent, card->theme.id == ThemeID::forest);
        EXPECT_EQ(card->marks.isRemembered, card->theme.id == ThemeID::mist);
    }

    // A change made elsewhere redraws the pages, and still nothing is echoed.
    typography.shown();
    typography.refresh();
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(fileBytes(defaults.file()), before);
    EXPECT_EQ(model.revision(), revision);
}

// A page's controls may outlive the page (their box is still referenced): a
// click or a change on them afterwards reaches no handler and stores nothing.
TEST_F(SettingsWindowDisplayTest, ControlsThatOutliveTheirPageCallNothing) {
    const std::int64_t revision = model.revision();
    std::vector<GtkWidget*> kept;
    auto keep = [&](SettingsPage& page) { kept.push_back(GTK_WIDGET(g_object_ref_sink(page.widget()))); };

    auto general = std::make_unique<GeneralSettingsPage>(model);
    keep(*general);
    GtkWidget* clear = general->clearButton();
    general.reset();

    auto appearancePage = std::make_unique<AppearanceSettingsPage>(model);
    keep(*appearancePage);
    GtkWidget* dark = appearancePage->modeButton(AppearanceMode::dark);
    GtkWidget* card = appearancePage->cards().back()->button;
    GtkWidget* restore = appearancePage->restoreButton();
    appearancePage.reset();

    auto typography = std::make_unique<TypographySettingsPage>(model);
    keep(*typography);
    GtkWidget* larger = typography->stepButton(1);
    GtkWidget* slider = typography->slider();
    typography.reset();

    gtk_widget_set_sensitive(clear, TRUE);
    for (GtkWidget* button : {clear, card, restore, larger}) g_signal_emit_by_name(button, "clicked");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(dark), TRUE);
    gtk_range_set_value(GTK_RANGE(slider), 20);
    MainThread::drainForTesting();
    EXPECT_EQ(model.revision(), revision);
    for (GtkWidget* root : kept) g_object_unref(root);
}

TEST_F(SettingsWindowDisplayTest, TheSliderStoresOncePerDragAndTheStepperStopsAtTheEnds) {
    test::NotificationRecorder stored{*center, TypographyController::didChangeNotification};
    open(SettingsTab::typography);
    auto& typography = page<TypographySettingsPage>(SettingsTab::typography);
    GtkRange* slider = GTK_RANGE(typography.slider());

    typography.pressSliderForTesting();
    for (double value : {17.0, 18.0, 19.0, 20.0}) gtk_range_set_value(slider, value);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(typography.sizeLabel())), "20 px");
    EXPECT_TRUE(stored.senders.empty());
    EXPECT_EQ(model.typography().fontSizePx, 16);
    typography.releaseSliderForTesting();
    EXPECT_EQ(stored.senders.size(), 1u);
    EXPECT_EQ(model.typography().fontSizePx, 20);

    // A size changed elsewhere moves the slider.
    model.setFontSize(23);
    EXPECT_EQ(gtk_range_get_value(slider), 23);
    g_signal_emit_by_name(typography.stepButton(1), "clicked");
    EXPECT_EQ(model.typography().fontSizePx, 24);
    EXPECT_FALSE(gtk_widget_get_sensitive(typography.stepButton(1)));
    const std::size_t posts = stored.senders.size();
    g_signal_emit_by_name(typography.stepButton(1), "clicked");
    EXPECT_EQ(model.typography().fontSizePx, 24);
    EXPECT_EQ(stored.senders.size(), posts);

    // Keyboard or wheel: stored once the changes pause.
    gtk_range_set_value(slider, 15);
    gtk_range_set_value(slider, 14);
    EXPECT_EQ(model.typography().fontSizePx, 24);
    ASSERT_TRUE(waitFor([&] { return model.typography().fontSizePx == 14; }));
    EXPECT_EQ(stored.senders.size(), posts + 1);
}

TEST_F(SettingsWindowDisplayTest, TheSizeSurvivesARelaunchAndClosingOnlyHides) {
    open();
    GtkWindow* window = controller->window();
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(window, &width, &height);
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 648);
    EXPECT_FALSE(defaults.contains(SettingsWindowFrame::key));

    open(SettingsTab::about);
    gtk_window_close(window);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
    open();
    EXPECT_EQ(controller->window(), window);
    EXPECT_EQ(controller->selection().tab(), SettingsTab::about);

    gtk_window_set_default_size(window, 1040, 720);
    EXPECT_EQ(defaults.string(SettingsWindowFrame::key), "1040 720");
    controller.reset();

    // The next run: a new controller over the same preferences.
    open();
    EXPECT_NE(controller->window(), nullptr);
    gtk_window_get_default_size(controller->window(), &width, &height);
    EXPECT_EQ(width, 1040);
    EXPECT_EQ(height, 720);
    EXPECT_EQ(controller->selection().tab(), SettingsTab::general);
}

// Each page opens at its top, whatever the page before was scrolled to; the
// window's own Ctrl+W and Escape close it, ahead of the application's
// shortcuts (Ctrl+W is the application's close command too).
TEST_F(SettingsWindowDisplayTest, EachPageOpensAtItsTopAndItsOwnKeysCloseIt) {
    open(SettingsTab::typography);
    GtkWindow* window = controller->window();
    GtkAdjustment* scroll = gtk_scrolled_window_get_vadjustment(controller->pageScroller());
    ASSERT_TRUE(waitFor([&] {
        return gtk_adjustment_get_upper(scroll) > gtk_adjustment_get_page_size(scroll) + 40;
    })) << "the typography page is taller than the window";
    gtk_adjustment_set_value(scroll, gtk_adjustment_get_upper(scroll));
    ASSERT_GT(gtk_adjustment_get_value(scroll), 0);
    for (SettingsTab tab : {SettingsTab::general, SettingsTab::typography}) {
        open(tab);
        ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(controller->page(tab)->widget()); }));
        EXPECT_EQ(gtk_adjustment_get_value(scroll), 0) << rawValue(tab);
        gtk_adjustment_set_value(scroll, gtk_adjustment_get_upper(scroll));
    }

    GtkShortcutController* keys = nullptr;
    GListModel* controllers = gtk_widget_observe_controllers(GTK_WIDGET(window));
    for (guint i = 0; i < g_list_model_get_n_items(controllers); ++i) {
        auto* item = static_cast<GtkEventController*>(g_list_model_get_item(controllers, i));
        if (GTK_IS_SHORTCUT_CONTROLLER(item) &&
            std::string_view(gtk_event_controller_get_name(item) ?: "") == "larkspin-settings-keys") {
            keys = GTK_SHORTCUT_CONTROLLER(item);
        }
        g_object_unref(item);
    }
    g_object_unref(controllers);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(gtk_shortcut_controller_get_scope(keys), GTK_SHORTCUT_SCOPE_LOCAL);
    EXPECT_EQ(gtk_event_controller_get_propagation_phase(GTK_EVENT_CONTROLLER(keys)),
              GTK_PHASE_CAPTURE);
    for (const char* key : {"<Control>w", "Escape"}) {
        open();
        ASSERT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window)));
        bool ran = false;
        for (guint i = 0; i < g_list_model_get_n_items(G_LIST_MODEL(keys)); ++i) {
            auto* shortcut = GTK_SHORTCUT(g_list_model_get_item(G_LIST_MODEL(keys), i));
            GtkShortcutTrigger* trigger = gtk_shortcut_trigger_parse_string(key);
            GtkShortcutTrigger* alternatives = gtk_shortcut_get_trigger(shortcut);
            bool matches = false;
            if (GTK_IS_ALTERNATIVE_TRIGGER(alternatives)) {
                for (GtkShortcutTrigger* one :
                     {gtk_alternative_trigger_get_first(GTK_ALTERNATIVE_TRIGGER(alternatives)),
                      gtk_alternative_trigger_get_second(GTK_ALTERNATIVE_TRIGGER(alternatives))}) {
                    matches = matches || gtk_shortcut_trigger_equal(one, trigger);
                }
            } else {
                matches = gtk_shortcut_trigger_equal(alternatives, trigger);
            }
            g_object_unref(trigger);
            if (matches) {
                ran = gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut),
                                                   GTK_SHORTCUT_ACTION_EXCLUSIVE, GTK_WIDGET(window),
                                                   nullptr);
            }
            g_object_unref(shortcut);
        }
        EXPECT_TRUE(ran) << key;
        EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window))) << key;
    }
}

// Choosing a family while the stored one is not installed changes the
// picker's list: the page does it after the picker has finished with the
// choice made in its popup (the sanitizer build sees a use after free).
TEST_F(SettingsWindowDisplayTest, ChoosingAFamilyFromThePopupReplacesTheListSafely) {
    // What GObject says of a freed object it was handed.
    struct Complaints {
        int count = 0;
        guint handler = g_log_set_handler(
            "GLib-GObject", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer self) {
                ++static_cast<Complaints*>(self)->count;
            },
            this);
        ~Complaints() { g_log_remove_handler("GLib-GObject", handler); }
    } complaints;
    defaults.setValues({{"typography.bodyFamily", "Gone Sans"}});
    open(SettingsTab::typography);
    auto& typography = page<TypographySettingsPage>(SettingsTab::typography);
    ASSERT_TRUE(waitFor([&] { return typography.familiesLoaded(); }));
    GtkWidget* body = typography.familyPicker(TypographyFontRole::body);
    GListModel* items = gtk_drop_down_get_model(GTK_DROP_DOWN(body));
    // "系统默认", the stored family, then Code, Duo, Wide Grotesk.
    ASSERT_EQ(g_list_model_get_n_items(items), 5u);
    ASSERT_EQ(gtk_drop_down_get_selected(GTK_DROP_DOWN(body)), 1u);

    // The popup's list.
    g_signal_emit_by_name(body, "activate");
    GtkWidget* list = nullptr;
    std::vector<GtkWidget*> pending{body};
    while (!pending.empty() && !list) {
        GtkWidget* widget = pending.back();
        pending.pop_back();
        if (GTK_IS_LIST_VIEW(widget)) list = widget;
        for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
             child = gtk_widget_get_next_sibling(child)) {
            pending.push_back(child);
        }
    }
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(list); }));
    // The pointer over the row selects it in the popup; the click activates it.
    gtk_selection_model_select_item(gtk_list_view_get_model(GTK_LIST_VIEW(list)), 4, TRUE);
    g_signal_emit_by_name(list, "activate", 4u);
    ASSERT_TRUE(waitFor([&] { return model.family(TypographyFontRole::body) == "Wide Grotesk"; }));
    ASSERT_TRUE(waitFor([&] { return g_list_model_get_n_items(gtk_drop_down_get_model(GTK_DROP_DOWN(body))) == 4u; }));
    EXPECT_EQ(gtk_drop_down_get_selected(GTK_DROP_DOWN(body)), 3u);
    EXPECT_EQ(complaints.count, 0);
}

// A family name longer than any font's, left in the preference file, is
// shown as the system stack, and the page opens at once.
TEST_F(SettingsWindowDisplayTest, AnOverLongStoredFamilyShowsTheSystemStack) {
    defaults.setValues({{"typography.bodyFamily", std::string(100000, 'F')}});
    open(SettingsTab::typography);
    auto& typography = page<TypographySettingsPage>(SettingsTab::typography);
    ASSERT_TRUE(waitFor([&] { return typography.familiesLoaded(); }));
    GtkWidget* body = typography.familyPicker(TypographyFontRole::body);
    EXPECT_EQ(gtk_drop_down_get_selected(GTK_DROP_DOWN(body)), 0u);
    EXPECT_EQ(g_list_model_get_n_items(gtk_drop_down_get_model(GTK_DROP_DOWN(body))), 4u);
}

// Opened for the first time straight onto a tab, the window stays there once
// it is shown and has the focus.
TEST_F(SettingsWindowDisplayTest, TheFirstShowingOpensOnTheTabAskedFor) {
    open(SettingsTab::about);
    GtkWindow* window = controller->window();
    ASSERT_TRUE(waitFor([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }));
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(controller->selection().tab(), SettingsTab::about);
    EXPECT_STREQ(gtk_window_get_title(window), title(SettingsTab::about).c_str());
}

TEST_F(SettingsWindowDisplayTest, TheAboutPageCarriesTheUpdatersGroup) {
    int made = 0;
    controller = std::make_unique<SettingsWindowController>(model, defaults, options());
    controller->setUpdateGroup([&] {
        ++made;
        return gtk_label_new("updates");
    });
    EXPECT_EQ(made, 0);
    open(SettingsTab::about);
    open(SettingsTab::general);
    EXPECT_EQ(made, 1);
}

// A theme card's click reaches an open document's page, through the
// appearance announcement that the document windows follow.
class ThemeCardDisplayTest : public test::ReaderDisplayTest, protected test::SettingsFixture {
protected:
    void TearDown() override {
        controller.reset();
        tasks.cancel();
        test::ReaderDisplayTest::TearDown();
        EXPECT_TRUE(defaults.drainForTesting());
    }
    std::unique_ptr<SettingsWindowController> controller;
    TaskScope tasks;
};

TEST_F(ThemeCardDisplayTest, AClickChangesTheThemeOfAnOpenPage) {
    show();
    render("# Title\n\nText.\n");
    int pushed = 0;
    auto follow = center->addObserver(std::string(AppearanceController::didChangeNotification), nullptr,
                                      [&](const Notification&) {
                                          tasks.spawn(reader->applyAppearance(
                                              appearance.currentTheme(), appearance.themeRevision(),
                                              AccessibilityDisplayOptions::none));
                                          ++pushed;
                                      });
    controller = std::make_unique<SettingsWindowController>(model, defaults, options());
    controller->show(SettingsTab::appearance);
    auto* page = dynamic_cast<AppearanceSettingsPage*>(controller->page(SettingsTab::appearance));
    ASSERT_NE(page, nullptr);
    GtkWidget* midnight = nullptr;
    for (const auto& card : page->cards()) {
        if (card->theme.id == ThemeID::midnight) midnight = card->button;
    }
    ASSERT_NE(midnight, nullptr);
    g_signal_emit_by_name(midnight, "clicked");

    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(model.currentThemeID(), ThemeID::midnight);
    EXPECT_EQ(model.appearanceMode(), AppearanceMode::dark);
    const std::string canvas = ThemeCatalog::theme(ThemeID::midnight).cssVariables().at("--md-canvas");
    ASSERT_TRUE(waitFor([&] {
        return reader->diagnostics().lastTheme &&
               reader->diagnostics().lastTheme->themeID == "midnight";
    }));
    EXPECT_TRUE(waitFor([&] {
        return script("return getComputedStyle(document.documentElement)"
                      ".getPropertyValue('--md-canvas').trim();") == canvas;
    }));
    for (const auto& card : page->cards()) {
        EXPECT_EQ(card->marks.isCurrent, card->theme.id == ThemeID::midnight);
        EXPECT_EQ(card->marks.isRemembered, card->theme.id == ThemeID::porcelain);
    }
}

}  // namespace
}  // namespace larkspin
