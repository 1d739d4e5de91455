#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// How a diagram host's web view is kept apart from the reader's web views.
// Only `shared` is ever in force in the program; the others take effect
// when a service configuration names them.
enum class DiagramHostIsolation {
    shared,              // the shared web context and its network session
    nonPersistentStore,  // a fresh ephemeral network session (website data kept in memory)
    freshProcessPool,    // a web context of its own (its own web processes)
    disabled,            // no host is made; every request answers "unavailable" at once
};

template <>
struct RawValueTable<DiagramHostIsolation> {
    using T = DiagramHostIsolation;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::shared, "shared"},
        {T::nonPersistentStore, "nonpersistent"},
        {T::freshProcessPool, "processpool"},
        {T::disabled, "disabled"},
    });
};

}  // namespace larkspin
