#pragma once

#include <cstdint>
#include <optional>

namespace larkspin {

// The reader's render coalescing: at most one render request in flight and
// one follow-up queued, however fast render calls come. A render is known by
// the ticket it started with; discarding the web view starts a new
// generation, so the late end of a render from a dropped web view neither
// clears nor restarts the render of the new one. Pure state, main thread.
class RenderQueue {
public:
    struct Ticket {
        std::uint64_t generation = 0;
        bool operator==(const Ticket&) const = default;
    };

    bool isRunning() const { return running_.has_value(); }
    bool isPending() const { return pending_; }

    // A render is asked for: the ticket to start it with now, or none when
    // one runs (it is then folded into the one pending follow-up).
    std::optional<Ticket> request() {
        if (running_) {
            pending_ = true;
            return std::nullopt;
        }
        running_ = Ticket{generation_};
        return running_;
    }

    // The render of `ticket` ended. True when a follow-up was pending: the
    // caller asks again (request()) to start it. A ticket of an earlier
    // generation changes nothing and answers false.
    bool finish(Ticket ticket) {
        if (!running_ || *running_ != ticket) return false;
        running_.reset();
        const bool followUp = pending_;
        pending_ = false;
        return followUp;
    }

    // Forgets the running render and the follow-up (the web view is gone).
    void reset() {
        running_.reset();
        pending_ = false;
        ++generation_;
    }

private:
    std::optional<Ticket> running_;
    bool pending_ = false;
    std::uint64_t generation_ = 0;
};

}  // namespace larkspin
