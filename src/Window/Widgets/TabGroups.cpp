#include "Window/Widgets/TabGroups.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Platform/Log.hpp"
#include "Window/Desktop/DragEscape.hpp"
#include "Window/Desktop/RootWindowDrops.hpp"
#include "Window/Desktop/TabDragPresses.hpp"
#include "Window/Desktop/TabDragStarts.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

namespace {

constexpr Logger windowLog{"window"};

}  // namespace

struct TabGroups::TabDrag {
    GObjectPtr<GdkDrag> drag;
    std::unique_ptr<DragEscape> escape;
    SignalConnection finished, cancelled;
};

TabGroups::TabGroups() {
    // One watch for the whole process, however many of these are made.
    RootWindowDrops::install();
    TabDragStarts::install();
    TabDragPresses::install();
}

TabGroups::~TabGroups() {
    drags_.clear();
    // A window leaves as it is destroyed: the list changes meanwhile.
    const std::vector<TabGroupWindow*> open = groups_;
    for (TabGroupWindow* group : open) gtk_window_destroy(group->window());
}

DocumentPage* TabGroups::pageOf(GtkWidget* child) const {
    const auto found = pages_.find(child);
    return found == pages_.end() ? nullptr : found->second.get();
}

SessionSnapshot TabGroups::sessionSnapshot() const {
    SessionSnapshot snapshot;
    std::int64_t token = 0;
    for (const TabGroupWindow* group : groups_) {
        SessionGroup kept = group->sessionGroup(++token);
        if (!kept.tabs.empty()) snapshot.groups.push_back(std::move(kept));
    }
    return snapshot;
}

void TabGroups::join(TabGroupWindow& group) { groups_.push_back(&group); }

void TabGroups::leave(TabGroupWindow& group) {
    std::erase(groups_, &group);
    std::erase_if(leftFrom_, [&group](const auto& entry) { return entry.second == &group; });
}

void TabGroups::keep(std::unique_ptr<DocumentPage> page) {
    GtkWidget* child = page->widget();
    pages_[child] = std::move(page);
}

void TabGroups::release(GtkWidget* child) {
    leftFrom_.erase(child);
    const auto found = pages_.find(child);
    if (found == pages_.end()) return;
    std::shared_ptr<DocumentPage> page(std::move(found->second));
    pages_.erase(found);
    MainThread::post([page] {});
}

void TabGroups::tabLeft(GtkWidget* child, TabGroupWindow& group) {
    leftFrom_[child] = &group;
    // The tab bar takes a tab out of its view as the tab's drag begins.
    if (const GObjectPtr<GdkDrag> drag = TabDragStarts::claim(child)) dragBegan(drag.get());
}

void TabGroups::tabArrived(GtkWidget* child) { leftFrom_.erase(child); }

void TabGroups::dragBegan(GdkDrag* drag) {
    auto kept = std::make_unique<TabDrag>();
    kept->drag = GObjectPtr<GdkDrag>::retain(drag);
    kept->escape = std::make_unique<DragEscape>(drag);
    kept->finished = SignalConnection::connect(drag, "dnd-finished", G_CALLBACK(+[](GdkDrag* ended, gpointer self) {
                                                   static_cast<TabGroups*>(self)->dragEnded(ended);
                                               }),
                                               this);
    kept->cancelled = SignalConnection::connect(
        drag, "cancel", G_CALLBACK(+[](GdkDrag* ended, GdkDragCancelReason, gpointer self) {
            static_cast<TabGroups*>(self)->dragEnded(ended);
        }),
        this);
    drags_.push_back(std::move(kept));
    windowLog.info("标签页开始拖动");
}

void TabGroups::dragEnded(GdkDrag* drag) {
    // Whoever ended it (the tab bar, GDK, a cancel from here) has put the
    // tab into a window by now.
    std::erase_if(drags_, [drag](const auto& kept) { return kept->drag.get() == drag; });
}

void TabGroups::endDragsFrom(TabGroupWindow& group) {
    std::vector<GObjectPtr<GdkDrag>> ending;
    for (const auto& kept : drags_) {
        const auto left = leftFrom_.find(TabDragStarts::draggedChild(kept->drag.get()));
        if (left != leftFrom_.end() && left->second == &group) ending.push_back(kept->drag);
    }
    if (!ending.empty()) windowLog.info("窗口要关闭：拖动中的标签页移入新窗口");
    for (const GObjectPtr<GdkDrag>& drag : ending) {
        // As a drop outside every window: the tab bar gives the tab a window
        // of its own, made from `group`'s view while it is still there.
        g_signal_emit_by_name(drag.get(), "cancel", GDK_DRAG_CANCEL_NO_TARGET);
    }
}

void TabGroups::cancelTabDrags() {
    std::vector<GObjectPtr<GdkDrag>> cancelling;
    for (const auto& kept : drags_) cancelling.push_back(kept->drag);
    for (const GObjectPtr<GdkDrag>& drag : cancelling) {
        g_signal_emit_by_name(drag.get(), "cancel", GDK_DRAG_CANCEL_USER_CANCELLED);
    }
}

}  // namespace larkspin
