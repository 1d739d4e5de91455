#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Async/Task.hpp"
#include "Storage/SaveOutcome.hpp"
#include "Storage/SaveRequest.hpp"

namespace larkspin {

// Writes one document's bytes to disk: atomically (a temporary file beside
// the destination, written and fsync'ed, given the destination's permission
// bits, owner and extended attributes where the process may, renamed over it,
// then the folder fsync'ed), never over a file whose content is no longer the
// one the caller expects, and verified by reading the result back. Never
// throws; writes no log lines.
//
// Each document owns one store. Saves of one store run one after another on
// its own queue ("dev.corvantel.larkspin.filestore", started with the first
// save). Within the process, the replace holds the destination's PathLock, so
// our own readers and writers of that file wait for it.
//
// - A symbolic link is resolved first: its target is replaced and the link
//   stays a link.
// - A new file (no file at the destination, no expected version) never
//   replaces a file that appeared meanwhile: that save fails instead.
// - The temporary file (".<name>.orvik-<UUID>.tmp", mode 0600 while written)
//   is removed on every failure. After each save (on the queue, once its
//   outcome is handed over), such files that killed saves left beside the
//   destination (older than staleTemporaryAge) are removed too
//   (removeStaleTemporaryFiles).
class FileStore {
public:
    using Hook = std::function<void()>;

    // `sys` is copied; tests pass calls that fail.
    explicit FileStore(const SysCalls& sys = realSysCalls());
    // Waits for saves already queued (a queued write is never dropped).
    ~FileStore();
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // Installs (or, with an empty function, removes) a hook that each save
    // runs on the store's queue after the temporary file is written and
    // before the destination is examined and replaced. The program installs
    // none; tests use it to change the file in between.
    void setBeforeReplaceHook(Hook hook);

    // Saves on the store's queue; await it from a main-thread task. The
    // presenter is carried for the caller's sake only.
    Task<SaveOutcome> save(SaveRequest request, std::optional<FilePresenterBox> presenter = {});

    // The same save, blocking the calling thread until it is done (the
    // document's synchronous write path). Called from a job of this store's
    // own queue, it runs there and then.
    SaveOutcome saveAndWait(SaveRequest request, std::optional<FilePresenterBox> presenter = {});

private:
    struct State;

    std::shared_ptr<SerialExecutor> queue();
    static Task<SaveOutcome> run(std::shared_ptr<SerialExecutor> queue,
                                 std::shared_ptr<State> state,
                                 std::shared_ptr<const SaveRequest> request);

    std::shared_ptr<State> state_;
    std::mutex queueMutex_;
    std::shared_ptr<SerialExecutor> queue_;  // made by the first save
};

}  // namespace larkspin
