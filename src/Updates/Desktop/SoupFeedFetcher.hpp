#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Platform/Async/Clock.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Updates/FeedFetcher.hpp"

typedef struct _SoupSession SoupSession;

namespace larkspin {

// The feed over libsoup 3: https only (a plain http address is refused before
// any request, and so is a redirect to one), at most five redirects followed
// by hand, status 200 required, at most `maximumBodySize` bytes of body, the
// whole fetch within `timeout` on `clock`, user agent "Larkspin/<version>".
// Main thread; the requests run on the default main context.
class SoupFeedFetcher final : public FeedFetcher {
public:
    struct Options {
        std::string userAgent;
        std::chrono::milliseconds timeout = std::chrono::seconds(30);
        Clock* clock = nullptr;  // the system clock when null
        // For tests only: also allows plain http to 127.0.0.1.
        bool allowLoopbackHttpForTesting = false;
    };

    explicit SoupFeedFetcher(Options options);
    ~SoupFeedFetcher() override;

    Task<FetchResult> fetch(std::string url) override;

    // Whether `url` may be requested under `options` (https, or loopback http
    // for tests); for the redirect check too.
    static bool isAllowed(const std::string& url, bool allowLoopbackHttp);

private:
    struct Operation;

    Options options_;
    GObjectPtr<SoupSession> session_;
};

}  // namespace larkspin
