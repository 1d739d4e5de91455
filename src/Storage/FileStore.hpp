#pragma once

#include <functional>
#include <memory>

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
// its own queue ("dev.corvantel.larkspin.filestore", on the shared worker
// pool). Within the process, the replace holds the destination's PathLock, so
// our own readers and writers of that file wait for it.
//
// The conflict test reads the destination afresh inside the lock, after the
// temporary file is on disk, and compares its bytes (size and digest) with
// the expected version: nothing a program can do to the file in place (a
// same-size rewrite with its times put back included) passes for the
// expected content.
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
    // Saves already queued still run (a queued write is never dropped); see
    // SerialExecutor for when this waits for them.
    ~FileStore();
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // Installs (or, with an empty function, removes) a hook that each save
    // runs on the store's queue after the temporary file is written and
    // before the destination is examined and replaced. The program installs
    // none; tests use it to change the file in between.
    void setBeforeReplaceHook(Hook hook);

    // Saves on the store's queue; await it from a main-thread task.
    Task<SaveOutcome> save(SaveRequest request);

    // The same save, blocking the calling thread until it is done (a
    // BlockingWait: never on the main thread, except at quit). Called from a
    // job of this store's own queue, it runs there and then.
    SaveOutcome saveAndWait(SaveRequest request);

private:
    struct State;

    static Task<SaveOutcome> run(std::shared_ptr<SerialExecutor> queue,
                                 std::shared_ptr<State> state,
                                 std::shared_ptr<const SaveRequest> request);

    std::shared_ptr<State> state_;
    std::shared_ptr<SerialExecutor> queue_;
};

}  // namespace larkspin
