#pragma once

namespace larkspin {

// Ends a tab's drag that was dropped on the bare desktop of an X11 display.
// GDK hands a drop on the root window to the toolkit to handle and reports
// nothing more: neither the drop's end nor a cancel comes, so the tab bar
// keeps the tab out of every window, its drag icon on the screen. Such a drop
// is finished here a turn later, as a drop outside every window, and the tab
// bar then puts the tab into a window of its own (its view's
// "create-window"). Watches the drags of the whole process while it lives
// (an emission hook); other displays and other drags are left alone. Main
// thread.
class RootWindowDrops {
public:
    RootWindowDrops();
    ~RootWindowDrops();
    RootWindowDrops(const RootWindowDrops&) = delete;
    RootWindowDrops& operator=(const RootWindowDrops&) = delete;

private:
    void* class_ = nullptr;
    unsigned signal_ = 0;
    unsigned long hook_ = 0;
};

}  // namespace larkspin
