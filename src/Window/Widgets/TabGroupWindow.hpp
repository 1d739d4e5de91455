#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Actions/ActionTable.hpp"
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
class KeyboardFocusRing;
class PopoverFocusReturn;
class TabFocus;
class TabGroups;

// One window of tabbed document pages: a header bar (sidebar toggle, find,
// the primary menu), a tab bar and a tab view. The title is the selected
// page's; the header buttons and the shortcuts are "win." actions bound to
// the selected page's table. The selection's effects (the actions, which page
// is active and shown) settle once a turn, however many tabs came or went in
// it, and cost the same whatever the number of tabs. A tab dragged out of the
// bar becomes a new group window; a tab moved between windows keeps its page
// (and the reader in it). The pages are kept by the window's `TabGroups` and
// go when their tab closes or their window is destroyed; a window whose last
// tab left closes. A window asked to close, or left empty, while a tab of it
// is being dragged first gives that tab a window of its own. The window owns this object. Main thread.
class TabGroupWindow {
public:
    // A new, not yet presented window of `groups`; `application` may be
    // null. What changes the session is noted on `sessionChanges` (windows
    // made from this one note on the same).
    static TabGroupWindow& create(TabGroups& groups, GtkApplication* application,
                                  SessionChanges sessionChanges);
    // The group of a window made by `create`, or null.
    static TabGroupWindow* of(GtkWindow* window);

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
    friend class TabGroups;

    TabGroupWindow(TabGroups& groups, GtkApplication* application, SessionChanges sessionChanges);
    ~TabGroupWindow();
    DocumentPage* pageOf(GtkWidget* child) const;
    void build();
    void selectionChanged();
    // The selection's other effects: the page's width, the window's actions,
    // the active page and the page shown, at most once a turn.
    void settleSelection();
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
    static gboolean closeRequested(GtkWindow*, gpointer self);
    static void activeChanged(GObject*, GParamSpec*, gpointer self);
    static void resized(GtkWidget*, int width, int height, gpointer self);

    TabGroups& groups_;  // holds this window's pages
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
    // The one page told its window is active (the selected one, while the
    // window is).
    DocumentPage* activePage_ = nullptr;
    bool settleScheduled_ = false;
    // What the window's actions answer for while no page is selected: the
    // pages' shape, every action disabled.
    const ActionTable idleActions_;
    std::unique_ptr<ActionMapBinding> binding_;
    std::unique_ptr<PopoverFocusReturn> focusReturn_;
    std::unique_ptr<TabFocus> tabFocus_;
    std::unique_ptr<KeyboardFocusRing> focusRing_;
    SignalConnection closeRequest_, destroy_, active_, selected_, attached_, detached_, close_, create_,
        resize_;
};

}  // namespace larkspin
