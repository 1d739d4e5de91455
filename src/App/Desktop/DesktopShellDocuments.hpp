#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "App/ShellDocuments.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Window/SessionChanges.hpp"

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

class DesktopDocumentController;
class DocumentPage;
class TabGroupWindow;

// `ShellDocuments` on the desktop: the shell's view of the program's
// documents over the document controller and the group windows. The key
// document is the selected page's of the frontmost group window (the active
// one, else the most recently focused). Close, Save, Save As and Revert are
// the controller's (Close through the close review); Copy and Select All act
// on the key page's web view. Changes of documents, pages and selection (what
// `sessionChanges` notes) reach the change handler once, on a later turn.
// Main thread.
class DesktopShellDocuments final : public ShellDocuments {
public:
    DesktopShellDocuments(std::shared_ptr<DesktopDocumentController> controller,
                          GtkApplication* application, SessionChanges& sessionChanges);
    ~DesktopShellDocuments() override;
    DesktopShellDocuments(const DesktopShellDocuments&) = delete;
    DesktopShellDocuments& operator=(const DesktopShellDocuments&) = delete;

    std::size_t documentCount() const override;
    std::size_t flushDraftsNow() override;
    void flushEveryDraftAndWait() override;
    void reviewBeforeQuit(std::function<void(bool proceed)> done) override;
    bool canPerform(DocumentCommand command) const override;
    void perform(DocumentCommand command) override;
    WindowStateSnapshot windowState() const override;
    SessionSnapshot sessionSnapshot(const std::vector<std::string>& opening) const override;
    void setChangeHandler(std::function<void()> handler) override;

    // Something the menus depend on may have changed: the handler runs once
    // on a later turn however often this is called before.
    void noteChanged();

private:
    DocumentPage* keyPage() const;
    // A window of ours with the focus that is not a document window (the
    // About window, a dialog): the close command closes it, not the tab
    // behind it.
    static GtkWindow* focusedOtherWindow();
    std::int64_t numberOf(const DocumentPage* page) const;

    std::shared_ptr<DesktopDocumentController> controller_;
    GtkApplication* application_ = nullptr;
    std::function<void()> changed_;
    unsigned changeSource_ = 0;
    // Each page's number in the window-state line, given on first sight.
    mutable std::map<const DocumentPage*, std::int64_t> numbers_;
    mutable std::int64_t nextNumber_ = 1;
    NotificationObserver sessionChanged_;
};

}  // namespace larkspin
