#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "App/Desktop/QuitControl.hpp"
#include "App/LaunchRestores.hpp"
#include "App/ShellDocuments.hpp"
#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/NotificationCenter.hpp"

typedef struct _AdwApplication AdwApplication;
typedef struct _GApplication GApplication;
typedef struct _GFile GFile;
typedef struct _GMenu GMenu;
typedef struct _GListModel GListModel;
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;

namespace larkspin {

class ApplicationServices;
class AppUpdater;
class FileOpener;
class SessionRestore;
class ShellMenus;
class TabGroupWindow;
class UserDefaults;

// The program: one AdwApplication "dev.corvantel.larkspin" (single instance
// over D-Bus, each process on its own in a test host) that opens the files it
// is given, runs the launch sequence, carries the menus, shortcuts and the
// open dialog, and ends by the quit rule: when no window of it is visible and
// nothing holds it, or on Quit after the quit review; on SIGTERM, SIGINT,
// SIGHUP or the session's end it flushes drafts, writes the session and
// exits without closing documents. It adapts the GApplication's signals
// (startup, activate, open, shutdown, the session's end) to its parts: the
// services (`ApplicationServices`), the opening of files (`FileOpener`), the
// launch's restores (`SessionRestore`, `DraftRestore`, with what waits for
// them in `LaunchRestores`), the menus and accelerators (`ShellMenus`) and
// the program's end (`QuitControl`). Main thread.
class LarkspinApplication final : private QuitControl::Shell {
public:
    // What the program's documents are: the controller that opens them and
    // what the shell asks of them.
    struct Documents {
        std::shared_ptr<DocumentOpener> controller;
        std::shared_ptr<ShellDocuments> shell;
        // Makes the page of a document opened without display at the end of
        // a group window, selected or not, presenting nothing (the session
        // restore lays each window out in full before showing it).
        std::function<void(OpenedDocument&, TabGroupWindow&, bool select)> placePage;
    };
    // Makes the documents once the application's services exist.
    using DocumentsFactory = std::function<Documents(ApplicationServices&, GtkApplication*)>;

    // `defaults` (read already) and `notifications` are the program's and
    // outlive it; the services it makes at startup hand them on.
    LarkspinApplication(UserDefaults& defaults, NotificationCenter& notifications, DocumentsFactory documents);
    ~LarkspinApplication() override;
    LarkspinApplication(const LarkspinApplication&) = delete;
    LarkspinApplication& operator=(const LarkspinApplication&) = delete;

    // Runs the application to its end; the exit status.
    int run(int argc, char** argv);

    // The program's updater, for the About page's update group; null in a
    // test host and in a build without the updater.
    AppUpdater* updater();

    // The primary menu each group window's menu button shows; null until the
    // menus are installed.
    GMenu* menu() const;

private:
    using Hold = QuitControl::Hold;

    Hold hold();

    void startup();
    void activate();
    void open(std::vector<GFile*> files);
    void shutdown();
    void installMenus();

    // ---- QuitControl::Shell ----
    ShellDocuments* documents() override;
    void freezeSession() override;
    void refreshActions() override;

    Task<void> restoreDrafts(Hold hold);
    Task<void> restoreSession(Hold hold);
    Task<void> openHelp();
    void showAbout();
    // An activation held back while the launch restores (the session, the
    // drafts) is answered once both have run.
    void answerHeldActivation();

    static void onStartup(GApplication*, gpointer self);
    static void onActivate(GApplication*, gpointer self);
    static void onOpen(GApplication*, GFile** files, int count, const char*, gpointer self);
    static void onShutdown(GApplication*, gpointer self);
    static void onQueryEnd(GtkApplication*, gpointer self);
    static void onWindowAdded(GtkApplication*, GtkWindow* window, gpointer self);
    static void onWindowRemoved(GtkApplication*, GtkWindow* window, gpointer self);
    static gboolean onCloseRequest(GtkWindow* window, gpointer self);
    static void onWindowMapped(GtkWindow* window, gpointer self);
    static void onWindowChanged(GObject*, GParamSpec*, gpointer self);
    static gboolean onTerminationSignal(gpointer self);

    UserDefaults& defaults_;
    NotificationCenter& notifications_;
    DocumentsFactory makeDocuments_;
    GObjectPtr<AdwApplication> application_;
    // This application while it lives, for what a later turn runs.
    std::shared_ptr<LarkspinApplication*> alive_;
    std::unique_ptr<QuitControl> quit_;
    std::unique_ptr<ApplicationServices> services_;
    Documents documents_;
    // The menus, actions and accelerators, once installed.
    std::unique_ptr<ShellMenus> menus_;
    // The session restore and the draft restore (in a test host, until the
    // launch hold goes), and what waits for them.
    LaunchRestores<OpenedDocument> restores_;
    // The open dialog and the checked opens, once the documents are made.
    std::unique_ptr<FileOpener> opener_;
    bool firstWindowShown_ = false;
    std::vector<guint> signalSources_;
    // The launch's restore of the kept session.
    std::unique_ptr<SessionRestore> sessionRestore_;
    TaskScope tasks_;
};

}  // namespace larkspin
