#include "Document/Disk/DiskWatchState.hpp"

#include <array>
#include <utility>

namespace larkspin {

namespace {

using S = DiskWatchState;
constexpr std::size_t kStates = static_cast<std::size_t>(S::parked) + 1;

// Row: from; column: to.
constexpr std::array<std::array<bool, kStates>, kStates> kMoves = [] {
    std::array<std::array<bool, kStates>, kStates> moves{};
    auto allow = [&moves](S from, std::initializer_list<S> to) {
        for (S state : to) moves[static_cast<std::size_t>(from)][static_cast<std::size_t>(state)] = true;
    };
    const std::initializer_list<S> all = {S::stopped, S::watching, S::reloading, S::grace,
                                          S::missing, S::unreadable, S::parked};
    allow(S::stopped, {S::watching});
    allow(S::watching, all);
    allow(S::reloading, all);
    allow(S::grace, all);
    allow(S::missing, {S::stopped, S::watching, S::reloading, S::unreadable, S::parked});
    allow(S::unreadable, all);
    allow(S::parked, {S::stopped, S::watching});
    return moves;
}();

}  // namespace

bool isAllowedMove(DiskWatchState from, DiskWatchState to) {
    return from == to || kMoves[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)];
}

DiskWatchState stateAfter(DiskChangeAction action) {
    using A = DiskChangeAction;
    switch (action) {
        case A::park: return S::parked;
        case A::startGrace:
        case A::awaitGrace: return S::grace;
        case A::missingNow: return S::missing;
        case A::permission:
        case A::readError: return S::unreadable;
        case A::reload: return S::reloading;
        case A::keepConflict:
        case A::clearIssues:
        case A::acceptVersion:
        case A::acceptRecovered:
        case A::ask:
        case A::conflict: return S::watching;
    }
    return S::watching;
}

std::string_view rawValue(DiskWatchState state) {
    switch (state) {
        case S::stopped: return "stopped";
        case S::watching: return "watching";
        case S::reloading: return "reloading";
        case S::grace: return "grace";
        case S::missing: return "missing";
        case S::unreadable: return "unreadable";
        case S::parked: return "parked";
    }
    return "unknown";
}

}  // namespace larkspin
