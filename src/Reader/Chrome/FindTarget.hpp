#pragma once

#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/FindResultPayload.hpp"

namespace larkspin {

// What the find bar needs of the reader it searches: the page's own find
// through the protocol ("find" and "clearFind", both answered by
// "findResult"), and the keyboard focus back on the page when the bar closes.
// The reader view controller implements it; the find bar holds it weakly.
// Main thread.
class FindTarget {
public:
    virtual ~FindTarget() = default;

    // The page's answer to a find request. Throws what the bridge throws
    // (no web view, a failed page call, a reply of another type).
    virtual Task<FindResultPayload> find(FindPayload payload) = 0;
    // Drops the page's highlights; the answer is the page's empty result.
    virtual Task<FindResultPayload> clearFind() = 0;
    // Gives the keyboard focus to the page, when the reader has a web view.
    virtual void focusPage() = 0;
};

}  // namespace larkspin
