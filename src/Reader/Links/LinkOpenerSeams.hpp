#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Async/Task.hpp"
#include "Protocol/ScrolledPayload.hpp"

// What the link opener needs of the program around it, each behind a small
// interface: the document that owns it, that document's reader, the document
// controller, the confirmation dialog and the desktop's default
// applications. The GTK and GIO forms are MessageDialogConfirmation and
// GioApplicationLauncher; tests use fakes. Main thread throughout.
namespace larkspin {

// The reader of the document's first page, as far as links go.
class LinkReader {
public:
    virtual ~LinkReader() = default;

    // Asks the page to scroll to the heading `id`; `found` false when the
    // page has no such heading. Throws what the bridge throws.
    virtual Task<ScrolledPayload> scrollToHeading(std::string id) = 0;
    // The reader's banner: the message, one button, and what the button and
    // the banner's close do.
    virtual void showBanner(std::string message, std::string actionTitle,
                            std::function<void()> onAction, std::function<void()> onDismiss) = 0;
    // Hides the banner; nothing when none is shown.
    virtual void hideBanner() = 0;
};

// The document that owns the link opener (held weakly).
class LinkOpenerDocument {
public:
    virtual ~LinkOpenerDocument() = default;

    // The document's file; none for a document that has never been saved.
    virtual std::optional<std::filesystem::path> filePath() const = 0;
    // The reader of its first page; null when it has none.
    virtual std::shared_ptr<LinkReader> linkReader() const = 0;
};

// The document controller's open of a Markdown file as a document.
class MarkdownDocumentOpener {
public:
    struct Opened {
        bool alreadyOpen = false;
        // Scrolls the opened document to a heading (at once when it has
        // rendered, else after its first render); empty when it cannot.
        std::function<void(std::string fragment)> scrollToFragment;
    };

    virtual ~MarkdownDocumentOpener() = default;

    // Opens `file` as a document and shows it, or shows the document already
    // open for it. Failure throws an exception whose what() is the localised
    // reason shown to the user.
    virtual Task<Opened> openMarkdownDocument(std::filesystem::path file) = 0;
};

// The question asked before another local file goes to its default
// application.
class OpenConfirmation {
public:
    struct Question {
        std::string heading;      // "用默认应用打开「name」？"
        std::string body;         // the promise, then where the file is
        std::string openLabel;    // "打开"
        std::string cancelLabel;  // "取消"
    };

    virtual ~OpenConfirmation() = default;

    // True exactly when the user chose to open. Closing the dialog any other
    // way (Enter, Esc, the window going away) is a no.
    virtual Task<bool> confirm(Question question) = 0;
};

// The desktop's default application for an address or a file.
class DefaultApplicationLauncher {
public:
    struct Result {
        bool launched = false;
        std::string error;  // the system's reason when not launched
    };

    virtual ~DefaultApplicationLauncher() = default;

    // Hands `uri` (a web or mail address, or a "file://" URI) to its default
    // application.
    virtual Task<Result> launch(std::string uri) = 0;
};

}  // namespace larkspin
