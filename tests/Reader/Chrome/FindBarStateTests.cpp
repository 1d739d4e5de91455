#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Reader/Chrome/FindBarState.hpp"

namespace larkspin {

inline void PrintTo(const FindBarState::Request& request, std::ostream* out) {
    if (request.kind == FindBarState::Request::Kind::clear) {
        *out << "clear";
    } else {
        *out << "find(" << request.payload.query << ", " << rawValue(request.payload.direction)
             << ", restart " << request.payload.restart << ")";
    }
}

namespace {

using Direction = FindPayload::Direction;
using Request = FindBarState::Request;

Request find(std::string query, Direction direction, bool restart) {
    return Request::find({std::move(query), direction, false, restart});
}

TEST(FindBarState, RequestsFollowTypingSteppingAndClosing) {
    // An action: text to type, a step, or "close" (and reopen); then the
    // request it must send.
    struct Action {
        std::string type;  // "" with step none: empty the field
        std::optional<Direction> step;
        bool close = false;
        std::optional<Request> expected;
    };
    const auto typed = [](std::string text, std::optional<Request> r) {
        return Action{std::move(text), std::nullopt, false, std::move(r)};
    };
    const auto stepped = [](Direction d, std::optional<Request> r) {
        return Action{"", d, false, std::move(r)};
    };
    const Action reopen{"", std::nullopt, true, std::nullopt};
    const std::vector<std::vector<Action>> scripts{
        {typed("a", find("a", Direction::next, true)), typed("", Request::clear())},
        {typed("", std::nullopt), stepped(Direction::next, std::nullopt)},
        {typed("ab", find("ab", Direction::next, true)),
         stepped(Direction::next, find("ab", Direction::next, false)),
         stepped(Direction::previous, find("ab", Direction::previous, false))},
        {typed("ab", find("ab", Direction::next, true)), reopen,
         stepped(Direction::next, find("ab", Direction::next, true))},
        {typed("ab", find("ab", Direction::next, true)), reopen, typed("", std::nullopt)},
    };
    for (std::size_t n = 0; n < scripts.size(); ++n) {
        FindBarState state;
        state.isVisible = true;
        for (const auto& action : scripts[n]) {
            if (action.close) {
                state.applyFindReply(3, 1, true);
                state.close();
                EXPECT_EQ(state.countText(), "0 / 0");
                state.isVisible = true;
                continue;
            }
            const auto sent = action.step ? state.step(*action.step) : state.queryChanged(action.type);
            EXPECT_EQ(sent, action.expected) << "script " << n;
        }
    }
}

TEST(FindBarState, RepliesCounterAndSpokenCounter) {
    struct Case {
        std::int64_t count, active;
        bool found;
        std::string counter;
        std::string spoken;
    };
    const std::vector<Case> cases{
        {7, 1, true, "2 / 7", "第 2 个，共 7 个"},
        // Matches in the page, none found from here: nothing to step from.
        {5, 3, false, "0 / 0", "尚未查找"},
        {0, -1, false, "0 / 0", "没有匹配"},
        // Impossible answers: a negative count is none, an index past the end no match.
        {-3, -1, false, "0 / 0", "没有匹配"},
        {3, 3, true, "0 / 0", "尚未查找"},
    };
    for (const auto& c : cases) {
        FindBarState state;
        state.queryChanged("a");
        EXPECT_EQ(state.applyFindReply(c.count, c.active, c.found), !c.found) << c.counter;
        EXPECT_GE(state.matchCount, 0);
        EXPECT_EQ(state.countText(), c.counter) << c.count << " " << c.active;
        EXPECT_EQ(state.countAccessibilityLabel(), c.spoken) << c.count << " " << c.active;
    }
    EXPECT_EQ(FindBarState().countAccessibilityLabel(), "尚未查找");
}

}  // namespace
}  // namespace larkspin
