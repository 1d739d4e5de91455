#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace larkspin::test {

// Runs `body` in a forked child and reports how the child ended, so that a
// test can survive what it is checking for: a crash (stack overflow) or a
// hang (a call that never returns). The child's exit code is what `body`
// returns; a child still running after `limit` is killed.
//
// The child only runs `body` and then _exit()s: no destructor, no atexit
// handler, no leak check runs in it.
inline std::string runInChild(const std::function<int()>& body,
                              std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const pid_t child = ::fork();
    if (child < 0) return "fork failed";
    if (child == 0) ::_exit(body());

    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0) return "waitpid failed";
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return "hung";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
}

}  // namespace larkspin::test
