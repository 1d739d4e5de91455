#include "App/Desktop/LarkspinApplication.hpp"

#include <adwaita.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <system_error>

#include "App/AppActions.hpp"
#include "App/ApplicationServices.hpp"
#include "App/BuildInfo.hpp"
#include "App/Desktop/ApplicationIcon.hpp"
#include "App/Desktop/GioApplicationLauncher.hpp"
#include "App/HelpLinks.hpp"
#include "App/LaunchSequence.hpp"
#include "App/RecentFiles.hpp"
#include "App/ShellMenu.hpp"
#include "App/ShellShortcuts.hpp"
#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/FontChooserPanel.hpp"
#include "Appearance/TypographyController.hpp"
#include "Document/DocumentRegistry.hpp"
#include "Document/RecoveryLaunch.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Glib/ActionMapBinding.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Platform/UserDefaults.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/SettingsWindowController.hpp"
#include "Storage/ContainerMigration.hpp"
#include "Window/FindRouting.hpp"
#include "Window/SessionPlanner.hpp"
#include "Window/SessionStore.hpp"
#include "Window/WindowStateReporter.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

#if LARKSPIN_UPDATER
#include "App/Desktop/UpdateShell.hpp"
#include "Updates/Desktop/AboutUpdateGroup.hpp"
#endif

namespace larkspin {

// What holds the application besides its visible windows: the launch until
// the draft restore has run, an open dialog, an open still being checked.
// Each hold is also a GApplication hold; the last one let go asks the quit
// rule again.
struct LarkspinApplication::Holds {
    LarkspinApplication* owner = nullptr;
    int count = 0;
};

class LarkspinApplication::Hold {
public:
    explicit Hold(std::shared_ptr<Holds> holds) : holds_(holds) {
        ++holds->count;
        g_application_hold(G_APPLICATION(holds->owner->application_.get()));
    }
    Hold(Hold&& other) noexcept : holds_(std::move(other.holds_)) { other.holds_.reset(); }
    Hold& operator=(Hold&&) = delete;
    ~Hold() { release(); }
    void release() {
        auto holds = holds_.lock();
        holds_.reset();
        if (!holds || !holds->owner) return;
        --holds->count;
        holds->owner->scheduleQuitCheck();
        g_application_release(G_APPLICATION(holds->owner->application_.get()));
    }

private:
    std::weak_ptr<Holds> holds_;
};

namespace {

void runAfter(std::chrono::milliseconds delay, std::function<void()> step) {
    if (!step) return;
    auto* held = new std::function<void()>(std::move(step));
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(delay.count()),
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        held, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

// Calls `visit` with each toplevel of the process (our windows, the open
// dialog, message dialogs).
template <typename Visit>
void forEachToplevel(Visit visit) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint index = 0; index < g_list_model_get_n_items(toplevels); ++index) {
        auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels, index));
        visit(window);
        g_object_unref(window);
    }
}

}  // namespace

LarkspinApplication::LarkspinApplication(DocumentsFactory documents)
    : makeDocuments_(std::move(documents)), holds_(std::make_shared<Holds>()) {
    holds_->owner = this;
    GApplicationFlags flags = G_APPLICATION_HANDLES_OPEN;
    // A test host runs beside others and beside the user's own instance.
    if (isTestHost()) flags = static_cast<GApplicationFlags>(flags | G_APPLICATION_NON_UNIQUE);
    application_ = GObjectPtr<AdwApplication>::adopt(adw_application_new(BuildInfo::applicationId, flags));
    g_object_set(application_.get(), "register-session", TRUE, nullptr);
    g_signal_connect(application_.get(), "startup", G_CALLBACK(onStartup), this);
    g_signal_connect(application_.get(), "activate", G_CALLBACK(onActivate), this);
    g_signal_connect(application_.get(), "open", G_CALLBACK(onOpen), this);
    g_signal_connect(application_.get(), "shutdown", G_CALLBACK(onShutdown), this);
    g_signal_connect(application_.get(), "query-end", G_CALLBACK(onQueryEnd), this);
    g_signal_connect(application_.get(), "window-added", G_CALLBACK(onWindowAdded), this);
    g_signal_connect(application_.get(), "window-removed", G_CALLBACK(onWindowRemoved), this);
}

LarkspinApplication::~LarkspinApplication() {
    holds_->owner = nullptr;
    tasks_.cancel();
    for (guint source : signalSources_) g_source_remove(source);
    if (quitCheck_) g_source_remove(quitCheck_);
    if (activityCheck_) g_source_remove(activityCheck_);
    g_signal_handlers_disconnect_by_data(application_.get(), this);
    g_signal_handlers_disconnect_by_data(gtk_window_get_toplevels(), this);
    forEachToplevel([this](GtkWindow* window) {
        g_signal_handlers_disconnect_by_data(window, this);
        g_object_set_data(G_OBJECT(window), "larkspin-followed", nullptr);
    });
}

bool LarkspinApplication::isTestHost() {
    return std::getenv("XCTestConfigurationFilePath") != nullptr;
}

LarkspinApplication::Hold LarkspinApplication::hold() { return Hold(holds_); }

AppUpdater* LarkspinApplication::updater() {
#if LARKSPIN_UPDATER
    if (updates_) return &updates_->updater();
#endif
    return nullptr;
}

int LarkspinApplication::run(int argc, char** argv) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources_.push_back(g_unix_signal_add(signal, onTerminationSignal, this));
    }
    return g_application_run(G_APPLICATION(application_.get()), argc, argv);
}

// Launch and end

void LarkspinApplication::startup() {
    LaunchTiming::mark("startup");
    const bool testHost = isTestHost();
    // Held until the draft restore has run, so that a launch without windows
    // does not end before it.
    auto launchHold = std::make_shared<Hold>(hold());
    LaunchSteps steps;
    steps.migrate = [] {
        // Before any document or preference reader: synchronously, as at
        // program start.
        FileAccessCheck::Allowance allowance;
        if (auto migration = ContainerMigration::forCurrentApp(BuildInfo::applicationId)) {
            (void)migration->runIfNeeded();
        }
    };
    LaunchSequence::willFinish(testHost, steps);

    {
        // The services find the renderer's directory and open their stores here,
        // once; the renderer's files are walked on the workers.
        FileAccessCheck::Allowance allowance;
        ApplicationServices::Options options;
        options.keepSession = true;
        services_ = std::make_unique<ApplicationServices>(options);
        // Run from its build tree, the program's icon is in no icon theme:
        // the About window and the settings take it from beside the program.
        ApplicationIcon::makeKnown(gdk_display_get_default());
    }
    documents_ = makeDocuments_(*services_, GTK_APPLICATION(application_.get()));
    followToplevels();
    documents_.shell->setChangeHandler([this] { refreshActions(); });
    // The kept session's windows come back beside what the command line opens.
    if (services_->sessionStore() && documents_.placePage) {
        restoringSession_ = true;
        tasks_.spawn(restoreSession(hold()));
    }

    steps.installMenus = [this] { installMenus(); };
    steps.schedulePrewarm = [this] {
        // An open document's reader asks for the spare once it has rendered.
        if (documents_.shell && documents_.shell->documentCount() > 0) return;
        LaunchTiming::mark("备用网页视图已安排");
        services_->startPrewarming();
    };
    steps.after = runAfter;
    steps.logWindowState = [this] {
        if (documents_.shell) WindowStateReporter::log("启动 2s 后", documents_.shell->windowState());
    };
    steps.restoreDrafts = [this, launchHold] {
        tasks_.spawn(restoreDrafts(std::move(*launchHold)));
    };
    steps.releaseLaunchHold = [this, launchHold] {
        launchHold->release();
        restoringDrafts_ = false;
        answerHeldActivation();
    };
    LaunchSequence::didFinish(testHost, steps);
    LaunchTiming::mark("startup 完成");
}

Task<void> LarkspinApplication::restoreDrafts(Hold launchHold) {
    try {
        std::vector<std::filesystem::path> otherFolders{UserDefaults::standard().file().parent_path()};
        auto restored = co_await RecoveryLaunch::restoreUnresolvedDrafts(
            services_->recoveryStore(), documents_.controller, std::move(otherFolders));
        if (!restored.empty()) {
            AppLog::recovery.info("启动恢复完成：%ld 份文档", static_cast<long>(restored.size()));
        }
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        AppLog::recovery.error("启动恢复失败");
    }
    restoringDrafts_ = false;
    answerHeldActivation();
    launchHold.release();
}

Task<void> LarkspinApplication::restoreSession(Hold sessionHold) {
    try {
        co_await layOutSession();
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        ShellLog::shell.error("会话恢复失败");
    }
    restoringSession_ = false;
    // What the user named at launch comes before the windows of last time.
    if (auto asked = shownDuringRestore_.lock()) asked->showWindows();
    shownDuringRestore_.reset();
    answerHeldActivation();
    sessionHold.release();
}

void LarkspinApplication::answerHeldActivation() {
    // An activation during the restore is answered now that its windows are there.
    if (restoringSession_ || restoringDrafts_ || !activateAfterRestore_) return;
    activateAfterRestore_ = false;
    activate();
}

Task<void> LarkspinApplication::layOutSession() {
    const std::filesystem::path folder = services_->sessionStore()->file().parent_path();
    SessionSnapshot snapshot;
    try {
        snapshot = co_await SessionStore::load(folder, services_->sessionQueue());
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        ShellLog::shell.error("会话读取失败：%{public}s", std::string(error.what()));
    }
    if (snapshot.empty()) co_return;
    // Which files are still there is asked off the main thread.
    auto check = [paths = SessionPlanner::paths(snapshot)] {
        std::set<std::string> existing;
        for (const auto& path : paths) {
            std::error_code error;
            if (std::filesystem::is_regular_file(path, error)) existing.insert(path);
        }
        return existing;
    };
    const std::set<std::string> existing = co_await runOn(WorkerPool::shared(), std::move(check));

    // Files open already come back as they are; files being opened are the
    // command line's.
    const std::set<std::string> alreadyOpen(pendingOpens_.begin(), pendingOpens_.end());
    const SessionPlan plan = SessionPlanner::plan(snapshot, existing, alreadyOpen);

    // Every document is read first; then each window is laid out in full and
    // shown once: its pages in order, its selection, its size.
    struct Opening {
        std::shared_ptr<OpenedDocument> document;
        bool selected = false;
    };
    std::vector<std::vector<Opening>> groups;
    std::size_t count = 0;
    for (const PlannedGroup& planned : plan.groups) {
        std::vector<Opening> pages;
        for (std::size_t index = 0; index < planned.paths.size(); ++index) {
            const std::string path = planned.paths[index];
            if (pendingOpens_.contains(path)) continue;
            DocumentController::Opened opened;
            try {
                opened = co_await documents_.controller->openDocument(path, false);
            } catch (const std::exception& error) {
                rethrowIfCancelled(std::current_exception());
                AppLog::document.error("会话恢复：打开 %{private}s 失败：%{private}s",
                                       FileNameText::baseName(path),
                                       std::string(error.what()));
                continue;
            }
            // Opened meanwhile by the command line or the draft restore: its
            // page is theirs.
            if (!opened.document || opened.alreadyOpen) continue;
            pages.push_back(Opening{opened.document, index == planned.selected});
        }
        groups.push_back(std::move(pages));
    }
    std::size_t windows = 0;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        std::vector<Opening>& pages = groups[index];
        if (pages.empty()) continue;
        const bool anySelected =
            std::any_of(pages.begin(), pages.end(), [](const Opening& page) { return page.selected; });
        if (!anySelected) pages.front().selected = true;
        const PlannedGroup& planned = plan.groups[index];
        TabGroupWindow& group = TabGroupWindow::create(GTK_APPLICATION(application_.get()));
        gtk_window_set_default_size(group.window(), static_cast<int>(planned.width),
                                    static_cast<int>(planned.height));
        for (const Opening& page : pages) documents_.placePage(*page.document, group, page.selected);
        gtk_window_present(group.window());
        ++windows;
        count += pages.size();
    }
    ShellLog::shell.info("会话已恢复：%ld 个窗口，%ld 份文档，%ld 个文件已不在", static_cast<long>(windows),
                         static_cast<long>(count), static_cast<long>(plan.missing.size()));
}

void LarkspinApplication::activate() {
    LaunchTiming::mark("activate");
    // The launch may still bring documents back (the session, the drafts):
    // the open dialog only once nothing did.
    if (restoringSession_ || restoringDrafts_) {
        activateAfterRestore_ = true;
        return;
    }
    // Never an untitled document: a window of ours, or the open dialog.
    if (GtkWindow* window = gtk_application_get_active_window(GTK_APPLICATION(application_.get()))) {
        gtk_window_present(window);
        return;
    }
    showOpenDialog();
}

void LarkspinApplication::open(std::vector<GFile*> files) {
    LaunchTiming::mark("open");
    for (GFile* file : files) openLocation(file);
}

void LarkspinApplication::shutdown() {
    terminate("退出");
    // The windows go before the services their pages use.
    GList* windows = gtk_application_get_windows(GTK_APPLICATION(application_.get()));
    std::vector<GtkWindow*> open;
    for (GList* item = windows; item; item = item->next) open.push_back(GTK_WINDOW(item->data));
    for (GtkWindow* window : open) gtk_window_destroy(window);
    updates_.reset();
    if (recent_ && recentHandler_) g_signal_handler_disconnect(recent_, recentHandler_);
    recentHandler_ = 0;
    if (openDialog_) gtk_native_dialog_destroy(openDialog_.get());
    openDialog_ = {};
    appearanceChanged_ = {};
    typographyChanged_ = {};
    appearanceBinding_.reset();
    appBinding_.reset();
    if (documents_.shell) documents_.shell->setChangeHandler(nullptr);
}

void LarkspinApplication::requestQuit() {
    if (reviewing_ || terminating_) return;
    reviewing_ = true;
    std::weak_ptr<Holds> holds = holds_;
    documents_.shell->reviewBeforeQuit([holds](bool proceed) {
        auto alive = holds.lock();
        if (!alive || !alive->owner) return;
        alive->owner->reviewing_ = false;
        if (!proceed) return;
        alive->owner->terminate("退出");
        g_application_quit(G_APPLICATION(alive->owner->application_.get()));
    });
}

void LarkspinApplication::terminate(const char* reason) {
    if (terminating_) return;
    terminating_ = true;
    flushDrafts(reason);
    if (services_ && services_->sessionStore()) services_->sessionStore()->freeze();
}

void LarkspinApplication::endNow(const char* reason) {
    // The documents stay open: closing one resolves its draft, and the
    // unsaved text must come back at the next launch.
    terminate(reason);
    MainThread::beginQuitting();
    if (documents_.shell) documents_.shell->flushEveryDraftAndWait();
    SerialExecutor::finishAll();
    ShellLog::shell.info("%{public}s：草稿与会话已写入，结束", reason);
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}

void LarkspinApplication::flushDrafts(const char* reason) {
    if (!documents_.shell || documents_.shell->documentCount() == 0) return;
    const std::size_t flushed = documents_.shell->flushDraftsNow();
    if (flushed > 0) {
        AppLog::recovery.info("%{public}s：刷新 %ld 份文档的草稿", reason, static_cast<long>(flushed));
    }
}

std::vector<ShellWindow> LarkspinApplication::windows(GtkWindow* except) const {
    std::vector<ShellWindow> list;
    for (GList* item = gtk_application_get_windows(GTK_APPLICATION(application_.get())); item;
         item = item->next) {
        auto* window = GTK_WINDOW(item->data);
        if (window == except) continue;
        list.push_back({gtk_widget_get_visible(GTK_WIDGET(window)) != FALSE,
                        TabGroupWindow::of(window) != nullptr});
    }
    return list;
}

void LarkspinApplication::scheduleQuitCheck() {
    if (quitCheck_) return;
    quitCheck_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<LarkspinApplication*>(data);
            self->quitCheck_ = 0;
            if (!self->services_) return G_SOURCE_REMOVE;  // not started yet
            if (QuitRule::shouldQuit(self->windows(), self->holds_->count)) {
                self->terminate("退出");
                g_application_quit(G_APPLICATION(self->application_.get()));
            }
            return G_SOURCE_REMOVE;
        },
        this);
}

void LarkspinApplication::scheduleActivityCheck() {
    if (activityCheck_) return;
    activityCheck_ = g_idle_add(
        [](gpointer data) -> gboolean {
            auto* self = static_cast<LarkspinApplication*>(data);
            self->activityCheck_ = 0;
            // Every toplevel counts, the open dialog's too (it is no window
            // of the application).
            bool anyActive = false;
            forEachToplevel([&](GtkWindow* window) {
                if (gtk_window_is_active(window)) anyActive = true;
            });
            // The key document may have changed with the active window.
            self->refreshActions();
            if (self->activity_.update(anyActive)) {
                self->flushDrafts("失活");
            }
            return G_SOURCE_REMOVE;
        },
        this);
}

// Menus and actions

void LarkspinApplication::installMenus() {
    GtkApplication* app = GTK_APPLICATION(application_.get());
    fontPanel_ = std::make_unique<FontChooserPanel>();
    appearanceActions_ = std::make_unique<AppearanceActions>(
        AppearanceController::shared(), TypographyController::shared(), *fontPanel_);

    ShellCommands commands;
    commands.about = [this] { showAbout(); };
    settingsModel_ = std::make_unique<SettingsModel>(SettingsModel::Collaborators{
        AppearanceController::shared(), TypographyController::shared(),
        services_->documentPreferences(), services_->recoveryStore(),
        AppearanceController::shared().defaults(), UserDefaults::standard(),
        NotificationCenter::defaultCenter(), fontPanel_.get()});
    settings_ = std::make_unique<SettingsWindowController>(
        *settingsModel_, AppearanceController::shared().defaults(),
        SettingsWindowController::Options{{BuildInfo::name, BuildInfo::shortVersion, BuildInfo::buildNumber},
                                          ModeSwitch::sourceEditing, app});
    commands.settings = [this] { settings_->show(); };
    commands.quit = [this] { requestQuit(); };
    commands.open = [this] { showOpenDialog(); };
    commands.openRecent = [this](std::string target) {
        if (auto path = ShellMenu::recentPath(target)) openPath(std::move(*path));
    };
    commands.help = [this] { tasks_.spawn(openHelp()); };
    commands.documents = documents_.shell.get();
#if LARKSPIN_UPDATER
    // Outside a test host only: a test host makes no network request.
    if (!isTestHost()) {
        updates_ = std::make_shared<UpdateShell>(app, [this] {
            if (menu_) ShellMenu::setUpdateItemTitle(menu_.get(), updates_->updater().menuTitle());
            refreshActions();
        });
        commands.checkForUpdates = [this] { updates_->updater().checkForUpdates(); };
        commands.canCheckForUpdates = [this] { return updates_->updater().canCheckForUpdates(); };
        settings_->setUpdateGroup([this] { return AboutUpdateGroup::make(updates_->updater()); });
    }
#endif
    appActions_ = AppActions::make(std::move(commands));
    appBinding_ = std::make_unique<ActionMapBinding>(G_ACTION_MAP(app), appActions_);
    appearanceBinding_ =
        std::make_unique<ActionMapBinding>(G_ACTION_MAP(app), appearanceActions_->table());
    appearanceChanged_ = NotificationCenter::defaultCenter().addObserver(
        std::string(AppearanceController::didChangeNotification), nullptr,
        [this](const Notification&) { refreshActions(); });
    typographyChanged_ = NotificationCenter::defaultCenter().addObserver(
        std::string(TypographyController::didChangeNotification), nullptr,
        [this](const Notification&) { refreshActions(); });

    for (const auto& entry : ShellShortcuts::all()) {
        std::vector<const char*> accelerators;
        std::vector<std::string> owned(entry.accelerators.begin(), entry.accelerators.end());
        for (const auto& accelerator : owned) accelerators.push_back(accelerator.c_str());
        accelerators.push_back(nullptr);
        gtk_application_set_accels_for_action(app, std::string(entry.action).c_str(),
                                              accelerators.data());
    }

    recentMenu_ = GObjectPtr<GMenu>::adopt(g_menu_new());
    menu_ = ShellMenu::make(G_MENU_MODEL(recentMenu_.get()), updates_ != nullptr);
    // Where each new group window finds it.
    g_object_set_data(G_OBJECT(app), "larkspin-menu", menu_.get());
    recent_ = gtk_recent_manager_get_default();
    recentHandler_ = g_signal_connect(recent_, "changed", G_CALLBACK(onRecentChanged), this);
    refreshRecent();
    // Windows made before the menus were ready get them now.
    for (GList* item = gtk_application_get_windows(app); item; item = item->next) {
        if (auto* group = TabGroupWindow::of(GTK_WINDOW(item->data))) {
            gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(group->menuButton()),
                                           G_MENU_MODEL(menu_.get()));
        }
    }
}

void LarkspinApplication::refreshActions() {
    if (appBinding_) appBinding_->refresh();
    if (appearanceBinding_) appearanceBinding_->refresh();
}

void LarkspinApplication::refreshRecent() {
    if (!recent_ || !recentMenu_) return;
    std::vector<RecentEntry> entries;
    const char* ourName = g_get_application_name();
    GList* items = gtk_recent_manager_get_items(recent_);
    for (GList* item = items; item; item = item->next) {
        auto* info = static_cast<GtkRecentInfo*>(item->data);
        RecentEntry entry;
        if (gtk_recent_info_is_local(info)) {
            if (char* path = g_filename_from_uri(gtk_recent_info_get_uri(info), nullptr, nullptr)) {
                entry.path = path;
                g_free(path);
            }
        }
        if (const char* mime = gtk_recent_info_get_mime_type(info)) entry.mimeType = mime;
        entry.registeredByUs = ourName && gtk_recent_info_has_application(info, ourName);
        if (GDateTime* modified = gtk_recent_info_get_modified(info)) {
            entry.modified = g_date_time_to_unix(modified);
        }
        entries.push_back(std::move(entry));
    }
    g_list_free_full(items, reinterpret_cast<GDestroyNotify>(gtk_recent_info_unref));
    ShellMenu::fillRecent(recentMenu_.get(), RecentFiles::menuEntries(std::move(entries)));
}

// Opening

void LarkspinApplication::showOpenDialog() {
    if (openDialog_) {
        gtk_native_dialog_show(openDialog_.get());
        return;
    }
    GtkWindow* parent = gtk_application_get_active_window(GTK_APPLICATION(application_.get()));
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        L10n::text("open.dialog.title").c_str(), parent, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr,
        nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), TRUE);
    GtkFileFilter* markdown = gtk_file_filter_new();
    gtk_file_filter_set_name(markdown, L10n::text("open.filter.markdown").c_str());
    gtk_file_filter_add_mime_type(markdown, "text/markdown");
    gtk_file_filter_add_mime_type(markdown, "text/x-markdown");
    gtk_file_filter_add_suffix(markdown, "md");
    gtk_file_filter_add_suffix(markdown, "markdown");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), markdown);
    GtkFileFilter* text = gtk_file_filter_new();
    gtk_file_filter_set_name(text, L10n::text("open.filter.text").c_str());
    gtk_file_filter_add_mime_type(text, "text/plain");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), text);
    g_object_unref(markdown);
    g_object_unref(text);
    openDialog_ = GObjectPtr<GtkNativeDialog>::adopt(GTK_NATIVE_DIALOG(chooser));
    // Held while it is up: the dialog is no window of the application.
    auto* dialogHold = new Hold(hold());
    g_object_set_data_full(G_OBJECT(chooser), "larkspin-hold", dialogHold,
                           [](gpointer data) { delete static_cast<Hold*>(data); });
    g_signal_connect(chooser, "response", G_CALLBACK(onOpenResponse), this);
    gtk_native_dialog_show(openDialog_.get());
    ShellLog::shell.info("打开面板已显示");
}

void LarkspinApplication::openLocation(GFile* file) {
    char* path = g_file_get_path(file);
    if (!path) {
        char* uri = g_file_get_uri(file);
        showError(L10n::format("open.error.not_local", {uri ? uri : ""}));
        g_free(uri);
        return;
    }
    openPath(path);
    g_free(path);
}

void LarkspinApplication::openPath(std::filesystem::path path) {
    tasks_.spawn(openChecked(std::move(path), openOrder_.begin(), hold()));
}

Task<void> LarkspinApplication::openChecked(std::filesystem::path path,
                                            OpenOrder<std::shared_ptr<OpenedDocument>>::Ticket ticket,
                                            Hold openHold) {
    // Known as being opened until this ends, however it ends.
    struct Pending {
        std::multiset<std::string>& opens;
        std::multiset<std::string>::iterator entry;
        ~Pending() { opens.erase(entry); }
    };
    const Pending pending{pendingOpens_, pendingOpens_.insert(standardizedPath(path).string())};
    // Whether the file is there is asked off the main thread: the error of
    // stat(2) on the path, 0 when there is something to open.
    auto check = [path] {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? 0 : errno;
    };
    const int missing = co_await runOn(WorkerPool::shared(), std::move(check));
    LaunchTiming::mark("文件已检查");
    if (missing == ENOENT || missing == ENOTDIR) {
        AppLog::document.error("打开 %{private}s 失败：文件不存在", FileNameText::baseName(path));
        showError(L10n::format("open.error.missing", {FileNameText::path(path)}));
        showInOrder(ticket, nullptr);
        co_return;
    }
    if (missing == ELOOP) {
        // A link that leads back to itself: there is a name, but no file.
        AppLog::document.error("打开 %{private}s 失败：符号链接循环", FileNameText::baseName(path));
        showError(L10n::format("open.error.symlink_loop", {FileNameText::path(path)}));
        showInOrder(ticket, nullptr);
        co_return;
    }
    // Any other failure (no permission on a folder…) is the opening's to
    // report, with what is true of it.
    std::string message;
    std::shared_ptr<OpenedDocument> opened;
    try {
        // Opened without display: its page comes in its turn.
        DocumentController::Opened result = co_await documents_.controller->openDocument(path, false);
        opened = std::move(result.document);
        LaunchTiming::mark("文档已读取");
        if (char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr)) {
            gtk_recent_manager_add_item(gtk_recent_manager_get_default(), uri);
            g_free(uri);
        }
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        message = error.what();
    }
    showInOrder(ticket, std::move(opened));
    if (!message.empty()) showError(message);
    openHold.release();
}

void LarkspinApplication::showInOrder(OpenOrder<std::shared_ptr<OpenedDocument>>::Ticket ticket,
                                      std::shared_ptr<OpenedDocument> document) {
    std::optional<std::shared_ptr<OpenedDocument>> result;
    if (document) result = std::move(document);
    for (const std::shared_ptr<OpenedDocument>& ready : openOrder_.finish(ticket, std::move(result))) {
        // A document open already has its page: it is brought forward.
        LaunchTiming::mark("文档页开始创建");
        ready->makeWindowControllers();
        ready->showWindows();
        if (restoringSession_) shownDuringRestore_ = ready;
        LaunchTiming::mark("窗口已呈现");
    }
}

Task<void> LarkspinApplication::openHelp() {
    std::vector<std::string_view> languages;
    for (const char* const* name = g_get_language_names(); name && *name; ++name) {
        languages.emplace_back(*name);
    }
    const std::string address(HelpLinks::address(languages));
    GioApplicationLauncher launcher;
    const auto result = co_await launcher.launch(address);
    AppLog::help.info("帮助：打开 %{public}s 结果=%{bool}d", address, result.launched);
    if (!result.launched) {
        const std::string reason =
            result.error.empty() ? L10n::text("link.failed.unknown_reason") : result.error;
        showMessage(L10n::text("help.failed.title"),
                    L10n::format("link.banner.not_opened", {address, reason}));
    }
}

void LarkspinApplication::showAbout() {
    GtkWidget* about = adw_about_window_new();
    const std::string version =
        std::string(BuildInfo::shortVersion) + " (" + BuildInfo::buildNumber + ")";
    g_object_set(about, "application-name", BuildInfo::name, "application-icon",
                 BuildInfo::applicationId, "version", version.c_str(), "website",
                 "https://larkspin.corvantel.dev/", "developer-name", "Corvantel", nullptr);
    if (GtkWindow* parent = gtk_application_get_active_window(GTK_APPLICATION(application_.get()))) {
        gtk_window_set_transient_for(GTK_WINDOW(about), parent);
    }
    gtk_window_set_application(GTK_WINDOW(about), GTK_APPLICATION(application_.get()));
    gtk_window_present(GTK_WINDOW(about));
}

void LarkspinApplication::showError(const std::string& message) {
    showMessage(L10n::text("open.error.title"), message);
}

void LarkspinApplication::showMessage(const std::string& title, const std::string& message) {
    ShellLog::shell.info("提示：%{public}s", title);
    GtkWindow* parent = gtk_application_get_active_window(GTK_APPLICATION(application_.get()));
    GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), message.c_str());
    adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "ok", L10n::text("common.ok").c_str());
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(dialog), "ok");
    // A window of the application: it keeps the program alive while it shows.
    gtk_window_set_application(GTK_WINDOW(dialog), GTK_APPLICATION(application_.get()));
    gtk_window_present(GTK_WINDOW(dialog));
}

// Signal glue

void LarkspinApplication::onStartup(GApplication*, gpointer self) {
    static_cast<LarkspinApplication*>(self)->startup();
}

void LarkspinApplication::onActivate(GApplication*, gpointer self) {
    static_cast<LarkspinApplication*>(self)->activate();
}

void LarkspinApplication::onOpen(GApplication*, GFile** files, int count, const char*,
                                 gpointer self) {
    static_cast<LarkspinApplication*>(self)->open(std::vector<GFile*>(files, files + count));
}

void LarkspinApplication::onShutdown(GApplication*, gpointer self) {
    static_cast<LarkspinApplication*>(self)->shutdown();
}

void LarkspinApplication::onQueryEnd(GtkApplication*, gpointer data) {
    static_cast<LarkspinApplication*>(data)->endNow("会话结束");
}

gboolean LarkspinApplication::onTerminationSignal(gpointer data) {
    static_cast<LarkspinApplication*>(data)->endNow("信号");
}

void LarkspinApplication::onWindowAdded(GtkApplication*, GtkWindow* window, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    g_signal_connect(window, "notify::is-active", G_CALLBACK(onWindowChanged), self);
    g_signal_connect(window, "notify::visible", G_CALLBACK(onWindowChanged), self);
    g_signal_connect(window, "close-request", G_CALLBACK(onCloseRequest), self);
    g_signal_connect(window, "map", G_CALLBACK(onWindowMapped), self);
    // A group window is built after it joins the application: its menu button
    // gets the menu a turn later.
    g_idle_add_full(
        G_PRIORITY_HIGH_IDLE,
        [](gpointer held) -> gboolean {
            auto* window = GTK_WINDOW(held);
            auto* group = TabGroupWindow::of(window);
            auto* app = gtk_window_get_application(window);
            if (group && app) {
                if (auto* menu = g_object_get_data(G_OBJECT(app), "larkspin-menu")) {
                    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(group->menuButton()),
                                                   G_MENU_MODEL(menu));
                }
            }
            return G_SOURCE_REMOVE;
        },
        g_object_ref(window), g_object_unref);
}

void LarkspinApplication::onWindowRemoved(GtkApplication*, GtkWindow* window, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    g_signal_handlers_disconnect_by_data(window, self);
    self->scheduleQuitCheck();
    self->scheduleActivityCheck();
}

gboolean LarkspinApplication::onCloseRequest(GtkWindow* window, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    const ShellWindow closing{true, TabGroupWindow::of(window) != nullptr};
    if (self->terminating_ || !QuitRule::closeIsQuit(self->windows(window), closing)) return FALSE;
    // The last window's close is a quit: the quit review decides.
    self->requestQuit();
    return TRUE;
}

void LarkspinApplication::onWindowMapped(GtkWindow*, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    if (self->firstWindowShown_) return;
    self->firstWindowShown_ = true;
    LaunchTiming::mark("首个窗口已映射");
    ShellLog::shell.info("首个窗口已显示");
}

void LarkspinApplication::followToplevels() {
    GListModel* toplevels = gtk_window_get_toplevels();
    if (!g_signal_handler_find(toplevels, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this)) {
        g_signal_connect(toplevels, "items-changed", G_CALLBACK(onToplevelsChanged), this);
    }
    forEachToplevel([this](GtkWindow* window) {
        if (g_object_get_data(G_OBJECT(window), "larkspin-followed")) return;
        g_object_set_data(G_OBJECT(window), "larkspin-followed", this);
        g_signal_connect_swapped(window, "notify::is-active", G_CALLBACK(+[](gpointer self) {
                                     static_cast<LarkspinApplication*>(self)->scheduleActivityCheck();
                                 }),
                                 this);
    });
}

void LarkspinApplication::onToplevelsChanged(GListModel*, guint, guint, guint, gpointer self) {
    auto* application = static_cast<LarkspinApplication*>(self);
    application->followToplevels();
    // A dialog that went may have had the focus.
    application->scheduleActivityCheck();
}

void LarkspinApplication::onWindowChanged(GObject*, GParamSpec*, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    self->scheduleQuitCheck();
    self->scheduleActivityCheck();
}

void LarkspinApplication::onOpenResponse(GtkNativeDialog* dialog, int response, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    if (response == GTK_RESPONSE_ACCEPT) {
        GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        const guint count = g_list_model_get_n_items(files);
        for (guint index = 0; index < count; ++index) {
            auto* file = static_cast<GFile*>(g_list_model_get_item(files, index));
            self->openLocation(file);
            g_object_unref(file);
        }
        g_object_unref(files);
    }
    // Dropping the dialog lets go of its hold.
    self->openDialog_ = {};
    self->scheduleActivityCheck();
}

void LarkspinApplication::onRecentChanged(GtkRecentManager*, gpointer self) {
    static_cast<LarkspinApplication*>(self)->refreshRecent();
}

}  // namespace larkspin
