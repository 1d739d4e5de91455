#pragma once

#include <memory>

#include "App/AppActions.hpp"
#include "Platform/Actions/ActionTable.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/NotificationCenter.hpp"

typedef struct _GMenu GMenu;
typedef struct _GtkApplication GtkApplication;
typedef struct _GtkRecentManager GtkRecentManager;

namespace larkspin {

class ActionMapBinding;
class AppearanceActions;
class ApplicationServices;
class AppUpdater;
class FontChooserPanel;
class SettingsModel;
class SettingsWindowController;
class UpdateShell;

// The shell's menus and accelerators on the application: the "app." actions
// over the commands the application carries out, the appearance and
// typography actions, the keyboard accelerators, the primary menu (each
// group window's menu button shows it) with the recent files as the recent
// manager lists them, the settings window over its model and, with
// `withUpdater` in a build with the updater, the updater and its menu item.
// Actions are re-validated on `refreshActions` and on each appearance or
// typography change. Made once at launch; main thread.
class ShellMenus {
public:
    // `commands` holds what only the application does (about, quit, open,
    // open recent, help, the documents); settings and the update check are
    // filled in here. `services` outlive the menus.
    ShellMenus(GtkApplication* application, ApplicationServices& services, ShellCommands commands,
               bool withUpdater);
    ~ShellMenus();
    ShellMenus(const ShellMenus&) = delete;
    ShellMenus& operator=(const ShellMenus&) = delete;

    GMenu* menu() const { return menu_.get(); }
    void refreshActions();
    // Null without the updater.
    AppUpdater* updater();
    // The application is shutting down: the updater stops, and nothing is
    // followed or bound any more.
    void shutdown();

private:
    void refreshRecent();
    static void onRecentChanged(GtkRecentManager*, void* self);

    std::unique_ptr<FontChooserPanel> fontPanel_;
    std::unique_ptr<AppearanceActions> appearanceActions_;
    std::unique_ptr<SettingsModel> settingsModel_;
    std::unique_ptr<SettingsWindowController> settings_;
    // Shared only so that a build without the updater needs no UpdateShell.
    std::shared_ptr<UpdateShell> updates_;
    ActionTable appActions_;
    std::unique_ptr<ActionMapBinding> appBinding_;
    std::unique_ptr<ActionMapBinding> appearanceBinding_;
    NotificationObserver appearanceChanged_;
    NotificationObserver typographyChanged_;
    GObjectPtr<GMenu> menu_;
    GObjectPtr<GMenu> recentMenu_;
    GtkRecentManager* recent_ = nullptr;
    unsigned long recentHandler_ = 0;
};

}  // namespace larkspin
