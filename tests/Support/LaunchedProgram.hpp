#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace larkspin::test {

// A program started as a child process with its standard output and error
// read through one pipe, for tests and benchmarks that run the real
// executable. Every wait is bounded; a child still running when the object
// goes is killed.
class LaunchedProgram {
public:
    // Starts `argv[0]` (found on the PATH) with this process's environment, changed by
    // `environment` (an empty value removes the variable).
    LaunchedProgram(std::vector<std::string> argv, const std::map<std::string, std::string>& environment) {
        std::map<std::string, std::string> merged;
        for (char** entry = environ; entry && *entry; ++entry) {
            const std::string_view text(*entry);
            const auto equals = text.find('=');
            if (equals != std::string_view::npos) {
                merged[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
            }
        }
        for (const auto& [name, value] : environment) {
            if (value.empty()) merged.erase(name);
            else merged[name] = value;
        }
        std::vector<std::string> envText;
        for (const auto& [name, value] : merged) envText.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& entry : envText) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<char*> args;
        for (auto& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output_ = fds[0];
    }

    ~LaunchedProgram() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    LaunchedProgram(const LaunchedProgram&) = delete;
    LaunchedProgram& operator=(const LaunchedProgram&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Everything the program has written so far.
    const std::string& output() const { return text_; }

    // Reads the program's output until it holds `needle`, the output ends,
    // or `limit` passes.
    bool waitForOutput(std::string_view needle, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (text_.find(needle) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
        }
        return true;
    }

    // Waits up to `limit` for the program to end; its wait status, or none.
    std::optional<int> waitForExit(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!status_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = status;
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() >= deadline) break;
            if (!readSome(10)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (status_ && readSome(0)) {
        }
        return status_;
    }

private:
    // False when nothing more can come (or nothing came within `timeoutMs`).
    bool readSome(int timeoutMs) {
        if (output_ < 0) return false;
        pollfd entry{output_, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count <= 0) return false;
        text_.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
    std::optional<int> status_;
};

// Xvfb on a display of its own (-displayfd): the server, and the display's
// name (":N"), empty when no server took connections within `bound`. The
// server writes the number on a line of its own once it takes connections;
// warnings may come before it.
struct PrivateXServer {
    std::unique_ptr<LaunchedProgram> process;
    std::string name;
};

inline PrivateXServer startPrivateXServer(std::chrono::milliseconds bound) {
    PrivateXServer server;
    server.process = std::make_unique<LaunchedProgram>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
        std::map<std::string, std::string>{});
    const std::regex number("(^|\n)([0-9]+)\n");
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::smatch match;
    while (server.process->started() && std::chrono::steady_clock::now() < deadline) {
        const std::string output = server.process->output();
        if (std::regex_search(output, match, number)) {
            server.name = ":" + match[2].str();
            break;
        }
        // Reads on for a moment: the output may already hold warning lines.
        server.process->waitForOutput("\x01", std::chrono::milliseconds(100));
    }
    return server;
}

}  // namespace larkspin::test
