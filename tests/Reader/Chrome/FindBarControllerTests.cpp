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

// A page that answers only when the test says so, in any order.
class FakeFindTarget final : public FindTarget {
public:
    struct Pending {
        std::optional<FindPayload> payload;  // none: a clear
        Completion<FindResultPayload> reply;
    };

    Task<FindResultPayload> find(FindPayload payload) override { return wait(this, payload); }
    Task<FindResultPayload> clearFind() override { return wait(this, std::nullopt); }
    void focusPage() override { ++pageFocusCount; }

    // The requests that reached the page so far (after the loop turned).
    std::size_t arrived() {
        test::runMainLoopUntil([] { return false; }, 4);
        return pending.size();
    }
    void answer(std::size_t index, FindResultPayload result) {
        pending.at(index).reply.resolve(result);
        arrived();
    }

    std::deque<Pending> pending;
    int pageFocusCount = 0;

private:
    static Task<FindResultPayload> wait(FakeFindTarget* self, std::optional<FindPayload> payload) {
        auto start = [self, payload](Completion<FindResultPayload> done) {
            self->pending.push_back({payload, std::move(done)});
        };
        co_return co_await awaitCompletion<FindResultPayload>(start);
    }
};

class FindBarControllerTest : public ::testing::Test {
protected:
    const std::optional<FindPayload>& sent(std::size_t index) const { return target->pending.at(index).payload; }

    test::LogCapture logs;
    std::shared_ptr<FakeFindView> view = std::make_shared<FakeFindView>();
    std::shared_ptr<FakeFindTarget> target = std::make_shared<FakeFindTarget>();
    std::shared_ptr<FindBarController> bar = FindBarController::create(view, target);
};

TEST_F(FindBarControllerTest, OnlyTheLatestRequestsAnswerIsShown) {
    bar->show();
    EXPECT_TRUE(view->revealed);
    for (const char* text : {"w", "wo", "wor"}) view->onQueryChange(text);
    ASSERT_EQ(target->arrived(), 3u);
    EXPECT_EQ(sent(2), (FindPayload{"wor", Direction::next, false, true}));
    const auto rendersBefore = view->renders.size();
    target->answer(0, {9, 4, true});  // older, early: dropped
    EXPECT_EQ(view->renders.size(), rendersBefore);
    target->answer(2, {2, 0, true});
    EXPECT_EQ(view->counter(), "1 / 2");
    target->answer(1, {5, 0, false});  // older, late: dropped, no shake
    EXPECT_EQ(view->counter(), "1 / 2");
    EXPECT_EQ(view->shakeCount, 0);

    view->onNext();
    view->onPrevious();
    ASSERT_EQ(target->arrived(), 5u);
    EXPECT_EQ(sent(3), (FindPayload{"wor", Direction::next, false, false}));
    EXPECT_EQ(sent(4), (FindPayload{"wor", Direction::previous, false, false}));
}

TEST_F(FindBarControllerTest, MissesShakeAndEmptyingTheFieldClearsOnce) {
    bar->step(Direction::next);  // hidden, empty: shows the bar and only focuses
    EXPECT_TRUE(bar->state().isVisible);
    EXPECT_EQ(view->focusCount, 2);
    EXPECT_EQ(target->arrived(), 0u);
    bar->queryChanged("zzz");
    ASSERT_EQ(target->arrived(), 1u);
    target->answer(0, {4, 2, false});
    EXPECT_EQ(view->shakeCount, 1);
    EXPECT_EQ(view->counter(), "0 / 0");
    EXPECT_FALSE(view->renders.back().hasActiveMatch());
    bar->queryChanged("");
    ASSERT_EQ(target->arrived(), 2u);
    EXPECT_FALSE(sent(1)) << "a clear";
    target->answer(1, {0, -1, false});
    EXPECT_EQ(view->shakeCount, 1) << "a clear never shakes";
    EXPECT_FALSE(view->renders.back().showsNoMatch());
    const auto renders = view->renders.size();
    bar->queryChanged("");  // nothing left to clear: drawn at once, nothing sent
    EXPECT_EQ(target->arrived(), 2u);
    EXPECT_EQ(view->renders.size(), renders + 1);
}

TEST_F(FindBarControllerTest, RendersRepeatAVisibleSearchAndClosingClearsIt) {
    bar->show();
    bar->documentDidRender();  // visible without a query
    bar->queryChanged("x");
    ASSERT_EQ(target->arrived(), 1u);
    target->answer(0, {2, 1, true});
    bar->documentDidRender();
    ASSERT_EQ(target->arrived(), 2u);
    EXPECT_EQ(sent(1), (FindPayload{"x", Direction::next, false, false}));
    view->onClose();
    EXPECT_FALSE(view->revealed);
    EXPECT_EQ(target->pageFocusCount, 1);
    ASSERT_EQ(target->arrived(), 3u);
    EXPECT_FALSE(sent(2)) << "the page's highlights are cleared";
    target->answer(1, {5, 1, true});  // the render's answer comes after the close
    EXPECT_EQ(bar->state().matchCount, 0);
    bar->documentDidRender();
    bar->close();
    EXPECT_EQ(target->arrived(), 3u) << "hidden: nothing repeated, nothing cleared again";
    bar->step(Direction::previous);  // reopened by a step: a new search
    ASSERT_EQ(target->arrived(), 4u);
    EXPECT_EQ(sent(3), (FindPayload{"x", Direction::previous, false, true}));
}

TEST_F(FindBarControllerTest, FailuresAndDepartedOwnersChangeNothing) {
    bar->show();
    bar->queryChanged("x");
    ASSERT_EQ(target->arrived(), 1u);
    target->answer(0, {3, 1, true});
    bar->step(Direction::next);
    ASSERT_EQ(target->arrived(), 2u);
    target->pending[1].reply.fail(std::make_exception_ptr(std::runtime_error("page gone")));
    target->arrived();
    EXPECT_TRUE(logs.contains("actions", "查找请求失败"));
    EXPECT_EQ(view->counter(), "2 / 3");
    auto lone = FindBarController::create(std::make_shared<FakeFindView>(), {});
    lone->show();
    lone->queryChanged("x");  // no reader: dropped without a word
    target->arrived();
    bar->queryChanged("y");
    ASSERT_EQ(target->arrived(), 3u);
    bar.reset();  // the late answer finds nobody
    target->answer(2, {1, 0, true});
}

}  // namespace
}  // namespace larkspin
