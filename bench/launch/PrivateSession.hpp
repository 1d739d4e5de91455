// An X server and a session bus of a launch's own, for the benches that start
// the real program as a user would. Both end with SIGTERM, so that the X
// server takes its lock file with it.
#pragma once

#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "Support/LaunchedProgram.hpp"

namespace larkspin::bench {

inline void endWithSigterm(test::LaunchedProgram& process) {
    if (!process.started()) return;
    ::kill(process.pid(), SIGTERM);
    process.waitForExit(std::chrono::seconds(10));
}

class Server {
public:
    Server() {
        auto server = test::startPrivateXServer(std::chrono::seconds(30));
        process_ = std::move(server.process);
        name_ = std::move(server.name);
    }
    ~Server() {
        endWithSigterm(*process_);
    }
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<test::LaunchedProgram> process_;
    std::string name_;
};

class Bus {
public:
    Bus() {
        process_ = std::make_unique<test::LaunchedProgram>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"},
            std::map<std::string, std::string>{});
        if (!process_->waitForOutput("\n", std::chrono::seconds(30))) return;
        std::smatch match;
        const std::string output = process_->output();
        if (std::regex_search(output, match, std::regex("unix:[^\\s]+"))) address_ = match.str();
    }
    ~Bus() {
        endWithSigterm(*process_);
    }
    const std::string& address() const { return address_; }

private:
    std::unique_ptr<test::LaunchedProgram> process_;
    std::string address_;
};

}  // namespace larkspin::bench
