#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Platform/Text/Date.hpp"

namespace larkspin {

// Dates as ISO 8601 internet date-time texts in UTC with whole seconds:
// "2024-03-05T07:08:09Z".
namespace Iso8601 {

// The date cut down to its whole second (towards the past).
std::string format(Date date);

// Reads exactly the form `format` writes: four-digit year, month, day, the
// letter T, hours, minutes, seconds, the letter Z — nothing before or after,
// no fractions, no offsets, and a real calendar date and time of day. A date
// earlier than distantPast() reads as distantPast(), one later than a Date
// can hold as the latest whole second it can hold.
std::optional<Date> parse(std::string_view text);

}  // namespace Iso8601

}  // namespace larkspin
