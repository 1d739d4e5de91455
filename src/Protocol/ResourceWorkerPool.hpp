#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Protocol/ResourceWorkers.hpp"

namespace larkspin {

// A fixed number of worker threads sharing one FIFO of jobs: at most
// `threads` jobs run at the same time, and a slow one never holds up the
// others. Destroying the pool runs the jobs already queued, then joins.
class ResourceWorkerPool final : public ResourceWorkers {
public:
    ResourceWorkerPool(std::string label, int threads);
    ~ResourceWorkerPool() override;
    ResourceWorkerPool(const ResourceWorkerPool&) = delete;
    ResourceWorkerPool& operator=(const ResourceWorkerPool&) = delete;

    bool submit(Job job) override;

private:
    void work();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace larkspin
