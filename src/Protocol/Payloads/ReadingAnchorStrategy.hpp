#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// How the page managed to restore a reading anchor.
enum class ReadingAnchorStrategy { exact, fingerprint, heading, ratio, none };

template <>
struct RawValueTable<ReadingAnchorStrategy> {
    using T = ReadingAnchorStrategy;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::exact, "exact"},
        {T::fingerprint, "fingerprint"},
        {T::heading, "heading"},
        {T::ratio, "ratio"},
        {T::none, "none"},
    });
};

}  // namespace larkspin
