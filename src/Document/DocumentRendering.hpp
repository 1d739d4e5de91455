#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace larkspin {

class Document;

// How a document's text reaches its page's reader, and the banners over the
// page: the render tier its load gives (a failed or restricted load shows
// its status page; a large one renders reduced, with a banner offering the
// full render), the renderer's degradation notice, the first denied image
// and a close that failed. The document keeps the text, the load and the
// reader; this part keeps which banner is its own. Owned by its document.
// Main thread.
class DocumentRendering {
public:
    // `sandboxed`: the denied-image banner says how to grant access in a
    // Flatpak sandbox.
    DocumentRendering(Document& document, bool sandboxed);
    DocumentRendering(const DocumentRendering&) = delete;
    DocumentRendering& operator=(const DocumentRendering&) = delete;

    // Renders the model's text in the tier of the document's load (nothing
    // without a reader); the tier's banner replaces the one before.
    void startRendering();
    // A reduced render becomes a full one; its banner goes.
    void enableFullRendering();
    // After a render: shows its degradation notice (`degraded`), or takes
    // away the one shown when the render no longer degrades.
    void syncDegradationBanner(std::optional<std::string> degraded);
    // Once per document: an image the page could not read.
    void showAccessDeniedBanner(const std::string& path);
    // Tells the user, on the page, why the document stays open.
    void showCloseFailure(std::string message);
    bool isReducedRendering() const { return isReducedRendering_; }

private:
    void showDismissableBanner(std::string message, std::uint64_t& slot);

    Document& document_;
    bool sandboxed_;
    bool isReducedRendering_ = false;
    std::optional<std::string> degradationBannerMessage_;
    std::uint64_t degradationBanner_ = 0;
    std::uint64_t tierBanner_ = 0;
    std::uint64_t accessBanner_ = 0;
    std::uint64_t closeFailureBanner_ = 0;
    bool accessDeniedBannerShown_ = false;
};

}  // namespace larkspin
