#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "Platform/Async/Clock.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Storage/FileChangeEvent.hpp"

namespace larkspin {

// Watches one path through the process's inotify service and reports write,
// extend, attrib, link, delete and rename events; after a delete or rename it
// opens the same path again, every 100 ms, five times at most.
//
// The file is held by an InodeWatch (an O_PATH descriptor and an inotify
// subscription, shared with the observer's presenter when it follows the
// same file) and events are read against fstat of that descriptor: a grown size adds
// `extend`, a changed link count is `link`, and a link count of zero is
// `delete` at once (the kernel's own delete event waits until the last
// descriptor, ours included, is closed). A file renamed over the watched one
// (an atomic save by another program) therefore shows as `delete`, then
// `reopened` on the new file.
//
// Events are handled on a queue of the source's own
// ("dev.corvantel.larkspin.filewatch.vnode", running on the shared worker
// pool) and handed to `handler` on the main thread, always on a later turn. Events
// that arrive while earlier ones wait for the queue are joined with them, and
// one batch yields its events in the order write, extend, attrib, link,
// delete, rename.
//
// A reopen watches only a file that is still the one at the path, with a
// name (see InodeWatch::open): a file replaced again while it is being
// opened is never followed, or nothing would be heard from it again.
class DispatchSourceFileChange {
public:
    using Handler = std::function<void(const FileChangeEvent&)>;
    // Runs on the source's queue once start() has opened the path (an empty
    // code) or failed to (errno values, EIO when there is none).
    using StartHandler = std::function<void(std::error_code)>;

    static constexpr Clock::Duration reopenDelay = std::chrono::milliseconds(100);
    static constexpr int maxReopenAttempts = 5;

    // Opens nothing yet (see start()). The reopen timer runs on `clock`; the
    // file is opened and looked at through `sys`.
    DispatchSourceFileChange(std::string path, Handler handler, Clock& clock = Clock::system(),
                             const SysCalls& sys = realSysCalls());
    // Stops (see stop()).
    ~DispatchSourceFileChange();
    DispatchSourceFileChange(const DispatchSourceFileChange&) = delete;
    DispatchSourceFileChange& operator=(const DispatchSourceFileChange&) = delete;

    // Opens the path and starts watching, on the source's queue; returns at
    // once. `done` hears how it went, unless stop() came first. A path that
    // cannot be opened or watched leaves nothing behind and is not tried
    // again. Call once.
    void start(StartHandler done);

    // Looks again, on the source's queue, whether the path still names the
    // watched file: when it names another (a replacement the tracker saw,
    // a retargeted link), that is a `delete` and a reopen; when the reopens
    // had given up and a file is there again, it is reopened. Returns at
    // once; nothing once stopped or before start().
    void recheck();

    // Returns at once, without waiting for the queue: afterwards the watch is
    // gone, no reopen is tried and the clock is not touched again. An event
    // being handled at that moment may still be posted to the main thread
    // (so may events posted before); the observer's relay drops them.
    // Idempotent.
    void stop();

    // Blocks (at most a few seconds) until everything queued so far has run;
    // for tests. False when it ran out of time.
    bool drainForTesting();

    const std::string& path() const { return path_; }

private:
    struct Core;
    std::string path_;
    std::shared_ptr<Core> core_;
};

}  // namespace larkspin
