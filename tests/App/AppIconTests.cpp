#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "App/AppIcon.hpp"
#include "App/BuildInfo.hpp"

namespace larkspin {
namespace {

// The run command starts build/release/larkspin; a test runs from the same
// build tree (one folder down), so it finds the icon the way the program does.
TEST(AppIcon, TheBuildTreeHoldsTheIconAsAThemeBesideTheProgram) {
    EXPECT_EQ(AppIcon::candidates("/src/larkspin/build/release/larkspin"),
              (std::vector<std::filesystem::path>{"/src/larkspin/build/release/share/icons",
                                                  "/src/larkspin/build/share/icons"}));
    EXPECT_TRUE(AppIcon::candidates({}).empty());

    const auto folder = AppIcon::locateFolder();
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(folder->filename(), "icons");
    EXPECT_TRUE(std::filesystem::is_regular_file(*folder / "hicolor" / "scalable" / "apps" /
                                                 (std::string(BuildInfo::applicationId) + ".svg")));
}

}  // namespace
}  // namespace larkspin
