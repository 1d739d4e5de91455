#include <gtest/gtest.h>

#include <thread>

#include "Platform/Async/Cancellation.hpp"

namespace larkspin {
namespace {

TEST(Cancellation, CallbacksRunOnceOnCancelAndNotAfterRemoval) {
    CancellationSource source;
    CancellationToken token = source.token();
    CancellationToken copy = token;
    int first = 0;
    int removed = 0;
    CancellationRegistration keep = copy.onCancel([&] { ++first; });
    {
        CancellationRegistration gone = token.onCancel([&] { ++removed; });
    }
    EXPECT_FALSE(token.isCancelled());
    EXPECT_NO_THROW(token.throwIfCancelled());
    std::thread canceller([source] { source.cancel(); });
    canceller.join();
    source.cancel();
    EXPECT_TRUE(copy.isCancelled());
    EXPECT_EQ(first, 1);
    EXPECT_EQ(removed, 0);
    EXPECT_THROW(token.throwIfCancelled(), TaskCancelled);

    int late = 0;
    CancellationRegistration now = token.onCancel([&] { ++late; });  // runs at once
    EXPECT_EQ(late, 1);

    CancellationToken none;
    EXPECT_FALSE(none.canBeCancelled());
    EXPECT_FALSE(none.isCancelled());
}

}  // namespace
}  // namespace larkspin
