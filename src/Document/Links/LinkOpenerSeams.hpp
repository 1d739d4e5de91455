#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Platform/Async/Task.hpp"
#include "Reader/LinkReader.hpp"

// What the link opener needs of the program around it, each behind a small
// interface: the document that owns it, that document's reader (`LinkReader`,
// which the reader implements), the confirmation dialog and the desktop's
// default applications. Markdown files open through the document controller
// (Document/DocumentOpening.hpp). The GTK and GIO forms of the dialog and the
// launcher are App/Desktop's MessageDialogConfirmation and
// GioApplicationLauncher; tests use fakes. Main thread throughout.
namespace larkspin {

// The document that owns the link opener (held weakly).
class LinkOpenerDocument {
public:
    virtual ~LinkOpenerDocument() = default;

    // The document's file; none for a document that has never been saved.
    virtual std::optional<std::filesystem::path> filePath() const = 0;
    // The reader of its first page; null when it has none.
    virtual std::shared_ptr<LinkReader> linkReader() const = 0;
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
