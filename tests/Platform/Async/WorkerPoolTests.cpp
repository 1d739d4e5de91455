#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

TEST(WorkerPool, ManyExecutorsShareTheFewThreadsOfThePool) {
    std::vector<std::unique_ptr<SerialExecutor>> executors;
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        executors.push_back(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.many"));
        for (int j = 0; j < 20; ++j) {
            executors.back()->submit([&] {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            });
        }
    }
    for (auto& executor : executors) ASSERT_TRUE(drainForTesting(*executor));
    std::lock_guard lock(mutex);
    EXPECT_LE(threads.size(), WorkerPool::maxThreads);
}

TEST(WorkerPool, JobsWaitingForJobsDoNotStarveThePool) {
    // Every pool thread waits for a job of another queue: the pool lends their
    // places, so the jobs waited for still find a thread.
    SerialExecutor inner("dev.corvantel.larkspin.test.inner");
    std::vector<std::unique_ptr<SerialExecutor>> outers;
    auto finished = std::make_shared<std::atomic<int>>(0);
    std::promise<void> gate;
    std::shared_future<void> opening = gate.get_future().share();
    auto all = std::make_shared<BlockingWait>();
    const int waiters = static_cast<int>(WorkerPool::maxThreads) + 2;
    for (int i = 0; i < waiters; ++i) {
        outers.push_back(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.outer"));
        outers.back()->submit([&inner, opening, finished, all, waiters] {
            runAndWait(inner, [opening] {
                EXPECT_EQ(opening.wait_for(test::waitLimit), std::future_status::ready);
            });
            if (++*finished == waiters) all->signal();
        });
    }
    gate.set_value();
    ASSERT_TRUE(all->waitForTesting(test::waitLimit)) << finished->load() << " of " << waiters;
    for (auto& outer : outers) ASSERT_TRUE(drainForTesting(*outer));
}

}  // namespace
}  // namespace larkspin
