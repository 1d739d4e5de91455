// The window's keys after a menu of it closes on an item chosen with the
// pointer: the group window's own main menu, with the keys pressed through
// XTest on the test's private display.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Document/Document.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/Keyboard.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// A menu item: the item of the popover that holds a label reading `text`.
GtkWidget* menuItem(GtkWidget* popover, const std::string& text) {
    return test::findWidget(popover, [&](GtkWidget* widget) {
        if (std::string_view(G_OBJECT_TYPE_NAME(widget)) != "GtkModelButton") return false;
        return test::findWidget(widget, [&](GtkWidget* inner) {
                   return GTK_IS_LABEL(inner) && text == gtk_label_get_text(GTK_LABEL(inner));
               }) != nullptr;
    });
}

class PopoverFocusReturnDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        test::closeLeftMessages();
        makeController(controllerDependencies());
    }
};

// The pointer passing over a menu item takes the window's focus into the
// menu; once the menu closes on that item (chosen here with Enter, which
// leaves the focus where a click does), the item's action and F9 (the
// window's shortcut) both work, over and over, and the focus is back on the
// widget that had it before the menu.
TEST_F(PopoverFocusReturnDisplay, TheWindowsShortcutsWorkAtOnceAfterAMenuItemChosenWithThePointer) {
    const auto opened = await(controller->openDocument(dir.write("menu.md", "# Menu\n\nbody\n"), true));
    auto* document = dynamic_cast<Document*>(opened.document.get());
    ASSERT_NE(document, nullptr);
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() >= 1; })) << "no render";
    ASSERT_EQ(pageServices.tabGroups.all().size(), 1u);
    TabGroupWindow& group = *pageServices.tabGroups.all().front();
    auto* page = dynamic_cast<DocumentPage*>(document->window());
    ASSERT_NE(page, nullptr);

    // Before any menu, F9 reaches the page.
    bool shown = page->isSidebarShown();
    ASSERT_TRUE(test::pressKey(group.window(), XK_F9));
    ASSERT_TRUE(test::waitFor([&] { return page->isSidebarShown() != shown; })) << "F9 went nowhere";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // The widget that has the focus before the menu: the find button, not
        // the page (which takes it only when the one before is gone).
        ASSERT_TRUE(gtk_widget_grab_focus(group.findButton()));
        ASSERT_EQ(gtk_root_get_focus(GTK_ROOT(group.window())), group.findButton());
        GtkMenuButton* button = GTK_MENU_BUTTON(group.menuButton());
        gtk_menu_button_popup(button);
        GtkWidget* popover = GTK_WIDGET(gtk_menu_button_get_popover(button));
        ASSERT_NE(popover, nullptr);
        ASSERT_TRUE(test::waitFor([&] { return gtk_widget_get_mapped(popover); })) << "the menu never showed";
        // The menu takes the focus on its way up.
        ASSERT_TRUE(test::waitFor([&] {
            GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(group.window()));
            return focus && gtk_widget_is_ancestor(focus, popover);
        })) << "the menu never took the focus";
        GtkWidget* item = menuItem(popover, "目录");
        ASSERT_NE(item, nullptr) << "no such item in the window's menu";
        // What the pointer does over an item: the menu gives it the focus.
        ASSERT_TRUE(gtk_widget_grab_focus(item));
        ASSERT_EQ(gtk_root_get_focus(GTK_ROOT(group.window())), item);
        // Chosen (Enter leaves the focus where a click does).
        shown = page->isSidebarShown();
        ASSERT_TRUE(test::pressKey(group.window(), XK_Return));
        ASSERT_TRUE(test::waitFor([&] { return !gtk_widget_get_mapped(popover); })) << "the menu stayed";
        ASSERT_TRUE(test::waitFor([&] { return page->isSidebarShown() != shown; })) << "the item did nothing";

        // The keys go to the window at once.
        shown = page->isSidebarShown();
        ASSERT_TRUE(test::pressKey(group.window(), XK_F9));
        ASSERT_TRUE(test::waitFor([&] { return page->isSidebarShown() != shown; }))
            << "F9 went nowhere after the menu";
        EXPECT_EQ(gtk_root_get_focus(GTK_ROOT(group.window())), group.findButton())
            << "the focus went elsewhere than back to the widget that had it";
    }
}

}  // namespace
}  // namespace larkspin
