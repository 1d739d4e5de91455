#include "Storage/RecoveryStore.hpp"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <type_traits>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Log.hpp"
#include "Platform/TestHost.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/Files/WholeFile.hpp"

namespace larkspin {

namespace {

constexpr mode_t kDraftFileMode = 0600;

// A draft with the file it was read from. The file's name need not match the
// identifier inside it, so whatever deletes a listed draft deletes this file.
struct ListedDraft {
    std::filesystem::path file;
    RecoveryDraft draft;
};

bool isDraftFileName(std::string_view name) {
    return name.ends_with(RecoveryStore::fileExtension) && !name.starts_with('.');
}

std::filesystem::path fileOf(const std::filesystem::path& directory, std::string_view id) {
    return directory / (std::string(id) + std::string(RecoveryStore::fileExtension));
}

std::optional<RecoveryDraft> decodeDraft(const std::filesystem::path& file, const SysCalls& sys) {
    const std::string name = RecoveryDraft::shortID(file.filename().native());
    auto bytes = WholeFile::readAtMost(file, RecoveryStore::maximumFileSize, sys);
    if (!bytes) {
        if (bytes.error() == std::errc::file_too_large) {
            AppLog::recovery.error("草稿 %{public}s 超过 %ld 字节，不是本程序写的草稿，跳过", name,
                                   RecoveryStore::maximumFileSize);
        }
        return std::nullopt;  // missing, unreadable, a folder: not a draft, not news
    }
    auto draft = RecoveryDraft::decode(*bytes);
    if (!draft) {
        AppLog::recovery.error("草稿 %{public}s 解析失败：%{private}s，跳过", name, draft.error());
        return std::nullopt;
    }
    if (draft->schemaVersion > RecoveryDraft::currentSchemaVersion) {
        AppLog::recovery.error("草稿 %{public}s schema %ld 高于本版本支持的 %ld，跳过", name,
                               draft->schemaVersion, RecoveryDraft::currentSchemaVersion);
        return std::nullopt;
    }
    return std::move(*draft);
}

// One file that cannot be had as a draft, for whatever reason (memory
// included), is skipped: it never keeps the others from being listed.
std::optional<RecoveryDraft> readDraft(const std::filesystem::path& file, const SysCalls& sys) {
    try {
        return decodeDraft(file, sys);
    } catch (const std::exception& error) {
        AppLog::recovery.error("草稿 %{public}s 读取失败：%{private}s，跳过",
                               RecoveryDraft::shortID(file.filename().native()), error.what());
    } catch (...) {
        AppLog::recovery.error("草稿 %{public}s 读取失败，跳过",
                               RecoveryDraft::shortID(file.filename().native()));
    }
    return std::nullopt;
}

std::vector<ListedDraft> listDrafts(const std::filesystem::path& directory, const SysCalls& sys) {
    std::vector<ListedDraft> drafts;
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec);
    if (ec) return drafts;  // no folder yet, or not readable: an empty store
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        const auto file = it->path();
        if (!isDraftFileName(file.filename().native())) continue;
        if (auto draft = readDraft(file, sys)) drafts.push_back({file, std::move(*draft)});
    }
    return drafts;
}

// Seconds from `earlier` to `later`, exact for whole-second dates and free of
// overflow across the whole range of a Date.
double secondsBetween(Date earlier, Date later) {
    using namespace std::chrono;
    const auto a = floor<seconds>(earlier), b = floor<seconds>(later);
    const auto wholeSeconds = b.time_since_epoch().count() - a.time_since_epoch().count();
    const auto nanos = duration_cast<nanoseconds>((later - b) - (earlier - a)).count();
    return static_cast<double>(wholeSeconds) + static_cast<double>(nanos) / 1e9;
}

template <typename Predicate>
std::int64_t removeResolved(const std::filesystem::path& directory, const SysCalls& sys,
                            Predicate shouldRemove) {
    std::int64_t count = 0;
    for (const auto& listed : listDrafts(directory, sys)) {
        if (!listed.draft.resolvedAt || !shouldRemove(*listed.draft.resolvedAt)) continue;
        sys.unlink(listed.file.c_str());  // an error is ignored; the attempt counts
        ++count;
    }
    return count;
}

template <typename Fn>
Task<std::invoke_result_t<Fn&>> onExecutor(std::shared_ptr<SerialExecutor> executor, Fn job) {
    if constexpr (std::is_void_v<std::invoke_result_t<Fn&>>) {
        co_await runOn(*executor, std::move(job));
    } else {
        co_return co_await runOn(*executor, std::move(job));
    }
}

}  // namespace

RecoveryStore::RecoveryStore(std::filesystem::path directory, const SysCalls& sys)
    : directory_(std::move(directory)),
      context_(std::make_shared<const Context>(Context{directory_, sys})),
      executor_(std::make_shared<SerialExecutor>("RecoveryStore")) {}

std::filesystem::path RecoveryStore::defaultDirectory(const UserDefaults& defaults,
                                                      bool isTestHost) {
    std::filesystem::path base = g_get_user_data_dir();
    if (base.empty()) base = g_get_tmp_dir();
    const char* folder = isTestHost                      ? "Recovery-tests"
                         : defaults.string("MDScenario") ? "Recovery-scenario"
                                                         : "Recovery";
    return base / "Larkspin" / folder;
}

std::error_code RecoveryStore::createDirectory(const std::filesystem::path& directory) {
    if (g_mkdir_with_parents(directory.c_str(), 0700) != 0) return {errno, std::generic_category()};
    return {};
}

void RecoveryStore::writeAtomically(const RecoveryDraft& draft,
                                    const std::filesystem::path& directory, const SysCalls& sys) {
    // The identifier becomes a file name: nothing but a canonical UUID may
    // (a crafted "../x" would write outside the folder).
    if (!RecoveryDraft::isValidID(draft.draftID)) {
        throw std::system_error(EINVAL, std::generic_category(), "draft identifier is not a UUID");
    }
    const std::string bytes = draft.encoded();
    // A larger file would be skipped by every listing: refuse it here, where
    // the caller hears of it.
    if (bytes.size() > maximumFileSize) {
        throw std::system_error(EFBIG, std::generic_category(), "draft larger than any draft read");
    }
    if (auto ec = createDirectory(directory)) throw std::system_error(ec);
    if (auto ec =
            writeFileAtomically(fileOf(directory, draft.draftID), bytes, kDraftFileMode, sys)) {
        throw std::system_error(ec);
    }
    AppLog::recovery.info("草稿 %{public}s 已写：%ld 字节 revision=%ld resolved=%{bool}d",
                          RecoveryDraft::shortID(draft.draftID), bytes.size(), draft.sourceRevision,
                          draft.isResolved());
}

std::vector<RecoveryDraft> RecoveryStore::allDrafts(const std::filesystem::path& directory,
                                                    const SysCalls& sys) {
    std::vector<RecoveryDraft> drafts;
    for (auto& listed : listDrafts(directory, sys)) drafts.push_back(std::move(listed.draft));
    return drafts;
}

Task<void> RecoveryStore::write(RecoveryDraft draft) const {
    auto job = [context = context_, draft = std::move(draft)] {
        writeAtomically(draft, context->directory, context->sys);
    };
    return onExecutor(executor_, std::move(job));
}

Task<std::optional<RecoveryDraft>> RecoveryStore::load(std::string id) const {
    auto job = [context = context_, id = std::move(id)]() -> std::optional<RecoveryDraft> {
        if (!RecoveryDraft::isValidID(id)) return std::nullopt;
        return readDraft(fileOf(context->directory, id), context->sys);
    };
    return onExecutor(executor_, std::move(job));
}

Task<std::vector<RecoveryDraft>> RecoveryStore::allDrafts() const {
    auto job = [context = context_] { return allDrafts(context->directory, context->sys); };
    return onExecutor(executor_, std::move(job));
}

Task<std::vector<RecoveryDraft>> RecoveryStore::unresolvedDrafts() const {
    auto job = [context = context_] {
        auto drafts = allDrafts(context->directory, context->sys);
        std::erase_if(drafts, [](const RecoveryDraft& d) { return d.resolvedAt || !d.content; });
        std::stable_sort(drafts.begin(), drafts.end(),
                         [](const RecoveryDraft& a, const RecoveryDraft& b) {
                             return a.updatedAt < b.updatedAt;
                         });
        return drafts;
    };
    return onExecutor(executor_, std::move(job));
}

Task<void> RecoveryStore::markResolved(std::string id, RecoveryDraft::Resolution resolution,
                                       Date at) const {
    auto job = [context = context_, id = std::move(id), resolution, at] {
        if (!RecoveryDraft::isValidID(id)) return;
        auto draft = readDraft(fileOf(context->directory, id), context->sys);
        // A file holding another identifier would be rewritten under that
        // one, over a draft that may still be needed: leave it alone.
        if (!draft || draft->draftID != id) return;
        draft->content.reset();
        draft->resolvedAt = at;
        draft->resolution = resolution;
        draft->updatedAt = at;
        try {
            writeAtomically(*draft, context->directory, context->sys);
        } catch (const std::exception& error) {
            AppLog::recovery.error("草稿 %{public}s 标记解决失败：%{private}s",
                                   RecoveryDraft::shortID(id), error.what());
            return;
        }
        AppLog::recovery.info("草稿 %{public}s 已解决：%{public}s", RecoveryDraft::shortID(id),
                              rawValue(resolution));
    };
    return onExecutor(executor_, std::move(job));
}

Task<void> RecoveryStore::remove(std::string id) const {
    auto job = [context = context_, id = std::move(id)] {
        if (RecoveryDraft::isValidID(id))
            context->sys.unlink(fileOf(context->directory, id).c_str());
    };
    return onExecutor(executor_, std::move(job));
}

Task<std::int64_t> RecoveryStore::purgeExpiredResolved(Date now, double retention) const {
    auto job = [context = context_, now, retention] {
        const auto count = removeResolved(context->directory, context->sys, [&](Date resolvedAt) {
            return secondsBetween(resolvedAt, now) > retention;
        });
        if (count > 0) AppLog::recovery.info("清理过期的已解决草稿 %ld 条", count);
        return count;
    };
    return onExecutor(executor_, std::move(job));
}

Task<std::size_t> RecoveryStore::removeStaleTemporaryFiles(
    std::vector<std::filesystem::path> otherFolders) const {
    auto job = [context = context_, folders = std::move(otherFolders)] {
        std::size_t removed = removeStaleTemporaryFilesIn(context->directory);
        for (const auto& folder : folders) removed += removeStaleTemporaryFilesIn(folder);
        if (removed > 0) AppLog::recovery.info("清理中断写入留下的临时文件 %ld 个", removed);
        return removed;
    };
    return onExecutor(executor_, std::move(job));
}

Task<std::int64_t> RecoveryStore::clearResolved() const {
    auto job = [context = context_] {
        return removeResolved(context->directory, context->sys, [](Date) { return true; });
    };
    return onExecutor(executor_, std::move(job));
}

}  // namespace larkspin
