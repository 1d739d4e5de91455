#include "Document/DocumentNoticeActions.hpp"

#include <exception>
#include <memory>
#include <utility>

#include "Document/Document.hpp"
#include "Document/DocumentKeeper.hpp"
#include "Document/DocumentUnits.hpp"
#include "Platform/Async/Cancellation.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

DocumentNoticeActions::DocumentNoticeActions(Document& document, DocumentKeeper& keeper)
    : document_(document), keeper_(keeper) {}

NoticeBarContent DocumentNoticeActions::barContent(const ExternalIssue& issue) {
    std::weak_ptr<Document> weak = document_.weak_from_this();
    auto bind = [weak](void (DocumentNoticeActions::*action)()) {
        return [weak, action] {
            if (auto document = weak.lock()) (document->notices().*action)();
        };
    };
    NoticeHandlers handlers;
    handlers.reloadDiscarding = bind(&DocumentNoticeActions::resolveConflictByReloading);
    handlers.keepMine = bind(&DocumentNoticeActions::resolveConflictKeepingMine);
    handlers.acceptExternal = bind(&DocumentNoticeActions::acceptExternalChange);
    handlers.sampleAgain = bind(&DocumentNoticeActions::sampleAgain);
    handlers.relocate = bind(&DocumentNoticeActions::relocateSourceFile);
    handlers.retrySave = bind(&DocumentNoticeActions::retrySave);
    handlers.dismissRecovered = bind(&DocumentNoticeActions::dismissRecovered);
    handlers.saveElsewhere = bind(&DocumentNoticeActions::saveElsewhere);
    return noticeContent(issue, NoticeContext{document_.path().has_value(), document_.model().isDirty()},
                         handlers);
}

void DocumentNoticeActions::acceptExternalChange() {
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户接受外部修改，重新载入", document_.logID(),
                          document_.displayName());
    document_.reloadFromDisk("用户接受外部修改");
}

void DocumentNoticeActions::resolveConflictByReloading() {
    tasks_.spawn(reloadDiscardingTask());
}

Task<void> DocumentNoticeActions::reloadDiscardingTask() {
    if (document_.model().isDirty()) {
        // Unsaved text goes only with the user's yes, asked once.
        DocumentWindowHost* host = document_.window();
        if (!host) co_return;
        OpenConfirmation::Question question{L10n::text("bar.reload_confirm.heading"),
                                            L10n::text("bar.reload_confirm.body"),
                                            L10n::text("bar.reload_confirm.discard"),
                                            L10n::text("common.cancel")};
        Task<bool> asking = host->confirmDiscard(std::move(question));
        bool discard = false;
        try {
            discard = co_await std::move(asking);
        } catch (...) {
            rethrowIfCancelled(std::current_exception());
            discard = false;
        }
        if (!discard) {
            AppLog::document.info("文档 doc=%{public}s %{private}s 用户取消重新载入，保留本地修改",
                                  document_.logID(), document_.displayName());
            co_return;
        }
    }
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户选择重新载入（丢弃本地修改）", document_.logID(),
                          document_.displayName());
    document_.reloadFromDisk("用户重新载入");
}

void DocumentNoticeActions::resolveConflictKeepingMine() {
    DocumentModel& model = document_.model();
    if (const auto& version = model.conflictVersion()) model.acceptDiskVersion(*version);
    document_.clearExternalIssue({ExternalIssueKind::conflict});
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户选择保留本地修改，磁盘现状记为基准 dirty=%{bool}d",
                          document_.logID(), document_.displayName(), model.isDirty());
}

void DocumentNoticeActions::saveElsewhere() {
    AppLog::document.info("文档 doc=%{public}s %{private}s 用户选择另存为", document_.logID(),
                          document_.displayName());
    // The notice stays until a later event clears it.
    document_.saveAs();
}

void DocumentNoticeActions::sampleAgain() {
    document_.units().disk().sampleAgain();
}

void DocumentNoticeActions::retrySave() {
    document_.clearExternalIssue({ExternalIssueKind::saveFailed});
    // The pipeline raises the notice again if it fails again.
    document_.units().saving().retryFailedSave([](std::optional<SaveError>) {});
}

void DocumentNoticeActions::dismissRecovered() {
    document_.clearExternalIssue({ExternalIssueKind::recovered});
}

void DocumentNoticeActions::relocateSourceFile() {
    if (!document_.window()) return;
    tasks_.spawn(relocateTask());
}

Task<void> DocumentNoticeActions::relocateTask() {
    DocumentWindowHost* host = document_.window();
    if (!host) co_return;
    DocumentWindowHost::SourceRequest request;
    if (document_.path()) request.startFolder = document_.path()->parent_path();
    request.prompt = L10n::text("relocate.prompt");
    request.message = L10n::format("relocate.message", {document_.displayName()});
    Task<std::optional<std::filesystem::path>> choosing = host->chooseSourceFile(std::move(request));
    std::optional<std::filesystem::path> chosen;
    try {
        chosen = co_await std::move(choosing);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
    }
    if (!chosen) co_return;
    // Two documents never share a file: the one already open on it comes
    // forward and this one keeps its notice.
    Task<bool> asking = keeper_.bringForwardIfOpen(document_.shared_from_this(), *chosen);
    bool elsewhere = false;
    try {
        elsewhere = co_await std::move(asking);
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
    }
    if (elsewhere) {
        AppLog::document.info("文档 doc=%{public}s %{private}s 所选文件已在别的标签打开：%{private}s",
                              document_.logID(), document_.displayName(), chosen->filename().string());
        co_return;
    }
    document_.adoptRelocatedSource(std::move(*chosen));
}

}  // namespace larkspin
