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
#include "App/Desktop/QuitControl.hpp"
#include "App/Desktop/ShellMenus.hpp"
#include "App/HelpLinks.hpp"
#include "App/LaunchSequence.hpp"
#include "App/ShellMenu.hpp"
#include "Document/DocumentRegistry.hpp"
#include "Document/RecoveryLaunch.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Localization.hpp"
#include "Platform/TestHost.hpp"
#include "Platform/Text/FileNameText.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/ContainerMigration.hpp"
#include "Window/Desktop/SessionRestore.hpp"
#include "Window/SessionStore.hpp"
#include "Window/WindowStateReporter.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"


namespace larkspin {

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

LarkspinApplication::LarkspinApplication(UserDefaults& defaults, NotificationCenter& notifications,
                                         DocumentsFactory documents)
    : defaults_(defaults),
      notifications_(notifications),
      makeDocuments_(std::move(documents)),
      alive_(std::make_shared<LarkspinApplication*>(this)) {
    GApplicationFlags flags = G_APPLICATION_HANDLES_OPEN;
    // A test host runs beside others and beside the user's own instance.
    if (isTestHost()) flags = static_cast<GApplicationFlags>(flags | G_APPLICATION_NON_UNIQUE);
    application_ = GObjectPtr<AdwApplication>::adopt(adw_application_new(BuildInfo::applicationId, flags));
    g_object_set(application_.get(), "register-session", TRUE, nullptr);
    quit_ = std::make_unique<QuitControl>(G_APPLICATION(application_.get()), static_cast<QuitControl::Shell&>(*this));
    g_signal_connect(application_.get(), "startup", G_CALLBACK(onStartup), this);
    g_signal_connect(application_.get(), "activate", G_CALLBACK(onActivate), this);
    g_signal_connect(application_.get(), "open", G_CALLBACK(onOpen), this);
    g_signal_connect(application_.get(), "shutdown", G_CALLBACK(onShutdown), this);
    g_signal_connect(application_.get(), "query-end", G_CALLBACK(onQueryEnd), this);
    g_signal_connect(application_.get(), "window-added", G_CALLBACK(onWindowAdded), this);
    g_signal_connect(application_.get(), "window-removed", G_CALLBACK(onWindowRemoved), this);
}

LarkspinApplication::~LarkspinApplication() {
    *alive_ = nullptr;
    tasks_.cancel();
    for (guint source : signalSources_) g_source_remove(source);
    g_signal_handlers_disconnect_by_data(application_.get(), this);
    forEachToplevel([this](GtkWindow* window) { g_signal_handlers_disconnect_by_data(window, this); });
}

QuitControl::Hold LarkspinApplication::hold() { return quit_->hold(); }

AppUpdater* LarkspinApplication::updater() {
    return menus_ ? menus_->updater() : nullptr;
}

GMenu* LarkspinApplication::menu() const {
    return menus_ ? menus_->menu() : nullptr;
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
    steps.migrate = [this] {
        // Before any document or preference reader: synchronously, as at
        // program start.
        FileAccessCheck::Allowance allowance;
        if (auto migration = ContainerMigration::forCurrentApp(defaults_, BuildInfo::applicationId)) {
            (void)migration->runIfNeeded();
        }
    };
    LaunchSequence::willFinish(testHost, steps);

    {
        // The renderer's files are walked once, before the first window.
        FileAccessCheck::Allowance allowance;
        ApplicationServices::Options options;
        options.keepSession = true;
        services_ = std::make_unique<ApplicationServices>(defaults_, notifications_, options);
        // Run from its build tree, the program's icon is in no icon theme:
        // the About window and the settings take it from beside the program.
        ApplicationIcon::makeKnown(gdk_display_get_default());
    }
    documents_ = makeDocuments_(*services_, GTK_APPLICATION(application_.get()));
    quit_->followToplevels();
    documents_.shell->setChangeHandler([this] { refreshActions(); });
    // The kept session's windows come back beside what the command line opens.
    if (services_->sessionStore() && documents_.placePage) {
        restoringSession_ = true;
        sessionRestore_ = std::make_unique<SessionRestore>(
            SessionRestore::Dependencies{services_->sessionStore()->file().parent_path(), services_->sessionQueue(),
                                         documents_.controller, documents_.placePage,
                                         GTK_APPLICATION(application_.get()), services_->sessionChanges()},
            pendingOpens_);
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
        std::vector<std::filesystem::path> otherFolders{defaults_.file().parent_path()};
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
        co_await sessionRestore_->run();
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
    quit_->terminate("退出");
    // The windows go before the services their pages use.
    GList* windows = gtk_application_get_windows(GTK_APPLICATION(application_.get()));
    std::vector<GtkWindow*> open;
    for (GList* item = windows; item; item = item->next) open.push_back(GTK_WINDOW(item->data));
    for (GtkWindow* window : open) gtk_window_destroy(window);
    if (menus_) menus_->shutdown();
    if (openDialog_) gtk_native_dialog_destroy(openDialog_.get());
    openDialog_ = {};
    if (documents_.shell) documents_.shell->setChangeHandler(nullptr);
}

// Menus and actions

void LarkspinApplication::installMenus() {
    ShellCommands commands;
    commands.about = [this] { showAbout(); };
    commands.quit = [this] { quit_->requestQuit(); };
    commands.open = [this] { showOpenDialog(); };
    commands.openRecent = [this](std::string target) {
        if (auto path = ShellMenu::recentPath(target)) openPath(std::move(*path));
    };
    commands.help = [this] { tasks_.spawn(openHelp()); };
    commands.documents = documents_.shell.get();
    // The updater outside a test host only: a test host makes no network request.
    menus_ = std::make_unique<ShellMenus>(GTK_APPLICATION(application_.get()), *services_, std::move(commands),
                                          !isTestHost());
}

void LarkspinApplication::refreshActions() {
    if (menus_) menus_->refreshActions();
}

ShellDocuments* LarkspinApplication::documents() {
    return documents_.shell.get();
}

void LarkspinApplication::freezeSession() {
    if (services_ && services_->sessionStore()) services_->sessionStore()->freeze();
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
        DocumentOpener::Opened result = co_await documents_.controller->openDocument(path, false);
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
    static_cast<LarkspinApplication*>(data)->quit_->endNow("会话结束");
}

gboolean LarkspinApplication::onTerminationSignal(gpointer data) {
    static_cast<LarkspinApplication*>(data)->quit_->endNow("信号");
}

void LarkspinApplication::onWindowAdded(GtkApplication*, GtkWindow* window, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    g_signal_connect(window, "notify::is-active", G_CALLBACK(onWindowChanged), self);
    g_signal_connect(window, "notify::visible", G_CALLBACK(onWindowChanged), self);
    g_signal_connect(window, "close-request", G_CALLBACK(onCloseRequest), self);
    g_signal_connect(window, "map", G_CALLBACK(onWindowMapped), self);
    // A group window is built after it joins the application: its menu button
    // gets the menu a turn later (the application's, while it lives).
    struct MenuFor {
        std::weak_ptr<LarkspinApplication*> application;
        GObjectPtr<GtkWindow> window;
    };
    g_idle_add_full(
        G_PRIORITY_HIGH_IDLE,
        [](gpointer held) -> gboolean {
            auto* pending = static_cast<MenuFor*>(held);
            auto alive = pending->application.lock();
            LarkspinApplication* owner = alive ? *alive : nullptr;
            auto* group = TabGroupWindow::of(pending->window.get());
            if (owner && group && owner->menu()) {
                gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(group->menuButton()), G_MENU_MODEL(owner->menu()));
            }
            return G_SOURCE_REMOVE;
        },
        new MenuFor{self->alive_, GObjectPtr<GtkWindow>::retain(window)},
        [](gpointer held) { delete static_cast<MenuFor*>(held); });
}

void LarkspinApplication::onWindowRemoved(GtkApplication*, GtkWindow* window, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    g_signal_handlers_disconnect_by_data(window, self);
    self->quit_->windowsChanged();
}

gboolean LarkspinApplication::onCloseRequest(GtkWindow* window, gpointer data) {
    // The last window's close is a quit: the quit review decides.
    return static_cast<LarkspinApplication*>(data)->quit_->closeIsQuit(window) ? TRUE : FALSE;
}

void LarkspinApplication::onWindowMapped(GtkWindow*, gpointer data) {
    auto* self = static_cast<LarkspinApplication*>(data);
    if (self->firstWindowShown_) return;
    self->firstWindowShown_ = true;
    LaunchTiming::mark("首个窗口已映射");
    ShellLog::shell.info("首个窗口已显示");
}

void LarkspinApplication::onWindowChanged(GObject*, GParamSpec*, gpointer data) {
    static_cast<LarkspinApplication*>(data)->quit_->windowsChanged();
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
    self->quit_->windowsChanged();
}

}  // namespace larkspin
