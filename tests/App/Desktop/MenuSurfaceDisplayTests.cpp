// Every item of the program's menus, as the program builds them: the
// program's services, the document controller with its pages over them, the
// shell's documents, and the shell's menus (`ShellMenus`) on an application
// of their own, with the application's actions, the appearance actions and
// the one menu model; the heading sidebar's context menu and the items that
// end the reader's. Each item must name an action that is registered where
// the item is used, be enabled exactly when it can act (as the shell's own
// refreshes leave it: the shell documents' changes, the appearance's), and
// reach its effect.

#include <adwaita.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/AppActions.hpp"
#include "App/ApplicationServices.hpp"
#include "App/Desktop/ShellMenus.hpp"
#include "App/Desktop/DesktopShellDocuments.hpp"
#include "App/ShellMenu.hpp"
#include "App/ShellShortcuts.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"
#include "Appearance/TypographySettings.hpp"
#include "Document/Document.hpp"
#include "Settings/SettingsTab.hpp"
#include "Reader/Strips/FindBarController.hpp"
#include "Support/Display/Clipboard.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/Keyboard.hpp"
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

// A click of the first pointer button in the middle of `widget`, through the
// X server as a mouse gives it.
bool clickOnX(GtkWidget* widget) {
    GtkNative* native = gtk_widget_get_native(widget);
    graphene_point_t middle = GRAPHENE_POINT_INIT(gtk_widget_get_width(widget) / 2.0f,
                                                  gtk_widget_get_height(widget) / 2.0f);
    graphene_point_t inNative{};
    if (!native || !gtk_widget_compute_point(widget, GTK_WIDGET(native), &middle, &inNative)) return false;
    double surfaceX = 0, surfaceY = 0;
    gtk_native_get_surface_transform(native, &surfaceX, &surfaceY);
    const test::XLibraries libraries;
    void* x11 = libraries.x11;
    void* xtst = libraries.xtst;
    const auto xidOf = libraries.xidOf;
    bool clicked = false;
    if (libraries.loaded()) {
        struct Display;
        auto open = reinterpret_cast<Display* (*)(const char*)>(::dlsym(x11, "XOpenDisplay"));
        auto close = reinterpret_cast<int (*)(Display*)>(::dlsym(x11, "XCloseDisplay"));
        auto warp = reinterpret_cast<int (*)(Display*, unsigned long, unsigned long, int, int, unsigned, unsigned,
                                             int, int)>(::dlsym(x11, "XWarpPointer"));
        auto sync = reinterpret_cast<int (*)(Display*, int)>(::dlsym(x11, "XSync"));
        auto button = reinterpret_cast<int (*)(Display*, unsigned, int, unsigned long)>(
            ::dlsym(xtst, "XTestFakeButtonEvent"));
        Display* display = open && close && warp && sync && button
                               ? open(gdk_display_get_name(gdk_display_get_default()))
                               : nullptr;
        if (display) {
            warp(display, 0, xidOf(gtk_native_get_surface(native)), 0, 0, 0, 0,
                 static_cast<int>(inNative.x + surfaceX), static_cast<int>(inNative.y + surfaceY));
            sync(display, 0);
            test::waitFor([] { return false; }, std::chrono::milliseconds(100));
            clicked = button(display, 1, 1, 0) && button(display, 1, 0, 0);
            sync(display, 0);
            close(display);
        }
    }
    return clicked;
}

class MenuSurfaceDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        // An application of the test's own (a name of its own each time:
        // one stays exported on the session bus, when there is one),
        // registered as the program's is at startup.
        static int made = 0;
        const std::string id = "dev.corvantel.larkspin.menutests" + std::to_string(++made);
        application = GObjectPtr<AdwApplication>::adopt(adw_application_new(id.c_str(), G_APPLICATION_NON_UNIQUE));
        GError* error = nullptr;
        ASSERT_TRUE(g_application_register(G_APPLICATION(application.get()), nullptr, &error))
            << (error ? error->message : "");
        GtkApplication* app = GTK_APPLICATION(application.get());

        // The program's services, controller and shell documents, with a
        // recording file manager and this test's web context.
        services = std::make_unique<ApplicationServices>(defaults, *center,
                                                         ApplicationServices::Options{harness.context(), false});
        DesktopDocumentController::Dependencies dependencies = controllerDependencies();
        dependencies.environment = services->readerEnvironment();
        dependencies.application = app;
        controller = DesktopDocumentController::create(services->windowServices(), std::move(dependencies));
        documents = std::make_shared<DesktopShellDocuments>(controller, app, services->sessionChanges());

        // A file the desktop knows as recent, as the program registers one.
        const std::string uri = "file://" + recentFile.string();
        GtkRecentData recent{};
        recent.mime_type = const_cast<char*>("text/markdown");
        recent.app_name = const_cast<char*>("larkspin");
        recent.app_exec = const_cast<char*>("larkspin %f");
        gtk_recent_manager_add_full(gtk_recent_manager_get_default(), uri.c_str(), &recent);

        // The menus as the application installs them; what only the
        // application's own glue does (its dialogs, quitting) is counted.
        ShellCommands commands;
        commands.about = [this] { ++called["about"]; };
        commands.quit = [this] { ++called["quit"]; };
        commands.open = [this] { ++called["open"]; };
        commands.openRecent = [this](std::string target) { recentOpened.push_back(target); };
        commands.help = [this] { ++called["help"]; };
        commands.documents = documents.get();
        menus = std::make_unique<ShellMenus>(app, *services, std::move(commands), false);
        documents->setChangeHandler([this] { menus->refreshActions(); });
    }
    void TearDown() override {
        closeGroupWindows();
        if (documents) documents->setChangeHandler(nullptr);
        menus.reset();
        documents.reset();
        DocumentControllerDisplayTest::TearDown();
        services.reset();
        MainThread::drainForTesting();
    }

    // Opens `path` as the program does and waits until its page has
    // rendered and the menus have caught up with it.
    DocumentPage& openPage(const std::filesystem::path& path) {
        await(controller->openDocument(path, true));
        EXPECT_TRUE(test::waitFor([&] {
            TabGroupWindow* group = controller->frontmostGroup();
            return group && group->selectedPage() &&
                   group->selectedPage()->document().path() == std::optional(path) &&
                   group->selectedPage()->document().renderCount() > 0 && enabled("app.close");
        }));
        return *controller->frontmostGroup()->selectedPage();
    }
    GMenu* menu() const { return menus->menu(); }

    // The action group an item's prefix names where the item is used.
    GActionGroup* groupOf(const std::string& action) {
        if (action.rfind("app.", 0) == 0) return G_ACTION_GROUP(application.get());
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
    GObjectPtr<AdwApplication> application;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::unique_ptr<ApplicationServices> services;
    std::shared_ptr<DesktopShellDocuments> documents;
    std::unique_ptr<ShellMenus> menus;
    std::map<std::string, int> called;
    std::vector<std::string> recentOpened;
};

TEST_F(MenuSurfaceDisplay, EveryMenuItemIsRegisteredEnabledAsItCanActAndReachesItsEffect) {
    const auto file = dir.write("walk.md", "# Walk heading\n\nSome words to copy.\n");
    DocumentPage& page = openPage(file);

    // The menu as the shell keeps it, once the recent file is in it.
    std::vector<MenuItem> items;
    ASSERT_TRUE(test::waitFor([&] {
        items.clear();
        collect(G_MENU_MODEL(menu()), items);
        return std::any_of(items.begin(), items.end(),
                           [](const MenuItem& item) { return item.action == "app.open-recent"; });
    })) << "no recent file in the menu";
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

    // Every item's keys, the window's as well as the application's, are
    // the application's accelerators: the menu shows them beside the item.
    std::size_t withKeys = 0;
    const std::vector<ShellShortcuts::Entry> shortcuts = ShellShortcuts::all();
    for (const MenuItem& item : items) {
        SCOPED_TRACE(item.label + " → " + item.action);
        const auto entry = std::find_if(shortcuts.begin(), shortcuts.end(),
                                        [&](const ShellShortcuts::Entry& e) { return e.action == item.action; });
        std::set<std::string> expected;
        if (entry != shortcuts.end()) {
            for (const auto accelerator : entry->accelerators) expected.insert(ShellShortcuts::normalized(accelerator));
        }
        std::set<std::string> set;
        gchar** accelerators = gtk_application_get_accels_for_action(GTK_APPLICATION(application.get()),
                                                                      item.action.c_str());
        for (gchar** accelerator = accelerators; accelerator && *accelerator; ++accelerator) {
            set.insert(ShellShortcuts::normalized(*accelerator));
        }
        g_strfreev(accelerators);
        EXPECT_EQ(set, expected);
        if (!expected.empty()) ++withKeys;
    }
    EXPECT_GE(withKeys, 15u);
    for (const char* windowItem : {"win.toggle-sidebar", "win.show-find-bar", "win.copy-file-path"}) {
        gchar** accelerators =
            gtk_application_get_accels_for_action(GTK_APPLICATION(application.get()), windowItem);
        EXPECT_TRUE(accelerators && accelerators[0]) << windowItem << " shows no key";
        g_strfreev(accelerators);
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
    for (const char* glue : {"about", "open", "help", "quit"}) {
        activate(item(std::string("app.") + glue));
        EXPECT_EQ(called[glue], 1) << glue;
    }
    activate(item("app.open-recent"));
    ASSERT_EQ(recentOpened.size(), 1u);
    EXPECT_EQ(ShellMenu::recentPath(recentOpened[0]), std::optional(recentFile));
    // Settings, the shell's own window, is enabled above and left shut.

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
    TypographyController& typography = services->typography();
    activate(item("app.increase-font-size"));
    EXPECT_GT(typography.settings().fontSizePx, TypographySettings::defaultFontSize);
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
    EXPECT_TRUE(test::waitFor([&] { return enabled("app.revert"); }));
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

// A message modal on a document window (the close question of an edited
// document, as the failed update check's message is) holds that window only:
// Settings, opened over it by its key, takes every click and key, and its own
// messages would hold it in turn.
TEST_F(MenuSurfaceDisplay, SettingsOpenedOverAMessageOnADocumentWindowIsNotHeldByIt) {
    DocumentPage& page = openPage(dir.write("held.md", "# Held\n"));
    GtkWindow* documentWindow = controller->frontmostGroup()->window();
    page.document().model().replaceAll("# Edited\n");
    ASSERT_TRUE(test::waitFor([&] { return enabled("app.close"); }));
    g_action_group_activate_action(groupOf("app.close"), "close", nullptr);
    AdwMessageDialog* question = nullptr;
    ASSERT_TRUE(test::waitFor([&] { return (question = test::openMessageDialog()) != nullptr; }));
    ASSERT_EQ(gtk_window_get_transient_for(GTK_WINDOW(question)), documentWindow);

    g_action_group_activate_action(groupOf("app.settings"), "settings", nullptr);
    GtkWindow* settings = nullptr;
    ASSERT_TRUE(test::waitFor([&] {
        settings = test::visibleToplevel([](GtkWindow* window) {
            return std::string_view(gtk_widget_get_name(GTK_WIDGET(window))) == "Orvik.settingsWindow";
        });
        return settings != nullptr;
    }));
    // A click on another tab's row switches to its page.
    GtkWidget* row = test::findWidget(GTK_WIDGET(settings), [](GtkWidget* widget) {
        return GTK_IS_LIST_BOX_ROW(widget) &&
               test::findWidget(widget, [](GtkWidget* inner) {
                   return GTK_IS_LABEL(inner) && title(SettingsTab::appearance) == gtk_label_get_text(GTK_LABEL(inner));
               }) != nullptr;
    });
    ASSERT_NE(row, nullptr);
    ASSERT_NE(gtk_window_get_title(settings), title(SettingsTab::appearance));
    ASSERT_TRUE(test::waitFor([&] { return gtk_widget_get_mapped(row) && gtk_widget_get_width(row) > 0; }));
    ASSERT_TRUE(clickOnX(row));
    EXPECT_TRUE(test::waitFor([&] { return gtk_window_get_title(settings) == title(SettingsTab::appearance); }))
        << "Settings waits for a message it hides";
    gtk_window_close(settings);

    test::pressMessageButton(question, "discard");
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
