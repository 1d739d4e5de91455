// The scheme handlers' read queue on the shared worker pool: never more jobs
// at once than its limit, started in the order they came, and a job that
// throws gives its place back.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "Protocol/Schemes/ResourceWorkers.hpp"

namespace larkspin {
namespace {

constexpr auto bound = std::chrono::seconds(30);  // a bound on waits, not a timing

// Jobs leave the queue in order; with one place they also run in order (with
// more, the threads that take them may record them in either order).
TEST(PooledResourceWorkers, RunsAtMostItsLimitAtOnceInOrder) {
    for (const int limit : {1, 2}) {
        SCOPED_TRACE(limit);
        const int jobs = limit + 4;
        std::mutex mutex;
        std::condition_variable changed;
        int running = 0, most = 0, finished = 0;
        bool release = false;
        std::vector<int> started;
        {
            PooledResourceWorkers workers("test", limit);
            for (int i = 0; i < jobs; ++i) {
                ASSERT_TRUE(workers.submit([&, i] {
                    std::unique_lock lock(mutex);
                    started.push_back(i);
                    most = std::max(most, ++running);
                    changed.notify_all();
                    changed.wait(lock, [&] { return release; });
                    --running;
                    ++finished;
                    changed.notify_all();
                }));
            }
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, bound, [&] { return running == limit; }));
            EXPECT_EQ(started.size(), std::size_t(limit)) << "the others wait for a place";
            release = true;
            changed.notify_all();
        }  // queued jobs outlive the queue object
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, bound, [&] { return finished == jobs; }));
        EXPECT_EQ(most, limit);
        std::vector<int> expected(jobs);
        for (int i = 0; i < jobs; ++i) expected[i] = i;
        if (limit > 1) std::sort(started.begin(), started.end());
        EXPECT_EQ(started, expected);
    }
}

TEST(PooledResourceWorkers, AThrowingJobGivesItsPlaceBack) {
    PooledResourceWorkers workers("test", 1);
    std::mutex mutex;
    std::condition_variable changed;
    int ran = 0;
    auto count = [&] {
        std::lock_guard lock(mutex);
        ++ran;
        changed.notify_all();
    };
    workers.submit([] { throw std::runtime_error("unreadable"); });
    workers.submit([] { throw 42; });
    workers.submit(count);
    workers.submit(count);
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, bound, [&] { return ran == 2; }));
}

}  // namespace
}  // namespace larkspin
