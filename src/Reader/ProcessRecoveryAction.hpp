#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "Platform/Json/RawValue.hpp"

namespace larkspin {

// What a reader reports after its web content process ended, or after the
// user pressed retry on its crash-loop status page.
enum class ProcessRecoveryAction {
    rebuild,    // the process ended; the web view is gone and may be rebuilt
    crashLoop,  // it ended again within the crash-loop window: nothing rebuilds by itself
    retry,      // the user asked to try again
};

template <>
struct RawValueTable<ProcessRecoveryAction> {
    using T = ProcessRecoveryAction;
    static constexpr auto entries = std::to_array<std::pair<T, std::string_view>>({
        {T::rebuild, "rebuild"},
        {T::crashLoop, "crashLoop"},
        {T::retry, "retry"},
    });
};

}  // namespace larkspin
