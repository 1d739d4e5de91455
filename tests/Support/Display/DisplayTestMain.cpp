// Main of the test executables that need a display (run under Xvfb by the
// test command): as the plain test main, and GTK and libadwaita are started.

#include <adwaita.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "Platform/MainThread.hpp"

int main(int argc, char** argv) {
    larkspin::MainThread::initialize();
    ::testing::InitGoogleTest(&argc, argv);

    char pattern[] = "/tmp/larkspin-tests-XXXXXX";
    const char* root = mkdtemp(pattern);
    if (root == nullptr) return 2;
    const std::filesystem::path base(root);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        const auto dir = base / name;
        std::filesystem::create_directories(dir);
        setenv(name, dir.c_str(), 1);
    }
    setenv("HOME", (base / "home").c_str(), 1);
    std::filesystem::create_directories(base / "home");
    setenv("XCTestConfigurationFilePath", "larkspin-tests", 0);
    setenv("LC_NUMERIC", "de_DE.UTF-8", 1);  // numbers in logs must not follow the locale
    g_reload_user_special_dirs_cache();

    if (!gtk_init_check()) {
        fprintf(stderr, "display tests need a display (run them under xvfb-run)\n");
        return 2;
    }
    adw_init();

    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return result;
}
