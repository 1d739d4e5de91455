#include "Window/SessionStore.hpp"

#include <cerrno>
#include <system_error>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/WholeFile.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

constexpr mode_t kSessionFileMode = 0600;

void writeSession(const std::filesystem::path& folder, const std::filesystem::path& file,
                  const SessionSnapshot& snapshot) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        AppLog::document.error("会话文件夹无法创建：%{private}s（%{public}s）", folder,
                               error.message());
        return;
    }
    std::string bytes;
    try {
        bytes = SessionCodec::encode(snapshot);
    } catch (const std::exception& failure) {
        AppLog::document.error("会话快照无法编码：%{public}s", failure.what());
        return;
    }
    if (const auto failed = writeFileAtomically(file, bytes, kSessionFileMode)) {
        AppLog::document.error("会话文件写入失败：%{private}s（%{public}s）", file, failed.message());
    }
}

void setAside(const std::filesystem::path& file, const std::string& why) {
    const auto aside = setAsideUnusableFile(file);
    if (!aside) {
        AppLog::document.error("会话文件无法使用，也无法另存：%{public}s（另存失败：%{public}s）", why,
                               aside.error().message());
        return;
    }
    AppLog::document.error("会话文件无法使用，已另存为 %{private}s：%{public}s", *aside, why);
    if (aside->native() != file.native() + ".corrupt") {
        AppLog::document.error("之前另存的会话文件仍在，这一份另存为 %{private}s，两份都保留",
                               aside->filename().string());
    }
}

}  // namespace

SessionStore::SessionStore(std::filesystem::path folder, Clock& clock,
                           std::shared_ptr<SerialExecutor> executor, SnapshotSource source)
    : folder_(std::move(folder)),
      file_(folder_ / fileName),
      clock_(clock),
      executor_(std::move(executor)),
      source_(std::move(source)) {}

void SessionStore::noteChanged() {
    if (frozen_) return;
    writeSlot_.spawn(writeAfterPause());
}

void SessionStore::freeze() {
    if (frozen_) return;
    freeze(source_ ? source_() : SessionSnapshot{});
}

void SessionStore::freeze(SessionSnapshot last) {
    if (frozen_) return;
    frozen_ = true;
    writeSlot_.cancel();
    submitWrite(std::move(last));
}

Task<void> SessionStore::writeAfterPause() {
    co_await sleepFor(clock_, writeDelay);
    if (!frozen_) submitWrite(source_ ? source_() : SessionSnapshot{});
}

void SessionStore::submitWrite(SessionSnapshot snapshot) {
    executor_->submit([folder = folder_, file = file_, snapshot = std::move(snapshot)] {
        writeSession(folder, file, snapshot);
    });
}

SessionSnapshot SessionStore::readFile(const std::filesystem::path& file) {
    auto bytes = WholeFile::readAtMost(file, SessionCodec::maximumFileSize);
    if (!bytes) {
        if (bytes.error() == std::errc::no_such_file_or_directory) return {};
        if (bytes.error() == std::errc::file_too_large) {
            setAside(file, "too large");
        } else {
            // Unreadable (a folder, a device, no permission): left where it is.
            AppLog::document.error("会话文件无法读取：%{private}s（%{public}s）", file,
                                   bytes.error().message());
        }
        return {};
    }
    auto snapshot = SessionCodec::decode(*bytes);
    if (!snapshot) {
        setAside(file, snapshot.error());
        return {};
    }
    return std::move(*snapshot);
}

Task<SessionSnapshot> SessionStore::load(std::filesystem::path folder,
                                         std::shared_ptr<SerialExecutor> executor) {
    auto file = folder / fileName;
    auto read = [file] { return readFile(file); };
    co_return co_await runOn(*executor, std::move(read));
}

}  // namespace larkspin
