#include "App/Desktop/ShellMenus.hpp"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "App/ApplicationServices.hpp"
#include "App/BuildInfo.hpp"
#include "App/RecentFiles.hpp"
#include "App/ShellMenu.hpp"
#include "App/ShellShortcuts.hpp"
#include "Appearance/Actions/AppearanceActions.hpp"
#include "Appearance/AppearanceController.hpp"
#include "Appearance/Desktop/FontChooserPanel.hpp"
#include "Appearance/TypographyController.hpp"
#include "Platform/Glib/ActionMapBinding.hpp"
#include "Settings/SettingsModel.hpp"
#include "Settings/Widgets/SettingsWindowController.hpp"
#include "Window/FindRouting.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

#if LARKSPIN_UPDATER
#include "App/Desktop/UpdateShell.hpp"
#include "Updates/Desktop/AboutUpdateGroup.hpp"
#endif

namespace larkspin {

ShellMenus::ShellMenus(GtkApplication* app, ApplicationServices& services, ShellCommands commands,
                       [[maybe_unused]] bool withUpdater) {
    fontPanel_ = std::make_unique<FontChooserPanel>();
    appearanceActions_ =
        std::make_unique<AppearanceActions>(services.appearance(), services.typography(), *fontPanel_);
    settingsModel_ = std::make_unique<SettingsModel>(SettingsModel::Collaborators{
        services.appearance(), services.typography(), services.documentPreferences(), services.recoveryStore(),
        services.defaults(), services.defaults(), services.notifications(), fontPanel_.get()});
    settings_ = std::make_unique<SettingsWindowController>(
        *settingsModel_, services.defaults(),
        SettingsWindowController::Options{{BuildInfo::name, BuildInfo::shortVersion, BuildInfo::buildNumber},
                                          ModeSwitch::sourceEditing, app});
    commands.settings = [this] { settings_->show(); };
#if LARKSPIN_UPDATER
    if (withUpdater) {
        updates_ = std::make_shared<UpdateShell>(app, services.defaults(), services.notifications(), [this] {
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
    appearanceBinding_ = std::make_unique<ActionMapBinding>(G_ACTION_MAP(app), appearanceActions_->table());
    appearanceChanged_ = services.notifications().addObserver(
        std::string(AppearanceController::didChangeNotification), nullptr,
        [this](const Notification&) { refreshActions(); });
    typographyChanged_ = services.notifications().addObserver(
        std::string(TypographyController::didChangeNotification), nullptr,
        [this](const Notification&) { refreshActions(); });

    for (const auto& entry : ShellShortcuts::all()) {
        std::vector<const char*> accelerators;
        std::vector<std::string> owned(entry.accelerators.begin(), entry.accelerators.end());
        for (const auto& accelerator : owned) accelerators.push_back(accelerator.c_str());
        accelerators.push_back(nullptr);
        gtk_application_set_accels_for_action(app, std::string(entry.action).c_str(), accelerators.data());
    }

    recentMenu_ = GObjectPtr<GMenu>::adopt(g_menu_new());
    menu_ = ShellMenu::make(G_MENU_MODEL(recentMenu_.get()), updates_ != nullptr);
    recent_ = gtk_recent_manager_get_default();
    recentHandler_ = g_signal_connect(recent_, "changed", G_CALLBACK(onRecentChanged), this);
    refreshRecent();
    // Windows made before the menus were ready get them now.
    for (GList* item = gtk_application_get_windows(app); item; item = item->next) {
        if (auto* group = TabGroupWindow::of(GTK_WINDOW(item->data))) {
            gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(group->menuButton()), G_MENU_MODEL(menu_.get()));
        }
    }
}

ShellMenus::~ShellMenus() {
    shutdown();
}

void ShellMenus::shutdown() {
    updates_.reset();
    if (recent_ && recentHandler_) g_signal_handler_disconnect(recent_, recentHandler_);
    recentHandler_ = 0;
    appearanceChanged_ = {};
    typographyChanged_ = {};
    appearanceBinding_.reset();
    appBinding_.reset();
}

void ShellMenus::refreshActions() {
    if (appBinding_) appBinding_->refresh();
    if (appearanceBinding_) appearanceBinding_->refresh();
}

AppUpdater* ShellMenus::updater() {
#if LARKSPIN_UPDATER
    if (updates_) return &updates_->updater();
#endif
    return nullptr;
}

void ShellMenus::onRecentChanged(GtkRecentManager*, void* self) {
    static_cast<ShellMenus*>(self)->refreshRecent();
}

void ShellMenus::refreshRecent() {
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

}  // namespace larkspin
