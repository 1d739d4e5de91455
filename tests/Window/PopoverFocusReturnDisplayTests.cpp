// The window's keys after a menu of it closes on an item chosen with the
// pointer: the group window's own main menu, with the keys pressed through
// XTest on the test's private display.
#include <X11/keysym.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Document/Document.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// Keys pressed on the X display, as a keyboard does: each goes to the window
// that has the X keyboard focus, which is given to `window` first (without
// a window manager it would follow the pointer). Xlib and XTest are loaded
// at run time: their headers clash with GoogleTest's names.
bool pressKey(GtkWindow* window, unsigned long keysym) {
    using XidOf = unsigned long (*)(GdkSurface*);
    auto xidOf = reinterpret_cast<XidOf>(::dlsym(RTLD_DEFAULT, "gdk_x11_surface_get_xid"));
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    void* xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    bool pressed = false;
    if (xidOf && x11 && xtst) {
        using Open = void* (*)(const char*);
        using Close = int (*)(void*);
        using Keycode = unsigned char (*)(void*, unsigned long);
        using Fake = int (*)(void*, unsigned, int, unsigned long);
        using Focus = int (*)(void*, unsigned long, int, unsigned long);
        using Sync = int (*)(void*, int);
        auto open = reinterpret_cast<Open>(::dlsym(x11, "XOpenDisplay"));
        auto close = reinterpret_cast<Close>(::dlsym(x11, "XCloseDisplay"));
        auto keycode = reinterpret_cast<Keycode>(::dlsym(x11, "XKeysymToKeycode"));
        auto focus = reinterpret_cast<Focus>(::dlsym(x11, "XSetInputFocus"));
        auto sync = reinterpret_cast<Sync>(::dlsym(x11, "XSync"));
        auto fake = reinterpret_cast<Fake>(::dlsym(xtst, "XTestFakeKeyEvent"));
        void* display = open && close && keycode && focus && sync && fake ? open(nullptr) : nullptr;
        if (display) {
            focus(display, xidOf(gtk_native_get_surface(GTK_NATIVE(window))), 2 /* RevertToParent */,
                  0 /* CurrentTime */);
            const unsigned code = keycode(display, keysym);
            pressed = code != 0 && fake(display, code, 1, 0) && fake(display, code, 0, 0);
            sync(display, 0);
            close(display);
        }
    }
    if (xtst) ::dlclose(xtst);
    if (x11) ::dlclose(x11);
    return pressed;
}

// The first widget under `root` (itself included) that `matches`.
GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& matches) {
    if (matches(root)) return root;
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child)) {
        if (GtkWidget* found = findWidget(child, matches)) return found;
    }
    return nullptr;
}

// A menu item: the item of the popover that holds a label reading `text`.
GtkWidget* menuItem(GtkWidget* popover, const std::string& text) {
    return findWidget(popover, [&](GtkWidget* widget) {
        if (std::string_view(G_OBJECT_TYPE_NAME(widget)) != "GtkModelButton") return false;
        return findWidget(widget, [&](GtkWidget* inner) {
                   return GTK_IS_LABEL(inner) && text == gtk_label_get_text(GTK_LABEL(inner));
               }) != nullptr;
    });
}

class PopoverFocusReturnDisplay : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        // The file choosers of earlier tests in this process leave GTK's
        // modal "could not be displayed" messages behind (the program's own
        // are AdwMessageDialogs); their grab would keep every key from the
        // window.
        std::vector<GtkWindow*> left;
        GListModel* toplevels = gtk_window_get_toplevels();
        for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
            auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, index));
            if (GTK_IS_MESSAGE_DIALOG(window)) left.push_back(window);
            g_object_unref(window);
        }
        for (GtkWindow* window : left) gtk_window_destroy(window);
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
    ASSERT_TRUE(pressKey(group.window(), XK_F9));
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
        ASSERT_TRUE(pressKey(group.window(), XK_Return));
        ASSERT_TRUE(test::waitFor([&] { return !gtk_widget_get_mapped(popover); })) << "the menu stayed";
        ASSERT_TRUE(test::waitFor([&] { return page->isSidebarShown() != shown; })) << "the item did nothing";

        // The keys go to the window at once.
        shown = page->isSidebarShown();
        ASSERT_TRUE(pressKey(group.window(), XK_F9));
        ASSERT_TRUE(test::waitFor([&] { return page->isSidebarShown() != shown; }))
            << "F9 went nowhere after the menu";
        EXPECT_EQ(gtk_root_get_focus(GTK_ROOT(group.window())), group.findButton())
            << "the focus went elsewhere than back to the widget that had it";
    }
}

}  // namespace
}  // namespace larkspin
