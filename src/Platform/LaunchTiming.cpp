#include "Platform/LaunchTiming.hpp"

#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "Platform/Log.hpp"

namespace larkspin::LaunchTiming {

namespace {

constexpr Logger launchLog{"launch"};

// Taken while the program's static objects are made, before main: the
// nearest the process can see its own start without reading /proc.
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

}  // namespace

double millisecondsSinceStart() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - processStart)
        .count();
}

void mark(std::string_view step) {
    static std::mutex guard;
    static std::set<std::string, std::less<>> seen;
    const double elapsed = millisecondsSinceStart();
    {
        const std::lock_guard lock(guard);
        if (seen.contains(step)) return;
        seen.emplace(step);
    }
    launchLog.debug("启动计时：%{public}s +%.1f ms", std::string(step), elapsed);
}

}  // namespace larkspin::LaunchTiming
