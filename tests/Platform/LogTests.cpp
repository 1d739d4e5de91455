#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

std::string render(std::string_view format, std::vector<LogArgument> args, bool reveal = false) {
    return AppLog::formatMessage(format, args, reveal);
}

TEST(LogFormat, PrivacyMarkersRedactUnlessRevealed) {
    const std::vector<LogArgument> args{std::string("ABC"), std::string("/home/me/notes.md")};
    EXPECT_EQ(render("文档 doc=%{public}s %{private}s", args), "文档 doc=ABC <private>");
    EXPECT_EQ(render("文档 doc=%{public}s %{private}s", args, true), "文档 doc=ABC /home/me/notes.md");
    // A bare %s is private, as dynamic texts are by default.
    EXPECT_EQ(render("path %s", {std::string("x")}), "path <private>");
    // Numbers are public unless marked private.
    EXPECT_EQ(render("n=%ld m=%{private}ld", {std::int64_t{5}, std::int64_t{6}}), "n=5 m=<private>");
}

TEST(LogFormat, ScalarsBooleansAndEscapes) {
    EXPECT_EQ(render("%{bool}d/%{bool}d", {true, false}), "true/false");
    EXPECT_EQ(render("%d %lld %zu %u", {std::int64_t{-3}, std::int64_t{1} << 40, std::uint64_t{7},
                                        std::uint64_t{8}}),
              "-3 1099511627776 7 8");
    EXPECT_EQ(render("page=%f/%.2f", {1.5, 2.0}), "page=1.500000/2.00");
    EXPECT_EQ(render("100%% done %x", {std::int64_t{255}}), "100% done ff");
}

TEST(LogFormat, MalformedFormatsNeverCrash) {
    EXPECT_EQ(render("a %{public}s b %ld", {std::string("x")}), "a x b <missing>");
    EXPECT_EQ(render("tail %", {}), "tail %");
    EXPECT_EQ(render("unclosed %{public", {std::string("x")}), "unclosed %{public");
    EXPECT_EQ(render("odd %k here", {}), "odd %k here");
    EXPECT_EQ(render("%ld", {std::string("text")}), "text");  // wrong kind prints what it has
}

TEST(LogFormat, NumbersIgnoreTheLocale) {
    // Under a locale that writes a decimal comma the output keeps its point.
    // scripts/setup.sh generates the locale; without it this test cannot tell.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    struct Restore {
        const std::string& name;
        ~Restore() { std::setlocale(LC_NUMERIC, name.c_str()); }
    } restore{previous};
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
        << "the locale de_DE.UTF-8 is missing: run scripts/setup.sh";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(render("%f", {0.25}), "0.250000");
    EXPECT_EQ(render("%.2f %e %g", {1.5, 2.0, 0.125}), "1.50 2.000000e+00 0.125");
}

TEST(Logger, CaptureSeesCategoryLevelAndRenderedText) {
    test::LogCapture capture;
    AppLog::setRevealPrivateForTesting(false);
    AppLog::recovery.info("草稿 %{public}s：%ld 字节 %{private}s", "1234ABCD", 42, "secret");
    AppLog::setRevealPrivateForTesting(std::nullopt);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].category, "recovery");
    EXPECT_EQ(records[0].level, LogLevel::info);
    EXPECT_EQ(records[0].message, "草稿 1234ABCD：42 字节 <private>");
}

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
