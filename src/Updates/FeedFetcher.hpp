#pragma once

#include <string>

#include "Platform/Async/Task.hpp"

namespace larkspin {

// What one fetch of the feed ended with.
struct FetchResult {
    enum class Outcome {
        ok,          // status 200, `body` holds the whole body
        httpStatus,  // the server answered with another status (`status`)
        insecure,    // refused before the request: not https (also a redirect)
        tooLarge,    // the body passed the size limit
        timedOut,    // the whole fetch took longer than its time-out
        failed,      // the connection or the request failed (`message`)
    };
    Outcome outcome = Outcome::failed;
    int status = 0;
    std::string body;
    std::string message;
};

// Fetches the update feed; the desktop's is `SoupFeedFetcher`, tests give
// theirs. A fetch ends exactly once; a cancelled task stops its request.
// Main thread.
class FeedFetcher {
public:
    // The largest body accepted.
    static constexpr std::size_t maximumBodySize = 1024 * 1024;

    virtual ~FeedFetcher() = default;
    virtual Task<FetchResult> fetch(std::string url) = 0;
};

}  // namespace larkspin
