#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>

#include "Platform/Async/Task.hpp"

namespace larkspin {

// Where the URL scheme handlers read files: worker threads off the main
// thread. Jobs must not touch main-thread state; they are awaited from a
// main-thread task with runOn(workers, fn).
class ResourceWorkers {
public:
    using Job = std::move_only_function<void()>;

    virtual ~ResourceWorkers() = default;
    // Queues `job`; false when the workers are shutting down (the job is then
    // destroyed without running).
    virtual bool submit(Job job) = 0;

    // The process's shared workers: one thread for the renderer's own files,
    // and a small pool for document images, so that a page full of large
    // images never holds more than a few of them in memory at once.
    static std::shared_ptr<ResourceWorkers> rendererFiles();
    static std::shared_ptr<ResourceWorkers> documentImages();
};

}  // namespace larkspin
