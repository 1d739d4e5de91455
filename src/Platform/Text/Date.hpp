#pragma once

#include <time.h>

#include <chrono>
#include <limits>

namespace larkspin {

// A point in time, as the program's values carry it (nanosecond resolution).
using Date = std::chrono::system_clock::time_point;

// The earliest date a `Date` can hold, in whole seconds:
// 1677-09-21T00:12:44Z. Stands in where a file system reports no date.
// (A nanosecond time point spans about ±292 years around 1970, so the
// proleptic 0001-01-01T00:00:00Z is out of its reach; whole seconds make this
// value survive a round trip through an ISO 8601 text unchanged. A stored
// date before it should be read back as this value.)
constexpr Date distantPast() {
    return Date(std::chrono::ceil<std::chrono::seconds>(Date::duration::min()));
}

// The date of a file time stamp (st_mtim), clamped to the range of `Date`.
constexpr Date dateFromTimespec(const timespec& ts) {
    using namespace std::chrono;
    constexpr auto limit = duration_cast<seconds>(Date::duration::max()).count() - 1;
    if (ts.tv_sec < -limit) return distantPast();
    if (ts.tv_sec > limit) return Date::max();
    return Date(duration_cast<Date::duration>(seconds(ts.tv_sec)) + nanoseconds(ts.tv_nsec));
}

}  // namespace larkspin
