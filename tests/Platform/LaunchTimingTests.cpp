#include "Platform/LaunchTiming.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Log.hpp"

namespace larkspin {
namespace {

// Each step is logged the first time only, from any thread, with the time
// since the start; steps of other names are logged each on their own.
TEST(LaunchTiming, LogsEachStepOnceWithItsTime) {
    std::mutex guard;
    std::vector<LogRecord> records;
    AppLog::setCaptureHook([&](const LogRecord& record) {
        const std::lock_guard lock(guard);
        if (record.category == "launch") records.push_back(record);
    });
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index) {
        threads.emplace_back([] {
            LaunchTiming::mark("timing test: shared step");
            LaunchTiming::mark("timing test: shared step");
        });
    }
    for (auto& thread : threads) thread.join();
    LaunchTiming::mark("timing test: second step");
    LaunchTiming::mark("timing test: second step");
    AppLog::clearCaptureHook();

    ASSERT_EQ(records.size(), 2u);
    const std::regex line("启动计时：timing test: (shared|second) step \\+[0-9]+\\.[0-9] ms");
    for (const LogRecord& record : records) {
        EXPECT_EQ(record.level, LogLevel::debug);
        EXPECT_TRUE(std::regex_match(record.message, line)) << record.message;
    }
    EXPECT_NE(records[0].message, records[1].message);
    EXPECT_GE(LaunchTiming::millisecondsSinceStart(), 0.0);
}

}  // namespace
}  // namespace larkspin
