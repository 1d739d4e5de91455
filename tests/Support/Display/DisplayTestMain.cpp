// Main of the test executables that need a display (the test command runs
// them under Xvfb): the plain test environment, a private X server when the
// test entry asks for one, then GTK and libadwaita.

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>

#include "Support/Display/PrivateDisplay.hpp"
#include "Support/TestEnvironment.hpp"
#include "Support/Waits.hpp"

namespace {

// Each test's waits wait again (Support/Waits.hpp).
class WaitsPerTest final : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { larkspin::test::waits::beginTest(); }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const auto base = larkspin::test::prepareTestEnvironment();
    if (!larkspin::test::startPrivateDisplayIfAsked()) return 2;
    if (!gtk_init_check()) {
        larkspin::test::stopPrivateDisplay();
        std::fprintf(stderr, "display tests need a display (run them under xvfb-run)\n");
        return 2;
    }
    adw_init();
    ::testing::UnitTest::GetInstance()->listeners().Append(new WaitsPerTest);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return result;
}
