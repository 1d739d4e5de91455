#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Reader/Chrome/FindBarState.hpp"

namespace larkspin {

inline void PrintTo(const FindBarState::Request& request, std::ostream* out) {
    if (request.kind == FindBarState::Request::Kind::clear) {
        *out << "clear";
        return;
    }
    *out << "find(" << request.payload.query << ", "
         << (request.payload.direction == FindPayload::Direction::next ? "next" : "previous")
         << ", restart " << request.payload.restart << ")";
}

namespace {

using Direction = FindPayload::Direction;
using Request = FindBarState::Request;

Request find(std::string query, Direction direction, bool restart) {
    return Request::find({std::move(query), direction, false, restart});
}


// One user action on the bar's state and the request it must produce.
struct Step {
    std::string what;
    std::function<std::optional<Request>(FindBarState&)> act;
    std::optional<Request> expected;
};

void play(const std::vector<Step>& steps) {
    FindBarState state;
    state.isVisible = true;
    for (const auto& step : steps) {
        EXPECT_EQ(step.act(state), step.expected) << step.what;
    }
}

Step type(std::string text, std::optional<Request> expected) {
    return {"type \"" + text + "\"", [text](FindBarState& s) { return s.queryChanged(text); },
            std::move(expected)};
}
Step stepTo(Direction direction, std::optional<Request> expected) {
    return {direction == Direction::next ? "next" : "previous",
            [direction](FindBarState& s) { return s.step(direction); }, std::move(expected)};
}
Step closeAndReopen() {
    return {"close and reopen",
            [](FindBarState& s) {
                s.close();
                s.isVisible = true;
                return std::optional<Request>();
            },
            std::nullopt};
}

TEST(FindBarState, RequestsFollowTypingSteppingAndClosing) {
    // Typing starts a new search; deleting everything clears it.
    play({type("a", find("a", Direction::next, true)), type("", Request::clear())});
    // Deleting when nothing was ever sent sends nothing.
    play({type("", std::nullopt)});
    // Stepping with an empty field sends nothing.
    play({stepTo(Direction::next, std::nullopt), stepTo(Direction::previous, std::nullopt)});
    // Typing already sent the query: steps move on from the active match.
    play({type("ab", find("ab", Direction::next, true)),
          stepTo(Direction::next, find("ab", Direction::next, false)),
          stepTo(Direction::previous, find("ab", Direction::previous, false))});
    // After a close the same query starts afresh, and nothing is left to clear.
    play({type("ab", find("ab", Direction::next, true)), closeAndReopen(),
          stepTo(Direction::next, find("ab", Direction::next, true)),
          stepTo(Direction::next, find("ab", Direction::next, false))});
    play({type("ab", find("ab", Direction::next, true)), closeAndReopen(),
          type("", std::nullopt)});
}

TEST(FindBarState, ClosingKeepsTheQueryAndForgetsTheMatches) {
    FindBarState state;
    state.isVisible = true;
    state.queryChanged("word");
    state.applyFindReply(4, 2, true);
    EXPECT_TRUE(state.close());
    EXPECT_EQ(state.query, "word");
    EXPECT_FALSE(state.isVisible);
    EXPECT_EQ(state.matchCount, 0);
    EXPECT_EQ(state.activeIndex, -1);
    EXPECT_FALSE(state.close()) << "nothing left to clear";
}

TEST(FindBarState, RepliesCounterAndAccessibleLabel) {
    struct Case {
        std::string query;
        std::int64_t count, active;
        bool found;
        bool shakes;
        std::string counter;
        std::string spoken;
    };
    const std::vector<Case> cases{
        {"a", 7, 1, true, false, "2 / 7", "第 2 个，共 7 个"},
        {"a", 1, 0, true, false, "1 / 1", "第 1 个，共 1 个"},
        // Matches but none active: nothing to step from, and the field shakes.
        {"a", 5, 3, false, true, "0 / 0", "尚未查找"},
        {"a", 0, -1, false, true, "0 / 0", "没有匹配"},
        // A negative count is none; an index the count cannot hold is no match.
        {"a", -3, -1, false, true, "0 / 0", "没有匹配"},
        {"a", 3, 3, true, false, "0 / 0", "尚未查找"},
    };
    for (const auto& c : cases) {
        FindBarState state;
        state.queryChanged(c.query);
        EXPECT_EQ(state.applyFindReply(c.count, c.active, c.found), c.shakes) << c.counter;
        EXPECT_GE(state.matchCount, 0);
        EXPECT_EQ(state.countText(), c.counter) << c.count << " " << c.active;
        EXPECT_EQ(state.countAccessibilityLabel(), c.spoken) << c.count << " " << c.active;
        EXPECT_EQ(state.showsNoMatch(), state.matchCount == 0);
    }
    FindBarState idle;
    EXPECT_EQ(idle.countText(), "0 / 0");
    EXPECT_EQ(idle.countAccessibilityLabel(), "尚未查找");
    EXPECT_FALSE(idle.showsNoMatch());
}

}  // namespace
}  // namespace larkspin
