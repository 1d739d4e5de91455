#include "Reader/DocumentResourceSchemeHandler.hpp"

#include <fmt/format.h>

#include "Platform/Log.hpp"
#include "Platform/MainThread.hpp"
#include "Platform/Task.hpp"
#include "Reader/ResourceWorkers.hpp"

namespace larkspin {

std::shared_ptr<DocumentResourceSchemeHandler> DocumentResourceSchemeHandler::create(
    std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys) {
    if (!workers) workers = ResourceWorkers::documentImages();
    if (!sys) sys = std::shared_ptr<const SysCalls>(std::shared_ptr<void>(), &realSysCalls());
    return std::shared_ptr<DocumentResourceSchemeHandler>(
        new DocumentResourceSchemeHandler(std::move(workers), std::move(sys)));
}

DocumentResourceSchemeHandler::DocumentResourceSchemeHandler(
    std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys)
    : workers_(std::move(workers)), sys_(std::move(sys)) {}

void DocumentResourceSchemeHandler::setDocumentLocation(
    const std::optional<std::filesystem::path>& location, const std::string& documentID) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (location && location->is_absolute()) {
        documentLocations_.insert_or_assign(documentID, location->lexically_normal());
        AppLog::resources.info("文档 %{public}s 的位置：%{private}s", documentID, *location);
    } else {
        documentLocations_.erase(documentID);
        AppLog::resources.info("文档 %{public}s 没有位置，相对图片不可用", documentID);
    }
}

std::optional<std::filesystem::path> DocumentResourceSchemeHandler::documentLocation(
    const std::string& documentID) const {
    const auto found = documentLocations_.find(documentID);
    if (found == documentLocations_.end()) return std::nullopt;
    return found->second;
}

void DocumentResourceSchemeHandler::setAccessDeniedCallback(const std::string& documentID,
                                                            AccessDeniedCallback callback) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (callback) {
        accessDeniedCallbacks_.insert_or_assign(documentID, std::move(callback));
    } else {
        accessDeniedCallbacks_.erase(documentID);
    }
}

void DocumentResourceSchemeHandler::start(std::shared_ptr<SchemeTask> task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::optional<std::string> requestURL = task->requestURL();
    const auto [identity, generation] = activeTasks_.add(std::move(task));

    if (!requestURL) {
        complete(identity, generation, std::nullopt, std::nullopt, std::nullopt,
                 RejectReason::badScheme);
        return;
    }
    auto parsed = parse(*requestURL);
    if (auto* reason = std::get_if<RejectReason>(&parsed)) {
        complete(identity, generation, requestURL, std::nullopt, std::nullopt, *reason);
        return;
    }
    const ParsedRequest& request = std::get<ParsedRequest>(parsed);
    auto fullPath = resolveFullPath(request, documentLocation(request.documentID));
    if (auto* reason = std::get_if<RejectReason>(&fullPath)) {
        complete(identity, generation, requestURL, std::nullopt, request.documentID, *reason);
        return;
    }
    spawn(loadAndComplete(weak_from_this(), identity, generation, *requestURL,
                          std::get<std::string>(fullPath), request.documentID, workers_, sys_));
}

void DocumentResourceSchemeHandler::stop(const SchemeTask& task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stop(task);
}

void DocumentResourceSchemeHandler::stopAll() {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stopAll();
}

Task<void> DocumentResourceSchemeHandler::loadAndComplete(
    std::weak_ptr<DocumentResourceSchemeHandler> weak, TaskIdentity identity,
    std::uint64_t generation, std::string requestURL, std::string fullPath, std::string documentID,
    std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys) {
    auto read = [fullPath, sys] { return load(fullPath, *sys); };
    LoadResult result = RejectReason::readFailed;
    try {
        result = co_await runOn(*workers, std::move(read));
    } catch (const BrokenPromise&) {
        // The workers are shutting down: the request still gets its answer.
    }
    workers.reset();
    auto self = weak.lock();
    if (!self) co_return;
    self->complete(identity, generation, requestURL, fullPath, documentID, std::move(result));
}

void DocumentResourceSchemeHandler::complete(TaskIdentity identity, std::uint64_t generation,
                                             const std::optional<std::string>& requestURL,
                                             const std::optional<std::string>& fullPath,
                                             const std::optional<std::string>& documentID,
                                             LoadResult result) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::shared_ptr<SchemeTask> task = activeTasks_.take(identity, generation);
    if (!task) return;
    const std::string urlText = requestURL.value_or("<nil>");

    if (const auto* reason = std::get_if<RejectReason>(&result)) {
        lastOutcome_ = fmt::format("rejected {} {}", urlText, caseName(*reason));
        const std::string errorObject =
            fmt::format("DocumentResourceSchemeHandler.RejectReason {}", static_cast<int>(*reason));
        AppLog::resources.error("拒绝：%{private}s（%{public}@：%{public}s）",
                                fullPath.value_or(urlText), errorObject, message(*reason));
        if (*reason == RejectReason::accessDenied && documentID && fullPath) {
            const auto callback = accessDeniedCallbacks_.find(*documentID);
            if (callback != accessDeniedCallbacks_.end()) {
                const AccessDeniedCallback call = callback->second;  // may replace itself
                call(*documentID, *fullPath);
            }
        }
        task->fail(SchemeFailure::fileDoesNotExist());
        return;
    }

    ServedResource& served = std::get<ServedResource>(result);
    const auto byteCount = static_cast<std::int64_t>(served.data.size());
    lastOutcome_ = fmt::format("served {} {} {}x{} {}B", urlText, served.mimeType,
                               served.pixelWidth, served.pixelHeight, byteCount);
    AppLog::resources.info("服务：%{private}s %{public}s %ld×%ld %ld 字节",
                           fullPath.value_or(urlText), served.mimeType, served.pixelWidth,
                           served.pixelHeight, byteCount);
    if (!requestURL) {
        task->fail(SchemeFailure::badServerResponse());
        return;
    }
    SchemeResponse response;
    response.status = 200;
    response.contentType = served.mimeType;
    response.headers = {
        {"Content-Type", served.mimeType},
        {"Content-Length", std::to_string(byteCount)},
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
    };
    response.body = std::move(served.data);
    task->respond(std::move(response));
}

}  // namespace larkspin
