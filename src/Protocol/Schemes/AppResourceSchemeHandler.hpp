#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/Async/TaskScope.hpp"
#include "Protocol/Schemes/ActiveSchemeTasks.hpp"
#include "Protocol/Schemes/SchemeHandler.hpp"

namespace larkspin {

class ResourceWorkers;

// Serves the renderer page's own files (the "dist" directory) under the URL
// scheme "app-resource" with the single host "renderer". A request is served
// only when its decoded path is a clean relative path, is listed in the
// manifest, and still resolves inside the root (checked on the worker, just
// before the read). The manifest is taken once, on the workers, when the
// handler is created; a request that comes before it is ready waits for it.
// Files are read on worker threads; results come back on the main thread and
// reach the request only while it is still the one started under that
// generation. Main thread only, except the static functions.
class AppResourceSchemeHandler final
    : public SchemeHandler,
      public std::enable_shared_from_this<AppResourceSchemeHandler> {
public:
    static constexpr std::string_view scheme = "app-resource";
    static constexpr std::string_view host = "renderer";
    static constexpr std::string_view entryURL = "app-resource://renderer/index.html";
    static constexpr std::string_view directoryName = "dist";
    static constexpr std::string_view contentSecurityPolicy =
        "default-src 'none'; script-src app-resource://renderer; style-src "
        "app-resource://renderer 'unsafe-inline'; img-src app-resource: document-resource: "
        "https: http:; font-src app-resource://renderer; connect-src 'none'; frame-src 'none'; "
        "object-src 'none'; base-uri 'none'; form-action 'none'";
    // The diagram host page draws what a document's diagrams say and shows
    // nothing: it loads nothing from outside the renderer, images included.
    static constexpr std::string_view diagramHostPath = "diagram-host.html";
    static constexpr std::string_view diagramHostContentSecurityPolicy =
        "default-src 'none'; script-src app-resource://renderer; style-src "
        "app-resource://renderer 'unsafe-inline'; img-src app-resource://renderer; font-src "
        "app-resource://renderer; connect-src 'none'; media-src 'none'; worker-src 'none'; "
        "frame-src 'none'; object-src 'none'; base-uri 'none'; form-action 'none'";
    static constexpr std::string_view fallbackMimeType = "application/octet-stream";

    // The policy served with the file at `relativePath` (as `relativePath`
    // gives it): the diagram host page's own, else the reading page's.
    static std::string_view contentSecurityPolicyFor(std::string_view relativePath);

    // The Content-Type for a lower-case extension ("html", "js", "css", "json",
    // "png", "svg", "woff2"); none for any other.
    static std::optional<std::string_view> mimeType(std::string_view lowerCaseExtension);

    // A handler over the installed renderer directory (RendererDirectory), or
    // none after a fault line when there is none.
    static std::shared_ptr<AppResourceSchemeHandler> createForRenderer(
        std::shared_ptr<ResourceWorkers> workers);
    // A handler over `root` (made absolute, symbolic links resolved), its
    // manifest taken and its files read on `workers` (required:
    // std::invalid_argument without).
    static std::shared_ptr<AppResourceSchemeHandler> create(
        const std::filesystem::path& root, std::shared_ptr<ResourceWorkers> workers);

    // A handler over the same root and manifest with requests of its own,
    // for one more web view (a view that goes stops only its own requests);
    // it reads nothing from the disk.
    std::shared_ptr<AppResourceSchemeHandler> sibling() const;

    // Whether the manifest has been taken; until then the manifest is empty
    // and the root is the one given, not yet resolved.
    bool hasManifest() const;
    const std::filesystem::path& rootPath() const;
    const std::set<std::string>& manifest() const;

    // The manifest's path a request URL names, or none after one error line
    // on the resources log (the path check, in its fixed order). Reads
    // nothing from the disk.
    std::optional<std::string> listedPath(std::string_view requestURL) const;
    // The file at `relative` below `root` with its links resolved, or none
    // after an error line when it leads out of the root. Touches the disk:
    // called on the workers, for each request just before its read.
    static std::optional<std::filesystem::path> resolvedInside(const std::filesystem::path& root,
                                                               std::string_view relative);

    void start(std::shared_ptr<SchemeTask> task) override;
    void stop(const SchemeTask& task) override;
    void stopAll(SchemeTask::WebViewKey webView) override;

    // The first four rules of the path check, free of state (scheme and
    // host, decoding, illegal segments): the relative path, or the rule that
    // refused the URL with the argument of its log line.
    struct PathRejection {
        enum class Rule { schemeOrHost, undecodable, illegalSegment };
        Rule rule;
        std::string argument;  // the URL, the encoded path, or the decoded path
    };
    static std::variant<std::string, PathRejection> relativePath(std::string_view requestURL);

    // Every servable file below `root`, relative to it with "/" separators:
    // regular files (not symbolic links) whose lower-cased extension has a
    // Content-Type, outside hidden files and hidden directories, whose
    // resolved path still lies inside the root. Empty when the root cannot be
    // walked.
    static std::set<std::string> enumerateManifest(const std::filesystem::path& root);

    // A path's text without trailing "/" ("/" stays "/").
    static std::string normalizedPath(const std::filesystem::path& path);

private:
    using TaskIdentity = ActiveSchemeTasks::Identity;
    using ReadResult = std::variant<std::string, SchemeFailure>;

    // The manifest and its root, shared by a handler and its siblings.
    class Listing;

    AppResourceSchemeHandler(std::shared_ptr<Listing> listing,
                             std::shared_ptr<ResourceWorkers> workers);

    // Checks the request against the manifest and starts its read.
    void serve(TaskIdentity identity, std::uint64_t generation,
               std::optional<std::string> requestURL);
    Task<void> serveWhenListed(TaskIdentity identity, std::uint64_t generation,
                               std::optional<std::string> requestURL);

    Task<void> readAndComplete(TaskIdentity identity, std::uint64_t generation,
                               std::optional<std::string> requestURL, std::string mimeType,
                               std::string relative);
    static ReadResult readFile(const std::filesystem::path& file);
    void complete(TaskIdentity identity, std::uint64_t generation,
                  const std::optional<std::string>& requestURL, std::string_view mimeType,
                  ReadResult result);

    std::shared_ptr<Listing> listing_;
    ActiveSchemeTasks activeTasks_;
    std::shared_ptr<ResourceWorkers> workers_;
    TaskScope reads_;  // last: the reads end before anything else goes
};

}  // namespace larkspin
