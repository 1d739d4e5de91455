#include "Window/Widgets/TabGroups.hpp"

#include <gtk/gtk.h>

#include <algorithm>

#include "Platform/Async/MainThread.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

TabGroups::~TabGroups() {
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

void TabGroups::leave(TabGroupWindow& group) { std::erase(groups_, &group); }

void TabGroups::keep(std::unique_ptr<DocumentPage> page) {
    GtkWidget* child = page->widget();
    pages_[child] = std::move(page);
}

void TabGroups::release(GtkWidget* child) {
    const auto found = pages_.find(child);
    if (found == pages_.end()) return;
    std::shared_ptr<DocumentPage> page(std::move(found->second));
    pages_.erase(found);
    MainThread::post([page] {});
}

}  // namespace larkspin
