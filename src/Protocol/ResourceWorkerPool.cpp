#include "Protocol/ResourceWorkerPool.hpp"

#include "Platform/Log.hpp"

namespace larkspin {

ResourceWorkerPool::ResourceWorkerPool(std::string label, int threads) : label_(std::move(label)) {
    if (threads < 1) threads = 1;
    threads_.reserve(static_cast<std::size_t>(threads));
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

ResourceWorkerPool::~ResourceWorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

bool ResourceWorkerPool::submit(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            AppLog::resources.error("工作线程 %{public}s 正在关闭，任务被丢弃", label_);
            return false;
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void ResourceWorkerPool::work() {
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping, and nothing left to run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        try {
            job();
        } catch (const std::exception& error) {
            AppLog::resources.fault("工作线程 %{public}s 的任务抛出异常：%{public}s", label_,
                                    error.what());
        } catch (...) {
            AppLog::resources.fault("工作线程 %{public}s 的任务抛出异常", label_);
        }
    }
}

std::shared_ptr<ResourceWorkers> ResourceWorkers::rendererFiles() {
    // Never destroyed: requests may still be finishing while the process exits.
    static auto* shared = new std::shared_ptr<ResourceWorkers>(
        std::make_shared<ResourceWorkerPool>("resources.renderer", 1));
    return *shared;
}

std::shared_ptr<ResourceWorkers> ResourceWorkers::documentImages() {
    static auto* shared = new std::shared_ptr<ResourceWorkers>(
        std::make_shared<ResourceWorkerPool>("resources.images", 3));
    return *shared;
}

}  // namespace larkspin
