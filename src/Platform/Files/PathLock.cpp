#include "Platform/Files/PathLock.hpp"

#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "Platform/Files/FileAccessCheck.hpp"

namespace larkspin {

struct PathLock::Entry {
    std::shared_mutex lock;
    int users = 0;  // under the registry's mutex
};

namespace {
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, PathLock::Entry*> entries;
};

Registry& registry() {
    static auto* shared = new Registry();  // never destroyed: locks may outlive statics
    return *shared;
}
}  // namespace

std::filesystem::path PathLock::canonicalKey(const std::filesystem::path& path) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    std::error_code error;
    auto key = std::filesystem::weakly_canonical(path, error);
    if (!error) return key;
    key = std::filesystem::absolute(path, error);
    return error ? path : key.lexically_normal();
}

PathLock::PathLock(const std::filesystem::path& path, Mode mode)
    : key_(canonicalKey(path).native()), mode_(mode) {
    auto& shared = registry();
    {
        std::lock_guard lock(shared.mutex);
        auto& slot = shared.entries[key_];
        if (slot == nullptr) slot = new Entry();
        ++slot->users;
        entry_ = slot;
    }
    // Wait outside the registry, so that other paths are never held up.
    if (mode_ == Mode::exclusive) {
        entry_->lock.lock();
    } else {
        entry_->lock.lock_shared();
    }
}

PathLock::~PathLock() {
    if (mode_ == Mode::exclusive) {
        entry_->lock.unlock();
    } else {
        entry_->lock.unlock_shared();
    }
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (--entry_->users == 0) {
        shared.entries.erase(key_);
        delete entry_;
    }
}

}  // namespace larkspin
