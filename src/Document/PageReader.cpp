#include "Document/PageReader.hpp"

#include "Reader/ReaderViewController.hpp"

namespace larkspin {

std::shared_ptr<PageReader> PageReader::create(std::shared_ptr<ReaderViewController> reader) {
    return std::shared_ptr<PageReader>(new PageReader(std::move(reader)));
}

PageReader::PageReader(std::shared_ptr<ReaderViewController> reader) : reader_(std::move(reader)) {}

PageReader::~PageReader() {
    setOwner({});
}

void PageReader::setOwner(std::weak_ptr<Owner> owner) {
    if (owner.expired()) {
        reader_->onRendered = nullptr;
        reader_->onOpenLink = nullptr;
        reader_->onCopyText = nullptr;
        reader_->onResourceAccessDenied = nullptr;
        return;
    }
    reader_->onRendered = [owner](const std::vector<BridgeHeading>& headings) {
        if (auto alive = owner.lock()) alive->readerDidRender(headings);
    };
    reader_->onOpenLink = [owner](const OpenLinkPayload& payload) {
        if (auto alive = owner.lock()) alive->readerOpensLink(payload);
    };
    reader_->onCopyText = [owner](const CopyTextPayload& payload) {
        if (auto alive = owner.lock()) alive->readerCopiesText(payload);
    };
    reader_->onResourceAccessDenied = [owner](const std::string& path) {
        if (auto alive = owner.lock()) alive->readerWasDeniedResource(path);
    };
}

void PageReader::render(std::string text, std::optional<RenderEnhancements> enhancements) {
    reader_->render(std::move(text), enhancements);
}

void PageReader::showDocumentStatus(DocumentStatusContent content) {
    reader_->showDocumentStatus(std::move(content));
}

void PageReader::hideDocumentStatus() {
    reader_->hideDocumentStatus();
}

void PageReader::setDocumentLocation(std::optional<std::filesystem::path> location) {
    reader_->setDocumentLocation(std::move(location));
}

std::optional<std::string> PageReader::lastRenderDegradation() const {
    const auto& rendered = reader_->diagnostics().lastRendered;
    if (rendered && rendered->degraded) return rendered->degraded->message;
    return std::nullopt;
}

Task<ScrolledPayload> PageReader::scrollToHeading(std::string id) {
    return reader_->scrollToHeading(std::move(id));
}

LinkReader::BannerID PageReader::showBanner(std::string message, std::string actionTitle,
                                            std::function<void()> onAction, std::function<void()> onDismiss) {
    return reader_->showBanner(std::move(message), std::move(actionTitle), std::move(onAction),
                               std::move(onDismiss));
}

void PageReader::hideBanner(BannerID banner) {
    reader_->hideBanner(banner);
}

}  // namespace larkspin
