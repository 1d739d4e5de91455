#include "Storage/FilePresenterObserver.hpp"

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

FilePresenterObserver::FilePresenterObserver(std::filesystem::path url, Handler handler,
                                             const SysCalls& sys)
    : location_(std::make_shared<Location>()), handler_(std::move(handler)), sys_(sys) {
    location_->url = std::move(url);
}

FilePresenterObserver::~FilePresenterObserver() {
    unregisterPresenter();
}

std::error_code FilePresenterObserver::registerPresenter() {
    {
        std::lock_guard lock(registeredMutex_);
        if (registered_ || closed_) return {};
    }
    auto queue = std::make_shared<SerialExecutor>("dev.corvantel.larkspin.filewatch.presenter");
    auto deliver = [handler = handler_](FileChangeEvent event) {
        MainThread::post([handler, event = std::move(event)] {
            LARKSPIN_ASSERT_MAIN_THREAD();
            handler(event);
        });
    };
    auto onNotice = [location = location_, deliver](const FileTracker::Notice& notice) {
        switch (notice.change) {
            case FileTracker::Change::changed:
                deliver(FileChangeEvent::Kind::presenterDidChange);
                break;
            case FileTracker::Change::moved: {
                {
                    std::lock_guard moved(location->mutex);
                    location->url = notice.path;
                }
                deliver(FileChangeEvent::presenterDidMove(notice.path));
                break;
            }
            case FileTracker::Change::deleted:
                deliver(FileChangeEvent::Kind::presenterDeletion);
                break;
        }
    };
    // Opened outside the lock: unregistering never waits for a slow disk.
    std::unique_ptr<FileTracker> tracker;
    try {
        tracker = std::make_unique<FileTracker>(url(), std::move(queue), std::move(onNotice), sys_);
    } catch (const std::system_error& error) {
        return error.code();
    }
    std::unique_ptr<FileTracker> unused;  // released after the lock
    std::lock_guard lock(registeredMutex_);
    if (registered_ || closed_) {
        unused = std::move(tracker);
        return {};
    }
    tracker_ = std::move(tracker);
    registered_ = true;
    return {};
}

void FilePresenterObserver::unregisterPresenter() {
    std::unique_ptr<FileTracker> stopped;
    {
        std::lock_guard lock(registeredMutex_);
        closed_ = true;
        if (!registered_) return;
        registered_ = false;
        stopped = std::move(tracker_);
    }
}

InodeWatch::File FilePresenterObserver::file() const {
    std::lock_guard lock(registeredMutex_);
    return tracker_ ? tracker_->file() : nullptr;
}

std::filesystem::path FilePresenterObserver::url() const {
    std::lock_guard lock(location_->mutex);
    return location_->url;
}

}  // namespace larkspin
