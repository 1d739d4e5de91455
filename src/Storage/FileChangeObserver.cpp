#include "Storage/FileChangeObserver.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

// Lives on the main thread. Holds a plain pointer to the observer, which the
// observer clears in stop() and in its destructor (all on the main thread).
class FileChangeObserver::MainRelay {
public:
    void attach(FileChangeObserver* observer) { observer_ = observer; }
    // The watch could not start: nothing is watched.
    void noteWatchFailed() { watchFailed_ = true; }
    bool watchFailed() const { return watchFailed_; }
    void detach() { observer_ = nullptr; }
    bool isAttached() const { return observer_ != nullptr; }

    void event(const FileChangeEvent& event) const {
        LARKSPIN_ASSERT_MAIN_THREAD();
        if (observer_ == nullptr || !observer_->onEvent_) return;
        // A copy: the callback may destroy the observer.
        const auto callback = observer_->onEvent_;
        callback(event);
    }

    void outcome(const ContentStabilizer::Outcome& outcome) const {
        LARKSPIN_ASSERT_MAIN_THREAD();
        if (observer_ == nullptr || !observer_->onOutcome_) return;
        const auto callback = observer_->onOutcome_;
        callback(outcome);
    }

private:
    FileChangeObserver* observer_ = nullptr;
    bool watchFailed_ = false;
};

FileChangeObserver::FileChangeObserver(std::filesystem::path url, bool registersPresenter,
                                       EventCallback onEvent, OutcomeCallback onOutcome,
                                       Clock& clock, const SysCalls& sys)
    : url_(std::move(url)),
      onEvent_(std::move(onEvent)),
      onOutcome_(std::move(onOutcome)),
      relay_(std::make_shared<MainRelay>()) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    // A verdict reaches the owner after the presenter's notices of what was
    // heard before it: a move or a replacement the tracker decided is never
    // overtaken by a reading of whatever the old path leads to by then.
    auto outcomeBox = std::make_shared<std::weak_ptr<FilePresenterObserver>>();
    stabilizer_ = std::make_shared<ContentStabilizer>(
        url_,
        [relay = relay_, outcomeBox](const ContentStabilizer::Outcome& o) {
            auto presenter = outcomeBox->lock();
            if (!presenter) {
                relay->outcome(o);
                return;
            }
            presenter->afterNotices([relay, o] {
                MainThread::post([relay, o] { relay->outcome(o); });
            });
        },
        clock, sys);

    // Shared by the event sources; runs on the main thread. The stabiliser
    // is the observer's alone and goes with it.
    auto handler = [relay = relay_, weak = std::weak_ptr<ContentStabilizer>(stabilizer_)](
                       const FileChangeEvent& event) {
        relay->event(event);
        // A stopped observer wants no verdict: do not start reading again.
        if (!relay->isAttached()) return;
        if (auto stabilizer = weak.lock()) stabilizer->signal();
    };

    vnodeSource_ = std::make_shared<DispatchSourceFileChange>(url_.string(), handler, clock, sys);
    if (registersPresenter) {
        // A change the tracker reports may be another file at the path (a
        // replacement, a file back after a deletion): the change source
        // makes sure it watches that file too.
        auto presenterHandler = [handler,
                                 source = std::weak_ptr<DispatchSourceFileChange>(vnodeSource_)](
                                    const FileChangeEvent& event) {
            if (event.kind == FileChangeEvent::Kind::presenterDidChange) {
                if (auto watching = source.lock()) watching->recheck();
            }
            handler(event);
        };
        presenter_ = std::make_shared<FilePresenterObserver>(url_, std::move(presenterHandler),
                                                             clock, sys);
        *outcomeBox = presenter_;
    }
    relay_->attach(this);

    // The descriptors are opened and the watches added on the source's queue;
    // the main thread never waits for the disk. stop() before or during the
    // start leaves nothing behind: the source makes nothing once stopped, and
    // an unregistered presenter never registers.
    auto started = [relay = relay_, source = std::weak_ptr<DispatchSourceFileChange>(vnodeSource_),
                    presenter = std::weak_ptr<FilePresenterObserver>(presenter_)](
                       std::error_code error) {
        if (!error) {
            if (auto follower = presenter.lock()) error = follower->registerPresenter();
        }
        if (!error) return;
        if (auto watching = source.lock()) watching->stop();
        if (auto follower = presenter.lock()) follower->unregisterPresenter();
        auto verdict =
            ContentStabilizer::Outcome::unreadable(ContentStabilizer::UnreadableReason(error));
        MainThread::post([relay, verdict = std::move(verdict)] {
            relay->noteWatchFailed();
            relay->outcome(verdict);
        });
    };
    vnodeSource_->start(std::move(started));
}

FileChangeObserver::~FileChangeObserver() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    relay_->detach();
}

void FileChangeObserver::stop() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (vnodeSource_) {
        vnodeSource_->stop();
        vnodeSource_.reset();
    }
    if (presenter_) {
        presenter_->unregisterPresenter();
        presenter_.reset();
    }
    stabilizer_->cancel();
    relay_->detach();
}

bool FileChangeObserver::isStopped() const {
    return !relay_->isAttached();
}

void FileChangeObserver::noteExternalEvent(const FileChangeEvent& event) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    MainThread::post([relay = relay_, event] { relay->event(event); });
    if (relay_->isAttached()) stabilizer_->signal();
}

void FileChangeObserver::sampleAgain() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (relay_->isAttached()) stabilizer_->resample();
}

void FileChangeObserver::lookAgain() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (relay_->isAttached()) stabilizer_->signal();
}

bool FileChangeObserver::couldNotWatch() const {
    LARKSPIN_ASSERT_MAIN_THREAD();
    return relay_->watchFailed();
}

InodeWatch::File FileChangeObserver::heldFile() const {
    LARKSPIN_ASSERT_MAIN_THREAD();
    return presenter_ ? presenter_->file() : nullptr;
}

bool FileChangeObserver::drainForTesting() {
    const bool events = !vnodeSource_ || vnodeSource_->drainForTesting();
    const bool notices = !presenter_ || presenter_->drainForTesting();
    return stabilizer_->drainForTesting() && events && notices;
}

}  // namespace larkspin
