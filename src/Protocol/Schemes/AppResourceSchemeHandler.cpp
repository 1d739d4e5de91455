#include "Protocol/Schemes/AppResourceSchemeHandler.hpp"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "Platform/Log.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/UniqueFd.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/Task.hpp"
#include "Protocol/Schemes/RendererDirectory.hpp"
#include "Protocol/Schemes/ResourceWorkers.hpp"
#include <array>
#include <stdexcept>
#include <utility>
#include "Protocol/Navigation/PercentDecoding.hpp"
#include "Protocol/Schemes/ResourceURL.hpp"
#include "Platform/Text/TextTrimming.hpp"

namespace larkspin {

namespace {

std::string lowerCasedExtension(const std::filesystem::path& file) {
    const std::string name = file.filename().native();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return asciiLowercased(std::string_view(name).substr(dot + 1));
}

// The policy for a request URL that passed the path check: the same
// decoding names the file served and the policy sent with it.
std::string_view policyFor(std::string_view requestURL) {
    const auto relative = AppResourceSchemeHandler::relativePath(requestURL);
    const auto* path = std::get_if<std::string>(&relative);
    return AppResourceSchemeHandler::contentSecurityPolicyFor(path ? std::string_view(*path)
                                                                  : std::string_view());
}

std::filesystem::path resolvedRoot(const std::filesystem::path& root) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(root, error);
    if (error) absolute = root;
    auto resolved = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : resolved;
}

}  // namespace

std::shared_ptr<AppResourceSchemeHandler> AppResourceSchemeHandler::createForRenderer(
    std::shared_ptr<ResourceWorkers> workers) {
    const auto root = RendererDirectory::locate();
    if (!root) {
        AppLog::resources.fault("应用包内没有 %s 目录，渲染器资源缺失", directoryName);
        return nullptr;
    }
    return create(*root, std::move(workers));
}


class AppResourceSchemeHandler::Listing {
public:
    explicit Listing(std::filesystem::path given) : root(std::move(given)) {}

    // Walks `given` on `workers`; the waiting requests go on once it is done.
    Task<void> take(std::filesystem::path given, std::shared_ptr<ResourceWorkers> workers) {
        using Taken = std::pair<std::filesystem::path, std::set<std::string>>;
        auto walk = [given]() -> Taken {
            std::filesystem::path resolved = resolvedRoot(given);
            std::set<std::string> files = enumerateManifest(resolved);
            return Taken(std::move(resolved), std::move(files));
        };
        Taken taken(given.lexically_normal(), {});
        try {
            taken = co_await runOn(*workers, std::move(walk));
        } catch (const BrokenPromise&) {
            // The workers are shutting down: the manifest stays empty and
            // every request is refused.
        }
        root = std::move(taken.first);
        files = std::move(taken.second);
        isTaken = true;
        AppLog::resources.info("资源清单就绪：%ld 个文件，根目录 %{private}s",
                               static_cast<long>(files.size()), root);
        for (const Completion<void>& waiter : std::exchange(waiters, {})) waiter.resolve();
    }

    void notify(Completion<void> done) {
        if (isTaken) {
            done.resolve();
        } else {
            waiters.push_back(std::move(done));
        }
    }

    std::filesystem::path root;
    std::set<std::string> files;
    bool isTaken = false;
    std::vector<Completion<void>> waiters;
    TaskScope tasks;  // last: the walk ends with the last handler
};

std::shared_ptr<AppResourceSchemeHandler> AppResourceSchemeHandler::create(
    const std::filesystem::path& root, std::shared_ptr<ResourceWorkers> workers) {
    if (!workers) throw std::invalid_argument("renderer files without their workers");
    auto listing = std::make_shared<Listing>(root);
    listing->tasks.spawn(listing->take(root, workers));
    return std::shared_ptr<AppResourceSchemeHandler>(
        new AppResourceSchemeHandler(std::move(listing), std::move(workers)));
}

AppResourceSchemeHandler::AppResourceSchemeHandler(std::shared_ptr<Listing> listing,
                                                   std::shared_ptr<ResourceWorkers> workers)
    : listing_(std::move(listing)), workers_(std::move(workers)) {}

std::shared_ptr<AppResourceSchemeHandler> AppResourceSchemeHandler::sibling() const {
    return std::shared_ptr<AppResourceSchemeHandler>(new AppResourceSchemeHandler(listing_, workers_));
}

bool AppResourceSchemeHandler::hasManifest() const {
    return listing_->isTaken;
}

const std::filesystem::path& AppResourceSchemeHandler::rootPath() const {
    return listing_->root;
}

const std::set<std::string>& AppResourceSchemeHandler::manifest() const {
    return listing_->files;
}

std::optional<std::string> AppResourceSchemeHandler::listedPath(
    std::string_view requestURL) const {
    auto checked = relativePath(requestURL);
    if (auto* rejection = std::get_if<PathRejection>(&checked)) {
        switch (rejection->rule) {
            case PathRejection::Rule::schemeOrHost:
                AppLog::resources.error("拒绝：scheme 或 host 不符 %{private}s",
                                        rejection->argument);
                break;
            case PathRejection::Rule::undecodable:
                AppLog::resources.error("拒绝：路径无法解码 %{private}s", rejection->argument);
                break;
            case PathRejection::Rule::illegalSegment:
                AppLog::resources.error("拒绝：路径含非法片段 %{private}s", rejection->argument);
                break;
        }
        return std::nullopt;
    }
    std::string& relative = std::get<std::string>(checked);
    if (!listing_->files.contains(relative)) {
        AppLog::resources.error("拒绝：不在清单 %{private}s", relative);
        return std::nullopt;
    }
    return std::move(relative);
}

std::optional<std::filesystem::path> AppResourceSchemeHandler::resolvedInside(
    const std::filesystem::path& root, std::string_view relative) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(root / relative, error);
    if (error) resolved = (root / relative).lexically_normal();
    if (!normalizedPath(resolved).starts_with(normalizedPath(root) + "/")) {
        AppLog::resources.error("拒绝：解析后越出根目录 %{private}s", std::string(relative));
        return std::nullopt;
    }
    return resolved;
}

void AppResourceSchemeHandler::start(std::shared_ptr<SchemeTask> task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    std::optional<std::string> requestURL = task->requestURL();
    const auto [identity, generation] = activeTasks_.add(std::move(task));
    if (!listing_->isTaken) {
        reads_.spawn(serveWhenListed(identity, generation, std::move(requestURL)));
        return;
    }
    serve(identity, generation, std::move(requestURL));
}

Task<void> AppResourceSchemeHandler::serveWhenListed(TaskIdentity identity,
                                                     std::uint64_t generation,
                                                     std::optional<std::string> requestURL) {
    auto wait = [listing = listing_](Completion<void> done) { listing->notify(std::move(done)); };
    co_await awaitCompletion<void>(std::move(wait));
    serve(identity, generation, std::move(requestURL));
}

void AppResourceSchemeHandler::serve(TaskIdentity identity, std::uint64_t generation,
                                     std::optional<std::string> requestURL) {
    // Only the text of the request is checked here; where the file leads is
    // resolved by the worker that reads it.
    auto relative = requestURL ? listedPath(*requestURL) : std::nullopt;
    if (!relative) {
        complete(identity, generation, requestURL, fallbackMimeType,
                 SchemeFailure::fileDoesNotExist());
        return;
    }
    const std::string type(
        mimeType(lowerCasedExtension(std::filesystem::path(*relative))).value_or(fallbackMimeType));
    reads_.spawn(readAndComplete(identity, generation, requestURL, type, std::move(*relative)));
}

void AppResourceSchemeHandler::stop(const SchemeTask& task) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stop(task);
}

void AppResourceSchemeHandler::stopAll(SchemeTask::WebViewKey webView) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    activeTasks_.stopAll(webView);
}

Task<void> AppResourceSchemeHandler::readAndComplete(TaskIdentity identity,
                                                     std::uint64_t generation,
                                                     std::optional<std::string> requestURL,
                                                     std::string mimeType,
                                                     std::string relative) {
    auto read = [root = listing_->root, relative = std::move(relative)]() -> ReadResult {
        const auto file = resolvedInside(root, relative);
        if (!file) return SchemeFailure::fileDoesNotExist();
        return readFile(*file);
    };
    ReadResult result = SchemeFailure::readError(EIO);
    try {
        result = co_await runOn(*workers_, std::move(read));
    } catch (const BrokenPromise&) {
        // The workers are shutting down: the request still gets its answer.
    }
    // Reached only while the handler lives (a task of its scope).
    complete(identity, generation, requestURL, mimeType, std::move(result));
}

AppResourceSchemeHandler::ReadResult AppResourceSchemeHandler::readFile(
    const std::filesystem::path& file) {
    // Non-blocking, and refused unless regular: a FIFO put in place of a
    // renderer file must not hang a worker.
    int fd;
    do {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return SchemeFailure::readError(errno);
    const UniqueFd closer(fd);

    struct stat status {};
    if (::fstat(fd, &status) != 0) return SchemeFailure::readError(errno);
    if (S_ISDIR(status.st_mode)) return SchemeFailure::readError(EISDIR);
    if (!S_ISREG(status.st_mode)) return SchemeFailure::readError(EINVAL);

    std::string bytes;
    bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t total = 0;
    while (true) {
        if (total == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t count = ::read(fd, bytes.data() + total, bytes.size() - total);
        if (count < 0) {
            if (errno == EINTR) continue;
            return SchemeFailure::readError(errno);
        }
        if (count == 0) break;
        total += static_cast<std::size_t>(count);
    }
    bytes.resize(total);
    return bytes;
}

void AppResourceSchemeHandler::complete(TaskIdentity identity, std::uint64_t generation,
                                        const std::optional<std::string>& requestURL,
                                        std::string_view mimeType, ReadResult result) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    const std::shared_ptr<SchemeTask> task = activeTasks_.take(identity, generation);
    if (!task) return;

    if (auto* failure = std::get_if<SchemeFailure>(&result)) {
        task->fail(*failure);
        return;
    }
    if (!requestURL) {
        task->fail(SchemeFailure::badServerResponse());
        return;
    }
    SchemeResponse response;
    response.status = 200;
    response.contentType = std::string(mimeType);
    response.body = std::move(std::get<std::string>(result));
    response.headers = {
        {"Content-Type", response.contentType},
        {"Content-Length", std::to_string(response.body.size())},
        {"Cache-Control", "no-store"},
        {"Content-Security-Policy", std::string(policyFor(*requestURL))},
    };
    task->respond(std::move(response));
}

std::string_view AppResourceSchemeHandler::contentSecurityPolicyFor(std::string_view relativePath) {
    return relativePath == diagramHostPath ? diagramHostContentSecurityPolicy : contentSecurityPolicy;
}

namespace {

// The extension of a file name, without the dot; empty for none (also for a
// name that only begins with a dot).
std::string_view extensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

bool isHidden(const std::filesystem::path& name) {
    return name.native().starts_with('.');
}

}  // namespace

std::optional<std::string_view> AppResourceSchemeHandler::mimeType(
    std::string_view lowerCaseExtension) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> table{{
        {"html", "text/html; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"},
        {"css", "text/css; charset=utf-8"},
        {"json", "application/json; charset=utf-8"},
        {"png", "image/png"},
        {"svg", "image/svg+xml"},
        {"woff2", "font/woff2"},
    }};
    for (const auto& [extension, type] : table) {
        if (extension == lowerCaseExtension) return type;
    }
    return std::nullopt;
}

std::string AppResourceSchemeHandler::normalizedPath(const std::filesystem::path& path) {
    std::string text = path.native();
    while (text.size() >= 2 && text.back() == '/') text.pop_back();
    return text;
}

std::variant<std::string, AppResourceSchemeHandler::PathRejection>
AppResourceSchemeHandler::relativePath(std::string_view requestURL) {
    using Rule = PathRejection::Rule;
    const auto url = ResourceURL::parse(requestURL);
    if (!url || asciiLowercased(url->scheme) != scheme || !url->host || asciiLowercased(*url->host) != host) {
        return PathRejection{Rule::schemeOrHost, std::string(requestURL)};
    }
    const auto decoded = percentDecoded(url->path);
    if (!decoded || !decoded->starts_with('/')) {
        return PathRejection{Rule::undecodable, url->path};
    }
    const std::string_view relative = std::string_view(*decoded).substr(1);
    if (relative.empty() || relative.find("..") != std::string_view::npos ||
        relative.find("//") != std::string_view::npos ||
        relative.find('\0') != std::string_view::npos ||
        relative.find('\\') != std::string_view::npos || relative.starts_with('/')) {
        return PathRejection{Rule::illegalSegment, *decoded};
    }
    return std::string(relative);
}

std::set<std::string> AppResourceSchemeHandler::enumerateManifest(
    const std::filesystem::path& root) {
    LARKSPIN_ASSERT_FILE_ACCESS_ALLOWED();
    namespace fs = std::filesystem;
    std::set<std::string> manifest;
    const std::string rootPrefix = normalizedPath(root) + "/";
    std::error_code error;
    fs::recursive_directory_iterator walk(root, fs::directory_options::skip_permission_denied,
                                          error);
    if (error) return manifest;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        if (error) break;
        const fs::directory_entry& entry = *walk;
        const fs::path name = entry.path().filename();
        if (isHidden(name)) {
            // A hidden directory is skipped with everything below it.
            std::error_code kind;
            if (entry.is_directory(kind) && !entry.is_symlink(kind))
                walk.disable_recursion_pending();
            continue;
        }
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        std::error_code resolveError;
        const fs::path resolved = fs::weakly_canonical(entry.path(), resolveError);
        if (resolveError) continue;
        const std::string resolvedText = normalizedPath(resolved);
        if (!resolvedText.starts_with(rootPrefix)) continue;
        std::string relative = resolvedText.substr(rootPrefix.size());
        if (!mimeType(asciiLowercased(extensionOf(fs::path(relative).filename().native())))) continue;
        manifest.insert(std::move(relative));
    }
    return manifest;
}

}  // namespace larkspin
