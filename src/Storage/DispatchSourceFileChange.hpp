#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Async/Clock.hpp"
#include "Storage/FileChangeEvent.hpp"

namespace larkspin {

// Watches one path through the process's inotify service and reports write,
// extend, attrib, link, delete and rename events; after a delete or rename it
// opens the same path again, every 100 ms, five times at most.
//
// The file is held by an O_PATH descriptor (no read or write access) and
// events are read against fstat of that descriptor: a grown size adds
// `extend`, a changed link count is `link`, and a link count of zero is
// `delete` at once (the kernel's own delete event waits until the last
// descriptor, ours included, is closed). A file renamed over the watched one
// (an atomic save by another program) therefore shows as `delete`, then
// `reopened` on the new file.
//
// Events are handled on the queue "dev.corvantel.larkspin.filewatch.vnode"
// and handed to `handler` on the main thread, always on a later turn. Events
// that arrive while earlier ones wait for the queue are joined with them, and
// one batch yields its events in the order write, extend, attrib, link,
// delete, rename.
class DispatchSourceFileChange {
public:
    using Handler = std::function<void(const FileChangeEvent&)>;

    static constexpr Clock::Duration reopenDelay = std::chrono::milliseconds(100);
    static constexpr int maxReopenAttempts = 5;

    // Opens `path` and starts watching. Throws std::system_error with the
    // errno value (EIO when there is none) when the path cannot be opened or
    // watched; nothing is left behind then. The reopen timer runs on `clock`.
    DispatchSourceFileChange(std::string path, Handler handler, Clock& clock = Clock::system());
    // Stops (see stop()).
    ~DispatchSourceFileChange();
    DispatchSourceFileChange(const DispatchSourceFileChange&) = delete;
    DispatchSourceFileChange& operator=(const DispatchSourceFileChange&) = delete;

    // Runs on the queue and waits for it: afterwards no event is produced and
    // no reopen is tried (events already posted to the main thread still
    // arrive; the observer's relay drops them). Idempotent.
    void stop();

    // Blocks until everything queued so far has run; for tests.
    void drainForTesting();

    const std::string& path() const { return path_; }

private:
    struct Core;
    std::string path_;
    std::shared_ptr<Core> core_;
};

}  // namespace larkspin
