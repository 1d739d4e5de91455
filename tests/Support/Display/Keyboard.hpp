#pragma once

// Keys pressed on the test's X display through XTest, as a keyboard presses
// them, and the widgets a test looks for among a window's.

#include <dlfcn.h>
#include <gtk/gtk.h>

#include <functional>
#include <vector>

namespace larkspin::test {

// Xlib and XTest, loaded at run time for as long as this lives (their
// headers clash with GoogleTest's names), and GDK's X window of a surface.
struct XLibraries {
    using XidOf = unsigned long (*)(GdkSurface*);

    XLibraries() = default;
    XLibraries(const XLibraries&) = delete;
    XLibraries& operator=(const XLibraries&) = delete;
    ~XLibraries() {
        if (xtst) ::dlclose(xtst);
        if (x11) ::dlclose(x11);
    }

    bool loaded() const { return xidOf && x11 && xtst; }

    XidOf xidOf = reinterpret_cast<XidOf>(::dlsym(RTLD_DEFAULT, "gdk_x11_surface_get_xid"));
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    void* xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
};

// A key pressed and released on the X display, as a keyboard does: it goes
// to the window that has the X keyboard focus, which is given to `window`
// first (without a window manager it would follow the pointer).
inline bool pressKey(GtkWindow* window, unsigned long keysym) {
    const XLibraries libraries;
    void* x11 = libraries.x11;
    void* xtst = libraries.xtst;
    const auto xidOf = libraries.xidOf;
    bool pressed = false;
    if (libraries.loaded()) {
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
    return pressed;
}

// The first widget under `root` (itself included) that `matches`.
inline GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& matches) {
    if (matches(root)) return root;
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child)) {
        if (GtkWidget* found = findWidget(child, matches)) return found;
    }
    return nullptr;
}

// The file choosers of earlier tests in the process leave GTK's modal
// "could not be displayed" messages behind (the program's own are
// AdwMessageDialogs); their grab would keep every key from the windows.
inline void closeLeftMessages() {
    std::vector<GtkWindow*> left;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, index));
        if (GTK_IS_MESSAGE_DIALOG(window)) left.push_back(window);
        g_object_unref(window);
    }
    for (GtkWindow* window : left) gtk_window_destroy(window);
}

}  // namespace larkspin::test
