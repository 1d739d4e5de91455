#include "Support/Display/PrivateDisplay.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace larkspin::test {
namespace {

pid_t serverPid = -1;

// The display number Xvfb writes to `fd` once it takes connections, or empty
// when it ends or does not answer in time.
std::string readDisplayNumber(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return {};
        char buffer[32];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0) return {};
        text.append(buffer, static_cast<std::size_t>(count));
    }
    text.resize(text.find('\n'));
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    return text;
}

}  // namespace

bool startPrivateDisplayIfAsked() {
    const char* asked = std::getenv("LARKSPIN_TEST_PRIVATE_DISPLAY");
    if (asked == nullptr || *asked == '\0') return true;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    // The server is told the number of the descriptor it writes its display
    // to; a fixed one above the standard three, in the child only.
    constexpr int serverFd = 3;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int writeEnd = fds[1] == serverFd ? ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10) : fds[1];
    posix_spawn_file_actions_adddup2(&actions, writeEnd, serverFd);
    // -terminate: the server ends when its last client disconnects.
    std::vector<std::string> argv{"Xvfb",   "-displayfd", std::to_string(serverFd), "-screen", "0",
                                  "1280x1024x24", "-nolisten", "tcp", "-terminate"};
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const bool spawned =
        writeEnd >= 0 && ::posix_spawnp(&serverPid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (writeEnd != fds[1] && writeEnd >= 0) ::close(writeEnd);
    ::close(fds[1]);
    if (!spawned) {
        serverPid = -1;
        ::close(fds[0]);
        std::fprintf(stderr, "cannot start Xvfb for a private display\n");
        return false;
    }
    const std::string number = readDisplayNumber(fds[0]);
    ::close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "the private Xvfb took no connections\n");
        stopPrivateDisplay();
        return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

void stopPrivateDisplay() {
    if (serverPid <= 0) return;
    ::kill(serverPid, SIGKILL);
    int status = 0;
    ::waitpid(serverPid, &status, 0);
    serverPid = -1;
}

}  // namespace larkspin::test
