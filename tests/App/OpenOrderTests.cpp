#include "App/OpenOrder.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Opens started in the order A, B, C (and D) finish in another order: each
// finish shows what may show, always in the order asked.
TEST(OpenOrder, ShowsInTheOrderAskedWhateverOrderTheOpensEnd) {
    struct Finish {
        std::size_t open;                 // 0 = A …
        bool failed;
        std::vector<std::string> shown;  // what shows at that finish
    };
    struct Case {
        const char* name;
        std::vector<Finish> finishes;
    };
    const std::vector<Case> cases{
        {"in order", {{0, false, {"A"}}, {1, false, {"B"}}, {2, false, {"C"}}}},
        {"reversed", {{2, false, {}}, {1, false, {}}, {0, false, {"A", "B", "C"}}}},
        {"middle last", {{0, false, {"A"}}, {2, false, {}}, {1, false, {"B", "C"}}}},
        {"a failed open lets the later ones show", {{2, false, {}}, {0, true, {}}, {1, true, {"C"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenOrder<std::string> order;
        const std::vector<std::string> names{"A", "B", "C"};
        std::vector<OpenOrder<std::string>::Ticket> tickets;
        for (std::size_t i = 0; i < names.size(); ++i) tickets.push_back(order.begin());
        for (const Finish& finish : c.finishes) {
            const auto result = finish.failed ? std::nullopt : std::optional(names[finish.open]);
            EXPECT_EQ(order.finish(tickets[finish.open], result), finish.shown)
                << "at the finish of " << names[finish.open];
        }
        EXPECT_EQ(order.waitingCount(), 0u);
        // A later open, alone, shows at once.
        EXPECT_THAT(order.finish(order.begin(), std::string("D")), ElementsAre("D"));
    }
}

TEST(OpenOrder, AnOpenStartedLaterWaitsForOneStillRunning) {
    OpenOrder<int> order;
    const auto first = order.begin();
    const auto second = order.begin();
    EXPECT_THAT(order.finish(second, 2), IsEmpty());
    const auto third = order.begin();
    EXPECT_THAT(order.finish(third, 3), IsEmpty());
    EXPECT_EQ(order.waitingCount(), 2u);
    EXPECT_THAT(order.finish(first, 1), ElementsAre(1, 2, 3));
}

}  // namespace
}  // namespace larkspin
