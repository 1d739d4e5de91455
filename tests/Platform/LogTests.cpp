#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <memory>
#include <string>
#include <thread>

#include "Platform/Log.hpp"
#include "Support/LogCapture.hpp"

namespace larkspin {
namespace {

std::string render(std::string_view format, std::vector<LogArgument> args, bool reveal = false) {
    return AppLog::formatMessage(format, args, reveal);
}

TEST(LogFormat, RendersEachConversionAndSurvivesMalformedFormats) {
    using I = std::int64_t;
    using U = std::uint64_t;
    const struct {
        const char* format;
        std::vector<LogArgument> args;
        bool reveal;
        const char* expected;
    } cases[] = {
        {"文档 doc=%{public}s %{private}s", {std::string("ABC"), std::string("/home/me/n.md")},
         false, "文档 doc=ABC <private>"},
        {"文档 doc=%{public}s %{private}s", {std::string("ABC"), std::string("/home/me/n.md")},
         true, "文档 doc=ABC /home/me/n.md"},
        {"path %s", {std::string("x")}, false, "path <private>"},  // dynamic texts are private
        {"n=%ld m=%{private}ld", {I{5}, I{6}}, false, "n=5 m=<private>"},  // numbers are public
        {"%{bool}d/%{bool}d", {true, false}, false, "true/false"},
        {"%d %lld %zu %u", {I{-3}, I{1} << 40, U{7}, U{8}}, false, "-3 1099511627776 7 8"},
        {"page=%f/%.2f", {1.5, 2.0}, false, "page=1.500000/2.00"},
        {"100%% done %x", {I{255}}, false, "100% done ff"},
        {"a %{public}s b %ld", {std::string("x")}, false, "a x b <missing>"},
        {"tail %", {}, false, "tail %"},
        {"unclosed %{public", {std::string("x")}, false, "unclosed %{public"},
        {"odd %k here", {}, false, "odd %k here"},
        {"%ld", {std::string("text")}, false, "text"},  // a wrong kind prints what it has
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(render(c.format, c.args, c.reveal), c.expected);
    }
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

// A worker thread may be logging while a test's capture goes away; the capture
// must not be called once it has gone (its records are freed with it).
TEST(Logger, AnEndedCaptureIsNoLongerCalledFromOtherThreads) {
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load()) AppLog::document.error("from a worker %ld", 1L);
    });
    for (int round = 0; round < 2000; ++round) {
        auto capture = std::make_unique<test::LogCapture>();
        capture.reset();
    }
    stop = true;
    worker.join();
}

}  // namespace
}  // namespace larkspin
