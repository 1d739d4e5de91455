#include <gtest/gtest.h>

#include <string>

#include "Platform/Localization.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

TEST(Localization, LooksUpSubstitutesAndFallsBackToTheKey) {
    EXPECT_EQ(L10n::text("load.title.not_found"), "文件不存在");
    EXPECT_EQ(L10n::format("load.detail.read_error", {"磁盘错误"}), "读取时出错：磁盘错误");
    // A missing key shows itself and is reported once per process.
    static int run = 0;
    const std::string key = "no.such.key." + std::to_string(++run);
    test::LogCapture capture;
    EXPECT_EQ(L10n::text(key), key);
    EXPECT_EQ(L10n::text(key), key);
    EXPECT_EQ(capture.records().size(), 1u);
    EXPECT_TRUE(capture.contains("actions", key));
    EXPECT_EQ(L10n::substitute("%2$@ then %1$@, %d%%", {"a", "b", "7"}), "b then a, a%");
    EXPECT_EQ(L10n::substitute("%@ and %@", {"only"}), "only and ");
}

}  // namespace
}  // namespace larkspin
