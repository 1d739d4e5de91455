#include "Platform/Async/BlockingWait.hpp"

#include <glib.h>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/WorkerPool.hpp"

namespace larkspin {

namespace {

// Tells the pool that one of its threads stops running jobs for a while.
class PoolPlaceLent {
public:
    PoolPlaceLent() : pool_(WorkerPool::isPoolThread()) {
        if (pool_) WorkerPool::shared().willBlock();
    }
    ~PoolPlaceLent() {
        if (pool_) WorkerPool::shared().didUnblock();
    }
    PoolPlaceLent(const PoolPlaceLent&) = delete;
    PoolPlaceLent& operator=(const PoolPlaceLent&) = delete;

private:
    bool pool_;
};

}  // namespace

void BlockingWait::signal() {
    std::lock_guard lock(mutex_);
    if (isSignalled_) return;
    isSignalled_ = true;
    signalled_.notify_all();
}

bool BlockingWait::isSignalled() const {
    std::lock_guard lock(mutex_);
    return isSignalled_;
}

void BlockingWait::wait() {
#if defined(LARKSPIN_DEBUG_ASSERTS)
    if (MainThread::isMainThread() && !MainThread::isQuitting()) {
        g_error("a blocking wait on the main thread (await the work instead)");
    }
#endif
    if (isSignalled()) return;
    // Lent before the lock is taken: the pool signals waits under its own lock.
    const PoolPlaceLent lent;
    std::unique_lock lock(mutex_);
    signalled_.wait(lock, [this] { return isSignalled_; });
}

bool BlockingWait::waitForTesting(std::chrono::milliseconds limit) {
    if (isSignalled()) return true;
    const PoolPlaceLent lent;
    std::unique_lock lock(mutex_);
    return signalled_.wait_for(lock, limit, [this] { return isSignalled_; });
}

}  // namespace larkspin
