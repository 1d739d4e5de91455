#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Reader/Chrome/FindBarController.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Direction = FindPayload::Direction;

// Draws nothing; remembers what it was asked to draw.
class FakeFindView final : public FindBarView {
public:
    void render(const FindBarState& state) override { renders.push_back(state); }
    void setRevealed(bool value) override { revealed = value; }
    void focusField() override { ++focusCount; }
    void shake() override { ++shakeCount; }

    const FindBarState& last() const { return renders.back(); }

    std::vector<FindBarState> renders;
    bool revealed = false;
    int focusCount = 0;
    int shakeCount = 0;
};

// A reader whose page answers only when the test says so, in any order.
class FakeFindTarget final : public FindTarget {
public:
    struct Pending {
        std::optional<FindPayload> payload;  // none: a clear
        Completion<FindResultPayload> reply;
    };

    Task<FindResultPayload> find(FindPayload payload) override { return wait(std::move(payload)); }
    Task<FindResultPayload> clearFind() override { return wait(std::nullopt); }
    void focusPage() override { ++pageFocusCount; }

    // Waits until `count` requests have reached the page.
    void expectRequests(std::size_t count) {
        ASSERT_TRUE(test::runMainLoopUntil([&] { return pending.size() >= count; }));
        ASSERT_EQ(pending.size(), count);
    }
    void answer(std::size_t index, FindResultPayload result) {
        pending.at(index).reply.resolve(result);
        test::runMainLoopUntil([] { return false; }, 5);
    }
    void fail(std::size_t index) {
        pending.at(index).reply.fail(std::make_exception_ptr(std::runtime_error("page gone")));
        test::runMainLoopUntil([] { return false; }, 5);
    }

    std::deque<Pending> pending;
    int pageFocusCount = 0;

private:
    Task<FindResultPayload> wait(std::optional<FindPayload> payload) {
        return waitFor(this, std::move(payload));
    }
    static Task<FindResultPayload> waitFor(FakeFindTarget* self, std::optional<FindPayload> payload) {
        auto start = [self, payload](Completion<FindResultPayload> done) {
            self->pending.push_back({payload, std::move(done)});
        };
        co_return co_await awaitCompletion<FindResultPayload>(start);
    }
};

class FindBarControllerTest : public ::testing::Test {
protected:
    // Lets every posted job run (a sent request starts on a later turn).
    static void settle() { test::runMainLoopUntil([] { return false; }, 5); }

    const FindPayload& sent(std::size_t index) const { return *target->pending.at(index).payload; }

    test::LogCapture logs;
    std::shared_ptr<FakeFindView> view = std::make_shared<FakeFindView>();
    std::shared_ptr<FakeFindTarget> target = std::make_shared<FakeFindTarget>();
    std::shared_ptr<FindBarController> bar = FindBarController::create(view, target);
};

TEST_F(FindBarControllerTest, TypingSearchesThePageAndShowsItsAnswer) {
    bar->show();
    EXPECT_TRUE(view->revealed);
    EXPECT_EQ(view->focusCount, 1);
    EXPECT_TRUE(logs.contains("actions", "查找条显示"));
    settle();
    EXPECT_TRUE(target->pending.empty()) << "showing sends nothing";

    const auto rendersBefore = view->renders.size();
    view->onQueryChange("word");
    target->expectRequests(1);
    EXPECT_EQ(sent(0), (FindPayload{"word", Direction::next, false, true}));
    EXPECT_EQ(view->renders.size(), rendersBefore) << "drawn only when the page answers";

    target->answer(0, {7, 1, true});
    EXPECT_EQ(view->last().countText(), "2 / 7");
    EXPECT_EQ(view->shakeCount, 0);

    view->onNext();
    view->onPrevious();
    target->expectRequests(3);
    EXPECT_EQ(sent(1), (FindPayload{"word", Direction::next, false, false}));
    EXPECT_EQ(sent(2), (FindPayload{"word", Direction::previous, false, false}));
}

TEST_F(FindBarControllerTest, OnlyTheLatestRequestsAnswerCounts) {
    bar->show();
    bar->queryChanged("w");
    bar->queryChanged("wo");
    bar->queryChanged("wor");
    target->expectRequests(3);

    // The newest answers first; the older ones arrive late and are dropped.
    target->answer(2, {2, 0, true});
    EXPECT_EQ(bar->state().countText(), "1 / 2");
    const auto renders = view->renders.size();
    target->answer(0, {9, 4, true});
    target->answer(1, {5, 0, false});
    EXPECT_EQ(bar->state().countText(), "1 / 2");
    EXPECT_EQ(view->renders.size(), renders);
    EXPECT_EQ(view->shakeCount, 0);

    // An older one answering before the newest changes nothing either.
    bar->queryChanged("word");
    bar->queryChanged("words");
    target->expectRequests(5);
    target->answer(3, {1, 0, true});
    EXPECT_EQ(bar->state().countText(), "1 / 2");
    target->answer(4, {3, 2, true});
    EXPECT_EQ(bar->state().countText(), "3 / 3");
}

TEST_F(FindBarControllerTest, EmptyingTheFieldClearsThePageOnce) {
    bar->show();
    bar->queryChanged("a");
    bar->queryChanged("");
    target->expectRequests(2);
    EXPECT_FALSE(target->pending[1].payload) << "the second request is a clear";
    target->answer(1, {0, -1, false});
    EXPECT_EQ(view->last().countText(), "0 / 0");
    EXPECT_FALSE(view->last().showsNoMatch()) << "an empty field is not a miss";
    EXPECT_EQ(view->shakeCount, 0) << "a clear never shakes";

    // Nothing was searched since: emptying again sends nothing and draws at once.
    const auto renders = view->renders.size();
    bar->queryChanged("");
    settle();
    EXPECT_EQ(target->pending.size(), 2u);
    EXPECT_EQ(view->renders.size(), renders + 1);
}

TEST_F(FindBarControllerTest, NoMatchShakesAndDisablesStepping) {
    bar->show();
    bar->queryChanged("zzz");
    target->expectRequests(1);
    target->answer(0, {0, -1, false});
    EXPECT_EQ(view->shakeCount, 1);
    EXPECT_TRUE(view->last().showsNoMatch());
    EXPECT_FALSE(view->last().hasActiveMatch());

    // Matches in the page but none found from here: still a miss.
    bar->step(Direction::next);
    target->expectRequests(2);
    target->answer(1, {4, 2, false});
    EXPECT_EQ(view->shakeCount, 2);
    EXPECT_EQ(bar->state().activeIndex, -1);
    EXPECT_EQ(view->last().countText(), "0 / 0");
}

TEST_F(FindBarControllerTest, SteppingWhileHiddenShowsTheBarFirst) {
    bar->step(Direction::next);
    EXPECT_TRUE(bar->state().isVisible);
    EXPECT_TRUE(view->revealed);
    EXPECT_EQ(view->focusCount, 2) << "shown, then the empty field focused";
    settle();
    EXPECT_TRUE(target->pending.empty());

    // Closed with a query and reopened by a step: a fresh search.
    bar->queryChanged("x");
    target->expectRequests(1);
    bar->close();
    target->expectRequests(2);
    bar->step(Direction::previous);
    target->expectRequests(3);
    EXPECT_EQ(sent(2), (FindPayload{"x", Direction::previous, false, true}));
}

TEST_F(FindBarControllerTest, ClosingHidesClearsAndGivesThePageTheFocus) {
    bar->close();
    EXPECT_EQ(target->pageFocusCount, 0) << "closing a hidden bar does nothing";

    bar->show();
    bar->close();
    settle();
    EXPECT_TRUE(target->pending.empty()) << "nothing searched, nothing to clear";
    EXPECT_EQ(target->pageFocusCount, 1);

    bar->show();
    bar->queryChanged("x");
    target->expectRequests(1);
    target->answer(0, {3, 0, true});
    view->onClose();
    EXPECT_FALSE(view->revealed);
    EXPECT_EQ(view->last().countText(), "0 / 0");
    EXPECT_EQ(view->last().query, "x");
    target->expectRequests(2);
    EXPECT_FALSE(target->pending[1].payload);
    EXPECT_EQ(target->pageFocusCount, 2);
    EXPECT_TRUE(logs.contains("actions", "查找条关闭"));
}

TEST_F(FindBarControllerTest, ARenderRepeatsAVisibleSearchOnly) {
    bar->documentDidRender();
    bar->show();
    bar->documentDidRender();
    settle();
    EXPECT_TRUE(target->pending.empty()) << "hidden, or visible without a query";

    bar->queryChanged("x");
    target->expectRequests(1);
    target->answer(0, {2, 1, true});
    bar->documentDidRender();
    target->expectRequests(2);
    EXPECT_EQ(sent(1), (FindPayload{"x", Direction::next, false, false}));
    target->answer(1, {5, 1, true});
    EXPECT_EQ(view->last().countText(), "2 / 5");

    bar->close();
    target->expectRequests(3);
    bar->documentDidRender();
    settle();
    EXPECT_EQ(target->pending.size(), 3u);
}

TEST_F(FindBarControllerTest, FailuresAndDepartedOwnersLeaveTheStateAlone) {
    bar->show();
    bar->queryChanged("x");
    target->expectRequests(1);
    target->answer(0, {3, 1, true});
    bar->step(Direction::next);
    target->expectRequests(2);
    const auto renders = view->renders.size();
    target->fail(1);
    EXPECT_TRUE(logs.contains("actions", "查找请求失败"));
    EXPECT_EQ(bar->state().countText(), "2 / 3");
    EXPECT_EQ(view->renders.size(), renders);

    // The reader gone: requests are dropped without a word.
    auto lone = FindBarController::create(std::make_shared<FakeFindView>(),
                                          std::weak_ptr<FindTarget>());
    lone->show();
    lone->queryChanged("x");
    settle();
    EXPECT_EQ(lone->state().matchCount, 0);

    // The bar gone while its request waits: the late answer finds nobody.
    bar->queryChanged("y");
    target->expectRequests(3);
    bar.reset();
    target->answer(2, {1, 0, true});
}

}  // namespace
}  // namespace larkspin
