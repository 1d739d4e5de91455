#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "Window/SessionSnapshot.hpp"

typedef struct _GdkDrag GdkDrag;
typedef struct _GtkWidget GtkWidget;

namespace larkspin {

class DocumentPage;
class TabGroupWindow;

// The program's group windows and every tab page in them. A page moves
// between windows with its tab, so no one window owns it: the pages are kept
// here by their root widget, from the moment a window takes them until their
// tab closes or their window is destroyed. A window joins when it is made
// (`TabGroupWindow::create`) and leaves when it is destroyed. Made once by
// the program's services, which hand it on in `WindowServices`; windows
// still open when it goes are destroyed with it.
//
// A tab being dragged is in no window: the tab bar takes it out of its
// window when the drag begins and puts it into one when the drag ends. The
// drags of tabs are kept here from the moment they begin (`TabDragStarts`)
// until they end, so that a tab is never lost with its drag: Escape cancels
// the drag (`DragEscape`), a tab dropped on the bare desktop gets a window
// (`RootWindowDrops`), and a window that goes while a tab of it is dragged
// first ends that drag with the tab in a window of its own. After the end,
// the press the drag began with is let go (`TabDragPresses`). Main thread.
class TabGroups {
public:
    TabGroups();
    ~TabGroups();
    TabGroups(const TabGroups&) = delete;
    TabGroups& operator=(const TabGroups&) = delete;

    // Every group window alive, oldest first.
    const std::vector<TabGroupWindow*>& all() const { return groups_; }
    // The page whose root is `child`, or null.
    DocumentPage* pageOf(GtkWidget* child) const;
    // The session as the windows stand: per group its size and its titled
    // pages (a page without a file is left out) in tab order, each with the
    // group's token (its place among the groups, from 1), its index and
    // whether it is selected.
    SessionSnapshot sessionSnapshot() const;
    // Puts every tab being dragged back where it came from (the drag
    // cancelled), so that it is in its window when the session is taken at
    // the program's end.
    void cancelTabDrags();

private:
    friend class TabGroupWindow;
    struct TabDrag;

    void join(TabGroupWindow& group);
    void leave(TabGroupWindow& group);
    void keep(std::unique_ptr<DocumentPage> page);
    // Ends the page of `child` a turn later, out of whatever call of it asked
    // for its end.
    void release(GtkWidget* child);
    // The tab of `child` left `group`'s view, or came into a view.
    void tabLeft(GtkWidget* child, TabGroupWindow& group);
    void tabArrived(GtkWidget* child);
    // A tab's drag began (its tab has just left its window): kept until it
    // ends.
    void dragBegan(GdkDrag* drag);
    void dragEnded(GdkDrag* drag);
    // Before `group` goes: each tab being dragged out of it is put into a
    // window of its own, its drag ended as a drop outside every window.
    void endDragsFrom(TabGroupWindow& group);

    std::unordered_map<GtkWidget*, std::unique_ptr<DocumentPage>> pages_;
    std::vector<TabGroupWindow*> groups_;
    // The window each tab in no window left last.
    std::unordered_map<GtkWidget*, TabGroupWindow*> leftFrom_;
    std::vector<std::unique_ptr<TabDrag>> drags_;
};

}  // namespace larkspin
