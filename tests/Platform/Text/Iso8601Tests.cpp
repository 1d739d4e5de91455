#include <gtest/gtest.h>

#include <chrono>

#include "Platform/Text/Iso8601.hpp"

namespace larkspin {
namespace {

using namespace std::chrono;

TEST(Iso8601, WritesWholeSecondsInUtcAndReadsThemBack) {
    const Date leapDay = sys_days(2024y / 2 / 29) + 23h + 59min + 58s + 999ms;
    const std::pair<Date, const char*> cases[] = {
        {Date{}, "1970-01-01T00:00:00Z"},
        {leapDay, "2024-02-29T23:59:58Z"},
        {Date{} - 1ns, "1969-12-31T23:59:59Z"},  // towards the past
        {distantPast(), "1677-09-21T00:12:44Z"},
    };
    for (const auto& [date, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Iso8601::format(date), text);
        EXPECT_EQ(Iso8601::parse(text), floor<seconds>(date));
    }
}

TEST(Iso8601, ReadsOnlyTheWrittenForm) {
    for (const char* bad :
         {"", "2024-02-30T00:00:00Z", "2023-02-29T00:00:00Z", "2024-13-01T00:00:00Z",
          "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z", "2024-01-01T00:00:60Z",
          "2024-01-01T00:00:00", "2024-01-01T00:00:00.5Z", "2024-01-01T00:00:00+00:00",
          "2024-01-01 00:00:00Z", "2024-01-01t00:00:00z", "+024-01-01T00:00:00Z",
          "2024-1-01T00:00:00Z", " 2024-01-01T00:00:00Z", "2024-01-01T00:00:00Zjunk"}) {
        EXPECT_EQ(Iso8601::parse(bad), std::nullopt) << bad;
    }
}

TEST(Iso8601, ClampsDatesOutsideWhatADateHolds) {
    EXPECT_EQ(Iso8601::parse("0001-01-01T00:00:00Z"), distantPast());
    EXPECT_EQ(Iso8601::parse("1677-09-21T00:12:43Z"), distantPast());
    EXPECT_EQ(Iso8601::parse("1677-09-21T00:12:45Z"), distantPast() + 1s);
    const auto latest = Iso8601::parse("9999-12-31T23:59:59Z");
    ASSERT_TRUE(latest);
    EXPECT_EQ(*latest, floor<seconds>(Date::max()));
    EXPECT_EQ(Iso8601::parse(Iso8601::format(*latest)), latest);
}

}  // namespace
}  // namespace larkspin
