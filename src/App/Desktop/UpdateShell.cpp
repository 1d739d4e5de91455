#include "App/Desktop/UpdateShell.hpp"

#include <adwaita.h>
#include <gtk/gtk.h>

#include <string>

#include "App/BuildInfo.hpp"
#include "App/Desktop/GioApplicationLauncher.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/UserDefaults.hpp"
#include "Updates/Desktop/SoupFeedFetcher.hpp"
#include "Updates/UpdateFeed.hpp"

namespace larkspin {

namespace {

// What a dialog's response does, kept on the dialog.
struct Choice {
    UpdateShell* shell = nullptr;
    AppUpdater::CheckResult result;
};

}  // namespace

UpdateShell::UpdateShell(GtkApplication* application, UserDefaults& defaults, NotificationCenter& notifications,
                         std::function<void()> menuChanged)
    : application_(application), menuChanged_(std::move(menuChanged)) {
    SoupFeedFetcher::Options options;
    options.userAgent = std::string(BuildInfo::name) + "/" + BuildInfo::shortVersion;
    AppUpdater::Configuration configuration;
    configuration.appMajor = UpdateFeed::majorVersion(BuildInfo::shortVersion);
    configuration.currentVersion = BuildInfo::shortVersion;
#if defined(LARKSPIN_AUTOMATIC_UPDATE_CHECKS) && LARKSPIN_AUTOMATIC_UPDATE_CHECKS
    configuration.automaticChecksByDefault = true;
#endif
    updater_ = std::make_unique<AppUpdater>(configuration, std::make_shared<SoupFeedFetcher>(options),
                                            defaults, notifications, Clock::system());
    updater_->setPresenter([this](const AppUpdater::CheckResult& result) { present(result); });
    changed_ = notifications.addObserver(
        std::string(AppUpdater::didChangeNotification), updater_.get(),
        [this](const Notification&) {
            if (menuChanged_) menuChanged_();
        });
    updater_->startSchedule();
}

UpdateShell::~UpdateShell() = default;

void UpdateShell::present(const AppUpdater::CheckResult& result) {
    std::string title;
    std::string message;
    switch (result.kind) {
        case AppUpdater::CheckResult::Kind::updateAvailable:
            title = L10n::format("update.result.available.title", {result.item->displayVersion});
            message = L10n::format("update.result.available.message", {BuildInfo::shortVersion});
            break;
        case AppUpdater::CheckResult::Kind::upToDate:
            title = L10n::text("update.result.upToDate.title");
            message = L10n::format("update.result.upToDate.message",
                                   {BuildInfo::name, BuildInfo::shortVersion});
            break;
        case AppUpdater::CheckResult::Kind::failed:
            title = L10n::text("update.result.failed.title");
            message = L10n::text("update.result.failed.message");
            break;
    }
    GtkWindow* parent = gtk_application_get_active_window(application_);
    GtkWidget* dialog = adw_message_dialog_new(parent, title.c_str(), message.c_str());
    auto* messageDialog = ADW_MESSAGE_DIALOG(dialog);
    if (result.kind == AppUpdater::CheckResult::Kind::updateAvailable) {
        adw_message_dialog_add_response(messageDialog, "skip", L10n::text("update.result.skip").c_str());
        adw_message_dialog_add_response(messageDialog, "later", L10n::text("update.result.later").c_str());
        adw_message_dialog_add_response(messageDialog, "download",
                                        L10n::text("update.result.download").c_str());
        adw_message_dialog_set_response_appearance(messageDialog, "download", ADW_RESPONSE_SUGGESTED);
        adw_message_dialog_set_default_response(messageDialog, "download");
        adw_message_dialog_set_close_response(messageDialog, "later");
    } else {
        adw_message_dialog_add_response(messageDialog, "ok", L10n::text("common.ok").c_str());
        adw_message_dialog_set_default_response(messageDialog, "ok");
        adw_message_dialog_set_close_response(messageDialog, "ok");
    }
    auto* choice = new Choice{this, result};
    g_object_set_data_full(G_OBJECT(dialog), "larkspin-update-choice", choice,
                           [](gpointer data) { delete static_cast<Choice*>(data); });
    g_signal_connect(dialog, "response",
                     G_CALLBACK(+[](AdwMessageDialog* dialog, const char* response, gpointer) {
                         auto* choice = static_cast<Choice*>(
                             g_object_get_data(G_OBJECT(dialog), "larkspin-update-choice"));
                         if (!choice || !choice->result.item) return;
                         const std::string answer = response ? response : "";
                         if (answer == "download") {
                             choice->shell->tasks_.spawn(
                                 choice->shell->openDownloadPage(choice->result.item->downloadLink));
                         } else if (answer == "skip") {
                             choice->shell->updater_->skipVersion(*choice->result.item);
                         }
                     }),
                     nullptr);
    gtk_window_set_application(GTK_WINDOW(dialog), application_);
    gtk_window_present(GTK_WINDOW(dialog));
}

Task<void> UpdateShell::openDownloadPage(std::string address) {
    GioApplicationLauncher launcher;
    const auto result = co_await launcher.launch(address);
    AppLog::update.info("download page opened=%{bool}d", result.launched);
}

}  // namespace larkspin
