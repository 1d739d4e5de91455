#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Platform/Text/Date.hpp"
#include "Updates/FeedFetcher.hpp"
#include "Updates/RelativeDate.hpp"
#include "Updates/UpdateFeed.hpp"

namespace larkspin {

class NotificationCenter;
class UserDefaults;

// When the next automatic check is due, from now: the later of launch + 30 s
// and the last check + 24 h (a last check dated in the future counts as now).
namespace UpdateSchedule {

inline constexpr Clock::Duration launchDelay = std::chrono::seconds(30);
inline constexpr Clock::Duration interval = std::chrono::hours(24);

Clock::Duration nextCheckDelay(Clock::TimePoint launch, Clock::TimePoint now, Date wallNow,
                               std::optional<Date> lastCheck);

}  // namespace UpdateSchedule

// The program's updater: checks the update feed when the user asks and, with
// automatic checks on, once a day in the background; keeps what the menu item
// and the About page show (a version waiting for the user, whether a check
// can start, when the last one ran, the automatic switch) and posts
// `didChangeNotification` (sender: this updater) whenever one of them
// changes. A check found by the schedule only marks the version as waiting;
// the result of a check the user asked for goes to the presenter, which
// shows it. There is no installing: the user is sent to the download page.
// Main thread.
class AppUpdater {
public:
    struct Configuration {
        // The program's major version: names the feed file.
        std::int64_t appMajor = 1;
        // With false the updater exists but never checks.
        bool starts = true;
        std::string feedBase = std::string(UpdateFeed::baseAddress);
        // The running version, compared with the feed's machine versions.
        std::string currentVersion;
        std::string os = std::string(UpdateFeed::currentOS());
        std::string arch = std::string(UpdateFeed::currentArch());
        // "update.automaticallyChecks" when the user never set it.
        bool automaticChecksByDefault = false;
    };

    struct CheckResult {
        enum class Kind { upToDate, updateAvailable, failed };
        Kind kind = Kind::failed;
        std::optional<FeedItem> item;  // with updateAvailable
        std::string reason;            // with failed, for the log and the dialog
    };
    using Presenter = std::function<void(const CheckResult&)>;

    static constexpr std::string_view didChangeNotification = "AppUpdaterDidChange";
    static constexpr std::string_view automaticallyChecksKey = "update.automaticallyChecks";
    static constexpr std::string_view lastCheckDateKey = "update.lastCheckDate";
    static constexpr std::string_view skippedVersionKey = "update.skippedVersion";

    // Reads the preferences; starts nothing until `startSchedule`. Each
    // change is announced on `center`.
    AppUpdater(Configuration configuration, std::shared_ptr<FeedFetcher> fetcher,
               UserDefaults& defaults, NotificationCenter& center, Clock& clock);
    ~AppUpdater();
    AppUpdater(const AppUpdater&) = delete;
    AppUpdater& operator=(const AppUpdater&) = delete;

    // The display version of an update found and waiting for the user.
    std::optional<std::string> availableVersion() const;
    // True when started and no check runs.
    bool canCheckForUpdates() const;
    std::optional<Date> lastCheckDate() const { return lastCheckDate_; }
    bool automaticallyChecks() const { return automaticallyChecks_; }
    // Stores the choice (only a change is written) and starts or stops the schedule.
    void setAutomaticallyChecks(bool on);

    const Configuration& configuration() const { return configuration_; }
    // The calendar time of the updater's clock, for texts relative to now.
    Date wallNow() const { return clock_.wallNow(); }
    // Where the updater announces its changes.
    NotificationCenter& notifications() const { return center_; }
    std::string feedURL() const;

    // Who shows the results of checks the user asked for.
    void setPresenter(Presenter presenter) { presenter_ = std::move(presenter); }
    // A check the user asked for; does nothing while one cannot start.
    void checkForUpdates();
    // Ignores this release from now on (stored) and clears the waiting version.
    void skipVersion(const FeedItem& item);
    // From launch: runs the automatic checks while they are on.
    void startSchedule();
    // The automatic check waiting on the clock, if any; for tests.
    bool isScheduled() const { return scheduled_; }

    // The menu item's title: "检查更新…", or "更新到 <version>…" while one waits.
    std::string menuTitle() const;
    // The About page's status line and button title.
    std::string aboutStatusText(Date now, RelativeDate::Language language) const;
    std::string aboutButtonTitle() const;

private:
    Task<void> performCheck(bool userInitiated);
    Task<void> waitForNextCheck(Clock::Duration delay);
    Task<CheckResult> runCheck();
    void reschedule();
    void setAvailable(std::optional<FeedItem> item);
    void changed();

    Configuration configuration_;
    std::shared_ptr<FeedFetcher> fetcher_;
    UserDefaults& defaults_;
    NotificationCenter& center_;
    Clock& clock_;
    Clock::TimePoint launch_;
    Presenter presenter_;
    std::optional<FeedItem> available_;
    std::optional<Date> lastCheckDate_;
    bool automaticallyChecks_ = false;
    bool checking_ = false;
    bool scheduleStarted_ = false;
    bool scheduled_ = false;
    // Last: they go first.
    TaskSlot schedule_;
    TaskScope checks_;
};

}  // namespace larkspin
