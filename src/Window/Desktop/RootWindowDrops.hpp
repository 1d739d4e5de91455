#pragma once

namespace larkspin {

// Ends a tab's drag that was dropped on the bare desktop of an X11 display.
// GDK hands a drop on the root window to the toolkit ("Drops for
// GDK_DRAG_PROTO_ROOTWIN must be handled internally", seen with Debian 12's
// GTK 4.8.3 and libadwaita 1.2.2) and reports nothing more: neither the
// drop's end nor a cancel comes, so the tab bar keeps the tab out of every
// window, its drag icon on the screen. Such a drop is finished here a turn
// later, as a drop outside every window, unless the drag has ended by then
// (a GDK that ends such drops itself): the tab bar then puts the tab into a
// window of its own (its view's "create-window"). Whether a drop fell on the
// root window is asked as GDK asks it, input shapes included: beside a
// window, on its invisible shadow, is the desktop. Other displays and other
// drags are left alone. Main thread.
namespace RootWindowDrops {

// Watches the drops of the process's drags from now on, for as long as the
// process lives (a signal emission hook); later calls change nothing.
void install();

}  // namespace RootWindowDrops

}  // namespace larkspin
