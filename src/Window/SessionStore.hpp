#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Async/Task.hpp"
#include "Platform/Async/TaskSlot.hpp"
#include "Window/SessionSnapshot.hpp"

namespace larkspin {

// Keeps the session file (which files are open in which group window) up to
// date: after every change of pages, groups or documents, once the changes
// have paused, it takes a snapshot and writes it atomically on its queue,
// never on the main thread. At quit `freeze()` writes the last snapshot and
// ignores every later change, so closing the windows one by one does not
// empty the session. Main thread.
class SessionStore {
public:
    using SnapshotSource = std::function<SessionSnapshot()>;

    // How long changes must pause before a snapshot is written.
    static constexpr std::chrono::milliseconds writeDelay{500};
    static constexpr const char* fileName = "session.json";

    // Keeps the file in `folder` (created when first written: the program's
    // state folder, g_get_user_state_dir()/Larkspin). `source` is asked for
    // the snapshot on the main thread when a write is due.
    SessionStore(std::filesystem::path folder, Clock& clock,
                 std::shared_ptr<SerialExecutor> executor, SnapshotSource source);
    ~SessionStore() = default;
    SessionStore(const SessionStore&) = delete;
    SessionStore& operator=(const SessionStore&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // Something the session holds changed: a write follows once changes pause.
    void noteChanged();
    // Writes the current snapshot now (queued; SerialExecutor::finishAll()
    // waits for it at quit) and ignores later changes.
    void freeze();
    // The same with `last` as the snapshot written: what the caller knows
    // beyond the source (the files still being opened at quit).
    void freeze(SessionSnapshot last);

    // The kept session. A missing file is an empty session; a file that is
    // too large or not a session is set aside as "<file>.corrupt" (or
    // "<file>.corrupt-2"…, beside an earlier one), logged and read as empty;
    // one that cannot be read is logged, left, and read as empty.
    static Task<SessionSnapshot> load(std::filesystem::path folder,
                                      std::shared_ptr<SerialExecutor> executor);
    // The same work, for the queue: never on the main thread.
    static SessionSnapshot readFile(const std::filesystem::path& file);

private:
    Task<void> writeAfterPause();
    void submitWrite(SessionSnapshot snapshot);

    std::filesystem::path folder_;
    std::filesystem::path file_;
    Clock& clock_;
    std::shared_ptr<SerialExecutor> executor_;
    SnapshotSource source_;
    bool frozen_ = false;
    TaskSlot writeSlot_;  // last: cancels the pending write before the members go
};

}  // namespace larkspin
