// The find bar's controller with the reader view controller as its target,
// against the reader's fake page: only the answer to the latest request
// counts, misses shake, renders repeat a visible search, closing clears.

#include <gtest/gtest.h>

#include "Reader/Strips/FindBarController.hpp"
#include "Reader/ReaderTestSupport.hpp"

namespace larkspin::test {
namespace {

using Direction = FindPayload::Direction;

class FakeFindView final : public FindBarView {
public:
    void render(const FindBarState& state) override { renders.push_back(state); }
    void setRevealed(bool value) override { revealed = value; }
    void focusField() override { ++focusCount; }
    void shake() override { ++shakeCount; }
    std::string counter() const { return renders.back().countText(); }

    std::vector<FindBarState> renders;
    bool revealed = false;
    int focusCount = 0, shakeCount = 0;
};

class FindBarControllerTest : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        becomeReady();  // the page's request 0 is the probe
        bar = FindBarController::create(view, reader);
    }
    // The find and clear requests that reached the page so far.
    std::size_t arrived() {
        MainThread::drainForTesting();
        return page().calls.size() - 1;
    }
    std::optional<FindPayload> sent(std::size_t index) {
        const BridgeEnvelope request = page().request(index + 1);
        if (request.type == "clearFind") return std::nullopt;
        return PayloadCodec::decode<FindPayload>(request.payload);
    }
    void reply(std::size_t index, int count, int active, bool found, bool partial = false) {
        answer(index + 1, "findResult",
               "{\"matchCount\":" + std::to_string(count) + ",\"activeIndex\":" + std::to_string(active) +
                   ",\"found\":" + (found ? "true" : "false") + (partial ? ",\"partial\":true}" : "}"));
    }

    std::shared_ptr<FakeFindView> view = std::make_shared<FakeFindView>();
    std::shared_ptr<FindBarController> bar;
};

TEST_F(FindBarControllerTest, OnlyTheLatestRequestsAnswerIsShown) {
    bar->show();
    EXPECT_TRUE(view->revealed);
    for (const char* text : {"w", "wo", "wor"}) view->onQueryChange(text);
    ASSERT_EQ(arrived(), 3u);
    EXPECT_EQ(sent(2), (FindPayload{"wor", Direction::next, false, true}));
    const auto rendersBefore = view->renders.size();
    reply(0, 9, 4, true);  // older, early: dropped
    EXPECT_EQ(view->renders.size(), rendersBefore);
    reply(2, 2, 0, true);
    EXPECT_EQ(view->counter(), "1 / 2");
    reply(1, 5, 0, false);  // older, late: dropped, no shake
    EXPECT_EQ(view->counter(), "1 / 2");
    EXPECT_EQ(view->shakeCount, 0);

    view->onNext();
    view->onPrevious();
    ASSERT_EQ(arrived(), 5u);
    EXPECT_EQ(sent(3), (FindPayload{"wor", Direction::next, false, false}));
    EXPECT_EQ(sent(4), (FindPayload{"wor", Direction::previous, false, false}));
}

TEST_F(FindBarControllerTest, MissesShakeAndEmptyingTheFieldClearsOnce) {
    bar->step(Direction::next);  // hidden, empty: shows the bar and only focuses
    EXPECT_TRUE(bar->state().isVisible);
    EXPECT_EQ(view->focusCount, 2);
    EXPECT_EQ(arrived(), 0u);
    bar->queryChanged("zzz");
    ASSERT_EQ(arrived(), 1u);
    reply(0, 4, 2, false);
    EXPECT_EQ(view->shakeCount, 1);
    EXPECT_EQ(view->counter(), "0 / 0");
    EXPECT_FALSE(view->renders.back().hasActiveMatch());
    bar->queryChanged("");
    ASSERT_EQ(arrived(), 2u);
    EXPECT_FALSE(sent(1)) << "a clear";
    reply(1, 0, -1, false);
    EXPECT_EQ(view->shakeCount, 1) << "a clear never shakes";
    EXPECT_FALSE(view->renders.back().showsNoMatch());
    const auto renders = view->renders.size();
    bar->queryChanged("");  // nothing left to clear: drawn at once, nothing sent
    EXPECT_EQ(arrived(), 2u);
    EXPECT_EQ(view->renders.size(), renders + 1);
}

TEST_F(FindBarControllerTest, RendersRepeatAVisibleSearchAndClosingClearsIt) {
    bar->show();
    bar->documentDidRender();  // visible without a query
    bar->queryChanged("x");
    ASSERT_EQ(arrived(), 1u);
    reply(0, 2, 1, true);
    bar->documentDidRender();
    ASSERT_EQ(arrived(), 2u);
    EXPECT_EQ(sent(1), (FindPayload{"x", Direction::next, false, false}));
    view->onClose();
    EXPECT_FALSE(view->revealed);
    EXPECT_EQ(std::ranges::count(host->log, "focus"), 1);
    ASSERT_EQ(arrived(), 3u);
    EXPECT_FALSE(sent(2)) << "the page's highlights are cleared";
    reply(1, 5, 1, true);  // the render's answer comes after the close
    EXPECT_EQ(bar->state().matchCount, 0);
    bar->documentDidRender();
    bar->close();
    EXPECT_EQ(arrived(), 3u) << "hidden: nothing repeated, nothing cleared again";
    bar->step(Direction::previous);  // reopened by a step: a new search
    ASSERT_EQ(arrived(), 4u);
    EXPECT_EQ(sent(3), (FindPayload{"x", Direction::previous, false, true}));
}

// A count made while the document went in says so, and the render asks for
// it again without moving the active match; once final, a render steps.
TEST_F(FindBarControllerTest, ACountNotFinalIsAskedForAgainAtTheRender) {
    bar->show();
    bar->queryChanged("row");
    ASSERT_EQ(arrived(), 1u);
    reply(0, 0, -1, false, true);
    EXPECT_EQ(view->counter(), "0 / 0+");
    EXPECT_EQ(view->shakeCount, 0) << "none yet is not a miss";
    view->onNext();
    ASSERT_EQ(arrived(), 2u);
    reply(1, 37, 0, true, true);
    EXPECT_EQ(view->counter(), "1 / 37+");
    bar->documentDidRender();
    ASSERT_EQ(arrived(), 3u);
    EXPECT_EQ(sent(2), (FindPayload{"row", Direction::next, false, true}));
    reply(2, 11111, 0, true);
    EXPECT_EQ(view->counter(), "1 / 11111");
    bar->documentDidRender();
    ASSERT_EQ(arrived(), 4u);
    EXPECT_EQ(sent(3), (FindPayload{"row", Direction::next, false, false}));
}

TEST_F(FindBarControllerTest, UseSelectionSearchesTheTrimmedSelection) {
    struct Case {
        std::optional<std::string> selection;  // none: the script gave no text
        std::optional<std::string> searched;   // none: nothing happens
    };
    const Case cases[] = {
        {"", std::nullopt},
        {" \n\t\r\n ", std::nullopt},  // only spaces and line breaks
        {std::nullopt, std::nullopt},
        {"  word \n", "word"},
        {"\u00a0two words\u3000\u2028", "two words"},
        {"a\nb", "a\nb"},  // inner line breaks stay
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection.value_or("<none>"));
        const auto caseView = std::make_shared<FakeFindView>();
        auto caseBar = FindBarController::create(caseView, reader);
        const std::size_t before = arrived();
        host->pageScript = [&c] { return c.selection; };
        caseBar->useSelection();
        EXPECT_EQ(arrived(), before + (c.searched ? 1 : 0));
        EXPECT_EQ(caseBar->state().isVisible, c.searched.has_value());
        if (!c.searched) {
            EXPECT_TRUE(caseView->renders.empty());
            continue;
        }
        EXPECT_TRUE(caseView->revealed);
        EXPECT_EQ(sent(before), (FindPayload{*c.searched, Direction::next, false, true}));
        ASSERT_FALSE(caseView->renders.empty());
        EXPECT_EQ(caseView->renders.back().query, *c.searched) << "the field shows it at once";
    }
    EXPECT_EQ(host->scripts.back(), "return String(window.getSelection() ?? '');");

    // A visible bar keeps its query when the selection is blank.
    bar->show();
    bar->queryChanged("kept");
    host->pageScript = [] { return std::optional<std::string>(" \n"); };
    bar->useSelection();
    MainThread::drainForTesting();
    EXPECT_EQ(bar->state().query, "kept");

    host->pageScript = []() -> std::optional<std::string> { throw std::runtime_error("script failed"); };
    bar->useSelection();
    MainThread::drainForTesting();
    EXPECT_TRUE(logs.contains("actions", "读取选区失败：script failed"));
    EXPECT_EQ(bar->state().query, "kept");

    const std::size_t asked = host->scripts.size();
    owner->recover = [](ProcessRecoveryAction) {};  // no rebuild
    terminate();  // no web view now: nothing is asked, nothing logged
    logs.clear();
    bar->useSelection();
    MainThread::drainForTesting();
    EXPECT_EQ(host->scripts.size(), asked);
    EXPECT_FALSE(logs.contains("actions", "读取选区失败"));
}

TEST_F(FindBarControllerTest, FailuresAndDepartedOwnersChangeNothing) {
    bar->show();
    bar->queryChanged("x");
    ASSERT_EQ(arrived(), 1u);
    reply(0, 3, 1, true);
    bar->step(Direction::next);
    ASSERT_EQ(arrived(), 2u);
    answer(2, "error", R"({"code":"internal","message":"page gone"})");
    EXPECT_TRUE(logs.contains("actions", "查找请求失败"));
    EXPECT_EQ(view->counter(), "2 / 3");
    const auto loneView = std::make_shared<FakeFindView>();
    auto lone = FindBarController::create(loneView, {});
    lone->show();
    lone->queryChanged("x");  // no reader: dropped without a word
    EXPECT_EQ(arrived(), 2u);
    EXPECT_EQ(loneView->renders.size(), 1u) << "only the show";
    bar->queryChanged("y");
    ASSERT_EQ(arrived(), 3u);
    const auto renders = view->renders.size();
    logs.clear();
    bar.reset();  // its waiting request ends as cancelled, not as a failure
    reply(2, 1, 0, true);  // the late answer finds nobody
    MainThread::drainForTesting();
    EXPECT_FALSE(logs.contains("actions", "查找请求失败"));
    EXPECT_EQ(view->renders.size(), renders);
    EXPECT_EQ(view->counter(), "2 / 3");
    EXPECT_EQ(view->shakeCount, 0);
}

}  // namespace
}  // namespace larkspin::test
