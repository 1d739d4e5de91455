#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Document/DocumentKeeper.hpp"
#include "Document/DocumentOpening.hpp"
#include "Document/DocumentReader.hpp"
#include "Document/DocumentWindowHost.hpp"
#include "Document/ExternalIssue.hpp"
#include "Document/Links/LinkOpenerSeams.hpp"
#include "Document/NoticeContent.hpp"
#include "Document/Saving/SaveDecision.hpp"
#include "Model/DocumentModel.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Model/LoadedDocument.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Reader/LinkReader.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Storage/FileChangeEvent.hpp"
#include "Storage/RecoveryDraft.hpp"
#include "Storage/RecoveryStore.hpp"

namespace larkspin {

class DocumentNoticeActions;
class DocumentRendering;
class DocumentUnits;
class DraftWriter;

// One open Markdown file: its text model, what it loaded, its file watch,
// the issue its notice bar shows, and the wiring of its tab page's reader.
// Free of GTK and WebKit: the page is behind `DocumentWindowHost`. The file
// is read on the worker pool and adopted into the model on the main thread,
// exactly once per read. Owned by a shared_ptr (the registry and its page
// hold it); its own tasks end with it. Main thread, except the loader.
//
// Saving, recovery drafts and the disk reactions are units the document owns
// and drives (`DocumentUnits`); so are the render tiers with their banners
// (`DocumentRendering`) and the notice bar's actions
// (`DocumentNoticeActions`). What lies outside it (the window, the registry,
// links) it reaches through its `DocumentKeeper`.
class Document final : public OpenedDocument,
                       public LinkOpenerDocument,
                       public DocumentReader::Owner,
                       public std::enable_shared_from_this<Document> {
public:
    struct Services {
        Clock* clock = nullptr;  // the file watch's timers; the system clock when null
        std::shared_ptr<RecoveryStore> recoveryStore;
        // The process's one queue of recovery drafts; required.
        std::shared_ptr<DraftWriter> draftWriter;
        // Runs inside a Flatpak sandbox: the access-denied banner says how to
        // grant access there.
        bool sandboxed = false;
        // Whether an adopted file is watched for changes (off in some tests).
        bool observesFile = true;
        // The system calls through which the file is watched, read and saved
        // (tests pass calls that fail).
        SysCalls sys = realSysCalls();
        // The preference "document.externalChangePolicy"; "reload" when null.
        std::function<ExternalChangePolicy()> externalChangePolicy;
    };

    // `keeper` and `services.draftWriter` are required (std::invalid_argument
    // otherwise).
    static std::shared_ptr<Document> create(Services services, std::shared_ptr<DocumentKeeper> keeper,
                                            std::optional<std::filesystem::path> file = std::nullopt);
    ~Document() override;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;


    // ---- identity ----
    // The standardised file, none for an untitled document.
    const std::optional<std::filesystem::path>& path() const { return path_; }
    std::string displayName() const;
    // Unsaved changes: the model's dirty state.
    bool isEdited() const { return model_.isDirty(); }
    // The first 8 hex digits of the SHA-256 of the standardised path (symbolic
    // links not resolved), or "untitled-N" from a process-wide count from 1;
    // fixed at first use.
    const std::string& logID() const;
    const std::string& documentID() const { return documentID_; }

    DocumentModel& model() { return model_; }
    const DocumentModel& model() const { return model_; }
    const LoadedDocument& loaded() const { return loaded_; }

    // ---- reading ----
    // Reads the document's file on the worker pool and adopts it here.
    // Holds the document until done; never throws a load failure (it travels
    // in the LoadedDocument).
    static Task<void> read(std::shared_ptr<Document> document);
    // Hands a load over for adoption (any thread) and adopts it when on the
    // main thread; `adoptLoadedIfNeeded` takes it otherwise.
    void takeLoad(LoadedDocument loaded);
    // Adopts a load handed over and not yet adopted; true when it did.
    bool adoptLoadedIfNeeded();

    // ---- the page ----
    void attachWindow(DocumentWindowHost& host);
    void detachWindow(DocumentWindowHost& host);
    DocumentWindowHost* window() const { return host_; }
    const std::shared_ptr<DocumentReader>& reader() const { return reader_; }
    int renderCount() const { return renderCount_; }

    // ---- OpenedDocument ----
    void makeWindowControllers() override;
    void showWindows() override;
    void applyRecoveryDraft(const RecoveryDraft& draft, std::optional<DraftSetAside> setAside) override;
    void setRecoveryStore(std::shared_ptr<RecoveryStore> store) override;
    bool isReadOnly() const override;
    void scrollToFragment(std::string fragment) override;

    // ---- LinkOpenerDocument ----
    std::optional<std::filesystem::path> filePath() const override { return path_; }
    std::shared_ptr<LinkReader> linkReader() const override;

    // ---- what its page's reader tells it ----
    void readerDidRender(const RenderOutcome& outcome) override;
    void readerOpensLink(const OpenLinkPayload& payload) override;
    void readerWasDeniedResource(const std::string& path) override;

    // ---- rendering ----
    // The render tiers and the banners over the page.
    DocumentRendering& rendering() { return *rendering_; }

    // ---- external issues ----
    const std::optional<ExternalIssue>& externalIssue() const { return externalIssue_; }
    void setExternalIssue(ExternalIssue issue);
    // Removes the issue when its kind is in `kinds`; an empty set removes any.
    void clearExternalIssue(const ExternalIssueKinds& kinds);
    // What the notice bar's buttons do.
    DocumentNoticeActions& notices() { return *notices_; }
    // The source file found again at `path` (the relocate button's answer).
    void adoptRelocatedSource(std::filesystem::path path);

    // ---- the file watch ----
    // Starts the watch, when the keeper allows it (`mayWatchFile`);
    // otherwise the document waits for `resumeObservingFile()`.
    void startObservingFile();
    bool isObservingFile() const;
    // Gives the watch up for another document's; the file is looked at
    // afresh when the watch comes back.
    void pauseObservingFile();
    // The keeper allows a watch again: a document waiting for one starts it
    // and reads the file's verdict (what changed meanwhile is judged as
    // any change is). Nothing for a document that is not waiting.
    void resumeObservingFile();
    // Waiting for a watch (`mayWatchFile` said no, or it was paused).
    bool isWaitingToObserve() const { return waitingToObserve_; }
    ExternalChangePolicy externalChangePolicy() const;
    // The watch could not be started (the disk unit recognises it): the
    // document stays open and shows the unreadable notice.
    void observationFailed(const ContentStabilizer::UnreadableReason& reason);

    // ---- the file commands (Save, Save As, Revert) and the draft ----
    // Called once per request: nothing when saved, else why not.
    using SaveCompletion = std::function<void(std::optional<SaveError>)>;
    // A save of the text to its own file (an untitled document asks where).
    bool canSave() const;
    void save(SaveCompletion done = {});
    // Asks where to save and saves there; the document moves to that file.
    bool canSaveAs() const;
    void saveAs(SaveCompletion done = {});
    // Throws the unsaved text away after the user says so, and reads the
    // file again.
    bool canRevert() const;
    void revert();
    // Writes the recovery draft now when the text differs from what was
    // saved; resumes once it is on disk.
    Task<void> flushDraft();
    // The same, blocking: at termination only (after beginQuitting()).
    void flushDraftAndWait();
    // Tells the user, on the page, why the document stays open.
    void showCloseFailure(std::string message);

    // ---- for its units ----
    DocumentUnits& units() { return *units_; }
    // Reads the file again (the conflict's and the revert's reload).
    void reloadFromDisk(std::string reason);
    // A reload read the file afresh: adopted, the draft resolved, rendered
    // again keeping the reading position.
    void adoptReload(LoadedDocument loaded);
    // The file moved to `path` (the watch follows it by itself).
    void followMove(const std::filesystem::path& path);
    // Another file took the path (a replacement the watch judged): the
    // keeper's record of which file the document shows follows.
    void fileReplaced();
    // A save wrote `target`; a save as moves the document there.
    void didSave(const std::filesystem::path& target, SaveOperation operation);
    std::optional<DraftSetAside> recoveryDraftRefusal(const RecoveryDraft& draft) const override;

    // ---- closing ----
    void close();
    bool isClosing() const { return isClosing_; }

private:
    Document(Services services, std::shared_ptr<DocumentKeeper> keeper,
             std::optional<std::filesystem::path> file);

    void presentExternalIssue();
    void takeLocation(const std::filesystem::path& path);
    void reportSaveError(const std::optional<SaveError>& error);
    Task<void> saveAsTask(SaveCompletion done);
    Task<void> scrollTask(std::string fragment);

    Services services_;
    std::shared_ptr<DocumentKeeper> keeper_;
    std::optional<std::filesystem::path> path_;
    // An untitled document holding the draft of a file that is gone: where
    // Save As proposes to put it (that file's folder and name).
    std::optional<std::filesystem::path> draftSource_;
    mutable std::optional<std::string> logID_;
    std::string documentID_;
    std::mutex loadMutex_;
    std::optional<LoadedDocument> loadedSource_;  // under loadMutex_
    DocumentModel model_;
    LoadedDocument loaded_;
    int renderCount_ = 0;
    std::optional<std::string> pendingFragment_;
    DocumentWindowHost* host_ = nullptr;
    std::shared_ptr<DocumentReader> reader_;
    std::optional<ExternalIssue> externalIssue_;
    bool isClosing_ = false;
    bool waitingToObserve_ = false;
    std::unique_ptr<DocumentUnits> units_;  // after what its clients read
    std::unique_ptr<DocumentRendering> rendering_;
    std::unique_ptr<DocumentNoticeActions> notices_;  // its questions end before the rest goes
    TaskScope tasks_;  // last: the document's tasks end first
};

}  // namespace larkspin
