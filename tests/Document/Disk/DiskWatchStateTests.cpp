// The disk watch's one state and the moves its table allows.

#include <gtest/gtest.h>

#include "Document/Disk/DiskWatchState.hpp"

namespace larkspin {
namespace {

using S = DiskWatchState;
using A = DiskChangeAction;
constexpr S kAll[] = {S::stopped, S::watching, S::reloading, S::grace,
                      S::missing, S::unreadable, S::parked};
constexpr A kActions[] = {A::park,       A::keepConflict, A::clearIssues, A::acceptVersion,
                          A::acceptRecovered, A::reload, A::ask,         A::conflict,
                          A::permission, A::readError,    A::missingNow,  A::startGrace,
                          A::awaitGrace};

TEST(DiskWatchState, TheTableKeepsWhatNeedsAWatchOrASaveInItsPlace) {
    for (S from : kAll) {
        for (S to : kAll) {
            SCOPED_TRACE(std::string(rawValue(from)) + " → " + std::string(rawValue(to)));
            bool expected = true;
            if (from == to) {
                expected = true;  // staying is no move
            } else if (from == S::stopped) {
                expected = to == S::watching;  // only a start leads on
            } else if (from == S::parked) {
                expected = to == S::watching || to == S::stopped;  // the save's end
            } else if (from == S::missing) {
                expected = to != S::grace;  // a missing file gets no grace period
            }
            EXPECT_EQ(isAllowedMove(from, to), expected);
        }
    }
}

TEST(DiskWatchState, EveryJudgedActionLeadsSomewhereAWatchingWatchMayGo) {
    for (A action : kActions) {
        SCOPED_TRACE(std::string(rawValue(action)));
        const S next = stateAfter(action);
        EXPECT_TRUE(isAllowedMove(S::watching, next));
        EXPECT_NE(next, S::stopped);
    }
}

}  // namespace
}  // namespace larkspin
