#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Protocol/Payloads/BridgeHeading.hpp"
#include "Window/TOCTree.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkListView GtkListView;
typedef struct _GtkSingleSelection GtkSingleSelection;
typedef struct _GtkSignalListItemFactory GtkSignalListItemFactory;
typedef struct _GtkGestureClick GtkGestureClick;
typedef struct _GtkGestureLongPress GtkGestureLongPress;
typedef struct _GtkEventControllerFocus GtkEventControllerFocus;

namespace larkspin {

// The heading outline of a page: a list view over a tree list model (always
// expanded) of the page's headings, with a single selection that follows the
// reader's active heading. `TOCOutline` decides; this shows it. A selection
// made by the highlight never reaches `onSelectHeading`; one the user makes
// (keys, or Enter on a row) does, once, and so does every click on a row,
// the selected one included (it brings its heading back into view). The
// focus coming into the list goes to the selected row and selects nothing. A right click or a long
// press opens the file-path menu (`FilePathMenu`), whose items are the
// window's "win." actions. Main thread.
class OutlineSidebar {
public:
    OutlineSidebar();
    ~OutlineSidebar();
    OutlineSidebar(const OutlineSidebar&) = delete;
    OutlineSidebar& operator=(const OutlineSidebar&) = delete;

    // The root (class "larkspin-outline"): the list in a scrolled window, or
    // the empty-state label; neither before the first heading list.
    GtkWidget* widget() const { return root_.get(); }
    GtkListView* listView() const;
    GtkWidget* emptyLabel() const { return emptyLabel_; }
    GtkSingleSelection* selection() const { return selection_.get(); }
    const TOCOutline& outline() const { return outline_; }
    // How many times the list was rebuilt.
    int rebuildCount() const { return rebuilds_; }
    // The context menu (a GtkPopoverMenu over the file-path menu model),
    // made the first time it is asked for.
    GtkWidget* contextMenu();
    // Opens the context menu pointing at (x, y) in the root's coordinates.
    void showContextMenu(double x, double y);

    // The page's headings after a render; the list is rebuilt only when they
    // changed, and keeps the active heading selected.
    void update(const std::vector<BridgeHeading>& headings);
    // The reader's active heading: selects its row and scrolls it into view.
    void highlight(std::string identifier);

    std::function<void(const BridgeHeading&)> onSelectHeading;

private:
    void rebuild();
    void select(std::size_t node);
    // The list position of a node's row, none when a collapsed row hides it.
    std::optional<unsigned> rowPosition(std::size_t node) const;
    void picked(unsigned position);
    static void selectionChanged(GtkSingleSelection* selection, unsigned, unsigned, gpointer self);
    static void activated(GtkListView* view, unsigned position, gpointer self);
    static void primaryPressed(GtkGestureClick* gesture, int, double, double, gpointer self);
    static void primaryReleased(GtkGestureClick* gesture, int, double x, double y, gpointer self);
    static void primaryStopped(GtkGestureClick* gesture, gpointer self);
    static void focusEntered(GtkEventControllerFocus* controller, gpointer self);
    // The focus, come into the list, goes to the selected row (the heading
    // being read), if it is on another.
    void focusCurrentRow();
    std::optional<unsigned> rowAt(double x, double y) const;
    static void setupRow(GtkSignalListItemFactory*, GObject* item, gpointer self);
    static void bindRow(GtkSignalListItemFactory*, GObject* item, gpointer self);
    static void secondaryPressed(GtkGestureClick* gesture, int, double x, double y, gpointer self);
    static void longPressed(GtkGestureLongPress*, double x, double y, gpointer self);

    TOCOutline outline_;
    GObjectPtr<GtkWidget> root_;
    GtkWidget* scroller_ = nullptr;  // owned by the root's tree
    GtkWidget* list_ = nullptr;
    GtkWidget* emptyLabel_ = nullptr;
    GtkWidget* contextMenu_ = nullptr;  // parented to the root once made; unparented here
    GObjectPtr<GtkSignalListItemFactory> factory_;
    GObjectPtr<GtkSingleSelection> selection_;
    bool programmatic_ = false;
    bool clicking_ = false;  // a primary button is down on the list
    std::optional<unsigned> clickedRow_;  // picked by the last click, until the selection moves
    int rebuilds_ = 0;
    unsigned refocus_ = 0;  // the pending focusCurrentRow
    SignalConnection setup_, bind_, activate_, selectionChanged_, secondaryClick_, longPress_;
    SignalConnection primaryPress_, primaryRelease_, primaryStop_, focusEnter_;
};

}  // namespace larkspin
