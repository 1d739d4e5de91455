#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "Platform/Async/Clock.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Storage/DispatchSourceFileChange.hpp"
#include "Storage/FileChangeEvent.hpp"
#include "Storage/FilePresenterObserver.hpp"

namespace larkspin {

// Watches one document file while it is open: file events and, once the file
// has settled after them, the stabiliser's verdict, both delivered on the
// main thread on a later turn of the main loop. Main thread only.
//
// The event sources and the stabiliser never hold the observer: they hold a
// relay whose link to the observer is cut by stop() and by the destructor,
// so late deliveries reach nobody. Owners pass callbacks that hold themselves
// weakly.
class FileChangeObserver {
public:
    using EventCallback = std::function<void(const FileChangeEvent&)>;
    using OutcomeCallback = std::function<void(const ContentStabilizer::Outcome&)>;

    // Starts watching `url` (and, with `registersPresenter`, follows it with
    // the observer's own presenter) in the background: construction opens
    // nothing and never fails. When the file cannot be opened or watched
    // (missing, no permission, no inotify watch left), nothing stays
    // registered and the failure arrives as the verdict
    // `Outcome::unreadable` with the error, on a later turn, as any verdict
    // does; no event follows. Timers read `clock`; every file is opened,
    // watched and read through `sys`.
    FileChangeObserver(std::filesystem::path url, bool registersPresenter, EventCallback onEvent,
                       OutcomeCallback onOutcome, Clock& clock = Clock::system(),
                       const SysCalls& sys = realSysCalls());
    // Cuts the relay and releases the watches (the document calls stop()
    // first). Like stop(), never waits for a queue.
    ~FileChangeObserver();
    FileChangeObserver(const FileChangeObserver&) = delete;
    FileChangeObserver& operator=(const FileChangeObserver&) = delete;

    // Stops the event sources, cancels the stabiliser and cuts the relay, at
    // once: nothing waits for a queue, so a file on a slow or hung mount never
    // holds up the main thread. Calling it twice is harmless.
    void stop();
    // True once stop() was called.
    bool isStopped() const;

    // Delivers an event that the owner received itself (its own presenter
    // callbacks) as if it came from the observer's sources, on a later turn,
    // and signals the stabiliser.
    void noteExternalEvent(const FileChangeEvent& event);

    // Asks the stabiliser to read the file again and report its verdict,
    // even one it reported before. Nothing once stopped.
    void sampleAgain();
    // As sampleAgain(), but a verdict equal to the last one is not reported
    // again (a look at a path that may have come back).
    void lookAgain();

    // True once the watch failed to start (set just before its unreadable
    // verdict is delivered): nothing is watched, and nothing will be heard
    // of the file until a new observer is made.
    bool couldNotWatch() const;

    const std::filesystem::path& url() const { return url_; }
    // The file the presenter follows now (it follows moves and files put in
    // its place); null without a presenter, before it registered, once the
    // file was deleted and after stop(). Touches no disk.
    InodeWatch::File heldFile() const;

    // Blocks (at most a few seconds each) until the event and stabiliser
    // queues have run what they hold; for tests. False when one ran out of time.
    bool drainForTesting();

private:
    class MainRelay;

    std::filesystem::path url_;
    EventCallback onEvent_;
    OutcomeCallback onOutcome_;
    std::shared_ptr<MainRelay> relay_;
    std::shared_ptr<ContentStabilizer> stabilizer_;
    // Shared with the start job, which holds them weakly.
    std::shared_ptr<DispatchSourceFileChange> vnodeSource_;
    std::shared_ptr<FilePresenterObserver> presenter_;
};

}  // namespace larkspin
