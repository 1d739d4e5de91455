#pragma once

#include <memory>

#include "Protocol/Schemes/SchemeTask.hpp"

namespace larkspin {

// A URL scheme handler as the router of its scheme sees it. Main thread only.
class SchemeHandler {
public:
    virtual ~SchemeHandler() = default;
    // Takes a request; returns at once, the outcome reaches the task later
    // (or at once, for a request refused before any file is touched).
    virtual void start(std::shared_ptr<SchemeTask> task) = 0;
    // Forgets a started request: nothing more is sent to it, and a read still
    // running is dropped when it ends.
    virtual void stop(const SchemeTask& task) = 0;
    // Forgets every started request of one web view (it is gone); the
    // requests of other web views go on.
    virtual void stopAll(SchemeTask::WebViewKey webView) = 0;
};

}  // namespace larkspin
