// The working set's budget (limits, eviction order, no double eviction) and
// its binding to document windows: who rebuilds, who releases, and what a
// window does after its reader's web process ended.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Reader/WebViewWorkingSet.hpp"

namespace larkspin {
namespace {

using ::testing::ElementsAre;
using Ids = std::vector<std::string>;

TEST(WebViewBudget, LimitsAndTheirDefaults) {
    for (const auto& [stored, limit] : std::vector<std::pair<std::optional<std::int64_t>, std::int64_t>>{
             {std::nullopt, 3}, {0, 3}, {-4, 3}, {1, 1}, {7, 7}}) {
        EXPECT_EQ(WebViewWorkingSet::configuredHotLimit(stored), limit);
    }
    EXPECT_EQ(WebViewBudget(0).hotLimit, 1);
    EXPECT_EQ(WebViewWorkingSet::create(-2)->budget().hotLimit, 1);
}

TEST(WebViewBudget, EvictsEditingThenLeastRecentlyActiveAndNeverTwice) {
    WebViewBudget budget(3);
    for (const char* id : {"a", "b", "c"}) EXPECT_TRUE(budget.activate(id, true).release.empty());
    EXPECT_EQ(budget.activate("a", true), (WebViewBudget::Plan{"a", false, {}}));  // a is newest now
    EXPECT_EQ(budget.activate("d", true), (WebViewBudget::Plan{"d", true, {"b"}}));
    EXPECT_FALSE(budget.entries.at("b").isHot);
    EXPECT_EQ(budget.evict("d"), Ids{}) << "the limit holds: nothing more goes";

    budget.entries.at("d").isEditing = true;  // the newest, but showing its editor
    EXPECT_EQ(budget.activate("e", true).release, Ids{"d"});
    EXPECT_EQ(budget.activate("b", true).release, Ids{"c"});
    EXPECT_EQ(budget.hotCount(), 3);

    // Shown without needing a web view: a hot entry stays hot, a new one is cold.
    const WebViewBudget before = budget;
    EXPECT_EQ(budget.activate("a", false).release, Ids{});
    EXPECT_TRUE(budget.entries.at("a").isHot);
    EXPECT_EQ(budget.activate("f", false), (WebViewBudget::Plan{"f", false, {}}));
    EXPECT_FALSE(budget.entries.at("f").isHot);
    EXPECT_NE(budget, before);
    EXPECT_EQ(budget.clock, before.clock + 2);
}

Task<bool> settled(bool value) { co_return value; }

class FakeWindow final : public WebViewWorkingSetMember {
public:
    FakeWindow(std::string id, std::vector<std::string>& journal) : id(std::move(id)), journal(journal) {}
    std::string readerDocumentID() const override { return id; }
    bool readerHasWebView() const override { return hasWebView; }
    Task<bool> releaseReader() override {
        journal.push_back("release " + id);
        const bool released = hasWebView && releases;
        hasWebView = hasWebView && !releases;
        return settled(released);
    }
    bool rebuildReader() override {
        journal.push_back("rebuild " + id);
        const bool built = !hasWebView;
        hasWebView = true;
        return built;
    }

    std::string id;
    std::vector<std::string>& journal;
    bool hasWebView = false;
    bool releases = true;
};

class WebViewWorkingSetTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeWindow> window(const std::string& id, bool hasWebView = true) {
        auto made = std::make_shared<FakeWindow>(id, journal);
        made->hasWebView = hasWebView;
        return made;
    }
    Ids hot() const {
        Ids ids;
        for (const auto& [id, entry] : set->budget().entries) {
            if (entry.isHot) ids.push_back(id);
        }
        return ids;
    }

    std::vector<std::string> journal;
    std::shared_ptr<WebViewWorkingSet> set = WebViewWorkingSet::create(2);
    int changes = 0;
};

TEST_F(WebViewWorkingSetTest, TheActivatedWindowRebuildsBeforeTheEvictedRelease) {
    set->onChange = [&] { ++changes; };
    auto a = window("a"), b = window("b", false), c = window("c", false);
    set->registerMember(a);
    set->registerMember(b);  // no web view: cold, nothing evicted
    EXPECT_EQ(hot(), Ids{"a"});
    set->activate(b, true);
    set->activate(c, true);
    EXPECT_THAT(journal, ElementsAre("rebuild b", "rebuild c"));
    MainThread::drainForTesting();
    EXPECT_THAT(journal, ElementsAre("rebuild b", "rebuild c", "release a"));
    EXPECT_EQ(hot(), (Ids{"b", "c"}));
    EXPECT_EQ(set->rebuildCount(), 2);
    EXPECT_EQ(set->releaseCount(), 1);

    // Already hot: rebuilt again all the same, counted only when it built one.
    set->activate(c, true);
    EXPECT_EQ(set->rebuildCount(), 2);
    // A refused release is not counted and leaves the entry cold.
    b->releases = false;
    set->activate(a, true);
    MainThread::drainForTesting();
    EXPECT_EQ(journal.back(), "release b");
    EXPECT_EQ(set->releaseCount(), 1);
    EXPECT_EQ(hot(), (Ids{"a", "c"}));

    // A window closed without a word: its entry goes instead of a release.
    c.reset();
    set->activate(b, true);
    MainThread::drainForTesting();
    EXPECT_EQ(journal.back(), "rebuild b");
    EXPECT_FALSE(set->budget().entries.contains("c"));
    set->unregister(*b);
    EXPECT_EQ(hot(), Ids{"a"});
    EXPECT_GE(changes, 7);
}

TEST_F(WebViewWorkingSetTest, OnlyTheKeyWindowRebuildsAfterItsProcessEnded) {
    auto reading = window("reading"), background = window("background");
    set->registerMember(background);
    set->registerMember(reading);
    background->hasWebView = false;  // its web process ended
    set->handleProcessRecovery(background, ProcessRecoveryAction::rebuild, false, false);
    MainThread::drainForTesting();
    EXPECT_TRUE(journal.empty()) << "nothing rebuilt, nothing evicted";
    EXPECT_EQ(hot(), Ids{"reading"});
    EXPECT_GT(set->budget().entries.at("reading").lastActive,
              set->budget().entries.at("background").lastActive);

    set->activate(background, true);  // it becomes key
    EXPECT_THAT(journal, ElementsAre("rebuild background"));

    struct Case {
        ProcessRecoveryAction action;
        bool isKey, isEditing, rebuilds;
    };
    for (const Case& c : {Case{ProcessRecoveryAction::rebuild, true, false, true},
                          Case{ProcessRecoveryAction::rebuild, true, true, false},
                          Case{ProcessRecoveryAction::crashLoop, true, false, false},
                          Case{ProcessRecoveryAction::retry, true, false, true}}) {
        journal.clear();
        reading->hasWebView = false;
        set->handleProcessRecovery(reading, c.action, c.isKey, c.isEditing);
        EXPECT_EQ(!journal.empty(), c.rebuilds) << rawValue(c.action) << " editing " << c.isEditing;
        EXPECT_EQ(set->budget().entries.at("reading").isHot, c.rebuilds) << rawValue(c.action);
    }
}

}  // namespace
}  // namespace larkspin
