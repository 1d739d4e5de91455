#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// The request "find". Decoding needs all four keys.
struct FindPayload {
    enum class Direction { next, previous, replaceAll };

    std::string query;  // never empty when the find bar sends it
    Direction direction = Direction::next;
    bool caseSensitive = false;
    bool restart = true;  // true: a new search; false: move from the active match

    bool operator==(const FindPayload&) const = default;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("query", self.query);
        coder.field("direction", self.direction);
        coder.field("caseSensitive", self.caseSensitive);
        coder.field("restart", self.restart);
    }
};

template <>
struct RawValueTable<FindPayload::Direction> {
    using T = FindPayload::Direction;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::next, "next"},
        {T::previous, "previous"},
        {T::replaceAll, "replaceAll"},
    });
};

}  // namespace larkspin
