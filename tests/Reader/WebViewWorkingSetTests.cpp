// The working set's budget (limits, eviction order, no double eviction) and
// its binding to document windows: who rebuilds, who releases, and what a
// window does after its reader's web process ended.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Platform/Async/MainThread.hpp"
#include "Reader/WebViewWorkingSet.hpp"

#include <set>

namespace larkspin {
namespace {

using Ids = std::vector<std::string>;
using Plan = WebViewBudget::Plan;

// The facts the budget asks, kept by the test as their owners would: an
// activation wanting a web view gets one, a release gives it up.
struct FakeFacts {
    std::set<std::string> hot, editing;
    WebViewBudget::Facts facts() {
        return {[this](const std::string& id) { return hot.contains(id); },
                [this](const std::string& id) { return editing.contains(id); }};
    }
    Plan carryOut(Plan plan, bool wantsHot) {
        if (wantsHot) hot.insert(plan.id);
        for (const auto& id : plan.release) hot.erase(id);
        return plan;
    }
};

TEST(WebViewBudget, LimitsEvictionOrderAndNoDoubleEviction) {
    for (const auto& [stored, limit] : {std::pair{std::optional<std::int64_t>(), 3}, {0, 3}, {-4, 3}, {1, 1}, {7, 7}}) {
        EXPECT_EQ(WebViewWorkingSet::configuredHotLimit(stored), limit);
    }
    EXPECT_EQ(WebViewWorkingSet::create(0)->budget().hotLimit, 1);
    WebViewBudget budget(3);
    FakeFacts world;
    const auto activate = [&](const char* id, bool wantsHot) {
        return world.carryOut(budget.activate(id, wantsHot, world.facts()), wantsHot);
    };
    for (const char* id : {"a", "b", "c"}) EXPECT_EQ(activate(id, true), (Plan{id, true, {}}));
    EXPECT_EQ(activate("a", true), (Plan{"a", false, {}}));  // a is the newest now
    EXPECT_EQ(activate("d", true), (Plan{"d", true, {"b"}}));
    EXPECT_EQ(budget.evict("d", world.facts()), Ids{}) << "the limit holds: nothing more goes";
    world.editing.insert("d");  // the newest, but showing its editor
    EXPECT_EQ(activate("e", true).release, Ids{"d"});
    EXPECT_EQ(activate("b", true).release, Ids{"c"});
    // Shown without needing a web view: a hot entry stays hot, a new one is cold.
    EXPECT_EQ(activate("a", false), (Plan{"a", false, {}}));
    EXPECT_EQ(activate("f", false), (Plan{"f", false, {}}));
    EXPECT_TRUE(world.hot.contains("a") && !world.hot.contains("f") && budget.entries.contains("f"));
    EXPECT_EQ(budget.hotCount(world.facts()), 3);
}

Task<bool> settled(bool value) { co_return value; }

class FakeWindow final : public WebViewWorkingSetMember {
public:
    FakeWindow(std::string id, bool hasWebView, Ids& journal) : id(std::move(id)), hasWebView(hasWebView), journal(journal) {}
    std::string readerDocumentID() const override { return id; }
    bool readerHasWebView() const override { return hasWebView; }
    bool isSelectedInWindow() const override { return selected; }
    bool isEditing() const override { return editing; }
    Task<bool> releaseReader() override {
        journal.push_back("release " + id);
        return settled(std::exchange(hasWebView, hasWebView && !releases) && releases);
    }
    bool rebuildReader() override { return journal.push_back("rebuild " + id), !std::exchange(hasWebView, true); }

    std::string id;
    bool hasWebView, releases = true, selected = false, editing = false;
    Ids& journal;
};

class WebViewWorkingSetTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeWindow> window(const std::string& id, bool hasWebView = true) {
        return std::make_shared<FakeWindow>(id, hasWebView, journal);
    }
    Ids hot() const {
        Ids ids;
        for (const auto& [id, entry] : set->budget().entries) if (set->isHot(id)) ids.push_back(id);
        return ids;
    }

    Ids journal;
    std::shared_ptr<WebViewWorkingSet> set = WebViewWorkingSet::create(2);
};

TEST_F(WebViewWorkingSetTest, TheActivatedWindowRebuildsBeforeTheEvictedRelease) {
    auto a = window("a"), b = window("b", false), c = window("c", false);
    set->registerMember(a);
    set->registerMember(b);  // no web view: cold, nothing evicted
    set->activate(b, true);
    set->activate(c, true);
    set->activate(c, true);  // already hot: asked again, built nothing
    MainThread::drainForTesting();
    EXPECT_EQ(journal, (Ids{"rebuild b", "rebuild c", "rebuild c", "release a"}));
    EXPECT_EQ(hot(), (Ids{"b", "c"}));
    EXPECT_EQ(set->rebuildCount(), 2);
    b->releases = false;  // a refused release is not counted; the entry stays cold
    set->activate(a, true);
    c.reset();  // a window closed without a word: its entry goes instead of a release
    set->activate(b, true);
    MainThread::drainForTesting();
    EXPECT_EQ(set->releaseCount(), 1);
    EXPECT_EQ(hot(), (Ids{"a", "b"}));
    EXPECT_FALSE(set->budget().entries.contains("c"));
}

TEST_F(WebViewWorkingSetTest, OnlyTheKeyWindowRebuildsAfterItsProcessEnded) {
    auto reading = window("reading"), background = window("background");
    set->registerMember(background);
    set->registerMember(reading);
    background->hasWebView = false;  // its web process ended
    set->handleProcessRecovery(background, ProcessRecoveryAction::rebuild);
    MainThread::drainForTesting();
    EXPECT_TRUE(journal.empty()) << "nothing rebuilt, nothing evicted";
    EXPECT_EQ(hot(), Ids{"reading"});
    EXPECT_GT(set->budget().entries.at("reading").lastActive, set->budget().entries.at("background").lastActive);
    using Action = ProcessRecoveryAction;
    for (const auto& [action, isEditing, rebuilds] : {std::tuple{Action::rebuild, false, true}, {Action::rebuild, true, false},
                                                      {Action::crashLoop, false, false}, {Action::retry, false, true}}) {
        journal.clear();
        reading->hasWebView = false;
        reading->selected = true;
        reading->editing = isEditing;
        set->handleProcessRecovery(reading, action);
        EXPECT_EQ(set->isHot("reading"), rebuilds) << rawValue(action) << isEditing;
        EXPECT_EQ(journal.size(), rebuilds ? 1u : 0u) << rawValue(action);
    }
}

TEST_F(WebViewWorkingSetTest, ARebuildElsewhereNeverEvictsThePageBeingRead) {
    // The page being read was selected first, a tab opened behind it since is
    // newer, and a third tab's web process ended in the background.
    auto reading = window("reading"), behind = window("behind"), crashed = window("crashed", false);
    set->registerMember(crashed);
    reading->selected = true;
    set->activate(reading, true);
    set->registerMember(behind);
    MainThread::drainForTesting();
    journal.clear();
    ASSERT_EQ(hot(), (Ids{"behind", "reading"}));
    ASSERT_LT(set->budget().entries.at("reading").lastActive, set->budget().entries.at("behind").lastActive);

    set->handleProcessRecovery(crashed, ProcessRecoveryAction::rebuild);  // not selected: waits
    MainThread::drainForTesting();
    EXPECT_TRUE(journal.empty());
    // Its retry (or any activation of another tab while the page is read)
    // rebuilds it and evicts the oldest web view other than the page's.
    set->handleProcessRecovery(crashed, ProcessRecoveryAction::retry);
    MainThread::drainForTesting();
    EXPECT_EQ(journal, (Ids{"rebuild crashed", "release behind"}));
    EXPECT_EQ(hot(), (Ids{"crashed", "reading"}));

    // At a limit of 1 the page being read stays even over the limit; shown
    // with its editor, it is no longer being read and goes.
    for (const bool editing : {false, true}) {
        journal.clear();
        auto one = WebViewWorkingSet::create(1);
        auto page = window("page"), other = window("other", false);
        page->selected = true;
        page->editing = editing;
        one->activate(page, true);
        one->activate(other, true);
        MainThread::drainForTesting();
        EXPECT_EQ(journal, editing ? (Ids{"rebuild page", "rebuild other", "release page"})
                                   : (Ids{"rebuild page", "rebuild other"})) << editing;
        EXPECT_EQ(one->isHot("page"), !editing);
    }
}

}  // namespace
}  // namespace larkspin
