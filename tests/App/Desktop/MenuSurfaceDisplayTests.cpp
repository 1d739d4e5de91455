// Every item of the program's menus, built as the program builds them: the
// document controller with its pages, the shell's documents, the
// application's actions and the appearance actions, the one menu model, the
// heading sidebar's context menu and the items that end the reader's. Each
// item must name an action that is registered where the item is used, be
// enabled exactly when it can act, and reach its effect.

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/AppActions.hpp"
#include "App/Desktop/DesktopShellDocuments.hpp"
#include "App/ShellMenu.hpp"
#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/FontChooserPanel.hpp"
#include "Appearance/TypographyController.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Document/Document.hpp"
#include "Platform/Glib/ActionMapBinding.hpp"
#include "Reader/Strips/FindBarController.hpp"
#include "Support/Display/Clipboard.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Web/ReaderContextMenu.hpp"
#include "Window/FilePathMenu.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

struct MenuItem {
    std::string label;
    std::string action;  // "app.…" or "win.…"
    std::optional<std::string> target;
};

void collect(GMenuModel* model, std::vector<MenuItem>& items) {
    for (int index = 0; index < g_menu_model_get_n_items(model); ++index) {
        MenuItem item;
        gchar* text = nullptr;
        if (g_menu_model_get_item_attribute(model, index, G_MENU_ATTRIBUTE_LABEL, "s", &text)) {
            item.label = text;
            g_free(text);
        }
        gchar* action = nullptr;
        if (g_menu_model_get_item_attribute(model, index, G_MENU_ATTRIBUTE_ACTION, "s", &action)) {
            item.action = action;
            g_free(action);
            if (GVariant* target = g_menu_model_get_item_attribute_value(model, index,
                                                                         G_MENU_ATTRIBUTE_TARGET, nullptr)) {
                if (g_variant_is_of_type(target, G_VARIANT_TYPE_STRING))
                    item.target = g_variant_get_string(target, nullptr);
                g_variant_unref(target);
            }
            items.push_back(item);
        }
        GMenuLinkIter* links = g_menu_model_iterate_item_links(model, index);
        GMenuModel* linked = nullptr;
        while (g_menu_link_iter_get_next(links, nullptr, &linked)) {
            collect(linked, items);
            g_object_unref(linked);
        }
        g_object_unref(links);
    }
}

class MenuSurfaceDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        // The reader's context menu ends with the file-path items, as the
        // program's services make every reader web view.
        factory = std::make_unique<ReaderWebViewFactory>(harness.context(), FilePathMenu::describeItems());
        makeController(controllerDependencies());
        documents = std::make_unique<DesktopShellDocuments>(controller, nullptr, pageServices.sessionChanges);

        // The application's actions as the application makes them; what only
        // the application's own glue does (its dialogs, quitting) is counted.
        ShellCommands commands;
        commands.about = [this] { ++called["about"]; };
        commands.settings = [this] { ++called["settings"]; };
        commands.quit = [this] { ++called["quit"]; };
        commands.open = [this] { ++called["open"]; };
        commands.openRecent = [this](std::string path) { recentOpened.push_back(path); };
        commands.help = [this] { ++called["help"]; };
        commands.documents = documents.get();
        appActions = AppActions::make(std::move(commands));
        appGroup = GObjectPtr<GSimpleActionGroup>::adopt(g_simple_action_group_new());
        appBinding = std::make_unique<ActionMapBinding>(G_ACTION_MAP(appGroup.get()), appActions);
        appearance =
            std::make_unique<AppearanceActions>(pageServices.appearance, pageServices.typography, fontPanel);
        appearanceBinding =
            std::make_unique<ActionMapBinding>(G_ACTION_MAP(appGroup.get()), appearance->table());

        recent = GObjectPtr<GMenu>::adopt(g_menu_new());
        ShellMenu::fillRecent(recent.get(), {recentFile});
        menu = ShellMenu::make(G_MENU_MODEL(recent.get()));
    }
    void TearDown() override {
        appearanceBinding.reset();
        appBinding.reset();
        closeGroupWindows();
        documents.reset();
        DocumentControllerDisplayTest::TearDown();
    }

    // Opens `path` as the program does and waits until its page has rendered.
    DocumentPage& openPage(const std::filesystem::path& path) {
        await(controller->openDocument(path, true));
        EXPECT_TRUE(test::waitFor([&] {
            TabGroupWindow* group = controller->frontmostGroup();
            return group && group->selectedPage() &&
                   group->selectedPage()->document().path() == std::optional(path) &&
                   group->selectedPage()->document().renderCount() > 0;
        }));
        appBinding->refresh();
        appearanceBinding->refresh();
        return *controller->frontmostGroup()->selectedPage();
    }

    // The action group an item's prefix names where the item is used.
    GActionGroup* groupOf(const std::string& action) {
        if (action.rfind("app.", 0) == 0) return G_ACTION_GROUP(appGroup.get());
        TabGroupWindow* group = controller->frontmostGroup();
        return group ? G_ACTION_GROUP(group->window()) : nullptr;
    }
    static std::string nameOf(const std::string& action) { return action.substr(action.find('.') + 1); }
    bool registered(const std::string& action) {
        GActionGroup* group = groupOf(action);
        return group && g_action_group_has_action(group, nameOf(action).c_str());
    }
    bool enabled(const std::string& action) {
        GActionGroup* group = groupOf(action);
        return group && g_action_group_get_action_enabled(group, nameOf(action).c_str());
    }
    void activate(const MenuItem& item) {
        GVariant* parameter = item.target ? g_variant_new_string(item.target->c_str()) : nullptr;
        g_action_group_activate_action(groupOf(item.action), nameOf(item.action).c_str(), parameter);
    }
    // A file chooser the page asked for: the toplevel that is a dialog of
    // GTK's file chooser; cancelled when found.
    bool cancelFileChooser() {
        GtkWindow* chooser = test::visibleToplevel(
            [](GtkWindow* window) { return GTK_IS_FILE_CHOOSER(window) && GTK_IS_DIALOG(window); });
        if (chooser) gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        return chooser != nullptr;
    }

    std::filesystem::path recentFile = dir.write("recent.md", "# Recent\n");
    FontChooserPanel fontPanel;
    std::unique_ptr<DesktopShellDocuments> documents;
    ActionTable appActions;
    GObjectPtr<GSimpleActionGroup> appGroup;
    std::unique_ptr<ActionMapBinding> appBinding;
    std::unique_ptr<AppearanceActions> appearance;
    std::unique_ptr<ActionMapBinding> appearanceBinding;
    GObjectPtr<GMenu> recent;
    GObjectPtr<GMenu> menu;
    std::map<std::string, int> called;
    std::vector<std::string> recentOpened;
};

TEST_F(MenuSurfaceDisplay, EveryMenuItemIsRegisteredEnabledAsItCanActAndReachesItsEffect) {
    const auto file = dir.write("walk.md", "# Walk heading\n\nSome words to copy.\n");
    DocumentPage& page = openPage(file);

    std::vector<MenuItem> items;
    collect(G_MENU_MODEL(menu.get()), items);
    ASSERT_GT(items.size(), 20u);
    // The items that stay disabled for a clean document with a file under
    // the default typography: Revert has nothing to go back to, and the
    // type is at its defaults already.
    const std::set<std::string> disabledWhenClean{"app.revert", "app.actual-size",
                                                  "app.restore-theme-typography"};
    for (const MenuItem& item : items) {
        SCOPED_TRACE(item.label + " → " + item.action);
        EXPECT_TRUE(registered(item.action)) << "no such action where the item is used";
        EXPECT_EQ(enabled(item.action), !disabledWhenClean.contains(item.action));
    }

    // The page's context menus: the heading sidebar's, and the items that end
    // the reader's. Both reach the window's actions up the widget tree.
    std::vector<MenuItem> context;
    collect(G_MENU_MODEL(FilePathMenu::makeContextMenu().get()), context);
    for (const auto& described : FilePathMenu::describeItems()) {
        context.push_back({described.title, described.action, std::nullopt});
    }
    ASSERT_EQ(context.size(), 4u);
    for (const MenuItem& item : context) {
        SCOPED_TRACE(item.label + " → " + item.action);
        EXPECT_TRUE(registered(item.action));
        EXPECT_TRUE(enabled(item.action)) << "the document has a file";
    }

    // Effects. The file-path items from the reader's context menu, as the
    // web view activates them: from the reader's widget.
    WebKitContextMenu* readerMenu = webkit_context_menu_new();
    ReaderContextMenu::appendWindowItems(readerMenu, page.readerView()->widget(),
                                         FilePathMenu::describeItems());
    GList* entries = webkit_context_menu_get_items(readerMenu);
    ASSERT_EQ(g_list_length(entries), 2u);
    g_action_activate(webkit_context_menu_item_get_gaction(
                          static_cast<WebKitContextMenuItem*>(g_list_nth_data(entries, 0))),
                      nullptr);
    EXPECT_EQ(test::clipboardText(), file.string());
    g_action_activate(webkit_context_menu_item_get_gaction(
                          static_cast<WebKitContextMenuItem*>(g_list_nth_data(entries, 1))),
                      nullptr);
    EXPECT_TRUE(test::waitFor([&] { return !fileManager.shown().empty(); }));
    EXPECT_EQ(fileManager.shown(), std::vector<std::string>{FileManagerReveal::fileURI(file)});
    g_object_unref(readerMenu);

    // The heading sidebar's pair, from the outline's widget.
    gdk_clipboard_set_text(test::displayClipboard(), "");
    EXPECT_TRUE(gtk_widget_activate_action(page.outline().widget(), "win.copy-file-path", nullptr));
    EXPECT_EQ(test::clipboardText(), file.string());

    // The main menu's items, each to its effect.
    auto item = [&](std::string_view action) {
        for (const MenuItem& candidate : items) {
            if (candidate.action == action) return candidate;
        }
        ADD_FAILURE() << "no menu item for " << action;
        return MenuItem{};
    };
    for (const char* glue : {"about", "settings", "open", "help", "quit"}) {
        activate(item(std::string("app.") + glue));
        EXPECT_EQ(called[glue], 1) << glue;
    }
    activate(item("app.open-recent"));
    EXPECT_EQ(recentOpened, std::vector<std::string>{recentFile.string()});

    const bool sidebar = page.isSidebarShown();
    activate(item("win.toggle-sidebar"));
    EXPECT_NE(page.isSidebarShown(), sidebar);
    activate(item("win.show-find-bar"));
    EXPECT_TRUE(test::waitFor([&] { return page.findBar()->state().isVisible; }));
    page.findBar()->close();

    // Select All, then Copy: the page's text on the clipboard.
    activate(item("app.select-all"));
    activate(item("app.copy"));
    EXPECT_TRUE(test::waitFor([&] {
        const auto text = test::clipboardText();
        return text && text->find("Some words to copy.") != std::string::npos;
    }));

    // A theme item turns its radio on.
    const MenuItem theme = [&] {
        for (const MenuItem& candidate : items) {
            if (candidate.action == "app.select-theme" && candidate.target == "graphite") return candidate;
        }
        return MenuItem{};
    }();
    ASSERT_TRUE(theme.target.has_value());
    activate(theme);
    GVariant* state = g_action_group_get_action_state(groupOf(theme.action), "select-theme");
    ASSERT_NE(state, nullptr);
    EXPECT_STREQ(g_variant_get_string(state, nullptr), "graphite");
    g_variant_unref(state);

    // The appearance and typography items, each to the controllers' state;
    // the last one puts every default back for the tests after this one.
    TypographyController& typography = pageServices.typography;
    activate(item("app.increase-font-size"));
    EXPECT_GT(typography.settings().fontSizePx, TypographySettings::defaultFontSize);
    appearanceBinding->refresh();
    EXPECT_TRUE(enabled("app.actual-size"));
    EXPECT_TRUE(enabled("app.restore-theme-typography"));
    activate(item("app.actual-size"));
    EXPECT_EQ(typography.settings().fontSizePx, TypographySettings::defaultFontSize);
    activate(item("app.decrease-font-size"));
    EXPECT_LT(typography.settings().fontSizePx, TypographySettings::defaultFontSize);
    activate(item("app.restore-theme-typography"));
    EXPECT_EQ(typography.settings().fontSizePx, TypographySettings::defaultFontSize);
    const auto wide = typography.settings().wideBlocks;
    activate(item("app.toggle-wide-blocks"));
    EXPECT_NE(typography.settings().wideBlocks, wide);
    for (const MenuItem& radio : items) {
        if (!radio.target || radio.action == "app.open-recent") continue;
        SCOPED_TRACE(radio.label + " → " + radio.action + " " + *radio.target);
        activate(radio);
        GVariant* now = g_action_group_get_action_state(groupOf(radio.action), nameOf(radio.action).c_str());
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(std::string(g_variant_get_string(now, nullptr)), *radio.target);
        g_variant_unref(now);
    }
    for (const char* panel : {"app.show-body-font-panel", "app.show-mono-font-panel"}) {
        SCOPED_TRACE(panel);
        activate(item(panel));
        GtkWindow* chooser = nullptr;
        EXPECT_TRUE(test::waitFor([&] {
            chooser = test::visibleToplevel([](GtkWindow* window) { return GTK_IS_FONT_CHOOSER(window); });
            return chooser != nullptr;
        })) << "no font panel";
        if (chooser) gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
        MainThread::drainForTesting();
    }
    activate(item("app.restore-all-appearance-defaults"));
    EXPECT_EQ(typography.settings(), TypographySettings::defaults);

    // Save of an unchanged document is a no-op, said so.
    activate(item("app.save"));
    EXPECT_TRUE(test::waitFor([&] { return logs.contains("document", "保存为 no-op"); }));

    // Save As asks for a place.
    activate(item("app.save-as"));
    EXPECT_TRUE(test::waitFor([&] { return cancelFileChooser(); })) << "no save panel";

    // Edited, Revert becomes enabled and asks before the text goes.
    page.document().model().replaceAll("# Changed\n");
    EXPECT_TRUE(test::waitFor([&] {
        appBinding->refresh();
        return enabled("app.revert");
    }));
    activate(item("app.revert"));
    EXPECT_TRUE(test::waitFor([&] { return test::openMessageDialog() != nullptr; })) << "no question";
    if (AdwMessageDialog* question = test::openMessageDialog()) test::pressMessageButton(question, "cancel");
    MainThread::drainForTesting();

    // Close goes through the close review: the edited text is asked about.
    activate(item("app.close"));
    EXPECT_TRUE(test::waitFor([&] { return test::openMessageDialog() != nullptr; }));
    if (AdwMessageDialog* question = test::openMessageDialog()) {
        test::pressMessageButton(question, "discard");
    }
    EXPECT_TRUE(test::waitFor([&] { return controller->documents().empty(); }));
}

// A document without a file offers neither file-path item.
TEST_F(MenuSurfaceDisplay, TheFilePathItemsAreDisabledWithoutAFile) {
    auto untitled = controller->makeUntitledDocument("net.daringfireball.markdown");
    ASSERT_NE(untitled, nullptr);
    controller->addDocument(untitled);
    untitled->makeWindowControllers();
    untitled->showWindows();
    // The window binds its selected page's actions once the selection settles.
    ASSERT_TRUE(test::waitFor([&] {
        return controller->frontmostGroup() != nullptr && registered(FilePathMenu::describeItems().front().action);
    }));
    for (const auto& described : FilePathMenu::describeItems()) {
        EXPECT_TRUE(registered(described.action)) << described.action;
        EXPECT_FALSE(enabled(described.action)) << described.action;
    }
    // Reached anyway (a key press), they do nothing.
    gdk_clipboard_set_text(test::displayClipboard(), "before");
    gtk_widget_activate_action(controller->frontmostGroup()->selectedPage()->widget(),
                               "win.copy-file-path", nullptr);
    gtk_widget_activate_action(controller->frontmostGroup()->selectedPage()->widget(),
                               "win.reveal-in-file-manager", nullptr);
    EXPECT_EQ(test::clipboardText(), "before");
    MainThread::drainForTesting();
    EXPECT_TRUE(fileManager.shown().empty());
}

}  // namespace
}  // namespace larkspin
