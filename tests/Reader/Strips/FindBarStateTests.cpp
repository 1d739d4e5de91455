#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Reader/Strips/FindBarState.hpp"

namespace larkspin {

namespace {

// The counter keeps room for the widest text of its total: "342 / 342".
TEST(FindBarState, CounterWidthFollowsTheTotalsDigits) {
    for (const auto& [count, chars] : std::vector<std::pair<std::int64_t, int>>{
             {0, 5}, {-3, 5}, {7, 5}, {10, 7}, {342, 9}, {1000, 11}}) {
        FindBarState state;
        state.matchCount = count;
        EXPECT_EQ(state.countWidthChars(), chars) << count;
    }
}

TEST(FindBarState, RepliesCounterAndSpokenCounter) {
    struct Case {
        std::int64_t count, active;
        bool found;
        bool partial;
        std::string counter;
        std::string spoken;
    };
    const std::vector<Case> cases{
        {7, 1, true, false, "2 / 7", "第 2 个，共 7 个"},
        // Matches in the page, none found from here: nothing to step from.
        {5, 3, false, false, "0 / 0", "尚未查找"},
        {0, -1, false, false, "0 / 0", "没有匹配"},
        // Impossible answers: a negative count is none, an index past the end no match.
        {-3, -1, false, false, "0 / 0", "没有匹配"},
        {3, 3, true, false, "0 / 0", "尚未查找"},
        // Counted in a document still going in: more may come, and none so
        // far is not a miss.
        {37, 0, true, true, "1 / 37+", "第 1 个，已找到 37 个"},
        {0, -1, false, true, "0 / 0+", "尚未查找"},
    };
    for (const auto& c : cases) {
        FindBarState state;
        state.queryChanged("a");
        EXPECT_EQ(state.applyFindReply(c.count, c.active, c.found, c.partial), !c.found && !c.partial)
            << c.counter;
        EXPECT_EQ(state.showsNoMatch(), c.count <= 0 && !c.partial) << c.counter;
        EXPECT_GE(state.matchCount, 0);
        EXPECT_EQ(state.countText(), c.counter) << c.count << " " << c.active;
        EXPECT_EQ(state.countAccessibilityLabel(), c.spoken) << c.count << " " << c.active;
    }
    EXPECT_EQ(FindBarState().countAccessibilityLabel(), "尚未查找");
}

}  // namespace
}  // namespace larkspin
