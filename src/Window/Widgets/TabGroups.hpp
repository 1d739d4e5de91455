#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "Window/Desktop/RootWindowDrops.hpp"
#include "Window/SessionSnapshot.hpp"

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
// still open when it goes are destroyed with it. Main thread.
class TabGroups {
public:
    TabGroups() = default;
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

private:
    friend class TabGroupWindow;

    void join(TabGroupWindow& group);
    void leave(TabGroupWindow& group);
    void keep(std::unique_ptr<DocumentPage> page);
    // Ends the page of `child` a turn later, out of whatever call of it asked
    // for its end.
    void release(GtkWidget* child);

    std::unordered_map<GtkWidget*, std::unique_ptr<DocumentPage>> pages_;
    std::vector<TabGroupWindow*> groups_;
    // A tab dropped on the bare desktop goes to a window of its own.
    RootWindowDrops rootDrops_;
};

}  // namespace larkspin
