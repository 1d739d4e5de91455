#include "Platform/Text/Iso8601.hpp"

#include <fmt/format.h>

#include <chrono>

namespace larkspin::Iso8601 {

namespace {

using namespace std::chrono;

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string format(Date date) {
    const auto whole = floor<seconds>(date);
    const auto day = floor<days>(whole);
    const year_month_day ymd(day);
    const hh_mm_ss<seconds> time(whole - day);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", static_cast<int>(ymd.year()),
                       static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                       time.hours().count(), time.minutes().count(), time.seconds().count());
}

std::optional<Date> parse(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    const auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s) return std::nullopt;
    const year_month_day ymd{year(*y), month(static_cast<unsigned>(*mo)),
                             day(static_cast<unsigned>(*d))};
    if (!ymd.ok() || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;

    // Count in seconds (64 bits hold every four-digit year), then fit into a Date.
    const auto total = sys_days(ymd).time_since_epoch() + hours(*h) + minutes(*mi) + seconds(*s);
    const auto earliest = duration_cast<seconds>(distantPast().time_since_epoch());
    const auto latest = floor<seconds>(Date::max()).time_since_epoch();
    if (total < earliest) return distantPast();
    if (total > latest) return Date(duration_cast<Date::duration>(latest));
    return Date(duration_cast<Date::duration>(total));
}

}  // namespace larkspin::Iso8601
