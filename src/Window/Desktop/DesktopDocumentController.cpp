#include "Window/Desktop/DesktopDocumentController.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <stdexcept>

#include "Document/Closing/DocumentClosing.hpp"
#include "Document/Links/LinkOpener.hpp"
#include "Platform/Files/DescriptorLimit.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Window/Desktop/MessageDialogCloseQuestion.hpp"
#include "Window/Desktop/ReaderAppearanceFeed.hpp"
#include "Window/Desktop/ShellMessage.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"
#include "Window/Widgets/TabGroups.hpp"

namespace larkspin {

namespace {

bool isDocumentType(std::string_view type) {
    return type == "text/markdown" || type == "text/x-markdown" || type == "text/plain" ||
           type == "net.daringfireball.markdown" || type == "public.plain-text";
}

// A document's link opener and the links it is carrying out, which end with
// the document (its keeper holds them).
struct DocumentLinks {
    std::shared_ptr<LinkOpener> opener;
    TaskScope tasks;  // last
};

// The outcome is the opener's to show and log.
Task<void> followLink(std::shared_ptr<LinkOpener> opener, OpenLinkPayload payload) {
    co_await opener->handle(std::move(payload));
}

}  // namespace

class DesktopDocumentController::WeakOpening final : public DocumentOpener {
public:
    explicit WeakOpening(Weak controller) : controller_(std::move(controller)) {}

    Task<Opened> openDocument(std::filesystem::path path, bool display) override {
        return performOpen(controller_, std::move(path), display);
    }
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view typeIdentifier) override {
        auto controller = controller_.lock();
        return controller ? controller->makeUntitledDocument(typeIdentifier) : nullptr;
    }
    void addDocument(std::shared_ptr<OpenedDocument> document) override {
        if (auto controller = controller_.lock()) controller->addDocument(std::move(document));
    }

private:
    Weak controller_;
};

// What each document it makes keeps of the controller: the controller
// weakly (documents keep no controller alive), and the document's link
// opener with the links it is carrying out, which end with the document.
class DesktopDocumentController::Keeper final : public DocumentKeeper {
public:
    explicit Keeper(Weak controller) : controller_(std::move(controller)) {}

    void makeWindow(Document& document) override {
        if (auto self = controller_.lock()) self->makeWindow(document);
    }
    bool mayWatchFile(Document& document) override {
        auto self = controller_.lock();
        return !self || self->admitWatch(document);
    }
    void documentClosed(Document& closed) override {
        auto self = controller_.lock();
        if (!self) return;
        self->watches_.release(closed.documentID());
        self->registry_.remove(closed);
        self->documentsChanged();
    }
    void documentFileChanged(Document& moved) override {
        auto self = controller_.lock();
        if (!self) return;
        self->registry_.update(moved, moved.path(), std::nullopt);
        self->tasks_.spawn(self->followFile(moved.shared_from_this()));
        // The session names the file where it is now (a followed move, a
        // relocation, a Save As): a relaunch after a kill finds it there.
        self->services_.sessionChanges.note();
    }
    void documentStateChanged(Document&) override {
        if (auto self = controller_.lock()) self->documentsChanged();
    }
    Task<bool> bringForwardIfOpen(std::shared_ptr<Document> asking, std::filesystem::path path) override {
        return DesktopDocumentController::bringForwardIfOpen(controller_, std::move(asking), std::move(path));
    }
    void openLink(Document&, const OpenLinkPayload& payload) override {
        if (links.opener) links.tasks.spawn(followLink(links.opener, payload));
    }

    DocumentLinks links;

private:
    Weak controller_;
};

std::shared_ptr<DesktopDocumentController> DesktopDocumentController::create(
    WindowServices services, Dependencies dependencies) {
    if (!services.draftWriter || !dependencies.environment.webViewFactory ||
        !dependencies.fileManager.showItems || !dependencies.fileManager.openFolder)
        throw std::invalid_argument(
            "document controller: draft writer, web view factory and file manager");
    return std::shared_ptr<DesktopDocumentController>(
        new DesktopDocumentController(services, std::move(dependencies)));
}

DesktopDocumentController::DesktopDocumentController(WindowServices services, Dependencies dependencies)
    : services_(services),
      dependencies_(std::move(dependencies)),
      watches_(FileWatchBudget::capacityFor(DescriptorLimit::current())) {
    if (!dependencies_.sandboxed) dependencies_.sandboxed = std::getenv("FLATPAK_ID") != nullptr;
    closeQuestion_ = std::make_unique<MessageDialogCloseQuestion>([](ClosingDocument& closing) -> GtkWindow* {
        auto* ours = dynamic_cast<DocumentClosing*>(&closing);
        auto* page = ours ? dynamic_cast<DocumentPage*>(ours->document()->window()) : nullptr;
        if (!page) return nullptr;
        return GTK_WINDOW(gtk_widget_get_root(page->widget()));
    });
    closeReview_ = std::make_unique<CloseReview>(*closeQuestion_);
}

DesktopDocumentController::~DesktopDocumentController() = default;

Task<DocumentOpener::Opened> DesktopDocumentController::openDocument(std::filesystem::path path,
                                                                     bool display) {
    return loggedOpen(weak_from_this(), std::move(path), display);
}

Task<DocumentOpener::Opened> DesktopDocumentController::loggedOpen(Weak weak,
                                                                   std::filesystem::path path,
                                                                   bool display) {
    const std::string name = FileNameText::baseName(path);
    {
        auto self = weak.lock();
        if (!self) throw BrokenPromise();
        const bool open = self->registry_.find(standardizedPath(path)) != nullptr;
        AppLog::document.info("打开请求 %{private}s：已打开=%{bool}d 打开前文档数=%ld", name, open,
                              static_cast<long>(self->registry_.documents().size()));
    }
    Opened opened;
    try {
        opened = co_await performOpen(weak, std::move(path), display);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::document.error("打开 %{private}s 失败：%{private}s", name, std::string(error.what()));
        throw;
    }
    auto self = weak.lock();
    const long count = self ? static_cast<long>(self->registry_.documents().size()) : -1;
    AppLog::document.info("打开完成 %{private}s：documentWasAlreadyOpen=%{bool}d 打开后文档数=%ld", name,
                          opened.alreadyOpen, count);
    co_return opened;
}

Task<DocumentOpener::Opened> DesktopDocumentController::performOpen(Weak weak,
                                                                    std::filesystem::path path,
                                                                    bool display) {
    const std::filesystem::path standard = standardizedPath(path);
    {
        auto self = weak.lock();
        if (!self) throw BrokenPromise();
        if (auto open = self->registry_.find(standard)) {
            if (display) open->showWindows();
            co_return Opened{open, true};
        }
    }
    auto stat = [standard] { return readFileIdentity(standard); };
    const std::optional<FileIdentity> identity = co_await runOn(WorkerPool::shared(), stat);
    if (auto open = co_await openOnFile(weak, standard, identity)) {
        if (display) open->showWindows();
        co_return Opened{open, true};
    }
    std::shared_ptr<Document> document;
    {
        auto self = weak.lock();
        if (!self) throw BrokenPromise();
        document = self->makeDocument(standard);
    }
    Task<void> reading = Document::read(document);
    co_await std::move(reading);
    // Another open of the same file may have finished while this one read.
    auto open = co_await openOnFile(weak, standard, identity);
    auto self = weak.lock();
    if (!self) throw BrokenPromise();
    if (!open) open = self->registry_.add(document, standard, identity);
    if (open) {
        document->close();
        if (display) open->showWindows();
        co_return Opened{open, true};
    }
    if (display) {
        document->makeWindowControllers();
        document->showWindows();
    }
    co_return Opened{document, false};
}

Task<std::shared_ptr<Document>> DesktopDocumentController::openOnFile(
    Weak weak, std::filesystem::path standard, std::optional<FileIdentity> identity) {
    // Each round either answers or takes a stale identity off the registry,
    // which then matches no more: as many rounds as documents at most (and a
    // few for documents that move meanwhile).
    for (std::size_t round = 0;; ++round) {
        std::shared_ptr<Document> open;
        {
            auto self = weak.lock();
            if (!self) throw BrokenPromise();
            open = self->registry_.find(standard, identity);
            if (!open || !identity || open->path() == standard) co_return open;
            if (round > self->registry_.size() + 2) co_return nullptr;  // never confirmed
        }
        // Found by the identity the registry recorded for the document's
        // file: what its path leads to now decides. A file that replaced it
        // since, or that took its inode number after it went, is another.
        const std::optional<std::filesystem::path> current = open->path();
        auto stat = [current] {
            return current ? readFileIdentity(*current) : std::optional<FileIdentity>();
        };
        const std::optional<FileIdentity> now = co_await runOn(WorkerPool::shared(), stat);
        auto self = weak.lock();
        if (!self) throw BrokenPromise();
        if (!self->registry_.contains(*open) || open->path() != current) continue;  // moved meanwhile
        if (now == identity) co_return open;
        self->registry_.update(*open, current, now);
    }
}

std::shared_ptr<OpenedDocument> DesktopDocumentController::makeUntitledDocument(
    std::string_view typeIdentifier) {
    if (!isDocumentType(typeIdentifier)) return nullptr;
    return makeDocument(std::nullopt);
}

void DesktopDocumentController::addDocument(std::shared_ptr<OpenedDocument> document) {
    auto ours = std::dynamic_pointer_cast<Document>(std::move(document));
    if (!ours) return;
    const auto path = ours->path();
    registry_.add(std::move(ours), path, std::nullopt);
}

std::shared_ptr<Document> DesktopDocumentController::makeDocument(
    std::optional<std::filesystem::path> path) {
    Document::Services services;
    services.clock = &services_.clock;
    services.recoveryStore = services_.recoveryStore;
    services.draftWriter = services_.draftWriter;
    services.sandboxed = dependencies_.sandboxed.value_or(false);
    services.observesFile = dependencies_.observesFiles;
    DocumentPreferences* preferences = &services_.documentPreferences;
    services.externalChangePolicy = [preferences] { return preferences->externalChangePolicy(); };
    auto keeper = std::make_shared<Keeper>(weak_from_this());
    auto document = Document::create(std::move(services), keeper, std::move(path));
    connectLinks(*document, *keeper);
    return document;
}

void DesktopDocumentController::connectLinks(Document& document, Keeper& keeper) {
    if (!linkOpening_) linkOpening_ = std::make_shared<WeakOpening>(weak_from_this());
    std::weak_ptr<Document> weakDocument = document.weak_from_this();
    LinkOpener::Services services;
    services.documents = linkOpening_;
    services.launcher = dependencies_.linkLauncher;
    if (dependencies_.makeLinkConfirmation) {
        services.confirmation = dependencies_.makeLinkConfirmation([weakDocument]() -> GtkWindow* {
            auto asking = weakDocument.lock();
            auto* page = asking ? dynamic_cast<DocumentPage*>(asking->window()) : nullptr;
            GtkRoot* root = page ? gtk_widget_get_root(page->widget()) : nullptr;
            return root ? GTK_WINDOW(root) : nullptr;
        });
    }
    keeper.links.opener = LinkOpener::create(weakDocument, std::move(services));
}

bool DesktopDocumentController::admitWatch(Document& document) {
    if (watches_.request(document.documentID(), false).granted) return true;
    sayWatchesLimited();
    return false;
}

void DesktopDocumentController::pageShown(Document& document) {
    if (!document.path() || document.isClosing()) return;
    const FileWatchBudget::Grant grant = watches_.request(document.documentID(), true);
    if (grant.released) {
        for (const auto& other : registry_.documents()) {
            if (other->documentID() == *grant.released) other->pauseObservingFile();
        }
        sayWatchesLimited();
    }
    if (grant.granted) document.resumeObservingFile();
    presentWatchLimitIfDue();
}

void DesktopDocumentController::sayWatchesLimited() {
    if (watchLimit_ != WatchLimitNotice::unsaid) return;
    watchLimit_ = WatchLimitNotice::due;
    AppLog::document.info("打开的文档超过可观察的上限（%zu 份）：最近未显示的文档暂不观察源文件",
                          watches_.capacity());
    presentWatchLimitIfDue();
}

void DesktopDocumentController::presentWatchLimitIfDue() {
    if (watchLimit_ != WatchLimitNotice::due) return;
    // Over the window the user looks at, once it shows: the documents of a
    // session being restored are read before its window is presented (a
    // page shown then asks again).
    Weak weak = weak_from_this();
    MainThread::post([weak] {
        auto self = weak.lock();
        if (!self || self->watchLimit_ != WatchLimitNotice::due) return;
        TabGroupWindow* group = self->frontmostGroup();
        if (!group || !gtk_widget_get_visible(GTK_WIDGET(group->window()))) return;
        self->watchLimit_ = WatchLimitNotice::said;
        const std::string count = std::to_string(self->watches_.capacity());
        showShellMessage(group->window(), L10n::text("watch.limit.title"),
                         L10n::format("watch.limit.message", {count}));
    });
}

Task<void> DesktopDocumentController::followFile(std::shared_ptr<Document> document) {
    const std::optional<std::filesystem::path> path = document->path();
    if (!path) co_return;
    auto stat = [file = *path] { return readFileIdentity(file); };
    const std::optional<FileIdentity> identity = co_await runOn(WorkerPool::shared(), stat);
    // A later move wins: only the path that was stat'ed gets its identity.
    if (registry_.contains(*document) && document->path() == path)
        registry_.update(*document, path, identity);
}

Task<bool> DesktopDocumentController::bringForwardIfOpen(Weak weak, std::shared_ptr<Document> asking,
                                                         std::filesystem::path path) {
    const std::filesystem::path standard = standardizedPath(path);
    {
        auto self = weak.lock();
        if (!self) co_return false;
        auto open = self->registry_.find(standard);
        if (open && open != asking) {
            open->showWindows();
            co_return true;
        }
        if (open) co_return false;
    }
    auto stat = [standard] { return readFileIdentity(standard); };
    const std::optional<FileIdentity> identity = co_await runOn(WorkerPool::shared(), stat);
    if (!identity) co_return false;
    std::shared_ptr<Document> open;
    try {
        open = co_await openOnFile(weak, standard, identity);
    } catch (const BrokenPromise&) {
        co_return false;
    }
    if (!open || open == asking) co_return false;
    open->showWindows();
    co_return true;
}

TabGroupWindow* DesktopDocumentController::frontmostGroup() const {
    const std::vector<TabGroupWindow*>& groups = services_.tabGroups.all();
    for (TabGroupWindow* group : groups) {
        if (gtk_window_is_active(group->window())) return group;
    }
    if (dependencies_.application) {
        // GTK keeps the application's windows most recently focused first.
        for (GList* item = gtk_application_get_windows(dependencies_.application); item;
             item = item->next) {
            if (TabGroupWindow* group = TabGroupWindow::of(GTK_WINDOW(item->data))) return group;
        }
    }
    return groups.empty() ? nullptr : groups.back();
}

void DesktopDocumentController::placePage(OpenedDocument& document, TabGroupWindow& group,
                                          bool select) {
    placement_ = Placement{&group, select};
    document.makeWindowControllers();
    placement_.reset();
}

void DesktopDocumentController::makeWindow(Document& document) {
    const ReaderEnvironment& environment = dependencies_.environment;
    auto view = std::make_shared<ReaderView>(*environment.webViewFactory);
    const Theme theme = environment.currentTheme();
    auto page = std::make_unique<DocumentPage>(document.shared_from_this(), std::move(view), environment,
                                               services_, theme, dependencies_.fileManager, weak_from_this());
    // The web view waits until the page is first shown: a window laid out
    // with many tabs renders the one it shows first.
    page->readerController()->loadView(PageWorkingSetMember::firstWebView);
    if (dependencies_.appearance) {
        dependencies_.appearance->follow(page->readerController());
        dependencies_.appearance->follow(page->noticeBar());
    }
    if (placement_) {
        placement_->group->add(std::move(page), placement_->select);
        return;
    }
    TabGroupWindow* group = frontmostGroup();
    if (!group) {
        // The first page of a new window (the launch's document) is about to
        // show: its web view and reading page start loading now, while the
        // window is built and mapped, instead of a turn after.
        page->shown();
        // GTK takes the window into its toplevels when it is presented; until
        // then nothing holds it.
        group = &TabGroupWindow::create(services_.tabGroups, dependencies_.application, services_.sessionChanges);
        gtk_window_present(group->window());
    }
    // Behind the selected tab: the page comes forward when its document is
    // shown, and pages made in a row cost no selection each.
    group->add(std::move(page), false);
}

// ---- the shell's entries ----

std::vector<std::shared_ptr<Document>> DesktopDocumentController::documents() const {
    return registry_.documents();
}

std::shared_ptr<Document> DesktopDocumentController::keyDocument() const {
    TabGroupWindow* group = frontmostGroup();
    DocumentPage* page = group ? group->selectedPage() : nullptr;
    return page ? page->sharedDocument() : nullptr;
}

namespace {

// Holds the document until its flush is done.
Task<void> flushDocumentDraft(std::shared_ptr<Document> document) {
    try {
        co_await document->flushDraft();
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::recovery.error("文档 doc=%{public}s 草稿写入失败：%{private}s", document->logID(),
                               std::string(error.what()));
    }
}

}  // namespace

std::size_t DesktopDocumentController::flushDraftsNow() {
    std::size_t flushed = 0;
    for (const std::shared_ptr<Document>& document : registry_.documents()) {
        if (!document->isEdited() || document->isClosing()) continue;
        ++flushed;
        tasks_.spawn(flushDocumentDraft(document));
    }
    return flushed;
}

void DesktopDocumentController::reviewBeforeQuit(std::function<void(bool proceed)> done) {
    std::vector<std::shared_ptr<ClosingDocument>> closing;
    for (const std::shared_ptr<Document>& document : registry_.documents()) {
        if (!document->isClosing()) closing.push_back(std::make_shared<DocumentClosing>(document));
    }
    closeReview_->reviewQuit(std::move(closing), std::move(done));
}

void DesktopDocumentController::flushEveryDraftAndWait() {
    for (const std::shared_ptr<Document>& document : registry_.documents()) document->flushDraftAndWait();
}

void DesktopDocumentController::reviewClose(std::shared_ptr<Document> document,
                                            std::function<void(bool)> done) {
    if (!document || document->isClosing()) {
        if (done) done(true);
        return;
    }
    closeReview_->reviewClose(std::make_shared<DocumentClosing>(std::move(document)), std::move(done));
}

bool DesktopDocumentController::canPerform(KeyDocumentCommand command) const {
    const std::shared_ptr<Document> document = keyDocument();
    if (!document) return false;
    switch (command) {
        case KeyDocumentCommand::close:
            return !closeReview_->isReviewing();
        case KeyDocumentCommand::save:
            return document->canSave();
        case KeyDocumentCommand::saveAs:
            return document->canSaveAs();
        case KeyDocumentCommand::revert:
            return document->canRevert();
    }
    return false;
}

void DesktopDocumentController::perform(KeyDocumentCommand command) {
    if (!canPerform(command)) return;
    const std::shared_ptr<Document> document = keyDocument();
    switch (command) {
        case KeyDocumentCommand::close: {
            // The tab's own close, which asks the review first.
            auto* page = dynamic_cast<DocumentPage*>(document->window());
            GtkRoot* root = page ? gtk_widget_get_root(page->widget()) : nullptr;
            TabGroupWindow* group = root ? TabGroupWindow::of(GTK_WINDOW(root)) : nullptr;
            if (!group) return;
            if (AdwTabPage* tab = adw_tab_view_get_page(group->tabView(), page->widget()))
                adw_tab_view_close_page(group->tabView(), tab);
            return;
        }
        case KeyDocumentCommand::save:
            document->save();
            return;
        case KeyDocumentCommand::saveAs:
            document->saveAs();
            return;
        case KeyDocumentCommand::revert:
            document->revert();
            return;
    }
}

void DesktopDocumentController::documentsChanged() {
    if (onDocumentsChanged) onDocumentsChanged();
}

}  // namespace larkspin
