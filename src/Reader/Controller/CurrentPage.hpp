#pragma once

#include <memory>

#include "Protocol/Bridge/ReaderBridge.hpp"

namespace larkspin {

// The reader's current page as its parts see it: the bridge of the web view
// in place (none after a release or a process end) and whether that page has
// said "ready". The reader answers it from its web-view lifecycle; the
// appearance and the render session ask it and never hold a bridge longer
// than one request.
class CurrentPage {
public:
    virtual ~CurrentPage() = default;
    virtual std::shared_ptr<ReaderBridge> pageBridge() const = 0;
    virtual bool isPageReady() const = 0;
};

}  // namespace larkspin
