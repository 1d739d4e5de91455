#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "Platform/Files/FileTracker.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Storage/FileChangeEvent.hpp"

namespace larkspin {

// The observer's own file presenter: follows the file with a FileTracker and
// reports presenterDidChange, presenterDidMove(new path) and
// presenterDeletion on the main thread, always on a later turn. Linux keeps
// no file versions, so the version and conflict events never come from here
// (a document may still pass them in through the observer).
//
// "Registering" starts the tracker, on the queue
// "dev.corvantel.larkspin.filewatch.presenter"; unregistering stops it.
class FilePresenterObserver {
public:
    using Handler = std::function<void(const FileChangeEvent&)>;

    // The tracker opens and looks at the file through `sys`.
    FilePresenterObserver(std::filesystem::path url, Handler handler,
                          const SysCalls& sys = realSysCalls());
    ~FilePresenterObserver();
    FilePresenterObserver(const FilePresenterObserver&) = delete;
    FilePresenterObserver& operator=(const FilePresenterObserver&) = delete;

    // Starts following the file, once: a second call, and a call after
    // unregisterPresenter(), does nothing. Returns the error (errno values)
    // when the file cannot be opened; it stays unregistered then. Opens the
    // file: never on the main thread. From any thread.
    std::error_code registerPresenter();
    // Stops following it, for good; never waits for a registration under way
    // elsewhere (that one then ends unregistered). From any thread.
    void unregisterPresenter();

    // The presented file's location; follows moves. Thread-safe.
    std::filesystem::path url() const;
    // The file followed now, null when unregistered or once it was deleted
    // (see FileTracker::file()). Thread-safe; touches no disk.
    InodeWatch::File file() const;

private:
    struct Location {
        mutable std::mutex mutex;
        std::filesystem::path url;
    };

    std::shared_ptr<Location> location_;
    Handler handler_;
    const SysCalls sys_;
    mutable std::mutex registeredMutex_;
    bool registered_ = false;  // under registeredMutex_
    bool closed_ = false;      // under registeredMutex_: unregistered for good
    std::unique_ptr<FileTracker> tracker_;
};

}  // namespace larkspin
