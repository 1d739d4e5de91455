#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Protocol/Payloads/OpenLinkPayload.hpp"
#include "Protocol/Payloads/RenderEnhancements.hpp"
#include "Reader/LinkReader.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// How a render the page answered went, as far as its document cares: how
// many headings it found (for the log), and the page's message when it fell
// back to plain text (for the banner).
struct RenderOutcome {
    std::size_t headingCount = 0;
    std::optional<std::string> degradation;
};

// What a document asks of its page's reader: render its text, show its
// status page instead, put up and take down banners, know where the file is
// (for relative images), scroll to a heading (as a link reader); and what
// the reader tells its document back (`Owner`). The page gives the program's
// reader behind it (`PageReader`); tests give a fake. Main thread.
class DocumentReader : public LinkReader {
public:
    // What the reader tells the document it shows.
    class Owner {
    public:
        virtual ~Owner() = default;
        // A render completed.
        virtual void readerDidRender(const RenderOutcome& outcome) = 0;
        // A link was clicked in the page.
        virtual void readerOpensLink(const OpenLinkPayload& payload) = 0;
        // The page was refused an image of the document (`path`).
        virtual void readerWasDeniedResource(const std::string& path) = 0;
    };

    // Whom the reader tells; an expired one (or none) hears nothing.
    virtual void setOwner(std::weak_ptr<Owner> owner) = 0;
    // Renders `text` (the model's own, shared, never changed) with the
    // enhancements given (none: the page's own choice).
    virtual void render(std::shared_ptr<const std::string> text,
                        std::optional<RenderEnhancements> enhancements) = 0;
    // The status page in place of the rendered text, and back.
    virtual void showDocumentStatus(DocumentStatusContent content) = 0;
    virtual void hideDocumentStatus() = 0;
    // The document's file, none for an untitled document.
    virtual void setDocumentLocation(std::optional<std::filesystem::path> location) = 0;
    // Whether the page on screen shows a render now: false while no web view
    // is there (released, or its process ended) and while a new page loads.
    virtual bool showsRenderedPage() const = 0;
};

}  // namespace larkspin
