#pragma once

#include <cstddef>
#include <string_view>

namespace larkspin::L10n::detail {
// The default text of a key, or null when the table has none.
const std::string_view* lookup(std::string_view key);
}  // namespace larkspin::L10n::detail
