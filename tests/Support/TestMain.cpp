// Main of every test executable that needs no display.

#include <gtest/gtest.h>

#include "Platform/Async/SerialExecutor.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/Threads.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const auto base = larkspin::test::prepareTestEnvironment();
    const int result = RUN_ALL_TESTS();
    // As the program does at quit: writes that tests left queued (a store
    // dropped on the main thread) end before the process does.
    larkspin::test::runOffMainThread([] { larkspin::SerialExecutor::finishAll(); });
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return result;
}
