#include "Updates/AppUpdater.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/Text/Iso8601.hpp"
#include "Platform/UserDefaults.hpp"

namespace larkspin {

namespace UpdateSchedule {

Clock::Duration nextCheckDelay(Clock::TimePoint launch, Clock::TimePoint now, Date wallNow,
                               std::optional<Date> lastCheck) {
    Clock::Duration delay = launch + launchDelay - now;
    if (lastCheck) {
        const Date last = std::min(*lastCheck, wallNow);
        const auto sinceLast = std::chrono::duration_cast<Clock::Duration>(wallNow - last);
        delay = std::max(delay, interval - sinceLast);
    }
    return std::max(delay, Clock::Duration::zero());
}

}  // namespace UpdateSchedule

namespace {

std::string describe(const FetchResult& result) {
    switch (result.outcome) {
        case FetchResult::Outcome::ok: return "ok";
        case FetchResult::Outcome::httpStatus: return "HTTP status " + std::to_string(result.status);
        case FetchResult::Outcome::insecure: return "insecure address refused: " + result.message;
        case FetchResult::Outcome::tooLarge:
            return "feed larger than " + std::to_string(FeedFetcher::maximumBodySize) + " bytes";
        case FetchResult::Outcome::timedOut: return "timed out";
        case FetchResult::Outcome::failed: return "request failed: " + result.message;
    }
    return "request failed";
}

}  // namespace

AppUpdater::AppUpdater(Configuration configuration, std::shared_ptr<FeedFetcher> fetcher,
                       UserDefaults& defaults, NotificationCenter& center, Clock& clock)
    : configuration_(std::move(configuration)),
      fetcher_(std::move(fetcher)),
      defaults_(defaults),
      center_(center),
      clock_(clock),
      launch_(clock.now()) {
    // The default is read, never written back: only the user's choice is stored.
    automaticallyChecks_ =
        defaults_.boolean(automaticallyChecksKey).value_or(configuration_.automaticChecksByDefault);
    if (auto text = defaults_.string(lastCheckDateKey)) lastCheckDate_ = Iso8601::parse(*text);
    AppLog::update.info("updater %{public}s", configuration_.starts ? "started" : "not started");
}

AppUpdater::~AppUpdater() = default;

std::optional<std::string> AppUpdater::availableVersion() const {
    if (!available_) return std::nullopt;
    return available_->displayVersion;
}

bool AppUpdater::canCheckForUpdates() const { return configuration_.starts && !checking_; }

std::string AppUpdater::feedURL() const {
    return UpdateFeed::urlString(configuration_.feedBase, configuration_.appMajor);
}

void AppUpdater::setAutomaticallyChecks(bool on) {
    if (on == automaticallyChecks_) return;
    automaticallyChecks_ = on;
    defaults_.setBool(automaticallyChecksKey, on);
    AppLog::update.info("automatic checks %{public}s", on ? "on" : "off");
    reschedule();
    changed();
}

void AppUpdater::checkForUpdates() {
    if (!canCheckForUpdates()) return;
    AppLog::update.info("check requested by user");
    // Marked at once, so that a second request before the task starts does nothing.
    checking_ = true;
    changed();
    checks_.spawn(performCheck(true));
}

void AppUpdater::skipVersion(const FeedItem& item) {
    defaults_.setString(skippedVersionKey, item.version);
    AppLog::update.info("skipped version %{public}s", item.version);
    setAvailable(std::nullopt);
}

void AppUpdater::startSchedule() {
    scheduleStarted_ = true;
    reschedule();
}

void AppUpdater::reschedule() {
    if (!scheduleStarted_ || !configuration_.starts || !automaticallyChecks_) {
        schedule_.cancel();
        scheduled_ = false;
        return;
    }
    const auto delay = UpdateSchedule::nextCheckDelay(launch_, clock_.now(), clock_.wallNow(),
                                                      lastCheckDate_);
    scheduled_ = true;
    schedule_.spawn(waitForNextCheck(delay));
}

Task<void> AppUpdater::waitForNextCheck(Clock::Duration delay) {
    co_await sleepFor(clock_, delay);
    scheduled_ = false;
    // A check the user started meanwhile reschedules when it ends.
    if (checking_) co_return;
    checking_ = true;
    changed();
    checks_.spawn(performCheck(false));
}

Task<void> AppUpdater::performCheck(bool userInitiated) {
    CheckResult result = co_await runCheck();
    lastCheckDate_ = clock_.wallNow();
    defaults_.setString(lastCheckDateKey, Iso8601::format(*lastCheckDate_));
    switch (result.kind) {
        case CheckResult::Kind::upToDate:
            AppLog::update.info("up to date at %{public}s", configuration_.currentVersion);
            setAvailable(std::nullopt);
            break;
        case CheckResult::Kind::updateAvailable:
            AppLog::update.info("found version %{public}s", result.item->version);
            setAvailable(result.item);
            break;
        case CheckResult::Kind::failed:
            AppLog::update.error("check failed: %{public}s", result.reason);
            break;
    }
    checking_ = false;
    reschedule();
    changed();
    if (userInitiated && presenter_) presenter_(result);
}

Task<AppUpdater::CheckResult> AppUpdater::runCheck() {
    CheckResult result;
    FetchResult fetched;
    try {
        fetched = co_await fetcher_->fetch(feedURL());
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        fetched.outcome = FetchResult::Outcome::failed;
        fetched.message = error.what();
    }
    if (fetched.outcome != FetchResult::Outcome::ok) {
        result.reason = describe(fetched);
        co_return result;
    }
    // At most the fetch's size limit, but read off the main thread all the same.
    auto read = [body = std::move(fetched.body)] { return UpdateFeed::parse(body); };
    const UpdateFeed::Parsed parsed = co_await runOn(WorkerPool::shared(), std::move(read));
    if (!parsed.error.empty()) {
        result.reason = parsed.error;
        co_return result;
    }
    if (parsed.skipped > 0) {
        AppLog::update.notice("left out %d feed items without a version or an https download address",
                              parsed.skipped);
    }
    const std::string skipped = defaults_.string(skippedVersionKey).value_or("");
    result.item = UpdateFeed::newestApplicable(parsed.items, configuration_.currentVersion, skipped,
                                               configuration_.os, configuration_.arch);
    result.kind = result.item ? CheckResult::Kind::updateAvailable : CheckResult::Kind::upToDate;
    co_return result;
}

void AppUpdater::setAvailable(std::optional<FeedItem> item) {
    if (item == available_) return;
    const bool wasPresent = available_.has_value();
    const bool sameVersion = wasPresent && item && item->displayVersion == available_->displayVersion;
    available_ = std::move(item);
    if (!sameVersion && (wasPresent || available_)) {
        AppLog::update.info("%{public}s", available_ ? "update available" : "update cleared");
    }
    changed();
}

void AppUpdater::changed() {
    center_.post(didChangeNotification, this);
}

std::string AppUpdater::menuTitle() const {
    if (auto version = availableVersion()) return L10n::format("update.menu.installVersion", {*version});
    return L10n::text("update.action.check");
}

std::string AppUpdater::aboutStatusText(Date now, RelativeDate::Language language) const {
    if (auto version = availableVersion()) return L10n::format("about.update.available", {*version});
    if (lastCheckDate_) {
        return L10n::format("about.update.lastChecked",
                            {RelativeDate::format(*lastCheckDate_, now, language)});
    }
    return {};
}

std::string AppUpdater::aboutButtonTitle() const {
    return L10n::text(available_ ? "about.update.install" : "update.action.check");
}

}  // namespace larkspin
