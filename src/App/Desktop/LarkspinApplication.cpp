#include "App/Desktop/LarkspinApplication.hpp"

#include <adwaita.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <exception>

#include "App/AppActions.hpp"
#include "App/ApplicationServices.hpp"
#include "App/BuildInfo.hpp"
#include "App/Desktop/ApplicationIcon.hpp"
#include "App/Desktop/FileOpener.hpp"
#include "App/Desktop/GioApplicationLauncher.hpp"
#include "App/Desktop/QuitControl.hpp"
#include "App/Desktop/ShellLog.hpp"
#include "App/Desktop/ShellMenus.hpp"
#include "Window/Desktop/ShellMessage.hpp"
#include "App/Desktop/Toplevels.hpp"
#include "App/DraftRestore.hpp"
#include "App/HelpLinks.hpp"
#include "App/LaunchSequence.hpp"
#include "App/ShellMenu.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/LaunchTiming.hpp"
#include "Platform/Localization.hpp"
#include "Platform/TestHost.hpp"
#include "Platform/UserDefaults.hpp"
#include "Storage/ContainerMigration.hpp"
#include "Window/Desktop/SessionRestore.hpp"
#include "Window/SessionStore.hpp"
#include "Window/WindowStateReporter.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"
#include "Window/Widgets/TabGroups.hpp"

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
        // The services find the renderer's directory and open their stores here,
        // once; the renderer's files are walked on the workers.
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
    opener_ = std::make_unique<FileOpener>(GTK_APPLICATION(application_.get()), *quit_, documents_.controller,
                                           restores_);
    // The kept session's windows come back beside what the command line opens.
    if (services_->sessionStore() && documents_.placePage) {
        restores_.sessionBegins();
        sessionRestore_ = std::make_unique<SessionRestore>(
            SessionRestore::Dependencies{services_->sessionStore()->file().parent_path(), services_->sessionQueue(),
                                         documents_.controller, documents_.placePage,
                                         GTK_APPLICATION(application_.get()), services_->sessionChanges(),
                                         services_->tabGroups()},
            opener_->beingOpened());
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
        restores_.draftsEnded();
        answerHeldActivation();
    };
    LaunchSequence::didFinish(testHost, steps);
    LaunchTiming::mark("startup 完成");
}

Task<void> LarkspinApplication::restoreDrafts(Hold launchHold) {
    DraftRestore drafts(services_->recoveryStore(), documents_.controller, defaults_.file().parent_path());
    co_await drafts.run();
    restores_.draftsEnded();
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
    // What the user named at launch comes before the windows of last time.
    if (auto asked = restores_.sessionEnded()) asked->showWindows();
    // The files that could not be opened, said over those windows.
    opener_->reportFailures();
    answerHeldActivation();
    sessionHold.release();
}

void LarkspinApplication::answerHeldActivation() {
    // An activation during the restore is answered now that its windows are there.
    if (restores_.takeHeldActivation()) activate();
}

void LarkspinApplication::activate() {
    LaunchTiming::mark("activate");
    // The launch may still bring documents back (the session, the drafts):
    // the open dialog only once nothing did.
    if (!restores_.activate()) return;
    // Never an untitled document: a window of ours, or the open dialog.
    if (GtkWindow* window = gtk_application_get_active_window(GTK_APPLICATION(application_.get()))) {
        gtk_window_present(window);
        return;
    }
    opener_->showDialog();
}

void LarkspinApplication::open(std::vector<GFile*> files) {
    LaunchTiming::mark("open");
    for (GFile* file : files) opener_->open(file);
}

void LarkspinApplication::shutdown() {
    quit_->terminate("退出");
    // The windows go before the services their pages use.
    GList* windows = gtk_application_get_windows(GTK_APPLICATION(application_.get()));
    std::vector<GtkWindow*> open;
    for (GList* item = windows; item; item = item->next) open.push_back(GTK_WINDOW(item->data));
    for (GtkWindow* window : open) gtk_window_destroy(window);
    if (menus_) menus_->shutdown();
    if (opener_) opener_->shutdown();
    if (documents_.shell) documents_.shell->setChangeHandler(nullptr);
}

// Menus and actions

void LarkspinApplication::installMenus() {
    ShellCommands commands;
    commands.about = [this] { showAbout(); };
    commands.quit = [this] { quit_->requestQuit(); };
    commands.open = [this] { opener_->showDialog(); };
    commands.openRecent = [this](std::string target) {
        if (auto path = ShellMenu::recentPath(target)) opener_->open(std::move(*path));
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
    if (!services_ || !services_->sessionStore()) return;
    // A tab being dragged is in no window: it goes back to its own first.
    services_->tabGroups().cancelTabDrags();
    if (!documents_.shell || !opener_) {
        services_->sessionStore()->freeze();
        return;
    }
    // The files named and not shown yet are kept too: the next launch opens
    // them.
    services_->sessionStore()->freeze(documents_.shell->sessionSnapshot(opener_->waiting()));
}

// Help and About

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
        showShellMessage(GTK_APPLICATION(application_.get()), L10n::text("help.failed.title"),
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

}  // namespace larkspin
