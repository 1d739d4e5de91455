#include "Updates/AppUpdater.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/Text/Iso8601.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Updates/FeedFixtures.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;
using Kind = AppUpdater::CheckResult::Kind;

// Answers each fetch with the next queued body (up to date when none is queued).
class FakeFetcher final : public FeedFetcher {
public:
    Task<FetchResult> fetch(std::string url) override {
        urls.push_back(url);
        FetchResult result;
        result.outcome = FetchResult::Outcome::ok;
        result.body = test::feedWith(test::feedItem("1.0", "1.0"));
        if (!bodies.empty()) {
            result.body = bodies.front();
            bodies.pop_front();
        }
        co_return result;
    }
    std::vector<std::string> urls;
    std::deque<std::string> bodies;
};

struct Fixture {
    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    ManualClock clock;
    std::shared_ptr<NotificationCenter> center = NotificationCenter::create();
    std::shared_ptr<FakeFetcher> fetcher = std::make_shared<FakeFetcher>();
    std::vector<AppUpdater::CheckResult> shown;

    ~Fixture() { defaults.drainForTesting(); }

    std::unique_ptr<AppUpdater> make(bool starts = true) {
        AppUpdater::Configuration configuration;
        configuration.appMajor = 1;
        configuration.starts = starts;
        configuration.feedBase = "https://updates.example.org";
        configuration.currentVersion = "1.0";
        configuration.os = "linux";
        configuration.arch = "x86_64";
        auto updater = std::make_unique<AppUpdater>(configuration, fetcher, defaults, *center, clock);
        updater->setPresenter([this](const AppUpdater::CheckResult& result) { shown.push_back(result); });
        return updater;
    }
    // Lets started tasks reach their timers, moves the clock and lets what fell due run.
    void advance(Clock::Duration step) {
        MainThread::drainForTesting();
        clock.advance(step);
        MainThread::drainForTesting();
    }
};

TEST(UpdateSchedule, FirstCheckAtTheLaterOfLaunchAndLastCheckThenDaily) {
    const ManualClock clock;
    const auto launch = clock.now();
    const Date wall = clock.wallNow();
    struct Case {
        Clock::Duration sinceLaunch;
        std::optional<Clock::Duration> sinceLastCheck;  // negative: dated in the future
        Clock::Duration expected;
    };
    const Case cases[] = {
        {0s, std::nullopt, 30s},
        {10s, std::nullopt, 20s},
        {5min, std::nullopt, 0s},
        {0s, 25h, 30s},        // overdue: launch + 30 s
        {0s, 2h, 22h},         // last + 24 h
        {1h, 23h + 59min + 50s, 10s},
        {0s, -5h, 24h},        // a last check in the future counts as now
        {0s, 0s, 24h},         // just checked: daily
    };
    for (const auto& c : cases) {
        std::optional<Date> last;
        if (c.sinceLastCheck) last = wall - std::chrono::duration_cast<Date::duration>(*c.sinceLastCheck);
        EXPECT_EQ(UpdateSchedule::nextCheckDelay(launch, launch + c.sinceLaunch, wall, last), c.expected);
    }
}

TEST(AppUpdater, ChecksThirtySecondsAfterLaunchThenDailyWhileAutomaticChecksAreOn) {
    Fixture f;
    f.defaults.setBool(AppUpdater::automaticallyChecksKey, true);
    auto updater = f.make();
    updater->startSchedule();
    f.advance(29s);
    EXPECT_TRUE(f.fetcher->urls.empty());
    f.advance(1s);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.fetcher->urls.size() == 1 && updater->isScheduled(); }));
    EXPECT_EQ(f.fetcher->urls[0], "https://updates.example.org/appcast-v1.xml");
    EXPECT_EQ(updater->lastCheckDate(), f.clock.wallNow());
    EXPECT_EQ(f.defaults.string(AppUpdater::lastCheckDateKey), Iso8601::format(f.clock.wallNow()));
    f.advance(24h - 1s);
    EXPECT_EQ(f.fetcher->urls.size(), 1u);
    f.advance(1s);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.fetcher->urls.size() == 2 && updater->isScheduled(); }));
    // Scheduled results are never shown.
    EXPECT_TRUE(f.shown.empty());

    // Off: nothing more, and the choice is stored.
    updater->setAutomaticallyChecks(false);
    EXPECT_FALSE(updater->isScheduled());
    EXPECT_EQ(f.defaults.boolean(AppUpdater::automaticallyChecksKey), false);
    f.advance(48h);
    EXPECT_EQ(f.fetcher->urls.size(), 2u);
}

TEST(AppUpdater, WaitsForTheLastCheckPlusADayAndNeverWritesTheDefault) {
    Fixture f;
    f.defaults.setString(AppUpdater::lastCheckDateKey, Iso8601::format(f.clock.wallNow() - 20h));
    auto updater = f.make();
    updater->startSchedule();
    // Off by default: nothing scheduled, nothing stored.
    EXPECT_FALSE(updater->automaticallyChecks());
    EXPECT_FALSE(updater->isScheduled());
    EXPECT_FALSE(f.defaults.contains(AppUpdater::automaticallyChecksKey));

    updater->setAutomaticallyChecks(true);
    EXPECT_TRUE(updater->isScheduled());
    f.advance(4h - 1s);
    EXPECT_TRUE(f.fetcher->urls.empty());
    f.advance(1s);
    EXPECT_TRUE(test::runMainLoopUntil([&] { return f.fetcher->urls.size() == 1; }));
}

TEST(AppUpdater, ScheduledFindMarksTheMenuItemAndSkipClearsIt) {
    Fixture f;
    test::LogCapture log;
    f.defaults.setBool(AppUpdater::automaticallyChecksKey, true);
    f.fetcher->bodies = {test::feedWith(test::feedItem("1.2.0", "1.2")),
                         test::feedWith(test::feedItem("1.2.0", "1.2")),
                         test::feedWith(test::feedItem("1.2.0", "1.2"))};
    auto updater = f.make();
    int changes = 0;
    auto observer = f.center->addObserver(
        std::string(AppUpdater::didChangeNotification), updater.get(),
        [&](const Notification&) { ++changes; });
    EXPECT_EQ(updater->menuTitle(), "检查更新…");
    updater->startSchedule();
    f.advance(30s);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return updater->availableVersion().has_value(); }));
    EXPECT_EQ(updater->availableVersion(), "1.2");
    EXPECT_EQ(updater->menuTitle(), "更新到 1.2…");
    EXPECT_EQ(updater->aboutStatusText(f.clock.wallNow(), RelativeDate::Language::chinese), "有新版本 1.2");
    EXPECT_EQ(updater->aboutButtonTitle(), "安装更新…");
    EXPECT_GT(changes, 0);
    EXPECT_TRUE(f.shown.empty());

    // The same version found again is not announced again.
    f.advance(24h);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.fetcher->urls.size() == 2 && updater->canCheckForUpdates(); }));
    int announced = 0;
    for (const auto& record : log.records()) announced += record.message == "update available";
    EXPECT_EQ(announced, 1);

    // The user's check shows the result; skipping stores the version.
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->checkForUpdates();  // ignored while one runs
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.shown.size() == 1; }));
    EXPECT_EQ(f.fetcher->urls.size(), 3u);
    ASSERT_EQ(f.shown[0].kind, Kind::updateAvailable);
    updater->skipVersion(*f.shown[0].item);
    EXPECT_EQ(updater->availableVersion(), std::nullopt);
    EXPECT_TRUE(log.contains("update", "update cleared"));
    EXPECT_EQ(f.defaults.string(AppUpdater::skippedVersionKey), "1.2.0");
    EXPECT_EQ(updater->menuTitle(), "检查更新…");

    // From now on that version counts as up to date.
    f.fetcher->bodies = {test::feedWith(test::feedItem("1.2.0", "1.2"))};
    updater->checkForUpdates();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return f.shown.size() == 2; }));
    EXPECT_EQ(f.shown[1].kind, Kind::upToDate);
    f.clock.advance(3min);
    EXPECT_EQ(updater->aboutStatusText(f.clock.wallNow(), RelativeDate::Language::chinese),
              "上次检查：3分钟前");
}

TEST(AppUpdater, ANotStartedUpdaterNeverChecks) {
    Fixture f;
    f.defaults.setBool(AppUpdater::automaticallyChecksKey, true);
    auto updater = f.make(false);
    updater->startSchedule();
    updater->checkForUpdates();
    EXPECT_FALSE(updater->canCheckForUpdates());
    EXPECT_FALSE(updater->isScheduled());
    f.advance(48h);
    EXPECT_TRUE(f.fetcher->urls.empty());
    EXPECT_EQ(updater->aboutStatusText(f.clock.wallNow(), RelativeDate::Language::chinese), "");
}

}  // namespace
}  // namespace larkspin
