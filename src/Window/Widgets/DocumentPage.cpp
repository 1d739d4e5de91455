#include "Window/Widgets/DocumentPage.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <exception>
#include <stdexcept>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/ThemeCatalog.hpp"
#include "Appearance/TypographyController.hpp"
#include "Document/Document.hpp"
#include "Document/PageReader.hpp"
#include "Editor/EditorPreferences.hpp"
#include "Editor/Widgets/EditorFindTarget.hpp"
#include "Editor/Widgets/EditorViewController.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Log.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/Widgets/NoticeBarViewController.hpp"
#include "Reader/Strips/FindBarController.hpp"
#include "Reader/Widgets/FindBarViewController.hpp"
#include "Reader/Widgets/ReaderView.hpp"
#include "Reader/ReaderViewController.hpp"
#include "Window/Desktop/DiscardConfirmation.hpp"
#include "Window/Desktop/EditingQuestions.hpp"
#include "Window/Desktop/FilePathActions.hpp"
#include "Window/Desktop/SaveFileChooser.hpp"
#include "Window/Desktop/SourceFileChooser.hpp"
#include "Window/WindowActions.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {

// The page as its reader's owner. It lives exactly as long as the page.
class DocumentPage::ReaderEvents final : public ReaderOwner {
public:
    explicit ReaderEvents(DocumentPage& page) : page_(page) {}
    // What the document hears goes through the reader it knows. Its render
    // handling leaves the page in place: the outline takes the headings
    // afterwards, and an open find searches again.
    void readerDidRender(const RenderedPayload& reply) override {
        page_.documentReader_->readerDidRender(reply);
        page_.outline_.update(reply.headings);
        page_.findBar_->documentDidRender();
    }
    void readerDidReportActiveHeading(const ActiveHeadingPayload& heading) override {
        page_.outline_.highlight(heading.id);
    }
    void readerDidRequestOpenLink(const OpenLinkPayload& link) override {
        page_.documentReader_->readerOpensLink(link);
    }
    void readerWasDeniedResource(const std::string& path) override {
        page_.documentReader_->readerWasDeniedResource(path);
    }
    void readerNeedsProcessRecovery(ProcessRecoveryAction action) override {
        page_.workingSetMember_->processRecovery(action);
    }
    void readerDidChangeStatus() override { page_.applySidebar(page_.sidebar_.isVisible(page_.windowWidth_)); }

private:
    DocumentPage& page_;
};

namespace {

std::shared_ptr<ReaderViewController> makeReader(const Document& document,
                                                 std::shared_ptr<ReaderView> view,
                                                 const ReaderEnvironment& environment,
                                                 std::weak_ptr<ReaderOwner> owner) {
    ReaderViewController::Dependencies dependencies;
    dependencies.host = std::move(view);
    dependencies.environment = environment;
    dependencies.owner = std::move(owner);
    return ReaderViewController::create(document.documentID(), std::move(dependencies));
}

}  // namespace

DocumentPage::DocumentPage(std::shared_ptr<Document> document,
                           std::shared_ptr<ReaderView> readerView,
                           const ReaderEnvironment& environment, const WindowServices& services,
                           Theme theme, FileManagerReveal::Port fileManager,
                           std::weak_ptr<DocumentPageOwner> owner)
    : document_(std::move(document)),
      owner_(std::move(owner)),
      readerEvents_(std::make_shared<ReaderEvents>(*this)),
      reader_(makeReader(*document_, readerView, environment, readerEvents_)),
      documentReader_(PageReader::create(reader_)),
      readerView_(std::move(readerView)),
      sidebar_(services.defaults, services.clock),
      container_(readerView_->widget()),
      services_(services),
      fileManager_(std::move(fileManager)) {
    if (!fileManager_.showItems || !fileManager_.openFolder || owner_.expired()) {
        throw std::invalid_argument("document page: the file manager and the owner");
    }
    g_weak_ref_init(&keptFocus_, nullptr);
    findBarView_ = FindBarViewController::create();
    findBar_ = FindBarController::create(findBarView_, reader_);
    noticeView_ = NoticeBarViewController::create();
    noticeBar_ = NoticeBarController::create(noticeView_, std::move(theme));

    root_ = GObjectPtr<GtkWidget>::adopt(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    gtk_widget_set_name(root_.get(), "Orvik.documentPage");
    gtk_box_append(GTK_BOX(root_.get()), noticeView_->widget());
    gtk_box_append(GTK_BOX(root_.get()), findBarView_->widget());

    paned_ = gtk_paned_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_widget_add_css_class(paned_, "larkspin-page");
    gtk_paned_set_start_child(GTK_PANED(paned_), outline_.widget());
    gtk_paned_set_end_child(GTK_PANED(paned_), container_.widget());
    gtk_paned_set_resize_start_child(GTK_PANED(paned_), FALSE);
    gtk_paned_set_shrink_start_child(GTK_PANED(paned_), FALSE);
    gtk_paned_set_resize_end_child(GTK_PANED(paned_), TRUE);
    gtk_paned_set_shrink_end_child(GTK_PANED(paned_), FALSE);
    gtk_widget_set_vexpand(paned_, TRUE);
    gtk_widget_set_hexpand(container_.widget(), TRUE);
    gtk_paned_set_position(GTK_PANED(paned_), static_cast<int>(sidebar_.restoreWidth()));
    gtk_box_append(GTK_BOX(root_.get()), paned_);
    position_ =
        SignalConnection::connect(paned_, "notify::position", G_CALLBACK(positionChanged), this);

    WindowActionHandlers handlers;
    handlers.toggleSidebar = [this] { toggleSidebar(); };
    handlers.sidebarShown = [this] { return isSidebarShown(); };
    handlers.find = [this](FindRoute route, std::int64_t tag) { find(route, tag); };
    handlers.mode = [this] { return container_.mode(); };
    handlers.hasEditor = [this] { return container_.editorView() != nullptr; };
    handlers.save = {[this] { document_->save(); }, [this] { return document_->canSave(); }};
    handlers.saveAs = {[this] { document_->saveAs(); }, [this] { return document_->canSaveAs(); }};
    handlers.revert = {[this] { document_->revert(); }, [this] { return document_->canRevert(); }};
    const auto hasFile = [this] { return document_->path().has_value(); };
    handlers.copyFilePath = {[this] {
                                 FilePathActions::copyFilePath(document_->path(), document_->logID(),
                                                               gtk_widget_get_clipboard(root_.get()));
                             },
                             hasFile};
    handlers.revealInFileManager = {[this] {
                                        FilePathActions::revealInFileManager(
                                            document_->path(), document_->logID(), tasks_, fileManager_,
                                            root_.get());
                                    },
                                    hasFile};
    handlers.toggleEditing = [this] { toggleEditing(); };
    handlers.editHere = [this] {
        if (container_.mode() == DocumentMode::reading) modeSlot_.spawn(switchToEditing(true, "在此处编辑"));
    };
    handlers.toggleLineNumbers = [this] { toggleLineNumbers(); };
    handlers.showsLineNumbers = [this] {
        return services_.defaults.boolean(EditorPreferences::showLineNumbersKey).value_or(false);
    };
    actions_ = WindowActions::make(std::move(handlers));

    outline_.onSelectHeading = [this](const BridgeHeading& heading) {
        if (container_.mode() == DocumentMode::editing && editor_) {
            placeEditorAtHeading(heading.id);
            return;
        }
        scrollSlot_.spawn(scrollReader(heading.id));
    };
    applySidebar(sidebar_.isVisible(windowWidth_));
    PageWorkingSetMember::Page shownPage;
    shownPage.isSelected = [this] { return isSelected(); };
    shownPage.isEditing = [this] { return container_.mode() == DocumentMode::editing; };
    shownPage.document = document_;
    workingSetMember_ =
        PageWorkingSetMember::create(reader_, environment.workingSet, std::move(shownPage));

    // Last: the document gives the reader its location, shows its notice
    // and renders.
    document_->attachWindow(*this);
}

DocumentPage::~DocumentPage() {
    // The reader's events go nowhere from now on (it may outlive the page).
    readerEvents_.reset();
    // The page's end is the document's: its tab closed or its window went.
    const std::shared_ptr<Document> document = document_;
    document->detachWindow(*this);
    document->close();
    workingSetMember_->ended();
    position_.disconnect();
    sidebar_.flushWidth();
    findBar_->close();
    findBar_->retarget(reader_);
    g_weak_ref_clear(&keptFocus_);
    // The reader's widget belongs to the document: it leaves the page so that
    // it can be mounted again.
    if (GtkWidget* stack = container_.widget()) {
        if (gtk_widget_get_parent(stack) == paned_)
            gtk_paned_set_end_child(GTK_PANED(paned_), nullptr);
    }
}

std::shared_ptr<DocumentReader> DocumentPage::reader() const {
    return documentReader_;
}

GtkPaned* DocumentPage::paned() const {
    return GTK_PANED(paned_);
}

std::string DocumentPage::title() const {
    return document_->displayName();
}

bool DocumentPage::isSidebarShown() const {
    return gtk_widget_get_visible(outline_.widget());
}

void DocumentPage::setWindowWidth(double width) {
    if (width <= 0) return;
    windowWidth_ = width;
    applySidebar(sidebar_.windowResized(width));
}

void DocumentPage::toggleSidebar() {
    applySidebar(sidebar_.userToggled(windowWidth_));
}

void DocumentPage::setWindowActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (!active) reader_->scheduleAnchorSnapshot(Clock::Duration::zero());
    reader_->setWindowActive(active);
}

void DocumentPage::shown() {
    workingSetMember_->shown();
    if (const std::shared_ptr<DocumentPageOwner> owner = owner_.lock()) owner->pageShown(*document_);
}

bool DocumentPage::isSelected() const {
    auto* view = ADW_TAB_VIEW(gtk_widget_get_ancestor(root_.get(), ADW_TYPE_TAB_VIEW));
    AdwTabPage* selected = view ? adw_tab_view_get_selected_page(view) : nullptr;
    return selected && adw_tab_page_get_child(selected) == root_.get();
}

void DocumentPage::keepFocus(GtkWidget* widget) { g_weak_ref_set(&keptFocus_, widget); }

void DocumentPage::takeFocus() {
    if (auto* kept = static_cast<GtkWidget*>(g_weak_ref_get(&keptFocus_))) {
        const bool taken = gtk_widget_is_ancestor(kept, root_.get()) && gtk_widget_get_mapped(kept) &&
                           gtk_widget_grab_focus(kept);
        g_object_unref(kept);
        if (taken) return;
    }
    if (container_.mode() == DocumentMode::editing && editor_) {
        gtk_widget_grab_focus(editor_->textView().widget());
        return;
    }
    GtkWidget* page = readerView_->webView() ? GTK_WIDGET(readerView_->webView()) : nullptr;
    if (page && gtk_widget_get_visible(page) && gtk_widget_grab_focus(page)) return;
    gtk_widget_child_focus(container_.widget(), GTK_DIR_TAB_FORWARD);
}

void DocumentPage::documentTitleChanged() {
    if (editor_) editor_->textView().modelStateChanged();
    auto* view = ADW_TAB_VIEW(gtk_widget_get_ancestor(root_.get(), ADW_TYPE_TAB_VIEW));
    if (!view) return;
    // Save and Revert follow the edited state.
    if (GtkRoot* root = gtk_widget_get_root(root_.get())) {
        if (TabGroupWindow* group = TabGroupWindow::of(GTK_WINDOW(root))) group->refreshActions();
    }
    if (AdwTabPage* page = adw_tab_view_get_page(view, root_.get())) {
        const std::string name = title();
        adw_tab_page_set_title(page, name.c_str());
        if (adw_tab_view_get_selected_page(view) == page) {
            if (auto* window = GTK_WINDOW(gtk_widget_get_root(root_.get())))
                gtk_window_set_title(window, name.c_str());
        }
    }
}

DocumentWindowHost::Presented DocumentPage::present() {
    Presented presented{joinedGroup_, 1};
    auto* view = ADW_TAB_VIEW(gtk_widget_get_ancestor(root_.get(), ADW_TYPE_TAB_VIEW));
    if (view) {
        if (AdwTabPage* page = adw_tab_view_get_page(view, root_.get()))
            adw_tab_view_set_selected_page(view, page);
        presented.tabCount = adw_tab_view_get_n_pages(view);
    }
    if (GtkRoot* root = gtk_widget_get_root(root_.get())) {
        if (GTK_IS_WINDOW(root)) gtk_window_present(GTK_WINDOW(root));
    }
    return presented;
}

Task<std::optional<std::filesystem::path>> DocumentPage::chooseSourceFile(SourceRequest request) {
    return SourceFileChooser::choose(GTK_WINDOW(gtk_widget_get_root(root_.get())), std::move(request));
}

Task<bool> DocumentPage::confirmDiscard(OpenConfirmation::Question question) {
    return DiscardConfirmation::ask(GTK_WINDOW(gtk_widget_get_root(root_.get())), std::move(question));
}

Task<std::optional<std::filesystem::path>> DocumentPage::chooseSaveLocation(SaveRequest request) {
    return SaveFileChooser::choose(GTK_WINDOW(gtk_widget_get_root(root_.get())), std::move(request));
}

void DocumentPage::showSaveError(std::string message) {
    SaveFileChooser::showError(GTK_WINDOW(gtk_widget_get_root(root_.get())), message);
}

void DocumentPage::requestClose(std::function<void(bool)> done) {
    if (const std::shared_ptr<DocumentPageOwner> owner = owner_.lock()) {
        owner->reviewClose(document_, std::move(done));
        return;
    }
    const bool edited = document_->isEdited();
    if (edited) {
        AppLog::document.error("文档 doc=%{public}s %{private}s 有未保存的修改，无人审阅关闭，标签页保留",
                               document_->logID(), document_->displayName());
    }
    done(!edited);
}

void DocumentPage::applySidebar(bool visible) {
    // A status page in the document's place (a folder, a file too large to
    // show, a web process that keeps ending) has no outline beside it.
    if (reader_->isStatusShown()) visible = false;
    if (visible == isSidebarShown()) return;
    applying_ = true;
    gtk_widget_set_visible(outline_.widget(), visible);
    applying_ = false;
    // The menu's check mark follows, whatever hid or showed it.
    refreshWindowActions();
}

void DocumentPage::find(FindRoute route, std::int64_t tag) {
    if (route == FindRoute::forwardToEditor) {
        // The editor has no find of its own on GTK: the same find bar
        // searches its buffer, with the same commands.
        switch (tag) {
            case FindPanelTag::next: route = FindRoute::findNext; break;
            case FindPanelTag::previous: route = FindRoute::findPrevious; break;
            case FindPanelTag::setFindString: route = FindRoute::useSelection; break;
            case FindPanelTag::hideFindInterface: findBar_->close(); return;
            default: route = FindRoute::showFindBar; break;
        }
    }
    switch (route) {
        case FindRoute::showFindBar:
            findBar_->show();
            break;
        case FindRoute::findNext:
            findBar_->step(FindPayload::Direction::next);
            break;
        case FindRoute::findPrevious:
            findBar_->step(FindPayload::Direction::previous);
            break;
        case FindRoute::useSelection:
            findBar_->useSelection();
            break;
        case FindRoute::forwardToEditor:
            break;
    }
}

Task<bool> DocumentPage::enterEditing(bool editHere, std::string reason) {
    if (!ModeSwitch::sourceEditingEnabled()) co_return false;
    DocumentModel& model = document_->model();
    ModeSwitch::EditingRequest request;
    request.hasDocument = true;
    request.mode = container_.mode();
    request.isLatin1 = model.encoding() == DocumentTextEncoding::latin1;
    request.isRestricted = model.isRestricted();
    request.writabilityProblem = model.writabilityProblem().value_or(std::string());
    request.hasMixedLineEndings = model.requiresNormalizationConfirm();
    request.normalizationConfirmed = normalizationConfirmed_;
    const ModeSwitch::EditingDecision decision = ModeSwitch::decideEditing(request);
    switch (decision.step) {
        case ModeSwitch::EditingStep::refuseWithoutDocument:
            lastModeRefusal_ = decision.refusal;
            co_return false;
        case ModeSwitch::EditingStep::alreadyEditing:
            co_return true;
        case ModeSwitch::EditingStep::refuseReadOnly:
            lastModeRefusal_ = decision.refusal;
            AppLog::editor.error("拒绝进入编辑（%{public}s）：%{public}s", reason, decision.refusal);
            EditingQuestions::showReadOnly(GTK_WINDOW(gtk_widget_get_root(root_.get())), decision.refusal);
            co_return false;
        case ModeSwitch::EditingStep::confirmMixedLineEndings: {
            Task<bool> question =
                EditingQuestions::confirmMixedLineEndings(GTK_WINDOW(gtk_widget_get_root(root_.get())));
            const bool confirmed = co_await std::move(question);
            if (!confirmed) {
                lastModeRefusal_ = ModeSwitch::declinedMixedLineEndings();
                AppLog::editor.info("用户取消进入编辑（混合换行确认）");
                co_return false;
            }
            normalizationConfirmed_ = true;
            break;
        }
        case ModeSwitch::EditingStep::enter:
            break;
    }
    lastModeRefusal_.reset();
    findBar_->close();

    std::optional<ReadingAnchor> anchor;
    try {
        anchor = co_await reader_->captureReadingAnchor();
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::editor.error("进入编辑时读取阅读位置失败");
    }
    if (!anchor) anchor = reader_->readingAnchor();
    // Another switch may have gone first while the page answered.
    if (container_.mode() == DocumentMode::editing) co_return true;
    std::optional<std::int64_t> anchorLine;
    if (anchor && anchor->hasBlock()) anchorLine = anchor->sourceRange.start;

    if (!editor_) {
        // The editor's font is worked out on the workers, not here.
        co_await EditorFont::prepare(services_.typography.settings().monoFamily);
        if (container_.mode() == DocumentMode::editing) co_return true;
    }
    if (!editor_) {
        const EditorTheme theme =
            EditorTheme::from(ThemeCatalog::theme(services_.appearance.currentThemeID()));
        editor_ = std::make_unique<EditorViewController>(model, services_.defaults, theme,
                                                         services_.typography.settings());
        editor_->followAppearance(services_.notifications, services_.appearance, services_.typography,
                                  services_.editorPreferences);
        editorFind_ = std::make_shared<EditorFindTarget>(editor_->textView());
        GtkWidget* editorWidget = editor_->widget();
        container_.makeEditor([editorWidget] { return editorWidget; });
    }
    const EditorPositioning positioning = editor_->positionForEntering(anchorLine, editHere);
    container_.show(DocumentMode::editing);
    editor_->apply(positioning);
    findBar_->retarget(editorFind_);
    gtk_widget_grab_focus(editor_->textView().widget());
    AppLog::editor.info("进入编辑模式（%{public}s）：anchorLine=%ld positioning=%{public}s revision=%ld dirty=%{bool}d",
                        reason, static_cast<long>(anchorLine.value_or(0)), positioning.description(),
                        static_cast<long>(model.sourceRevision()), model.isDirty());
    refreshWindowActions();
    co_return true;
}

void DocumentPage::enterReading(std::string reason) {
    if (container_.mode() != DocumentMode::editing || !editor_) return;
    EditorTextView& view = editor_->textView();
    const bool committed = view.commitPreedit();
    const TextRange selection = view.selectedRange();
    editor_->savedSelection = selection;
    findBar_->close();
    findBar_->retarget(reader_);
    const std::int64_t cursorLine = view.lineForOffset(selection.location);
    container_.show(DocumentMode::reading);
    // The page comes back at the caret's line.
    const DocumentModel& model = document_->model();
    reader_->setPendingScrollToSourceLine(ModeSwitch::readingLine(cursorLine));
    reader_->render(model.sharedSourceText(), reader_->enhancements());
    // A web view lost or given up while the editor showed comes back now.
    if (isSelected()) workingSetMember_->shown();
    gtk_widget_grab_focus(readerView_->widget());
    AppLog::editor.info("回到阅读模式（%{public}s）：光标行=%ld 提交组合输入=%{bool}d revision=%ld dirty=%{bool}d",
                        reason, static_cast<long>(cursorLine), committed,
                        static_cast<long>(model.sourceRevision()), model.isDirty());
    refreshWindowActions();
}

void DocumentPage::toggleEditing() {
    if (container_.mode() == DocumentMode::reading) {
        modeSlot_.spawn(switchToEditing(false, "用户切换"));
        return;
    }
    // A switch into editing still on its way is overtaken.
    modeSlot_.cancel();
    enterReading("用户切换");
}

Task<void> DocumentPage::switchToEditing(bool editHere, std::string reason) {
    try {
        co_await enterEditing(editHere, std::move(reason));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::editor.error("进入编辑模式失败");
    }
}

void DocumentPage::toggleLineNumbers() {
    // Stored straight away, so that an editor made later starts with it.
    const bool shows = !services_.defaults.boolean(EditorPreferences::showLineNumbersKey).value_or(false);
    services_.defaults.setBool(EditorPreferences::showLineNumbersKey, shows);
    if (editor_) editor_->setShowsLineNumbers(shows);
}

void DocumentPage::refreshWindowActions() {
    if (GtkRoot* root = gtk_widget_get_root(root_.get())) {
        if (!GTK_IS_WINDOW(root)) return;
        if (TabGroupWindow* group = TabGroupWindow::of(GTK_WINDOW(root))) group->refreshActions();
    }
}

void DocumentPage::placeEditorAtHeading(const std::string& identifier) {
    // The k-th heading of the outline is the k-th heading block the page
    // reported; its source line is where the caret goes.
    const auto& rendered = reader_->lastRendered();
    std::vector<std::int64_t> headingLines;
    if (rendered && rendered->blocks) {
        for (const RenderedBlock& block : *rendered->blocks) {
            if (block.kind == "heading") headingLines.push_back(block.sourceStart);
        }
    }
    const std::vector<BridgeHeading>& headings = reader_->lastHeadings();
    std::size_t k = 0;
    while (k < headings.size() && headings[k].id != identifier) ++k;
    if (k >= headings.size() || k >= headingLines.size()) {
        AppLog::editor.error("TOC 定位源码失败：%{private}s 在 blocks 里没有对应的标题块", identifier);
        return;
    }
    const std::int64_t line = std::max<std::int64_t>(headingLines[k], 1);
    EditorTextView& view = editor_->textView();
    const std::int64_t offset = view.offsetForLine(line);
    view.select({offset, 0});
    editor_->scrollLineToTop(offset);
    gtk_widget_grab_focus(view.widget());
    AppLog::editor.info("TOC 定位源码：%{private}s → 第 %ld 行", identifier, static_cast<long>(line));
}

Task<void> DocumentPage::scrollReader(std::string identifier) {
    try {
        const ScrolledPayload scrolled = co_await reader_->scrollToHeading(identifier);
        AppLog::document.info("TOC 定位 %{private}s：found=%{bool}d", identifier, scrolled.found);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::document.error("TOC 定位失败：%{private}s",
                               ErrorText::describe(std::current_exception()));
    }
}

void DocumentPage::positionChanged(GObject* paned, GParamSpec*, gpointer self) {
    auto* page = static_cast<DocumentPage*>(self);
    if (page->applying_) return;
    const bool collapsed = !gtk_widget_get_visible(page->outline_.widget());
    const int position = gtk_paned_get_position(GTK_PANED(paned));
    // The pane has no maximum of its own: a divider dragged past the widest
    // sidebar stops there (this runs again for the corrected position).
    if (!collapsed && position > static_cast<int>(SidebarWidth::maximum)) {
        gtk_paned_set_position(GTK_PANED(paned), static_cast<int>(SidebarWidth::maximum));
        return;
    }
    page->sidebar_.dividerMoved(position, collapsed, false);
}

}  // namespace larkspin
