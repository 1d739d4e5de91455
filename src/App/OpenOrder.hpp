#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace larkspin {

// Opens that run side by side but show in the order they were asked for:
// each open takes a ticket when it starts; when it finishes (with what to
// show, or nothing when it failed) `finish` hands back everything that may
// show now, in ticket order: its own result once every earlier open has
// finished, and the later ones that were waiting for it. So files given
// together (the command line, the open dialog) become tabs in the order
// given, however their reads end, and the last one given is shown last.
// Main thread; `T` is what is shown.
template <typename T>
class OpenOrder {
public:
    using Ticket = std::uint64_t;

    Ticket begin() { return nextTicket_++; }

    // `ticket` finished; what may be shown now, in order.
    std::vector<T> finish(Ticket ticket, std::optional<T> result) {
        waiting_.insert_or_assign(ticket, std::move(result));
        std::vector<T> ready;
        for (auto next = waiting_.find(nextToShow_); next != waiting_.end();
             next = waiting_.find(nextToShow_)) {
            if (next->second) ready.push_back(std::move(*next->second));
            waiting_.erase(next);
            ++nextToShow_;
        }
        return ready;
    }

    // Opens finished and waiting for an earlier one.
    std::size_t waitingCount() const { return waiting_.size(); }

private:
    Ticket nextTicket_ = 0;
    Ticket nextToShow_ = 0;
    std::map<Ticket, std::optional<T>> waiting_;
};

}  // namespace larkspin
