#pragma once

#include <memory>

#include "Document/DocumentReader.hpp"
#include "Protocol/Payloads/RenderedPayload.hpp"

namespace larkspin {

class ReaderViewController;

// The program's reader as a document sees it: the page's
// `ReaderViewController`. The page, the reader's owner, hands the reader's
// render (its outcome), link and refused-image events on through it to the
// document that owns it while it does. Made by the page; main thread.
class PageReader final : public DocumentReader {
public:
    static std::shared_ptr<PageReader> create(std::shared_ptr<ReaderViewController> reader);
    ~PageReader() override;
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // What the reader reported, for the document (nothing without one).
    void readerDidRender(const RenderedPayload& reply) const;
    void readerOpensLink(const OpenLinkPayload& payload) const;
    void readerWasDeniedResource(const std::string& path) const;

    // ---- DocumentReader ----
    void setOwner(std::weak_ptr<Owner> owner) override;
    void render(std::shared_ptr<const std::string> text,
                std::optional<RenderEnhancements> enhancements) override;
    void showDocumentStatus(DocumentStatusContent content) override;
    void hideDocumentStatus() override;
    void setDocumentLocation(std::optional<std::filesystem::path> location) override;
    bool showsRenderedPage() const override;

    // ---- LinkReader ----
    Task<ScrolledPayload> scrollToHeading(std::string id) override;
    BannerID showBanner(std::string message, std::string actionTitle, std::function<void()> onAction,
                        std::function<void()> onDismiss) override;
    void hideBanner(BannerID banner) override;

private:
    explicit PageReader(std::shared_ptr<ReaderViewController> reader);

    std::shared_ptr<ReaderViewController> reader_;
    std::weak_ptr<Owner> owner_;
};

}  // namespace larkspin
