#include "Support/Threads.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace larkspin::test {

void runOffMainThread(std::function<void()> work, std::chrono::milliseconds limit) {
    auto ended = std::make_shared<std::promise<void>>();
    auto done = ended->get_future();
    std::thread worker([work = std::move(work), ended] {
        work();
        ended->set_value();
    });
    if (!isReady(done, limit)) {
        std::fprintf(stderr, "a thread of the test did not end within %lld ms\n",
                     static_cast<long long>(limit.count()));
        std::abort();
    }
    worker.join();
}

}  // namespace larkspin::test
