#pragma once

#include <array>
#include <concepts>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace larkspin {

// The raw strings of an enumeration that travels as text. Specialise with
//   static constexpr std::array<std::pair<E, std::string_view>, N> entries{...};
// listing every case in its declaration order (a table built at run time
// from another layer's own raw values works too, but then without allCases).
template <typename E>
struct RawValueTable {};

template <typename E>
concept RawValueEnum = std::is_enum_v<E> && requires {
    { RawValueTable<E>::entries.size() } -> std::convertible_to<std::size_t>;
};

// The raw string of a case ("" for a value outside the table).
template <RawValueEnum E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [candidate, text] : RawValueTable<E>::entries) {
        if (candidate == value) return text;
    }
    return {};
}

// The case whose raw string is exactly `text` (case-sensitive), if any.
template <RawValueEnum E>
constexpr std::optional<E> fromRawValue(std::string_view text) {
    for (const auto& [candidate, raw] : RawValueTable<E>::entries) {
        if (raw == text) return candidate;
    }
    return std::nullopt;
}

// Every case, in declaration order.
template <RawValueEnum E>
constexpr auto allCases() {
    std::array<E, RawValueTable<E>::entries.size()> cases{};
    for (std::size_t i = 0; i < cases.size(); ++i) cases[i] = RawValueTable<E>::entries[i].first;
    return cases;
}

}  // namespace larkspin
