#pragma once

#include <functional>
#include <memory>

#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Updates/AppUpdater.hpp"

typedef struct _GtkApplication GtkApplication;

namespace larkspin {

// The program's updater and what it shows: it makes the one `AppUpdater`
// (the libsoup fetcher, the preferences and centre it is given, the system
// clock), starts its daily schedule, answers a check the user asked for with a dialog
// (Download opens the release's page in the browser, Skip this version,
// Later; or up to date; or the failure) and tells the application when the
// menu item's title or state changes. Made outside a test host only. Main
// thread.
class UpdateShell {
public:
    // The updater keeps its preferences in `defaults` and announces on
    // `notifications`.
    UpdateShell(GtkApplication* application, UserDefaults& defaults, NotificationCenter& notifications,
                std::function<void()> menuChanged);
    ~UpdateShell();
    UpdateShell(const UpdateShell&) = delete;
    UpdateShell& operator=(const UpdateShell&) = delete;

    AppUpdater& updater() { return *updater_; }

private:
    void present(const AppUpdater::CheckResult& result);
    Task<void> openDownloadPage(std::string address);

    GtkApplication* application_;
    std::function<void()> menuChanged_;
    std::unique_ptr<AppUpdater> updater_;
    NotificationObserver changed_;
    TaskScope tasks_;
};

}  // namespace larkspin
