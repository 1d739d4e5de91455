#include "Platform/Async/MainThread.hpp"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

namespace larkspin::MainThread {

namespace {
struct Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    bool sourceScheduled = false;
};

Queue& queue() {
    static auto* q = new Queue();  // jobs may be posted during static destruction
    return *q;
}

std::atomic<std::thread::id> gMainThread{};
std::atomic<bool> gQuitting{false};

constexpr auto batchSlice = std::chrono::milliseconds(20);

gboolean runBatch(gpointer);

void scheduleBatch() {
    // Default priority, like the platform's main queue: ahead of idle work
    // and redraws, after nothing else that is already due.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runBatch, nullptr, nullptr);
    g_source_set_static_name(source, "larkspin.main-queue");
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
}

gboolean runBatch(gpointer) {
    auto& q = queue();
    // Run only the jobs that were queued when this turn began, so that a job
    // that posts again cannot starve the rest of the main loop.
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(q.mutex);
        batch.swap(q.jobs);
        q.sourceScheduled = false;
    }
    // A turn runs jobs for a slice of time at most: what is left of a large
    // burst (hundreds of opens ending together) goes back to the front of
    // the queue for the next turn, and input comes between (drawing, at a
    // lower priority, waits until the queue is empty).
    const auto start = std::chrono::steady_clock::now();
    while (!batch.empty()) {
        std::function<void()> job = std::move(batch.front());
        batch.pop_front();
        if (job) job();
        if (!batch.empty() && std::chrono::steady_clock::now() - start >= batchSlice) break;
    }
    if (!batch.empty()) {
        bool schedule = false;
        {
            std::lock_guard lock(q.mutex);
            for (auto job = batch.rbegin(); job != batch.rend(); ++job) q.jobs.push_front(std::move(*job));
            schedule = !q.sourceScheduled;
            q.sourceScheduled = true;
        }
        if (schedule) scheduleBatch();
    }
    return G_SOURCE_REMOVE;
}
}  // namespace

void initialize() { gMainThread.store(std::this_thread::get_id()); }

bool isMainThread() { return gMainThread.load() == std::this_thread::get_id(); }

void beginQuitting() { gQuitting.store(true); }

bool isQuitting() { return gQuitting.load(); }

void post(std::function<void()> job) {
    auto& q = queue();
    bool schedule = false;
    {
        std::lock_guard lock(q.mutex);
        q.jobs.push_back(std::move(job));
        if (!q.sourceScheduled) {
            q.sourceScheduled = true;
            schedule = true;
        }
    }
    if (schedule) scheduleBatch();
}

TimerHandle postAfter(Clock& clock, Clock::Duration delay, std::function<void()> job) {
    // Two stages: the clock's timer posts the gate, and the gate runs the job
    // unless it was cancelled meanwhile. Cancelling the gate cancels the timer too.
    auto gate = std::make_shared<detail::TimerState>(std::move(job));
    TimerHandle timer = clock.scheduleAfter(delay, [gate] { post([gate] { gate->fire(); }); });
    gate->link(timer.state());
    return TimerHandle(std::move(gate));
}

std::size_t pendingCount() {
    auto& q = queue();
    std::lock_guard lock(q.mutex);
    return q.jobs.size();
}

void turnMainLoop(std::chrono::milliseconds maxWait) {
    GMainContext* context = g_main_context_default();
    if (g_main_context_pending(context)) {
        g_main_context_iteration(context, FALSE);
        return;
    }
    // Nothing ready: block until something is (a post from another thread
    // wakes the context), but never longer than the wake-up timer.
    GSource* wakeUp = g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(maxWait.count(), 0)));
    g_source_set_callback(wakeUp, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(wakeUp, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(wakeUp);
    g_source_unref(wakeUp);
}

void drainForTesting(int maxRounds) {
    GMainContext* context = g_main_context_default();
    for (int round = 0; round < maxRounds; ++round) {
        if (pendingCount() == 0 && !g_main_context_pending(context)) return;
        g_main_context_iteration(context, FALSE);
    }
}

}  // namespace larkspin::MainThread
