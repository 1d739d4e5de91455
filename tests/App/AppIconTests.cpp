#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "App/AppIcon.hpp"
#include "App/BuildInfo.hpp"

namespace larkspin {
namespace {

// The run command starts build/release/larkspin; a test runs from the same
// build tree, so it finds the repository's icon the way the program does.
TEST(AppIcon, TheBuildTreeFindsTheRepositoryIcon) {
    const auto list = AppIcon::candidates("/src/larkspin/build/release/larkspin");
    EXPECT_NE(std::find(list.begin(), list.end(), "/src/larkspin/data/icons"), list.end());
    EXPECT_TRUE(AppIcon::candidates({}).empty());

    const auto folder = AppIcon::locateFolder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(*folder / (std::string(BuildInfo::applicationId) + ".svg")));
}

}  // namespace
}  // namespace larkspin
