#include "Protocol/Schemes/DocumentResourceSchemeHandler.hpp"

#include <fmt/format.h>

#include "Platform/Log.hpp"
#include "Platform/Files/UniqueFd.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <algorithm>
#include <stdexcept>
#include "Protocol/Schemes/ImageHeaderReader.hpp"
#include "Protocol/Navigation/PercentDecoding.hpp"
#include "Protocol/Schemes/ResourceURL.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

std::shared_ptr<DocumentResourceSchemeHandler> DocumentResourceSchemeHandler::create(
    std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys) {
    if (!workers) throw std::invalid_argument("document images without their workers");
    if (!sys) sys = std::shared_ptr<const SysCalls>(std::shared_ptr<void>(), &realSysCalls());
    return std::shared_ptr<DocumentResourceSchemeHandler>(
        new DocumentResourceSchemeHandler(std::move(workers), std::move(sys)));
}

DocumentResourceSchemeHandler::DocumentResourceSchemeHandler(
    std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys)
    : workers_(std::move(workers)), sys_(std::move(sys)) {}

void DocumentResourceSchemeHandler::setDocumentLocation(
    const std::optional<std::filesystem::path>& location) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (location && location->is_absolute()) {
        location_ = location->lexically_normal();
        AppLog::resources.info("文档的位置：%{private}s", *location);
    } else {
        location_.reset();
        AppLog::resources.info("文档没有位置，相对图片不可用");
    }
}

void DocumentResourceSchemeHandler::setAccessDeniedCallback(AccessDeniedCallback callback) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    accessDenied_ = std::move(callback);
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
    auto fullPath = resolveFullPath(request, location_);
    if (auto* reason = std::get_if<RejectReason>(&fullPath)) {
        complete(identity, generation, requestURL, std::nullopt, request.documentID, *reason);
        return;
    }
    loads_.spawn(loadAndComplete(identity, generation, *requestURL,
                                 std::get<std::string>(fullPath), request.documentID));
}

void DocumentResourceSchemeHandler::stop(const SchemeTask& task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stop(task);
}

void DocumentResourceSchemeHandler::stopAll(SchemeTask::WebViewKey webView) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stopAll(webView);
}

Task<void> DocumentResourceSchemeHandler::loadAndComplete(TaskIdentity identity,
                                                          std::uint64_t generation,
                                                          std::string requestURL,
                                                          std::string fullPath,
                                                          std::string documentID) {
    auto read = [fullPath, sys = sys_] { return load(fullPath, *sys); };
    LoadResult result = RejectReason::readFailed;
    try {
        result = co_await runOn(*workers_, std::move(read));
    } catch (const BrokenPromise&) {
        // The workers are shutting down: the request still gets its answer.
    }
    // Reached only while the handler lives (a task of its scope).
    complete(identity, generation, requestURL, fullPath, documentID, std::move(result));
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
        const std::string errorObject =
            fmt::format("DocumentResourceSchemeHandler.RejectReason {}", static_cast<int>(*reason));
        AppLog::resources.error("拒绝：%{private}s（%{public}@：%{public}s）",
                                fullPath.value_or(urlText), errorObject, message(*reason));
        if (*reason == RejectReason::accessDenied && documentID && fullPath) {
            if (accessDenied_) {
                const AccessDeniedCallback call = accessDenied_;  // may replace itself
                call(*documentID, *fullPath);
            }
        }
        task->fail(SchemeFailure::fileDoesNotExist());
        return;
    }

    ServedResource& served = std::get<ServedResource>(result);
    const auto byteCount = static_cast<std::int64_t>(served.data.size());
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

namespace {

using RejectReason = DocumentResourceSchemeHandler::RejectReason;

// The extension of a path's last component (trailing "/" ignored), without
// the dot; empty for none, also for a name that only begins with a dot.
std::string_view extensionOf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

RejectReason openFailure(int error) {
    return error == EPERM || error == EACCES ? RejectReason::accessDenied
                                             : RejectReason::openFailed;
}

}  // namespace

std::string_view DocumentResourceSchemeHandler::message(RejectReason reason) {
    switch (reason) {
        case RejectReason::badScheme:
            return "scheme 不符";
        case RejectReason::noDocumentLocation:
            return "文档尚未保存，无法解析相对路径";
        case RejectReason::badPath:
            return "路径为空或含非法字符";
        case RejectReason::extensionNotAllowed:
            return "扩展名不在白名单";
        case RejectReason::openFailed:
            return "文件不存在或无法打开";
        case RejectReason::accessDenied:
            return "系统拒绝访问该文件（权限不足或沙盒限制）";
        case RejectReason::notRegularFile:
            return "不是常规文件";
        case RejectReason::tooLarge:
            return "超过大小上限";
        case RejectReason::unknownMagic:
            return "文件头不是已知图片格式";
        case RejectReason::pixelSizeUnavailable:
            return "无法读取像素尺寸";
        case RejectReason::pixelSizeTooLarge:
            return "像素尺寸超限";
        case RejectReason::readFailed:
            return "读取失败";
        case RejectReason::cancelled:
            return "任务已取消";
    }
    return "";
}

std::variant<DocumentResourceSchemeHandler::ParsedRequest, RejectReason>
DocumentResourceSchemeHandler::parse(std::string_view requestURL) {
    const auto url = ResourceURL::parse(requestURL);
    if (!url || asciiLowercased(url->scheme) != scheme || !url->host) return RejectReason::badScheme;
    auto documentID = percentDecoded(*url->host);
    if (!documentID || documentID->empty()) return RejectReason::badScheme;

    auto path = url->firstQueryValue("path");
    if (!path || path->empty() || path->find('\0') != std::string::npos ||
        path->find('\\') != std::string::npos || path->starts_with('~')) {
        return RejectReason::badPath;
    }
    const std::string extension = asciiLowercased(extensionOf(*path));
    if (std::find(allowedExtensions.begin(), allowedExtensions.end(), extension) ==
        allowedExtensions.end()) {
        return RejectReason::extensionNotAllowed;
    }
    return ParsedRequest{std::move(*documentID), std::move(*path)};
}

std::variant<std::string, RejectReason> DocumentResourceSchemeHandler::resolveFullPath(
    const ParsedRequest& request, const std::optional<std::filesystem::path>& documentLocation) {
    // Standardised by text: "." and ".." go, symbolic links stay as they are,
    // and the result is not confined to the document's folder.
    if (request.isAbsolute())
        return std::filesystem::path(request.path).lexically_normal().native();
    if (!documentLocation) return RejectReason::noDocumentLocation;
    return (documentLocation->parent_path() / request.path).lexically_normal().native();
}

std::variant<DocumentResourceSchemeHandler::ServedResource, RejectReason>
DocumentResourceSchemeHandler::load(const std::string& fullPath, const SysCalls& sys) {
    if (fullPath.find('\0') != std::string::npos) return RejectReason::openFailed;
    const char* path = fullPath.c_str();

    // A FIFO, socket or device named like an image is refused without being
    // opened; one swapped in after this look cannot block the non-blocking
    // open, and fstat of the descriptor refuses it again.
    struct stat status {};
    if (sys.stat(path, &status) != 0) return openFailure(errno);
    if (!S_ISREG(status.st_mode)) return RejectReason::notRegularFile;

    int fd;
    do {
        fd = sys.open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return openFailure(errno);
    const UniqueFd descriptor(fd, sys);

    if (sys.fstat(fd, &status) != 0) return RejectReason::openFailed;
    if (!S_ISREG(status.st_mode)) return RejectReason::notRegularFile;
    if (status.st_size > byteLimit) return RejectReason::tooLarge;

    // At most one byte over the limit is ever read: a file that grows while it
    // is read is cut there and refused.
    constexpr std::size_t readLimit = static_cast<std::size_t>(byteLimit) + 1;
    std::string data;
    data.resize(std::min(static_cast<std::size_t>(status.st_size) + 1, readLimit));
    std::size_t total = 0;
    while (total < readLimit) {
        if (total == data.size()) data.resize(std::min(data.size() * 2, readLimit));
        const ssize_t count = sys.read(fd, data.data() + total, data.size() - total);
        if (count < 0) {
            if (errno == EINTR) continue;
            return RejectReason::readFailed;
        }
        if (count == 0) break;
        total += static_cast<std::size_t>(count);
    }
    if (total > static_cast<std::size_t>(byteLimit)) return RejectReason::tooLarge;
    data.resize(total);

    const auto type = sniffMIMEType(data);
    if (!type) return RejectReason::unknownMagic;
    const auto size = pixelSize(data);
    if (!size) return RejectReason::pixelSizeUnavailable;
    if (size->width > pixelLimit || size->height > pixelLimit)
        return RejectReason::pixelSizeTooLarge;
    ServedResource served;
    served.mimeType = std::string(*type);
    served.pixelWidth = size->width;
    served.pixelHeight = size->height;
    served.data = std::move(data);
    return served;
}

std::optional<std::string_view> DocumentResourceSchemeHandler::sniffMIMEType(
    std::string_view bytes) {
    const auto format = ImageHeaderReader::sniff(bytes);
    if (!format) return std::nullopt;
    return ImageHeaderReader::mimeType(*format);
}

std::optional<DocumentResourceSchemeHandler::PixelSize> DocumentResourceSchemeHandler::pixelSize(
    std::string_view bytes) {
    const auto size = ImageHeaderReader::pixelSize(bytes);
    if (!size) return std::nullopt;
    return PixelSize{size->width, size->height};
}

}  // namespace larkspin
