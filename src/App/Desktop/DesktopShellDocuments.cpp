#include "App/Desktop/DesktopShellDocuments.hpp"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <optional>
#include <set>

#include "Document/Document.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Window/Desktop/DesktopDocumentController.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin {

DesktopShellDocuments::DesktopShellDocuments(std::shared_ptr<DesktopDocumentController> controller,
                                             GtkApplication* application,
                                             SessionChanges& sessionChanges)
    : controller_(std::move(controller)), application_(application) {
    controller_->onDocumentsChanged = [this] { noteChanged(); };
    // Pages coming, going or selected change what the menus offer.
    sessionChanged_ = sessionChanges.subscribe([this] { noteChanged(); });
}

DesktopShellDocuments::~DesktopShellDocuments() {
    sessionChanged_.reset();
    controller_->onDocumentsChanged = nullptr;
    if (changeSource_) g_source_remove(changeSource_);
}

std::size_t DesktopShellDocuments::documentCount() const { return controller_->registry().size(); }

std::size_t DesktopShellDocuments::flushDraftsNow() { return controller_->flushDraftsNow(); }

void DesktopShellDocuments::flushEveryDraftAndWait() { controller_->flushEveryDraftAndWait(); }

void DesktopShellDocuments::reviewBeforeQuit(std::function<void(bool proceed)> done) {
    controller_->reviewBeforeQuit(std::move(done));
}

DocumentPage* DesktopShellDocuments::keyPage() const {
    TabGroupWindow* group = controller_->frontmostGroup();
    return group ? group->selectedPage() : nullptr;
}

namespace {

std::optional<KeyDocumentCommand> keyCommand(DocumentCommand command) {
    switch (command) {
        case DocumentCommand::close: return KeyDocumentCommand::close;
        case DocumentCommand::save: return KeyDocumentCommand::save;
        case DocumentCommand::saveAs: return KeyDocumentCommand::saveAs;
        case DocumentCommand::revert: return KeyDocumentCommand::revert;
        case DocumentCommand::copy:
        case DocumentCommand::selectAll: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

GtkWindow* DesktopShellDocuments::focusedOtherWindow() {
    GListModel* windows = gtk_window_get_toplevels();
    GtkWindow* found = nullptr;
    for (guint index = 0; index < g_list_model_get_n_items(windows) && !found; ++index) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(windows, index));
        // GTK's own passing alerts (a file chooser's error, parented to no
        // window of ours) are left to their buttons.
        const bool gtkAlert = GTK_IS_MESSAGE_DIALOG(window) && !gtk_window_get_application(window);
        if (gtk_window_is_active(window) && gtk_widget_get_visible(GTK_WIDGET(window)) &&
            !gtkAlert && !TabGroupWindow::of(window)) {
            found = window;
        }
        g_object_unref(window);
    }
    return found;
}

bool DesktopShellDocuments::canPerform(DocumentCommand command) const {
    if (command == DocumentCommand::close && focusedOtherWindow()) return true;
    if (const auto document = keyCommand(command)) return controller_->canPerform(*document);
    // Copy and Select All act on the key page's web view.
    return keyPage() != nullptr;
}

void DesktopShellDocuments::perform(DocumentCommand command) {
    if (!canPerform(command)) return;
    if (command == DocumentCommand::close) {
        if (GtkWindow* window = focusedOtherWindow()) {
            gtk_window_close(window);
            return;
        }
    }
    if (const auto document = keyCommand(command)) {
        controller_->perform(*document);
        return;
    }
    DocumentPage* page = keyPage();
    WebKitWebView* webView = page && page->readerView() ? page->readerView()->webView() : nullptr;
    if (!webView) return;
    webkit_web_view_execute_editing_command(webView, command == DocumentCommand::copy
                                                         ? WEBKIT_EDITING_COMMAND_COPY
                                                         : WEBKIT_EDITING_COMMAND_SELECT_ALL);
}

std::int64_t DesktopShellDocuments::numberOf(const DocumentPage* page) const {
    auto [entry, added] = numbers_.try_emplace(page, nextNumber_);
    if (added) ++nextNumber_;
    return entry->second;
}

WindowStateSnapshot DesktopShellDocuments::windowState() const {
    WindowStateSnapshot snapshot;
    const auto documents = controller_->registry().documents();
    snapshot.documentCount = documents.size();
    snapshot.documentPages.resize(documents.size());

    std::set<const DocumentPage*> alive;
    for (TabGroupWindow* group : controller_->tabGroups().all()) {
        const std::vector<DocumentPage*> pages = group->pages();
        std::vector<std::int64_t> numbers;
        for (const DocumentPage* page : pages) numbers.push_back(numberOf(page));
        const DocumentPage* selected = group->selectedPage();
        for (const DocumentPage* page : pages) {
            alive.insert(page);
            WindowStateEntry entry;
            entry.number = numberOf(page);
            entry.hasDocument = true;
            entry.displayName = page->document().displayName();
            entry.isEdited = page->document().isEdited();
            entry.title = page->title();
            entry.groupPages = numbers;
            if (selected) entry.selectedPage = numberOf(selected);
            snapshot.pages.push_back(std::move(entry));
            for (std::size_t index = 0; index < documents.size(); ++index) {
                if (documents[index].get() == &page->document()) {
                    snapshot.documentPages[index].push_back(numberOf(page));
                }
            }
        }
    }
    // Pages gone since the last line give their numbers up.
    std::erase_if(numbers_, [&](const auto& entry) { return !alive.contains(entry.first); });

    if (TabGroupWindow* front = controller_->frontmostGroup()) {
        if (gtk_window_is_active(front->window()) && front->selectedPage()) {
            snapshot.keyPage = numberOf(front->selectedPage());
        }
    }
    // Group windows most recently focused first (GTK's order of the
    // application's windows), each group's selected page first.
    std::vector<TabGroupWindow*> order;
    if (application_) {
        for (GList* item = gtk_application_get_windows(application_); item; item = item->next) {
            if (TabGroupWindow* group = TabGroupWindow::of(GTK_WINDOW(item->data))) order.push_back(group);
        }
    }
    for (TabGroupWindow* group : controller_->tabGroups().all()) {
        if (std::find(order.begin(), order.end(), group) == order.end()) order.push_back(group);
    }
    for (TabGroupWindow* group : order) {
        const DocumentPage* selected = group->selectedPage();
        if (selected) snapshot.frontToBack.push_back(numberOf(selected));
        for (const DocumentPage* page : group->pages()) {
            if (page != selected) snapshot.frontToBack.push_back(numberOf(page));
        }
    }
    return snapshot;
}

SessionSnapshot DesktopShellDocuments::sessionSnapshot(const std::vector<std::string>& opening) const {
    TabGroups& groups = controller_->tabGroups();
    // A group's token is its place among the groups, from 1.
    const std::vector<TabGroupWindow*>& all = groups.all();
    const auto front = std::find(all.begin(), all.end(), controller_->frontmostGroup());
    const std::int64_t frontToken = front == all.end() ? 0 : (front - all.begin()) + 1;
    return withFilesBeingOpened(groups.sessionSnapshot(), frontToken, opening);
}

void DesktopShellDocuments::setChangeHandler(std::function<void()> handler) {
    changed_ = std::move(handler);
    if (!changed_ && changeSource_) {
        g_source_remove(changeSource_);
        changeSource_ = 0;
    }
}

void DesktopShellDocuments::noteChanged() {
    if (changeSource_ || !changed_) return;
    changeSource_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<DesktopShellDocuments*>(data);
            self->changeSource_ = 0;
            if (self->changed_) self->changed_();
            return G_SOURCE_REMOVE;
        },
        this);
}

}  // namespace larkspin
