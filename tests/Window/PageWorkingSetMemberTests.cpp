#include "Window/PageWorkingSetMember.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Reader/ReaderTestSupport.hpp"

using namespace std::chrono_literals;

namespace larkspin {
namespace {

// Three tab pages of one window over readers whose first web view waits for
// the page to be shown, with or without a working set.
class PageWorkingSetMemberTest : public test::ReaderTest {
protected:
    struct Tab {
        std::shared_ptr<test::FakeHost> host = std::make_shared<test::FakeHost>();
        // Hands a process end to the page, as a tab page does.
        std::shared_ptr<test::RecordingOwner> owner = std::make_shared<test::RecordingOwner>();
        std::shared_ptr<ReaderViewController> reader;
        std::shared_ptr<PageWorkingSetMember> page;
    };

    void makeTabs(std::shared_ptr<WebViewWorkingSet> set) {
        for (const std::string id : {"A", "B", "C"}) {
            Tab& tab = tabs[id];
            ReaderViewController::Dependencies dependencies;
            dependencies.host = tab.host;
            ReaderEnvironment& environment = dependencies.environment;
            environment.clock = &clock;
            environment.rendererFiles = rendererFiles(true);
            environment.imageWorkers = workers;
            environment.preferredLocalizations = [] { return std::vector<std::string>{"en"}; };
            environment.currentTheme = [] { return ThemeCatalog::theme(ThemeID::porcelain); };
            environment.pasteboard = &pasteboardService;
            dependencies.owner = tab.owner;
            tab.reader = ReaderViewController::create(id, std::move(dependencies));
            tab.reader->loadView(PageWorkingSetMember::firstWebView);
            tab.reader->render("# " + id);
            PageWorkingSetMember::Page page;
            page.isSelected = [this, id] { return selected == id; };
            page.isEditing = [this, id] { return editing == id; };
            tab.page = PageWorkingSetMember::create(tab.reader, set, std::move(page));
            tab.owner->recover = [weak = std::weak_ptr<PageWorkingSetMember>(tab.page)](ProcessRecoveryAction action) {
                if (const auto shown = weak.lock()) shown->processRecovery(action);
            };
        }
    }
    void select(const std::string& id) {
        selected = id;
        tabs.at(id).page->shown();
        MainThread::drainForTesting();
    }
    // The pages whose reader holds a web view, in name order.
    std::string live() const {
        std::string names;
        for (const auto& [id, tab] : tabs) names += tab.reader->hasWebView() ? id : "";
        return names;
    }
    void TearDown() override {
        tabs.clear();
        test::ReaderTest::TearDown();
    }

    std::map<std::string, Tab> tabs;
    std::string selected;
    std::string editing;
};

TEST_F(PageWorkingSetMemberTest, OnlyShownPagesGetAWebViewAndTheWorkingSetKeepsItsLimit) {
    struct Step {
        std::string shown;
        std::string live;
    };
    struct Case {
        const char* name;
        std::int64_t limit;  // 0: no working set
        std::vector<Step> steps;
        std::int64_t rebuilds;  // web views built again after a release
    };
    const std::vector<Case> cases{
        {"no working set: every page shown keeps its web view", 0,
         {{"C", "C"}, {"A", "AC"}, {"C", "AC"}, {"B", "ABC"}}, 0},
        {"limit 2: the least recently shown hidden page gives its up", 2,
         {{"C", "C"}, {"B", "BC"}, {"A", "AB"}, {"C", "AC"}, {"C", "AC"}}, 1},
        {"limit 1: the page on screen keeps its web view", 1,
         {{"B", "B"}, {"A", "A"}, {"B", "B"}}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tabs.clear();
        selected.clear();
        const auto set = c.limit > 0 ? WebViewWorkingSet::create(c.limit) : nullptr;
        makeTabs(set);
        EXPECT_EQ(live(), "") << "no page shown yet";
        if (set) {
            EXPECT_EQ(set->budget().entries.size(), 3u);
        }
        for (const Step& step : c.steps) {
            select(step.shown);
            EXPECT_EQ(live(), step.live) << "after showing " << step.shown;
        }
        if (set) {
            EXPECT_EQ(set->rebuildCount(), c.rebuilds) << "first web views are no rebuilds";
            tabs.at("A").page->ended();
            EXPECT_EQ(set->budget().entries.size(), 2u) << "an ended page leaves the set";
        }
    }
}

TEST_F(PageWorkingSetMemberTest, APageShownInEditingModeGetsNoWebViewUntilItReadsAgain) {
    const auto set = WebViewWorkingSet::create(3);
    makeTabs(set);
    editing = "A";
    select("A");
    EXPECT_EQ(live(), "");
    editing.clear();
    select("A");
    EXPECT_EQ(live(), "A");
}

// A page's reader whose web content process ends: the working set decides
// when it gets a web view again (the page on screen in reading mode at once,
// any other when it is next shown in reading mode), and each decision and
// each release and rebuild is logged under the page's name.
TEST_F(PageWorkingSetMemberTest, AReaderWhoseProcessEndedRebuildsWhenItsPageIsReadAgain) {
    const auto set = WebViewWorkingSet::create(2);
    makeTabs(set);
    select("C");
    select("B");
    const auto crash = [&](const std::string& id) {
        tabs.at(id).host->events.lock()->webViewProcessDidTerminate("crashed");
        MainThread::drainForTesting();
    };

    // The page on screen gets its web view back at once.
    crash("B");
    EXPECT_EQ(live(), "BC");
    EXPECT_TRUE(logs.contains("document", "Web 内容进程终止处置：action=rebuild count=1 mode=reading revision=-1 dirty=false"));
    EXPECT_TRUE(logs.contains("document", "标签回到热工作集，重建 WKWebView：B restoreAnchor=<nil>"));
    EXPECT_EQ(set->rebuildCount(), 1);

    // A hidden page waits until it is shown, and is not made the most recent
    // page: the one being read keeps its web view.
    crash("C");
    EXPECT_EQ(live(), "B") << "a hidden page does not rebuild";
    select("A");
    EXPECT_EQ(live(), "AB");
    select("C");
    EXPECT_EQ(live(), "AC") << "shown again, it rebuilds and the oldest hidden page gives its up";
    MainThread::drainForTesting();
    EXPECT_TRUE(logs.contains("document", "标签退出热工作集：B anchor=<nil>"));

    // In editing mode nothing comes back until the page reads again.
    editing = "C";
    clock.advance(5s);
    crash("C");
    EXPECT_TRUE(logs.contains("document", "Web 内容进程终止处置：action=rebuild count=2 mode=editing"));
    EXPECT_EQ(live(), "A");
    editing.clear();
    select("C");
    EXPECT_EQ(live(), "AC");

    // Two ends within 3 s: the crash-loop page, and only retry rebuilds.
    crash("C");
    EXPECT_EQ(live(), "A");
    EXPECT_TRUE(logs.contains("document", "action=crashLoop count=3 mode=reading"));
    select("C");
    EXPECT_EQ(live(), "AC") << "a showing through the working set still rebuilds";
}

}  // namespace
}  // namespace larkspin
