#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

#if defined(LARKSPIN_SANITIZED)
#include <sanitizer/lsan_interface.h>
#endif

namespace larkspin {
namespace {

#if defined(LARKSPIN_SANITIZED)
// Runs in a process of its own (see below): every pool thread is busy and one
// job is queued when the process forks; the child then checks for leaks as a
// child that exits normally would. Ends the process with the child's verdict.
[[noreturn]] void forkWithBusyPoolAndCheckTheChild() {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<std::size_t> started = 0;
    for (std::size_t i = 0; i < WorkerPool::maxThreads; ++i) {
        WorkerPool::shared().post([released, &started] {
            ++started;
            released.wait();
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + test::waitLimit;
    while (started < WorkerPool::maxThreads) {
        if (std::chrono::steady_clock::now() >= deadline) ::_exit(3);
        std::this_thread::yield();
    }
    // Queued behind the busy threads; its capture lives on the heap.
    WorkerPool::shared().post([held = std::make_unique<std::vector<int>>(64, 1)] {});

    const pid_t child = ::fork();
    if (child == 0) ::_exit(__lsan_do_recoverable_leak_check() == 0 ? 0 : 1);
    int status = 0;
    const bool waited = child > 0 && ::waitpid(child, &status, 0) == child;
    release.set_value();
    ::_exit(waited && WIFEXITED(status) ? WEXITSTATUS(status) : 4);
}
#endif

TEST(WorkerPool, AForkedChildHoldsNothingUnreachableOfTheParentsPool) {
#if defined(LARKSPIN_SANITIZED)
    // A fresh process, so that no earlier test has left per-thread data of
    // other libraries on the pool's threads (which a child never has).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(forkWithBusyPoolAndCheckTheChild(), ::testing::ExitedWithCode(0), "");
#else
    GTEST_SKIP() << "needs the leak checker of the sanitizer build";
#endif
}

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
    // Every pool thread is held by a job of its own queue before any of them
    // queues the job it waits for; two more such jobs wait behind them. Only
    // the places the pool lends to blocked threads can run the rest.
    const int holders = static_cast<int>(WorkerPool::maxThreads);
    const int waiters = holders + 2;
    auto inner = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.test.inner");
    std::vector<std::unique_ptr<SerialExecutor>> outers;
    auto started = std::make_shared<std::atomic<int>>(0);
    auto finished = std::make_shared<std::atomic<int>>(0);
    auto held = std::make_shared<BlockingWait>();
    auto all = std::make_shared<BlockingWait>();
    std::promise<void> gate;
    std::shared_future<void> opening = gate.get_future().share();
    const auto submit = [&] {
        outers.push_back(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.test.outer"));
        outers.back()->submit([inner, opening, started, finished, held, all, holders, waiters] {
            if (++*started == holders) held->signal();
            // Not a BlockingWait: the thread keeps its place meanwhile.
            if (opening.wait_for(test::waitLimit) != std::future_status::ready) return;
            runAndWait(*inner, [] {});
            if (++*finished == waiters) all->signal();
        });
    };
    for (int i = 0; i < holders; ++i) submit();
    const bool allHeld = held->waitForTesting(test::waitLimit);
    for (int i = holders; i < waiters; ++i) submit();
    gate.set_value();
    ASSERT_TRUE(allHeld) << started->load() << " of " << holders << " threads held";
    ASSERT_TRUE(all->waitForTesting(test::waitLimit)) << finished->load() << " of " << waiters;
    for (auto& outer : outers) ASSERT_TRUE(drainForTesting(*outer));
}

// Records the thread its last holder let it go on.
struct ReleaseWitness {
    std::atomic<int>& onPool;
    std::atomic<int>& elsewhere;
    ~ReleaseWitness() { ++(WorkerPool::isPoolThread() ? onPool : elsewhere); }
};

TEST(WorkerPool, ReleasedValuesAreFreedOnAPoolThread) {
    std::atomic<int> onPool = 0;
    std::atomic<int> elsewhere = 0;
    releaseOnWorker(std::make_shared<const ReleaseWitness>(onPool, elsewhere));
    releaseOnWorker(std::make_unique<ReleaseWitness>(onPool, elsewhere));
    std::vector<std::shared_ptr<ReleaseWitness>> many;
    for (int i = 0; i < 3; ++i) many.push_back(std::make_shared<ReleaseWitness>(onPool, elsewhere));
    releaseOnWorker(std::move(many));
    const auto deadline = std::chrono::steady_clock::now() + test::waitLimit;
    while (onPool + elsewhere < 5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(onPool.load(), 5);
    EXPECT_EQ(elsewhere.load(), 0);
}

}  // namespace
}  // namespace larkspin
