#include "Storage/FileStore.hpp"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <expected>
#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Text/ErrorText.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Files/PathLock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Platform/Files/UniqueFd.hpp"
#include "Platform/Text/Uuid.hpp"

namespace larkspin {

namespace {

namespace fs = std::filesystem;
using ErrorText::describe;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// The process's file-creation mask, as a new file made by open(2) would get
// it. Read from /proc: umask(2) can only be read by changing it, which would
// race with every other thread creating files.
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return 022;
}

// Follows symbolic links at the end of `path` (as many as the kernel would),
// so that the file they lead to is replaced and the links stay links. A
// dangling link leads to the file it names, which the save then creates.
std::expected<fs::path, std::error_code> resolveLinks(fs::path path) {
    for (int hops = 0;; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        if (hops == 40) return std::unexpected(std::error_code(ELOOP, std::generic_category()));
        std::error_code error;
        fs::path target = fs::read_symlink(path, error);
        if (error) return std::unexpected(error);
        path = target.is_absolute() ? std::move(target) : path.parent_path() / target;
    }
}

// The temporary file beside the destination. It is removed when this goes
// away, unless it was moved into place.
class TemporaryFile {
public:
    TemporaryFile(const fs::path& destination, const SysCalls& sys)
        : sys_(sys),
          path_(destination.parent_path() /
                temporaryFileName(destination.filename().native(), makeUUID())) {}
    ~TemporaryFile() {
        close();
        remove();
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    std::error_code create() {
        do {
            fd_ = sys_.open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        } while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0) return lastError();
        exists_ = true;
        return {};
    }

    std::error_code write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t written = sys_.write(fd_, bytes.data(), bytes.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                return lastError();
            }
            if (written == 0) return {EIO, std::generic_category()};
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return {};
    }

    std::error_code sync() {
        if (sys_.fsync(fd_) != 0) return lastError();
        return {};
    }

    // Errors of close are ignored: the bytes are on disk already (fsync).
    void close() {
        if (fd_ >= 0) sys_.close(std::exchange(fd_, -1));
    }

    void remove() {
        if (exists_) sys_.unlink(path_.c_str());
        exists_ = false;
    }

    // The bytes now live under the destination's name.
    void markMoved() { exists_ = false; }

    int fd() const { return fd_; }
    const fs::path& path() const { return path_; }

private:
    const SysCalls& sys_;
    fs::path path_;
    int fd_ = -1;
    bool exists_ = false;  // created by us and still under its own name
};

// Extended attributes, access control lists among them, where the process
// may set them; every error is ignored (a file system without them, an
// attribute only the superuser may set).
void copyExtendedAttributes(const fs::path& from, int to) {
    ssize_t length = ::listxattr(from.c_str(), nullptr, 0);
    if (length <= 0) return;
    std::string names(static_cast<std::size_t>(length), '\0');
    length = ::listxattr(from.c_str(), names.data(), names.size());
    if (length <= 0) return;
    names.resize(static_cast<std::size_t>(length));
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        if (name.empty()) continue;
        const ssize_t size = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (size < 0) continue;
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t got = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0) continue;
        ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(got), 0);
    }
}

// Gives the temporary file the destination's owner, group, permission bits
// and extended attributes. Owner and attributes only where permitted; a
// failure to set the permission bits fails the save (the new file would
// otherwise be more, or less, open than the old one).
std::error_code adoptMetadata(const struct stat& original, const fs::path& from, int fd,
                              const SysCalls& sys) {
    mode_t mode = original.st_mode & 07777;
    struct stat mine {};
    if (sys.fstat(fd, &mine) == 0 &&
        (mine.st_uid != original.st_uid || mine.st_gid != original.st_gid)) {
        if (sys.fchown(fd, original.st_uid, original.st_gid) != 0) {
            // Someone else's set-id bits must not pass to a file we own.
            mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
        }
    }
    if (sys.fchmod(fd, mode) != 0) return lastError();
    copyExtendedAttributes(from, fd);
    return {};
}

// Moves the temporary file to a destination that did not exist, failing
// with EEXIST when something is there by now.
std::error_code moveWithoutReplacing(TemporaryFile& temporary, const fs::path& destination,
                                     const SysCalls& sys) {
    if (sys.renameNoReplace(temporary.path().c_str(), destination.c_str()) == 0) {
        temporary.markMoved();
        return {};
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return {error, std::generic_category()};
    // This file system cannot refuse to replace in a rename; a hard link
    // refuses by nature. Then the temporary name goes.
    if (sys.link(temporary.path().c_str(), destination.c_str()) != 0) return lastError();
    temporary.remove();
    return {};
}

// Closes descriptors of replaced files off the save's path: when the last
// reference to a replaced file goes, the kernel frees its pages and blocks,
// which for a file of many megabytes takes milliseconds that the caller
// need not wait for.
void releaseLater(UniqueFd replaced) {
    if (!replaced) return;
    static auto* releaser = new SerialExecutor("dev.corvantel.larkspin.filestore.release");
    releaser->submit([fd = std::make_shared<UniqueFd>(std::move(replaced))] { fd->reset(); });
}

// Makes the rename durable. Best effort: the rename itself has happened.
void syncFolder(const fs::path& folder, const SysCalls& sys) {
    const int fd = sys.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return;
    sys.fsync(fd);
    sys.close(fd);
}

SaveOutcome failed(SaveFailure failure) {
    return SaveOutcome::failed(std::move(failure));
}

std::string recheckFailed(std::error_code error) {
    return L10n::format("save.error.recheck", {describe(error)});
}

// The destination's current version, read afresh inside the lock.
std::expected<DiskVersion, std::error_code> currentVersion(const fs::path& destination,
                                                           const SysCalls& sys) {
    auto fresh = FileReader::read(destination, sys);
    if (!fresh) return std::unexpected(fresh.error());
    return DiskVersion::fromStatus(fresh->status, std::move(fresh->contentDigest));
}

// What reading the file back found.
struct ReadBack {
    struct stat status {};  // fstat of the descriptor after the last byte
    bool matches = false;   // byte for byte the bytes meant
    std::string digest;     // of the bytes read, when they differ
};

// Reads the destination back through one descriptor and compares it with
// `meant` as it arrives. Equal bytes have the digest already computed for
// `meant`, so the bytes read are hashed only when they differ.
std::expected<ReadBack, std::error_code> readBack(const fs::path& path, std::string_view meant,
                                                  const SysCalls& sys) {
    int fd;
    do {
        fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::unexpected(lastError());
    const UniqueFd closer(fd, sys);

    ReadBack result;
    struct stat before {};
    if (sys.fstat(fd, &before) != 0) return std::unexpected(lastError());
    if (!S_ISREG(before.st_mode))
        return std::unexpected(std::error_code(FileReadError::notRegularFile));

    const auto buffer = std::make_unique_for_overwrite<char[]>(FileReader::chunkSize);
    Sha256 hash;
    bool same = true;
    std::size_t offset = 0;
    const auto diverge = [&] {
        same = false;
        hash.update(meant.substr(0, offset));  // the equal prefix
    };
    for (;;) {
        const ssize_t count = sys.read(fd, buffer.get(), FileReader::chunkSize);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(lastError());
        }
        if (count == 0) break;
        const std::string_view bytes(buffer.get(), static_cast<std::size_t>(count));
        if (same && (offset + bytes.size() > meant.size() ||
                     std::memcmp(meant.data() + offset, bytes.data(), bytes.size()) != 0)) {
            diverge();
        }
        if (!same) hash.update(bytes);
        offset += bytes.size();
    }
    if (same && offset != meant.size()) diverge();
    if (sys.fstat(fd, &result.status) != 0) return std::unexpected(lastError());
    if (same && result.status.st_size != static_cast<off_t>(meant.size())) {
        // Grew or shrank after the read: what is there now is not what was meant.
        diverge();
    }
    result.matches = same;
    if (!same) result.digest = hash.finishHex();
    return result;
}

// Inside the destination's lock: the conflict test, the replace and the
// verification.
SaveOutcome replaceVerified(const SaveRequest& request, const fs::path& destination,
                            TemporaryFile& temporary, const SysCalls& sys) {
    struct stat current {};
    const bool exists = sys.stat(destination.c_str(), &current) == 0;
    if (!exists && errno != ENOENT && errno != ENOTDIR) {
        // Cannot tell whether there is a file: neither test nor replace blindly.
        const auto error = lastError();
        return failed(SaveFailure::replace(request.expectedDiskVersion ? recheckFailed(error)
                                                                       : describe(error)));
    }

    if (const auto& expected = request.expectedDiskVersion) {
        if (!exists) return SaveOutcome::conflict(*expected, std::nullopt);
        auto now = currentVersion(destination, sys);
        if (!now) return failed(SaveFailure::replace(recheckFailed(now.error())));
        if (!now->hasSameContent(*expected))
            return SaveOutcome::conflict(*expected, std::move(*now));
    }

    if (exists) {
        if (auto error = adoptMetadata(current, destination, temporary.fd(), sys)) {
            return failed(SaveFailure::replace(describe(error)));
        }
    } else if (sys.fchmod(temporary.fd(), 0666 & ~processUmask()) != 0) {
        return failed(SaveFailure::replace(describe(lastError())));
    }
    temporary.close();

    // Keeps the file being replaced referenced through the rename and the
    // folder's flush, so that freeing it happens afterwards, in the
    // background (see releaseLater).
    UniqueFd replaced;
    if (exists) {
        replaced.reset(::open(destination.c_str(), O_PATH | O_CLOEXEC));
        if (sys.rename(temporary.path().c_str(), destination.c_str()) != 0) {
            return failed(SaveFailure::replace(describe(lastError())));
        }
        temporary.markMoved();
    } else if (auto error = moveWithoutReplacing(temporary, destination, sys)) {
        return failed(SaveFailure::replace(describe(error)));
    }
    syncFolder(destination.parent_path(), sys);
    releaseLater(std::move(replaced));

    // From here on the destination holds the new file, whatever the
    // verification finds.
    const std::string expectedDigest = DiskVersion::digest(request.data);
    const auto back = readBack(destination, request.data, sys);
    if (!back) return failed(SaveFailure::verification(expectedDigest, std::nullopt));
    if (!back->matches) return failed(SaveFailure::verification(expectedDigest, back->digest));
    return SaveOutcome::saved(DiskVersion::fromStatus(back->status, expectedDigest));
}

}  // namespace

struct FileStore::State {
    explicit State(const SysCalls& calls) : sys(calls) {}

    Hook currentHook() const {
        std::lock_guard lock(hookMutex);
        return hook;
    }

    // Removes the temporary files that killed saves (ours or another
    // instance's) left beside the file `url` leads to. Runs on the store's
    // queue once a save has handed over its outcome, so that nobody waits
    // for the folder's listing.
    static void removeLeftovers(const fs::path& url) noexcept {
        try {
            std::error_code error;
            fs::path destination = fs::absolute(url, error);
            if (error) destination = url;
            if (auto target = resolveLinks(std::move(destination))) {
                removeStaleTemporaryFiles(*target);
            }
        } catch (const std::exception&) {
            // Only tidying: the save stands either way.
        }
    }

    SaveOutcome perform(const SaveRequest& request) const {
        try {
            return performSteps(request);
        } catch (const std::system_error& error) {
            return failed(SaveFailure::replace(describe(error.code())));
        } catch (const std::exception& error) {
            return failed(SaveFailure::replace(error.what()));
        }
    }

    SaveOutcome performSteps(const SaveRequest& request) const {
        std::error_code error;
        fs::path destination = fs::absolute(request.url, error);
        if (error) destination = request.url;
        auto resolved = resolveLinks(std::move(destination));
        if (!resolved) return failed(SaveFailure::replace(describe(resolved.error())));
        const fs::path target = std::move(*resolved);

        // Our own readers and writers of the file wait for the whole save.
        const PathLock lock(target, PathLock::Mode::exclusive);

        TemporaryFile temporary(target, sys);
        if (auto e = temporary.create()) return failed(SaveFailure::temporaryWrite(describe(e)));
        if (auto e = temporary.write(request.data)) {
            return failed(SaveFailure::temporaryWrite(describe(e)));
        }
        if (auto e = temporary.sync()) return failed(SaveFailure::temporaryWrite(describe(e)));

        if (const Hook hook = currentHook()) hook();

        return replaceVerified(request, target, temporary, sys);
    }

    const SysCalls sys;
    mutable std::mutex hookMutex;
    Hook hook;  // under hookMutex
};

FileStore::FileStore(const SysCalls& sys)
    : state_(std::make_shared<State>(sys)),
      queue_(std::make_shared<SerialExecutor>("dev.corvantel.larkspin.filestore")) {}

FileStore::~FileStore() = default;

void FileStore::setBeforeReplaceHook(Hook hook) {
    std::lock_guard lock(state_->hookMutex);
    state_->hook = std::move(hook);
}

Task<SaveOutcome> FileStore::save(SaveRequest request) {
    return run(queue_, state_, std::make_shared<const SaveRequest>(std::move(request)));
}

Task<SaveOutcome> FileStore::run(std::shared_ptr<SerialExecutor> queue,
                                 std::shared_ptr<State> state,
                                 std::shared_ptr<const SaveRequest> request) {
    fs::path url = request->url;
    // The job takes the request out of its slot, so that the bytes are freed
    // on the store's queue when the save is done, not on the main thread.
    auto slot = std::make_shared<std::shared_ptr<const SaveRequest>>(std::move(request));
    auto job = [state, slot] {
        const auto taken = std::exchange(*slot, nullptr);
        return state->perform(*taken);
    };
    std::optional<SaveOutcome> outcome;
    try {
        outcome = co_await runOn(*queue, job);
    } catch (const BrokenPromise&) {
        // The queue dropped the job (it was shutting down): nothing was done.
    }
    if (!outcome) {
        co_return failed(SaveFailure::coordination(L10n::text("save.error.coordination_not_run")));
    }
    queue->submit([url = std::move(url)] { State::removeLeftovers(url); });
    co_return std::move(*outcome);
}

SaveOutcome FileStore::saveAndWait(SaveRequest request) {
    const fs::path url = request.url;
    // The job owns the bytes and frees them on the store's queue.
    auto job = [state = state_, request = std::move(request)] { return state->perform(request); };
    std::optional<SaveOutcome> outcome;
    try {
        outcome = runAndWait(*queue_, std::move(job));
    } catch (const BrokenPromise&) {
        return failed(SaveFailure::coordination(L10n::text("save.error.coordination_not_run")));
    }
    // Left-overs of killed saves go after the caller has its answer.
    queue_->submit([url] { State::removeLeftovers(url); });
    return std::move(*outcome);
}

}  // namespace larkspin
