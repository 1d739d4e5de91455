#pragma once

#include <functional>
#include <memory>

#include "Platform/NotificationCenter.hpp"

namespace larkspin {

// Tells whoever subscribed that what the session keeps may have changed: a
// page came, went or was selected, a window changed size, or a page's file
// moved. The program makes one (its services own it) and hands it to every
// group window and to the document controller; the session store and the
// shell subscribe. A copy shares the subscribers of its original: a window
// that outlives the services notes its end to nobody. Main thread.
class SessionChanges {
public:

    // Calls `changed` on each note, in the order of subscription, for as long
    // as the returned observer lives.
    [[nodiscard]] NotificationObserver subscribe(std::function<void()> changed);
    void note();

private:
    std::shared_ptr<NotificationCenter> center_ = NotificationCenter::create();
};

}  // namespace larkspin
