#pragma once

#include <string>

#include "Platform/Text/Date.hpp"

namespace larkspin {

// How long ago a date was, in words: "现在", "3分钟前", "昨天", "上周", "2年前"
// in Chinese, "now", "3 minutes ago", "yesterday", "last week" in English.
// A date later than `now` reads as now. The unit is the largest whole one
// that has passed (a month counts 30 days, a year 365), and one day, week,
// month or year ago has its own name.
namespace RelativeDate {

enum class Language { chinese, english };

std::string format(Date date, Date now, Language language);

}  // namespace RelativeDate

}  // namespace larkspin
