#pragma once

#include <compare>
#include <string_view>

namespace larkspin {

// Release versions as the update feed and the program write them ("1.10",
// "1.2.0", "1.3b1"), compared segment by segment: a run of digits is a
// number, a run of letters is text, and any other character separates
// segments. A missing segment counts as 0, so "1.2" equals "1.2.0"; a
// letter segment where the other version has a number or nothing sorts
// before it, so a pre-release comes before its release ("1.2b1" < "1.2").
namespace Version {

std::strong_ordering compare(std::string_view left, std::string_view right);

}  // namespace Version

}  // namespace larkspin
