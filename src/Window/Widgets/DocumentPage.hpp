#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Appearance/Theme.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentWindowHost.hpp"
#include "Platform/Actions/ActionTable.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Protocol/Payloads/BridgeHeading.hpp"
#include "Reader/ReaderEnvironment.hpp"
#include "Window/FindRouting.hpp"
#include "Window/Widgets/ModeContainerViewController.hpp"
#include "Window/PageWorkingSetMember.hpp"
#include "Window/SidebarController.hpp"
#include "Window/WindowServices.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/Widgets/DocumentPageOwner.hpp"
#include "Window/Widgets/OutlineSidebar.hpp"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkPaned GtkPaned;

namespace larkspin {

class Clock;
class NoticeBarController;
class PageReader;
class ReaderView;
class ReaderViewController;
class NoticeBarViewController;
class FindBarController;
class FindBarViewController;
class UserDefaults;
class EditorViewController;
class EditorFindTarget;
class WebViewWorkingSet;

// The tab page of one document: from top to bottom the notice bar, the find
// bar, and a pane of the heading outline beside the mode container that holds
// the reader. Its window actions (sidebar, find, next, previous, use
// selection; with source editing on, the switch into editing and the line
// numbers) are a table the group window binds while the page is selected.
// The group window tells it the window's width; the sidebar controller
// decides what shows. Every signal handler it connects goes with it.
//
// It is its document's window host: built, it attaches the document (which
// gives the reader its location and starts rendering); ended (its tab closed
// or its window destroyed), it detaches and closes the document. It makes its
// reader and is the reader's owner: a render's outcome, clicked links and
// refused files go to the document, its headings and the active heading to
// the outline, and a web process end to the working set
// (`PageWorkingSetMember`). Main thread.
class DocumentPage final : public DocumentWindowHost {
public:
    // The reader is made over `readerView` with `environment` (whose
    // working set, when it has one, decides when it holds a web view); its
    // view is not loaded yet. `services` are the program's (the editor of
    // editing mode follows its appearance there). `fileManager` shows the document's file for
    // the page's "show in the file manager" item (both of its ways are
    // required). `owner` reviews the tab's close; required, held weakly (it
    // makes the page). The page's questions are dialogs modal on its window.
    DocumentPage(std::shared_ptr<Document> document, std::shared_ptr<ReaderView> readerView,
                 const ReaderEnvironment& environment, const WindowServices& services,
                 Theme theme, FileManagerReveal::Port fileManager,
                 std::weak_ptr<DocumentPageOwner> owner);
    ~DocumentPage() override;
    DocumentPage(const DocumentPage&) = delete;
    DocumentPage& operator=(const DocumentPage&) = delete;

    // The page's root (a vertical box), the tab view's child.
    GtkWidget* widget() const { return root_.get(); }
    GtkPaned* paned() const;
    Document& document() const { return *document_; }
    const std::shared_ptr<Document>& sharedDocument() const { return document_; }
    const std::shared_ptr<ReaderView>& readerView() const { return readerView_; }
    std::string title() const;
    const ActionTable& actions() const { return actions_; }
    OutlineSidebar& outline() { return outline_; }
    ModeContainerViewController& modeContainer() { return container_; }
    SidebarController& sidebar() { return sidebar_; }
    const std::shared_ptr<FindBarController>& findBar() const { return findBar_; }
    const std::shared_ptr<FindBarViewController>& findBarView() const { return findBarView_; }
    const std::shared_ptr<NoticeBarController>& noticeBar() const { return noticeBar_; }
    bool isSidebarShown() const;

    // The window's width changed (or the page came to a window).
    void setWindowWidth(double width);
    double windowWidth() const { return windowWidth_; }
    void toggleSidebar();
    // Whether this is the key page: the selected page of the active window.
    // Losing it snapshots the reading position at once; gaining it lets the
    // reader retry a render that timed out.
    void setWindowActive(bool active);
    // The page is shown, selected in its window: its reader gets a web view
    // when it has none (a page's first web view waits for this), the
    // working set counts it most recent, and its owner hears of it.
    void shown();
    // Whether the page is its tab view's selected page.
    bool isSelected() const;
    // The focus left the page from `widget`; `takeFocus` gives it back there.
    void keepFocus(GtkWidget* widget);
    // Takes the window's keyboard focus: on the widget kept, while it is
    // still shown in the page, else on what the page shows (the reader's
    // page, the editor, or the first widget of a status page).
    void takeFocus();
    // ---- DocumentWindowHost ----
    std::shared_ptr<DocumentReader> reader() const override;
    // The reader behind it.
    const std::shared_ptr<ReaderViewController>& readerController() const { return reader_; }
    NoticeBarController* noticeBarController() const override { return noticeBar_.get(); }
    void documentTitleChanged() override;
    Presented present() override;
    // Set by the group window the page first joins: whether that window held
    // other pages already.
    void setJoinedGroup(bool joined) { joinedGroup_ = joined; }
    Task<std::optional<std::filesystem::path>> chooseSourceFile(SourceRequest request) override;
    Task<bool> confirmDiscard(OpenConfirmation::Question question) override;
    Task<std::optional<std::filesystem::path>> chooseSaveLocation(SaveRequest request) override;
    void showSaveError(std::string message) override;

    // Editing mode, only while `ModeSwitch::sourceEditingEnabled()`: the
    // switch's checks (a read-only document is refused with a notice, mixed
    // line endings are confirmed once per page), then the source editor, made
    // on the first entry and kept, placed at the reading position (or the
    // last selection, or the line asked for). True when the page is in
    // editing mode afterwards.
    Task<bool> enterEditing(bool editHere, std::string reason);
    // Back to the rendered page at the caret's source line.
    void enterReading(std::string reason);
    EditorViewController* editor() const { return editor_.get(); }
    const std::optional<std::string>& lastModeRefusal() const { return lastModeRefusal_; }

    // The tab is being closed: `done(true)` closes it, `done(false)` keeps it,
    // as the owner's close review answers. With the owner gone, a document
    // with unsaved text keeps its tab.
    void requestClose(std::function<void(bool)> done);

private:
    void applySidebar(bool visible);
    void find(FindRoute route, std::int64_t tag);
    void placeEditorAtHeading(const std::string& identifier);
    // The window's editing actions: reading ↔ editing (a newer request
    // replaces one on its way), and the editor's line numbers.
    void toggleEditing();
    Task<void> switchToEditing(bool editHere, std::string reason);
    void toggleLineNumbers();
    // The window's actions answer again (edit here follows the mode).
    void refreshWindowActions();
    Task<void> scrollReader(std::string identifier);
    static void positionChanged(GObject* paned, GParamSpec*, gpointer self);

    class ReaderEvents;

    std::shared_ptr<Document> document_;
    std::weak_ptr<DocumentPageOwner> owner_;
    std::shared_ptr<ReaderEvents> readerEvents_;  // the reader's owner, held weakly by it
    std::shared_ptr<ReaderViewController> reader_;
    std::shared_ptr<PageReader> documentReader_;  // the reader as the document sees it
    std::shared_ptr<ReaderView> readerView_;
    std::shared_ptr<PageWorkingSetMember> workingSetMember_;
    SidebarController sidebar_;
    OutlineSidebar outline_;
    ModeContainerViewController container_;
    std::shared_ptr<FindBarViewController> findBarView_;
    std::shared_ptr<FindBarController> findBar_;
    std::shared_ptr<NoticeBarViewController> noticeView_;
    std::shared_ptr<NoticeBarController> noticeBar_;
    GObjectPtr<GtkWidget> root_;
    GtkWidget* paned_ = nullptr;  // owned by the root's tree
    ActionTable actions_;
    double windowWidth_ = 1180;
    bool applying_ = false;
    bool active_ = true;  // as a new reader assumes
    SignalConnection position_;
    WindowServices services_;
    std::unique_ptr<EditorViewController> editor_;
    std::shared_ptr<EditorFindTarget> editorFind_;
    std::optional<std::string> lastModeRefusal_;
    bool normalizationConfirmed_ = false;
    bool joinedGroup_ = false;
    GWeakRef keptFocus_;  // see keepFocus
    FileManagerReveal::Port fileManager_;
    TaskScope tasks_;      // the file manager's reveal
    TaskSlot modeSlot_;    // the latest switch into editing the user asked for
    TaskSlot scrollSlot_;  // last: a scroll in flight ends before the rest goes
};

}  // namespace larkspin
