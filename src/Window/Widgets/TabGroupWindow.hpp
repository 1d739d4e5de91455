#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Window/SessionChanges.hpp"
#include "Window/SessionSnapshot.hpp"

typedef struct _AdwTabPage AdwTabPage;
typedef struct _AdwTabView AdwTabView;
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkEventController GtkEventController;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

class ActionMapBinding;
class DocumentPage;
class PopoverFocusReturn;

// One window of tabbed document pages: a header bar (sidebar toggle, find,
// the primary menu), a tab bar and a tab view. The title is the selected
// page's; the header buttons and the shortcuts are "win." actions bound to
// the selected page's table, rebound whenever the selection changes or a page
// comes or goes. A tab dragged out of the bar becomes a new group window; a
// tab moved between windows keeps its page (and the reader in it). Pages are
// owned here by their root widget and go when their tab closes or their
// window is destroyed; a window whose last tab left closes. The window owns this object. Main
// thread.
class TabGroupWindow {
public:
    // A new, not yet presented window; `application` may be null. What
    // changes the session is noted on `sessionChanges` (windows made from
    // this one note on the same).
    static TabGroupWindow& create(GtkApplication* application, SessionChanges sessionChanges);
    // The group of a window made by `create`, or null.
    static TabGroupWindow* of(GtkWindow* window);
    // The page whose root is `child`, or null.
    static DocumentPage* pageOf(GtkWidget* child);

    // Every group window alive, oldest first.
    static std::vector<TabGroupWindow*> all();
    // The session as the windows stand: per group its size and its titled
    // pages (a page without a file is left out) in tab order, each with the
    // group's token (its place among the groups, from 1), its index and
    // whether it is selected.
    static SessionSnapshot sessionSnapshot();

    TabGroupWindow(const TabGroupWindow&) = delete;
    TabGroupWindow& operator=(const TabGroupWindow&) = delete;

    GtkWindow* window() const { return window_; }
    AdwTabView* tabView() const { return view_; }
    GtkWidget* tabBar() const { return bar_; }
    GtkWidget* sidebarButton() const { return sidebarButton_; }
    GtkWidget* findButton() const { return findButton_; }
    GtkWidget* menuButton() const { return menuButton_; }
    // The window's keyboard shortcuts (F9, Ctrl+F, …) as named actions.
    GtkEventController* shortcuts() const { return shortcuts_; }
    // The width the size sensor last reported; 0 before the first layout.
    double width() const { return width_; }

    // Adds a page at the end, selected when `select`.
    AdwTabPage* add(std::unique_ptr<DocumentPage> page, bool select = true);
    DocumentPage* selectedPage() const;
    // Asks the bound page's actions again whether they are enabled.
    void refreshActions();
    std::vector<DocumentPage*> pages() const;
    // Moves `page` into `target` at `position` (as a tab dragged between
    // windows).
    void movePage(DocumentPage& page, TabGroupWindow& target, int position);
    // Moves `page` into a new group window and presents it.
    TabGroupWindow& tearOff(DocumentPage& page);

private:
    TabGroupWindow(GtkApplication* application, SessionChanges sessionChanges);
    ~TabGroupWindow();
    void build();
    void selectionChanged();
    // The selected page is told it is shown a turn later, once the window is
    // laid out: the tab view selects the first page it is given, which may
    // not be the one selected after it.
    void scheduleShowSelected();
    void bindSelected();
    void updateActive();
    void widthChanged(double width, double height);
    SessionGroup sessionGroup(std::int64_t token) const;

    static void destroyed(GtkWidget*, gpointer self);
    static void selectedPageChanged(GObject*, GParamSpec*, gpointer self);
    static void pageAttached(AdwTabView*, AdwTabPage* page, int, gpointer self);
    static void pageDetached(AdwTabView*, AdwTabPage* page, int, gpointer self);
    static gboolean closePage(AdwTabView* view, AdwTabPage* page, gpointer self);
    static AdwTabView* createWindow(AdwTabView*, gpointer self);
    static void activeChanged(GObject*, GParamSpec*, gpointer self);
    static void resized(GtkWidget*, int width, int height, gpointer self);

    GtkApplication* application_ = nullptr;
    SessionChanges sessionChanges_;
    GtkWindow* window_ = nullptr;  // owns this object
    AdwTabView* view_ = nullptr;
    // The window lets go of its content before it says it is destroyed: the
    // view must last until the pages in it are ended.
    GObjectPtr<AdwTabView> viewHold_;
    GtkWidget* bar_ = nullptr;
    GtkWidget* sidebarButton_ = nullptr;
    GtkWidget* findButton_ = nullptr;
    GtkWidget* menuButton_ = nullptr;
    GtkWidget* sensor_ = nullptr;
    GtkEventController* shortcuts_ = nullptr;
    double width_ = 0;
    double height_ = 0;
    DocumentPage* bound_ = nullptr;
    bool showScheduled_ = false;
    std::unique_ptr<ActionMapBinding> binding_;
    std::unique_ptr<PopoverFocusReturn> focusReturn_;
    SignalConnection destroy_, active_, selected_, attached_, detached_, close_, create_, resize_;
};

}  // namespace larkspin
