#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Document/Closing/CloseReview.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentOpening.hpp"
#include "Document/DocumentRegistry.hpp"
#include "Document/FileWatchBudget.hpp"
#include "Document/Links/LinkOpenerSeams.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Reader/ReaderEnvironment.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Window/WindowServices.hpp"
#include "Window/Widgets/DocumentPageOwner.hpp"

typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;

// The program's document controller: opens, keeps and closes the documents and their tab pages.
namespace larkspin {

class ReaderAppearanceFeed;
class TabGroupWindow;
class TabGroups;

// The commands the shell carries out on the key document.
enum class KeyDocumentCommand { close, save, saveAs, revert };

// The program's document controller: opens files as documents (no two on one
// file: the registry knows them by path, then by the device and inode of
// each document's current file, stat'ed on the worker pool), makes each
// document's tab page with its reader, and puts a new page into the
// frontmost group window, or a new group window when there is none. Opening a file already open brings its tab forward.
// Owned by a shared_ptr; an open in flight holds it weakly. Main thread.
class DesktopDocumentController final
    : public DocumentOpener,
      public DocumentPageOwner,
      public std::enable_shared_from_this<DesktopDocumentController> {
public:
    struct Dependencies {
        ReaderEnvironment environment;  // each reader's (its factory makes the web views)
        // New group windows belong to it; may be null (tests).
        GtkApplication* application = nullptr;
        // Inside a Flatpak sandbox (FLATPAK_ID set) when unset.
        std::optional<bool> sandboxed;
        // Whether documents watch their files (off in some tests).
        bool observesFiles = true;
        // Links clicked in a page: Markdown files open through this
        // controller; other files and addresses go to the desktop through
        // these. Each document gets its own question, asked on its window
        // at the time (`parent`). Either may be empty: a link that needs the
        // launcher fails, and one that needs the question is cancelled.
        std::function<std::shared_ptr<OpenConfirmation>(std::function<GtkWindow*()> parent)>
            makeLinkConfirmation;
        std::shared_ptr<DefaultApplicationLauncher> linkLauncher;
        // Keeps each new reader in the theme and typography in force; none
        // in tests that push their own.
        std::shared_ptr<ReaderAppearanceFeed> appearance;
        // Shows a document's file in the file manager (each page's item);
        // required.
        FileManagerReveal::Port fileManager;
    };

    // Its documents and pages work with `services`.
    static std::shared_ptr<DesktopDocumentController> create(WindowServices services,
                                                             Dependencies dependencies);
    ~DesktopDocumentController() override;
    DesktopDocumentController(const DesktopDocumentController&) = delete;
    DesktopDocumentController& operator=(const DesktopDocumentController&) = delete;

    // ---- DocumentOpener ----
    Task<Opened> openDocument(std::filesystem::path path, bool display) override;
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view typeIdentifier) override;
    void addDocument(std::shared_ptr<OpenedDocument> document) override;

    const DocumentRegistry& registry() const { return registry_; }

    // ---- the shell's entries ----
    // The open documents, in the order they were opened.
    std::vector<std::shared_ptr<Document>> documents() const;
    // The key document: the selected page's of the frontmost group window.
    std::shared_ptr<Document> keyDocument() const;
    // Starts writing, at once, the recovery draft of every document whose text
    // differs from what was saved; returns how many.
    std::size_t flushDraftsNow();
    // The quit review over every open document: `done(true)` once each edited
    // one is saved or discarded (all are then closed), `done(false)` when the
    // user cancelled or a save failed (nothing closed).
    void reviewBeforeQuit(std::function<void(bool proceed)> done);
    // The draft of every open document written before returning; documents
    // stay open and drafts unresolved. At termination only, after
    // MainThread::beginQuitting().
    void flushEveryDraftAndWait();
    // Whether the key document can carry out `command` now, and doing it.
    // Close goes through the close review, as a tab's close does.
    bool canPerform(KeyDocumentCommand command) const;
    void perform(KeyDocumentCommand command);
    // The close review of one page's document (a tab's close): `done(true)`
    // when it may close.
    void reviewClose(std::shared_ptr<Document> document, std::function<void(bool)> done) override;
    // A shown page's document watches its file, from the document shown
    // least recently when the process holds as many watches as it may.
    void pageShown(Document& document) override;
    // Called when a document opens or closes, or its edited state or file
    // changes (the shell re-validates its menu actions).
    std::function<void()> onDocumentsChanged;

    // The group window a new page joins: the active one, else the most
    // recently focused, else the newest; null when there is none.
    TabGroupWindow* frontmostGroup() const;
    // The group windows and their pages.
    TabGroups& tabGroups() const { return services_.tabGroups; }

    // Makes the page of `document` (opened without display) at the end of
    // `group`, selected when `select`, without presenting anything: how a
    // group window is laid out in full before it is shown. Nothing happens
    // when the document has its page already.
    void placePage(OpenedDocument& document, TabGroupWindow& group, bool select);

private:
    using Weak = std::weak_ptr<DesktopDocumentController>;
    class WeakOpening;
    class Keeper;

    DesktopDocumentController(WindowServices services, Dependencies dependencies);
    std::shared_ptr<Document> makeDocument(std::optional<std::filesystem::path> path);
    void makeWindow(Document& document);
    void connectLinks(Document& document, Keeper& keeper);
    Task<void> followFile(std::shared_ptr<Document> document);

    // The open with its two log lines (asked, and done or failed).
    static Task<Opened> loggedOpen(Weak weak, std::filesystem::path path, bool display);
    static Task<Opened> performOpen(Weak weak, std::filesystem::path path, bool display);
    static Task<bool> bringForwardIfOpen(Weak weak, std::shared_ptr<Document> asking,
                                         std::filesystem::path path);
    // The document whose file `standard` is now: by path, else by `identity`
    // (read off `standard`; a hard link, a path through a symbolic link)
    // when it is still the identity of what the document's path leads to.
    // Identities the registry recorded that no longer are get corrected.
    static Task<std::shared_ptr<Document>> openOnFile(Weak weak, std::filesystem::path standard,
                                                      std::optional<FileIdentity> identity);

    void documentsChanged();
    // Whether a document may start watching its file now (`FileWatchBudget`).
    bool admitWatch(Document& document);
    // Tells the user, once, over a window, that some documents wait for a
    // watch.
    void sayWatchesLimited();
    void presentWatchLimitIfDue();

    WindowServices services_;
    Dependencies dependencies_;
    DocumentRegistry registry_;
    // Which documents watch their files: as many as the descriptor limit
    // leaves room for.
    FileWatchBudget watches_;
    enum class WatchLimitNotice { unsaid, due, said };
    WatchLimitNotice watchLimit_ = WatchLimitNotice::unsaid;
    // Where the page being made goes, during `placePage` only.
    struct Placement {
        TabGroupWindow* group = nullptr;
        bool select = true;
    };
    std::optional<Placement> placement_;
    std::unique_ptr<CloseQuestion> closeQuestion_;
    std::unique_ptr<CloseReview> closeReview_;
    // This controller as the link openers reach it: weakly, so that the
    // documents' openers keep no controller alive.
    std::shared_ptr<DocumentOpener> linkOpening_;
    TaskScope tasks_;  // last
};

}  // namespace larkspin
