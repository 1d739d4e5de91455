#include "Support/MainLoop.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin::test {

bool runMainLoopUntil(const std::function<bool()>& done, int maxTurns) {
    for (int turn = 0; turn < maxTurns; ++turn) {
        if (done()) return true;
        MainThread::turnMainLoop(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace larkspin::test
