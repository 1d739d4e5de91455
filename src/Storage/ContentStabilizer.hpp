#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <variant>

#include "Model/DiskVersion.hpp"
#include "Model/LoadedDocument.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Files/SysCalls.hpp"

namespace larkspin {

// Turns a burst of change signals into one verdict on a file's settled state:
// after the last signal it reads the whole file every 150 ms until two reads
// in a row agree, then reports the file's version (or why it cannot be read)
// on the main thread, and only when that verdict differs from the last one it
// reported.
class ContentStabilizer {
public:
    static constexpr Clock::Duration settleDelay = std::chrono::milliseconds(150);

    // Why a file could not be read.
    struct UnreadableReason {
        DocumentLoadFailure failure;  // as the loader classifies the error
        std::string detail;           // the error's domain and code: "POSIX 2"

        UnreadableReason(DocumentLoadFailure failure, std::string detail)
            : failure(std::move(failure)), detail(std::move(detail)) {}
        explicit UnreadableReason(std::error_code error);

        const std::string& description() const { return detail; }
        bool operator==(const UnreadableReason&) const = default;
    };

    // The verdict.
    struct Outcome {
        std::variant<DiskVersion, UnreadableReason> value;

        static Outcome stable(DiskVersion version) { return {std::move(version)}; }
        static Outcome unreadable(UnreadableReason reason) { return {std::move(reason)}; }

        const DiskVersion* stableVersion() const { return std::get_if<DiskVersion>(&value); }
        const UnreadableReason* unreadableReason() const {
            return std::get_if<UnreadableReason>(&value);
        }
        // "stable(<DiskVersion description>)" or "unreadable(<detail>)".
        std::string description() const;
        bool operator==(const Outcome&) const = default;
    };

    using Handler = std::function<void(const Outcome&)>;

    // Reads nothing yet. `handler` is called on the main thread, always on a
    // later turn of the main loop. Reads run on the stabiliser's own queue
    // ("dev.corvantel.larkspin.filewatch.stabilizer", on the shared worker
    // pool), timed by `clock`.
    ContentStabilizer(std::filesystem::path url, Handler handler, Clock& clock = Clock::system(),
                      const SysCalls& sys = realSysCalls());
    // Withdraws the scheduled read and returns at once: a read under way
    // finishes on the pool and is dropped; nothing is scheduled, reported or
    // asked of the clock afterwards.
    ~ContentStabilizer();
    ContentStabilizer(const ContentStabilizer&) = delete;
    ContentStabilizer& operator=(const ContentStabilizer&) = delete;

    // From any thread; returns at once. Restarts the read sequence: the first
    // read comes `settleDelay` after the last signal.
    void signal();
    // From any thread; returns at once. As signal(), and the verdict that
    // follows is reported even when it equals the last one (an owner that
    // set a verdict aside asks for it again).
    void resample();
    // From any thread; returns at once. Withdraws the scheduled read and
    // forgets the current sequence (a read under way is dropped); the last
    // verdict is still remembered.
    void cancel();

    // Blocks (at most a few seconds) until everything queued so far has run;
    // for tests. False when it ran out of time.
    bool drainForTesting();

    const std::filesystem::path& url() const { return url_; }

private:
    struct Core;
    std::filesystem::path url_;
    std::shared_ptr<Core> core_;
};

}  // namespace larkspin
