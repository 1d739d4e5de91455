#include "Updates/RelativeDate.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace larkspin {
namespace {

TEST(RelativeDate, NamesHowLongAgoInChineseAndEnglish) {
    using namespace std::chrono;
    const Date now = Date(seconds(1'700'000'000));
    struct Case {
        Date::duration ago;
        const char* chinese;
        const char* english;
    };
    const Case cases[] = {
        {-minutes(5), "现在", "now"},  // a date later than now
        {seconds(0), "现在", "now"},
        {seconds(59), "现在", "now"},
        {minutes(1), "1分钟前", "1 minute ago"},
        {minutes(3), "3分钟前", "3 minutes ago"},
        {minutes(61), "1小时前", "1 hour ago"},
        {hours(23), "23小时前", "23 hours ago"},
        {hours(24), "昨天", "yesterday"},
        {hours(47), "昨天", "yesterday"},
        {hours(48), "2天前", "2 days ago"},
        {hours(24 * 7), "上周", "last week"},
        {hours(24 * 15), "2周前", "2 weeks ago"},
        {hours(24 * 45), "上个月", "last month"},
        {hours(24 * 90), "3个月前", "3 months ago"},
        {hours(24 * 400), "去年", "last year"},
        {hours(24 * 365 * 3), "3年前", "3 years ago"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RelativeDate::format(now - c.ago, now, RelativeDate::Language::chinese), c.chinese);
        EXPECT_EQ(RelativeDate::format(now - c.ago, now, RelativeDate::Language::english), c.english);
    }
}

}  // namespace
}  // namespace larkspin
