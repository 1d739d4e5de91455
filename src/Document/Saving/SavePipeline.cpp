#include "Document/Saving/SavePipeline.hpp"

#include <algorithm>
#include <exception>
#include <utility>

#include "Platform/Async/Cancellation.hpp"
#include "Platform/Async/WorkerPool.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Log.hpp"

namespace larkspin {

namespace {

void answer(const std::vector<SavePipeline::Completion>& completions, const std::optional<SaveError>& error) {
    for (const auto& done : completions)
        if (done) done(error);
}

}  // namespace

SavePipeline::SavePipeline(SaveClient& client, std::shared_ptr<FileStore> store)
    : client_(client), store_(std::move(store)) {}

void SavePipeline::save(std::filesystem::path target, SaveOperation operation, Completion done) {
    std::vector<Completion> completions;
    completions.push_back(std::move(done));
    start(Target{std::move(target), operation}, std::move(completions));
}

void SavePipeline::retryFailedSave(Completion done) {
    client_.clearExternalIssue({ExternalIssueKind::saveFailed});
    if (failed_) {
        Target target = *failed_;
        save(std::move(target.path), target.operation, std::move(done));
        return;
    }
    if (auto own = client_.fileURL()) {
        save(std::move(*own), SaveOperation::save, std::move(done));
        return;
    }
    if (done) done(SaveError::notWritable(L10n::text("save.error.not_writable")));
}

void SavePipeline::start(Target target, std::vector<Completion> completions) {
    client_.adoptLoadedIfNeeded();
    DocumentModel& model = client_.model();
    const std::string id = client_.logID();
    const std::string name = client_.displayName();

    const SaveDecision decision = decideSave(model, client_.fileURL(), target.path, target.operation);
    if (decision.kind == SaveDecision::Kind::refuse) {
        AppLog::document.error("文档 doc=%{public}s %{private}s 拒绝保存：%{public}s", id, name,
                               decision.refusal);
        answer(completions, SaveError::notWritable(decision.refusal));
        return;
    }
    if (running_) {
        AppLog::document.info("文档 doc=%{public}s %{private}s 已有保存在进行，本次请求排在其后", id, name);
        const Target key{standardizedPath(target.path), target.operation};
        auto same = std::find_if(queued_.begin(), queued_.end(), [&](const Queued& q) {
            return Target{standardizedPath(q.target.path), q.target.operation} == key;
        });
        if (same == queued_.end()) {
            queued_.push_back(Queued{std::move(target), {}});
            same = std::prev(queued_.end());
        }
        for (auto& done : completions) same->completions.push_back(std::move(done));
        return;
    }
    if (decision.kind == SaveDecision::Kind::nothingToDo) {
        AppLog::document.info("文档 doc=%{public}s %{private}s 未修改，保存为 no-op（revision=%ld）", id, name,
                              model.sourceRevision());
        answer(completions, std::nullopt);
        return;
    }

    DocumentSnapshot snapshot = model.snapshot();
    running_ = true;
    model.beginSave();
    tasks_.spawn(run(std::move(target), std::move(snapshot), decision.expected, std::move(completions)));
}

Task<void> SavePipeline::run(Target target, DocumentSnapshot snapshot, std::optional<DiskVersion> expected,
                             std::vector<Completion> completions) {
    // Encoding grows with the text: on the workers, never on the main thread.
    const auto shared = std::make_shared<const DocumentSnapshot>(std::move(snapshot));
    auto encode = [shared] { return shared->encodedData(); };
    std::optional<std::string> data = co_await runOn(WorkerPool::shared(), encode);
    if (!data) {
        client_.model().endSave();
        running_ = false;
        client_.saveDidEnd();
        answer(completions, SaveError::notWritable(L10n::text("save.error.encoding")));
        startQueued();
        co_return;
    }
    SaveRequest request;
    request.url = target.path;
    request.data = std::move(*data);
    request.expectedDiskVersion = std::move(expected);
    request.revision = shared->revision;
    AppLog::document.info(
        "文档 doc=%{public}s %{private}s 开始保存：operation=%lu revision=%ld bytes=%ld encoding=%{public}s "
        "lineEnding=%{public}s",
        client_.logID(), client_.displayName(), static_cast<unsigned long>(target.operation), shared->revision,
        request.data.size(), rawValue(shared->encoding), rawValue(shared->lineEnding));

    std::shared_ptr<FileStore> store = store_;
    SaveOutcome outcome = SaveOutcome::failed(SaveFailure::replace("no outcome"));
    try {
        outcome = co_await store->save(std::move(request));
    } catch (...) {
        rethrowIfCancelled(std::current_exception());
        // The store never throws; a broken promise (its queue shut down at
        // quit) is a failure that wrote nothing of ours.
        outcome = SaveOutcome::failed(SaveFailure::replace("the save did not run"));
    }
    const auto error = finish(outcome, *shared, target);
    answer(completions, error);
    startQueued();
}

std::optional<SaveError> SavePipeline::finish(const SaveOutcome& outcome, const DocumentSnapshot& snapshot,
                                              const Target& target) {
    DocumentModel& model = client_.model();
    const std::string id = client_.logID();
    const std::string name = client_.displayName();
    std::optional<SaveError> error;

    if (const auto* saved = outcome.asSaved()) {
        if (target.operation != SaveOperation::saveTo) {
            model.markSaved(snapshot, saved->version);
            client_.documentDidSave(target.path, target.operation, saved->version);
            client_.clearExternalIssue({});
            if (!model.isDirty())
                client_.resolveDraft(RecoveryDraft::Resolution::saved);
            else
                client_.restartDraft();
        }
        if (failed_ && standardizedPath(failed_->path) == standardizedPath(target.path) &&
            failed_->operation == target.operation)
            failed_.reset();
        AppLog::document.info(
            "文档 doc=%{public}s %{private}s 保存完成：revision=%ld 当前 revision=%ld dirty=%{bool}d %{public}s", id,
            name, snapshot.revision, model.sourceRevision(), model.isDirty(), saved->version.description());
    } else if (const auto* conflict = outcome.asConflict()) {
        model.noteConflict(conflict->found);
        client_.setExternalIssue(conflict->found ? ExternalIssue::conflict(*conflict->found)
                                                 : ExternalIssue::missing());
        AppLog::document.error("文档 doc=%{public}s %{private}s 保存冲突：读入时 %{public}s，磁盘现在 %{public}s；未写入",
                               id, name, conflict->expected.description(),
                               conflict->found ? conflict->found->description() : std::string("不存在"));
        error = SaveError::conflict(conflict->found);
    } else if (const auto* failure = outcome.asFailure()) {
        failed_ = target;
        const bool replaced = !failure->leavesOriginalUnchanged();
        client_.setExternalIssue(ExternalIssue::saveFailed(failure->description(), replaced));
        AppLog::document.error("文档 doc=%{public}s %{private}s 保存失败：%{private}s；%{public}s，dirty=%{bool}d，草稿保留",
                               id, name, failure->description(),
                               std::string(replaced ? "原文件已被替换" : "原文件未改动"), model.isDirty());
        error = SaveError::failed(*failure);
    }

    model.endSave();
    running_ = false;
    client_.saveDidEnd();
    if (client_.model().isDirty()) client_.scheduleDraftIfNeeded();
    return error;
}

void SavePipeline::startQueued() {
    auto queued = std::move(queued_);
    queued_.clear();
    // The first one that writes runs; the others queue behind it again.
    for (auto& q : queued) start(std::move(q.target), std::move(q.completions));
}

}  // namespace larkspin
