#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/Desktop/QuitControl.hpp"
#include "App/OpenOrder.hpp"
#include "App/ShellDocuments.hpp"
#include "App/ShellPolicy.hpp"
#include "Document/DocumentOpening.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Log.hpp"
#include "Platform/NotificationCenter.hpp"

typedef struct _AdwApplication AdwApplication;
typedef struct _GApplication GApplication;
typedef struct _GFile GFile;
typedef struct _GMenu GMenu;
typedef struct _GListModel GListModel;
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkWindow GtkWindow;
typedef struct _GtkNativeDialog GtkNativeDialog;

namespace larkspin {

class ApplicationServices;
class AppUpdater;
class SessionRestore;
class ShellMenus;
class TabGroupWindow;
class UserDefaults;

namespace ShellLog {
inline constexpr Logger shell{"shell"};
}

// The program: one AdwApplication "dev.corvantel.larkspin" (single instance
// over D-Bus, each process on its own in a test host) that opens the files it
// is given, runs the launch sequence, carries the menus, shortcuts and the
// open dialog, and ends by the quit rule: when no window of it is visible and
// nothing holds it, or on Quit after the quit review; on SIGTERM, SIGINT,
// SIGHUP or the session's end it flushes drafts, writes the session and
// exits without closing documents. It adapts the GApplication's signals to
// its parts: the services (`ApplicationServices`), the menus and
// accelerators (`ShellMenus`), the session restore (`SessionRestore`) and
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

    void showOpenDialog();
    void openLocation(GFile* file);
    void openPath(std::filesystem::path path);
    Task<void> openChecked(std::filesystem::path path, OpenOrder<std::shared_ptr<OpenedDocument>>::Ticket ticket,
                           Hold hold);
    // An open ended (with its document, or none when it failed): the
    // documents whose turn it is get their pages, in the order asked.
    void showInOrder(OpenOrder<std::shared_ptr<OpenedDocument>>::Ticket ticket,
                     std::shared_ptr<OpenedDocument> document);
    Task<void> restoreDrafts(Hold hold);
    Task<void> restoreSession(Hold hold);
    Task<void> openHelp();
    void showAbout();
    void showError(const std::string& message);
    // A message transient for the active window, logged with its title.
    void showMessage(const std::string& title, const std::string& message);
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
    static void onOpenResponse(GtkNativeDialog* dialog, int response, gpointer self);
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
    GObjectPtr<GtkNativeDialog> openDialog_;
    // The files being checked and opened (standardised): the session
    // restore leaves them to their open.
    std::multiset<std::string> pendingOpens_;
    // Files opened together show in the order given, however their reads end.
    OpenOrder<std::shared_ptr<OpenedDocument>> openOrder_;
    bool firstWindowShown_ = false;
    bool restoringSession_ = false;
    // Until the launch's draft restore has run (in a test host, until its
    // hold goes).
    bool restoringDrafts_ = true;
    bool activateAfterRestore_ = false;
    // The last document the launch's opens (command line, second launch)
    // showed while the session was restored: brought forward again once the
    // session's windows are up.
    std::weak_ptr<OpenedDocument> shownDuringRestore_;
    std::vector<guint> signalSources_;
    // The launch's restore of the kept session.
    std::unique_ptr<SessionRestore> sessionRestore_;
    TaskScope tasks_;
};

}  // namespace larkspin
