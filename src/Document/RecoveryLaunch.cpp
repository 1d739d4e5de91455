#include "Document/RecoveryLaunch.hpp"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <system_error>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Log.hpp"

namespace larkspin::RecoveryLaunch {

namespace {

std::string describeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown exception";
    }
}

std::string_view setAsideLine(DraftSetAside setAside) {
    switch (setAside) {
        case DraftSetAside::sourceGone: return "恢复草稿 %{public}s：源文件不在，已放进未命名文档";
        case DraftSetAside::sourceChanged: return "恢复草稿 %{public}s：源文件已改动，已放进未命名文档";
        case DraftSetAside::sourceReadOnly:
            return "恢复草稿 %{public}s：源文件只读或打不开，已放进未命名文档";
        case DraftSetAside::sourceTaken: return "恢复草稿 %{public}s：源文件已有别的草稿，已放进未命名文档";
    }
    return "恢复草稿 %{public}s：已放进未命名文档";
}

std::shared_ptr<OpenedDocument> restoreAsUntitled(const RecoveryDraft& draft,
                                                  DocumentOpener& controller,
                                                  DraftSetAside setAside) {
    std::shared_ptr<OpenedDocument> document;
    try {
        document = controller.makeUntitledDocument(markdownTypeIdentifier);
    } catch (const std::exception& error) {
        AppLog::recovery.error("恢复草稿 %{public}s：创建未命名文档失败 %{private}s",
                               RecoveryDraft::shortID(draft.draftID), error.what());
        return nullptr;
    }
    if (!document) return nullptr;
    controller.addDocument(document);
    document->makeWindowControllers();
    document->showWindows();
    // An untitled draft has no file to be set aside from.
    document->applyRecoveryDraft(draft, draft.fileIdentity ? std::optional(setAside) : std::nullopt);
    AppLog::recovery.info(setAsideLine(setAside), RecoveryDraft::shortID(draft.draftID));
    return document;
}

// The documents that already took a draft in this restore.
using Taken = std::shared_ptr<std::vector<std::shared_ptr<OpenedDocument>>>;

Task<std::shared_ptr<OpenedDocument>> restore(RecoveryDraft draft,
                                              std::shared_ptr<RecoveryStore> store,
                                              std::shared_ptr<DocumentOpener> controller,
                                              Taken taken) {
    if (!draft.fileIdentity) co_return restoreAsUntitled(draft, *controller, DraftSetAside::sourceGone);
    // Resolving the bookmark lists a folder: on the shared workers, not on
    // the main thread.
    auto find = [identity = *draft.fileIdentity]() -> std::optional<std::filesystem::path> {
        const auto location = identity.resolveURL();
        std::error_code ec;
        if (!location || !std::filesystem::exists(location->path, ec)) return std::nullopt;
        return location->path;
    };
    const std::optional<std::filesystem::path> found = co_await runOn(WorkerPool::shared(), find);
    if (!found) co_return restoreAsUntitled(draft, *controller, DraftSetAside::sourceGone);

    std::shared_ptr<OpenedDocument> document;
    try {
        DocumentOpener::Opened opened = co_await controller->openDocument(*found, true);
        document = std::move(opened.document);
    } catch (const std::exception& error) {
        rethrowIfCancelled(std::current_exception());
        AppLog::recovery.error("恢复草稿 %{public}s：打开源文件失败 %{private}s",
                               RecoveryDraft::shortID(draft.draftID), error.what());
    }
    // Found but not opened: the file is there, only not to be edited.
    if (!document) co_return restoreAsUntitled(draft, *controller, DraftSetAside::sourceReadOnly);
    // Text given to a read-only document could never be saved, and closing
    // the document would resolve the draft and lose it: keep it editable.
    // A document that cannot take it (read-only, or its file changed since
    // the draft) leaves it to an untitled document, as does one that already
    // took another draft: applying the second would replace the first's text.
    if (const std::optional<DraftSetAside> refusal = document->recoveryDraftRefusal(draft))
        co_return restoreAsUntitled(draft, *controller, *refusal);
    if (std::find(taken->begin(), taken->end(), document) != taken->end())
        co_return restoreAsUntitled(draft, *controller, DraftSetAside::sourceTaken);

    taken->push_back(document);
    document->setRecoveryStore(store);
    document->applyRecoveryDraft(draft, std::nullopt);
    co_return document;
}

}  // namespace

Task<std::vector<std::shared_ptr<OpenedDocument>>> restoreUnresolvedDrafts(
    std::shared_ptr<RecoveryStore> store, std::shared_ptr<DocumentOpener> controller,
    std::vector<std::filesystem::path> otherFolders) {
    co_await store->removeStaleTemporaryFiles(std::move(otherFolders));
    const Date now = Clock::system().wallNow();
    co_await store->purgeExpiredResolved(now, resolvedDraftRetention);
    const auto drafts = co_await store->unresolvedDrafts();
    std::vector<std::shared_ptr<OpenedDocument>> restored;
    if (drafts.empty()) co_return restored;

    AppLog::recovery.info("启动：发现 %ld 份未解决草稿", drafts.size());
    auto taken = std::make_shared<std::vector<std::shared_ptr<OpenedDocument>>>();
    for (const auto& draft : drafts) {
        // A draft whose restore fails in a way nobody foresaw stays on disk
        // for the next launch; the drafts after it are still restored.
        try {
            if (auto document = co_await restore(draft, store, controller, taken))
                restored.push_back(std::move(document));
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
            AppLog::recovery.error("恢复草稿 %{public}s 失败：%{private}s，留待下次启动",
                                   RecoveryDraft::shortID(draft.draftID),
                                   describeException(std::current_exception()));
        }
    }
    co_return restored;
}

}  // namespace larkspin::RecoveryLaunch
