#include "Updates/RelativeDate.hpp"

#include <chrono>
#include <cstdint>

namespace larkspin::RelativeDate {

namespace {

// The words of one language: the units' forms for one and for several, and
// the names of the last day, week, month and year. These are the formatter's
// own grammar, like a calendar's month names, not texts of the interface.
struct Words {
    const char* now;
    const char* yesterday;
    const char* lastWeek;
    const char* lastMonth;
    const char* lastYear;
};

constexpr Words chineseWords{"现在", "昨天", "上周", "上个月", "去年"};
constexpr Words englishWords{"now", "yesterday", "last week", "last month", "last year"};

enum class Unit { minute, hour, day, week, month, year };

std::string ago(std::int64_t count, Unit unit, Language language) {
    if (language == Language::chinese) {
        static constexpr const char* units[] = {"分钟", "小时", "天", "周", "个月", "年"};
        return std::to_string(count) + units[static_cast<int>(unit)] + "前";
    }
    static constexpr const char* units[] = {"minute", "hour", "day", "week", "month", "year"};
    std::string text = std::to_string(count) + " " + units[static_cast<int>(unit)];
    if (count != 1) text += "s";
    return text + " ago";
}

}  // namespace

std::string format(Date date, Date now, Language language) {
    using namespace std::chrono;
    const Words& words = language == Language::chinese ? chineseWords : englishWords;
    if (date >= now) return words.now;
    const std::int64_t secondsAgo = duration_cast<seconds>(now - date).count();
    const std::int64_t minutes = secondsAgo / 60;
    const std::int64_t hours = minutes / 60;
    const std::int64_t days = hours / 24;
    if (minutes < 1) return words.now;
    if (hours < 1) return ago(minutes, Unit::minute, language);
    if (days < 1) return ago(hours, Unit::hour, language);
    if (days == 1) return words.yesterday;
    if (days < 7) return ago(days, Unit::day, language);
    if (days < 30) return days < 14 ? words.lastWeek : ago(days / 7, Unit::week, language);
    if (days < 365) return days < 60 ? words.lastMonth : ago(days / 30, Unit::month, language);
    return days < 730 ? words.lastYear : ago(days / 365, Unit::year, language);
}

}  // namespace larkspin::RelativeDate
