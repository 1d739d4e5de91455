// Main of every test executable that needs no display.

#include <gtest/gtest.h>

#include "Support/TestEnvironment.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const auto base = larkspin::test::prepareTestEnvironment();
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return result;
}
