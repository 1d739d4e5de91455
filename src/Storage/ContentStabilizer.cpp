#include "Storage/ContentStabilizer.hpp"

#include <errno.h>

#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Files/PathLock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Storage/DocumentLoader.hpp"

namespace larkspin {

ContentStabilizer::UnreadableReason::UnreadableReason(std::error_code error)
    : failure(DocumentLoader::classify(error)), detail(ErrorText::domainAndCode(error)) {}

std::string ContentStabilizer::Outcome::description() const {
    if (const auto* version = stableVersion()) return "stable(" + version->description() + ")";
    return "unreadable(" + unreadableReason()->detail + ")";
}

// The sequence's state lives under the mutex, which is never held across a
// read: signal(), cancel() and the destructor (main thread) only change it
// and never wait for the queue. Scheduled work holds the core weakly and does
// nothing once it is gone.
struct ContentStabilizer::Core : std::enable_shared_from_this<Core> {
    // One read: a version, or why there is none. Two samples agree when they
    // are equal: versions in all four fields, reasons in failure and detail.
    using Sample = std::variant<DiskVersion, UnreadableReason>;

    Core(std::filesystem::path u, Handler h, Clock& clock, const SysCalls& s)
        : url(std::move(u)),
          handler(std::move(h)),
          sys(s),
          queue(std::make_unique<SerialExecutor>("dev.corvantel.larkspin.filewatch.stabilizer",
                                                 clock)) {}

    ~Core() { pending.cancel(); }

    void restartLocked() {
        if (stopped) return;
        withdrawLocked();
        lastSample.reset();
        scheduleSampleLocked();
    }

    void withdrawLocked() {
        pending.cancel();
        ++generation;  // a read already handed to the queue, or under way, is void too
    }

    void scheduleSampleLocked() {
        if (stopped) return;
        const std::uint64_t mine = ++generation;
        std::weak_ptr<Core> weak = weak_from_this();
        pending = queue->submitAfter(settleDelay, [weak, mine] {
            if (auto self = weak.lock()) self->sample(mine);
        });
    }

    void sample(std::uint64_t mine) {
        {
            std::lock_guard lock(mutex);
            if (generation != mine) return;
            pending = {};
        }
        Sample now = read();
        std::lock_guard lock(mutex);
        if (generation != mine) return;  // signalled, cancelled or gone meanwhile
        if (lastSample && *lastSample == now) {
            emitIfChangedLocked(now);
        } else {
            scheduleSampleLocked();
        }
        lastSample = std::move(now);
    }

    Sample read() const {
        try {
            const PathLock lock(url, PathLock::Mode::shared);
            return DiskVersion::read(url, sys);
        } catch (const std::system_error& error) {
            return UnreadableReason(error.code());
        } catch (const std::exception&) {
            return UnreadableReason(ErrorText::fromErrno(EIO));
        }
    }

    void emitIfChangedLocked(const Sample& sample) {
        if (lastEmitted && *lastEmitted == sample) return;
        lastEmitted = sample;
        Outcome outcome{sample};
        MainThread::post([handler = handler, outcome = std::move(outcome)] {
            LARKSPIN_ASSERT_MAIN_THREAD();
            handler(outcome);
        });
    }

    const std::filesystem::path url;
    const Handler handler;
    const SysCalls sys;
    std::mutex mutex;
    TimerHandle pending;                // under mutex
    std::uint64_t generation = 0;       // under mutex
    bool stopped = false;               // under mutex: schedule nothing more
    std::optional<Sample> lastSample;   // under mutex
    std::optional<Sample> lastEmitted;  // under mutex
    // Last, so that it goes first: a job it still runs finds the core gone.
    const std::unique_ptr<SerialExecutor> queue;
};

ContentStabilizer::ContentStabilizer(std::filesystem::path url, Handler handler, Clock& clock,
                                     const SysCalls& sys)
    : url_(url), core_(std::make_shared<Core>(std::move(url), std::move(handler), clock, sys)) {}

ContentStabilizer::~ContentStabilizer() {
    std::lock_guard lock(core_->mutex);
    core_->stopped = true;
    core_->withdrawLocked();
}

void ContentStabilizer::signal() {
    std::lock_guard lock(core_->mutex);
    core_->restartLocked();
}

void ContentStabilizer::resample() {
    std::lock_guard lock(core_->mutex);
    core_->lastEmitted.reset();
    core_->restartLocked();
}

void ContentStabilizer::cancel() {
    std::lock_guard lock(core_->mutex);
    core_->withdrawLocked();
    core_->lastSample.reset();
}

bool ContentStabilizer::drainForTesting() {
    return larkspin::drainForTesting(*core_->queue);
}

}  // namespace larkspin
