#include "Document/PageReader.hpp"

#include "Reader/ReaderViewController.hpp"

namespace larkspin {

std::shared_ptr<PageReader> PageReader::create(std::shared_ptr<ReaderViewController> reader) {
    return std::shared_ptr<PageReader>(new PageReader(std::move(reader)));
}

PageReader::PageReader(std::shared_ptr<ReaderViewController> reader) : reader_(std::move(reader)) {}

PageReader::~PageReader() = default;

void PageReader::setOwner(std::weak_ptr<Owner> owner) { owner_ = std::move(owner); }

void PageReader::readerDidRender(const RenderedPayload& reply) const {
    const auto owner = owner_.lock();
    if (!owner) return;
    RenderOutcome outcome;
    outcome.headingCount = reply.headings.size();
    if (reply.degraded) outcome.degradation = reply.degraded->message;
    owner->readerDidRender(outcome);
}

void PageReader::readerOpensLink(const OpenLinkPayload& payload) const {
    if (const auto owner = owner_.lock()) owner->readerOpensLink(payload);
}

void PageReader::readerWasDeniedResource(const std::string& path) const {
    if (const auto owner = owner_.lock()) owner->readerWasDeniedResource(path);
}

void PageReader::render(std::shared_ptr<const std::string> text,
                        std::optional<RenderEnhancements> enhancements) {
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

bool PageReader::showsRenderedPage() const {
    return reader_->showsRenderedPage();
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
