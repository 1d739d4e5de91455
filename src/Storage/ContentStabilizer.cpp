#include "Storage/ContentStabilizer.hpp"

#include <errno.h>

#include <cstdint>
#include <exception>
#include <future>
#include <optional>

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

// Everything but the url, the queue and the handler is touched on the queue
// only. Scheduled work holds the core weakly and does nothing once it is gone.
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

    void restart() {
        if (stopped) return;
        withdraw();
        lastSample.reset();
        scheduleSample();
    }

    void withdraw() {
        pending.cancel();
        ++generation;  // a read already handed to the queue is void too
    }

    void scheduleSample() {
        if (stopped) return;
        const std::uint64_t mine = ++generation;
        std::weak_ptr<Core> weak = weak_from_this();
        pending = queue->submitAfter(settleDelay, [weak, mine] {
            auto self = weak.lock();
            if (self && self->generation == mine) self->sample();
        });
    }

    void sample() {
        pending = {};
        Sample now = read();
        if (lastSample && *lastSample == now) {
            emitIfChanged(now);
        } else {
            scheduleSample();
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

    void emitIfChanged(const Sample& sample) {
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
    TimerHandle pending;
    std::uint64_t generation = 0;
    bool stopped = false;  // the stabiliser is gone: schedule nothing more
    std::optional<Sample> lastSample;
    std::optional<Sample> lastEmitted;
    // Last, so that it goes first: a job it still runs finds the core gone.
    const std::unique_ptr<SerialExecutor> queue;
};

ContentStabilizer::ContentStabilizer(std::filesystem::path url, Handler handler, Clock& clock,
                                     const SysCalls& sys)
    : url_(url), core_(std::make_shared<Core>(std::move(url), std::move(handler), clock, sys)) {}

ContentStabilizer::~ContentStabilizer() {
    // On the queue, and waited for: once this returns, nothing of the
    // stabiliser schedules work or touches the clock (at most a read in
    // progress finishes first).
    const auto shutDown = [](Core& core) {
        core.stopped = true;
        core.withdraw();
    };
    if (core_->queue->isCurrent()) {
        shutDown(*core_);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    core_->queue->submit([weak = std::weak_ptr<Core>(core_), done, shutDown] {
        if (auto core = weak.lock()) shutDown(*core);
        done->set_value();
    });
    finished.wait();
}

void ContentStabilizer::signal() {
    core_->queue->submit([weak = std::weak_ptr<Core>(core_)] {
        if (auto self = weak.lock()) self->restart();
    });
}

void ContentStabilizer::cancel() {
    core_->queue->submit([weak = std::weak_ptr<Core>(core_)] {
        if (auto self = weak.lock()) {
            self->withdraw();
            self->lastSample.reset();
        }
    });
}

void ContentStabilizer::drainForTesting() {
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    core_->queue->submit([done] { done->set_value(); });
    finished.wait();
}

}  // namespace larkspin
