#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/Async/TaskScope.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Protocol/Schemes/ActiveSchemeTasks.hpp"
#include "Protocol/Schemes/SchemeHandler.hpp"

namespace larkspin {

class ResourceWorkers;

// Serves the local images a rendered document refers to, under the URL scheme
// "document-resource": the host is the document identifier, the query item
// "path" the image path as the document gives it (absolute, or relative to
// the document's file). A file is served only when its extension names an
// image type, its first bytes carry a PNG, JPEG, GIF or WebP signature (which
// decides the Content-Type), it holds at most 20 MiB and its first image
// measures at most 8192 pixels a side.
//
// Which files a document may reach: any path the user running the program
// can open, absolute or relative (".." allowed, symbolic links followed, not
// confined to the document's folder), as long as it passes the tests above;
// "~" is not expanded, and nothing but those four image formats is ever sent.
//
// Main thread only, except the static functions, which hold no state.
class DocumentResourceSchemeHandler final
    : public SchemeHandler,
      public std::enable_shared_from_this<DocumentResourceSchemeHandler> {
public:
    static constexpr std::string_view scheme = "document-resource";
    static constexpr std::int64_t byteLimit = 20'971'520;
    static constexpr std::int64_t pixelLimit = 8192;
    static constexpr std::array<std::string_view, 5> allowedExtensions{"png", "jpg", "jpeg", "gif",
                                                                       "webp"};

    // Why a request was refused. The order is fixed: a reason's position is
    // its error code.
    enum class RejectReason {
        badScheme,
        noDocumentLocation,
        badPath,
        extensionNotAllowed,
        openFailed,
        accessDenied,
        notRegularFile,
        tooLarge,
        unknownMagic,
        pixelSizeUnavailable,
        pixelSizeTooLarge,
        readFailed,
        cancelled,
    };
    static std::string_view message(RejectReason reason);

    struct ParsedRequest {
        std::string documentID;
        std::string path;  // as the query item gives it
        bool isAbsolute() const { return path.starts_with('/'); }
        friend bool operator==(const ParsedRequest&, const ParsedRequest&) = default;
    };

    struct ServedResource {
        std::string data;
        std::string mimeType;
        std::int64_t pixelWidth = 0;
        std::int64_t pixelHeight = 0;
    };

    using AccessDeniedCallback =
        std::function<void(const std::string& documentID, const std::string& fullPath)>;

    // Images are read on `workers` (required: std::invalid_argument
    // without); `sys` is the system-call seam of the reads (tests make calls
    // fail).
    static std::shared_ptr<DocumentResourceSchemeHandler> create(
        std::shared_ptr<ResourceWorkers> workers, std::shared_ptr<const SysCalls> sys = nullptr);

    // Each handler serves the one document its web view shows; that
    // document's owner pushes where the file lives (on open, move and save
    // as). The location is made absolute and normalised; none, or a path
    // that is not absolute, forgets it. Logs either way.
    void setDocumentLocation(const std::optional<std::filesystem::path>& location);
    const std::optional<std::filesystem::path>& documentLocation() const { return location_; }

    // The callback for images that the system refuses to open (EACCES,
    // EPERM): called with the request's document identifier and the full
    // path, before the request fails. An empty callback removes it.
    void setAccessDeniedCallback(AccessDeniedCallback callback);

    void start(std::shared_ptr<SchemeTask> task) override;
    void stop(const SchemeTask& task) override;
    void stopAll(SchemeTask::WebViewKey webView) override;

    // The state-free steps; load() and the two tests it uses run on workers.
    static std::variant<ParsedRequest, RejectReason> parse(std::string_view requestURL);
    static std::variant<std::string, RejectReason> resolveFullPath(
        const ParsedRequest& request, const std::optional<std::filesystem::path>& documentLocation);
    static std::variant<ServedResource, RejectReason> load(const std::string& fullPath,
                                                           const SysCalls& sys = realSysCalls());
    static std::optional<std::string_view> sniffMIMEType(std::string_view bytes);
    struct PixelSize {
        std::int64_t width = 0;
        std::int64_t height = 0;
    };
    static std::optional<PixelSize> pixelSize(std::string_view bytes);

private:
    using TaskIdentity = ActiveSchemeTasks::Identity;
    using LoadResult = std::variant<ServedResource, RejectReason>;

    DocumentResourceSchemeHandler(std::shared_ptr<ResourceWorkers> workers,
                                  std::shared_ptr<const SysCalls> sys);

    Task<void> loadAndComplete(TaskIdentity identity, std::uint64_t generation,
                               std::string requestURL, std::string fullPath,
                               std::string documentID);
    void complete(TaskIdentity identity, std::uint64_t generation,
                  const std::optional<std::string>& requestURL,
                  const std::optional<std::string>& fullPath,
                  const std::optional<std::string>& documentID, LoadResult result);

    std::optional<std::filesystem::path> location_;
    AccessDeniedCallback accessDenied_;
    ActiveSchemeTasks activeTasks_;
    std::shared_ptr<ResourceWorkers> workers_;
    std::shared_ptr<const SysCalls> sys_;
    TaskScope loads_;  // last: the loads end before anything else goes
};

}  // namespace larkspin
