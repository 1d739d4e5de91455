#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Document/ExternalIssue.hpp"
#include "Platform/Async/Task.hpp"
#include "Storage/RecoveryDraft.hpp"
#include "Storage/RecoveryStore.hpp"

// The one way to open a document: `DocumentOpener`, the document controller
// as those who open documents see it (the launch restore, the session
// restore, the link opener), and `OpenedDocument`, a document it opened as
// they see it. The program's document and controller implement these; tests
// use fakes. Main thread throughout.
namespace larkspin {

// A document as its openers see it.
class OpenedDocument {
public:
    virtual ~OpenedDocument() = default;

    // Sets up the document's window; `showWindows` then shows it.
    virtual void makeWindowControllers() = 0;
    virtual void showWindows() = 0;
    // Takes the draft's text, identifier and creation date and shows its
    // notice; `setAside` says why the draft came to this untitled document
    // instead of its own file (none when it is in its file, or was untitled).
    virtual void applyRecoveryDraft(const RecoveryDraft& draft, std::optional<DraftSetAside> setAside) = 0;
    // The store that the document's drafts go to from now on.
    virtual void setRecoveryStore(std::shared_ptr<RecoveryStore> store) = 0;
    // True when the document shows its file read-only (a restricted preview
    // of a very large file, Latin-1): text given to it could never be saved.
    virtual bool isReadOnly() const = 0;
    // Why the document cannot take `draft` in place (read-only, or its file
    // no longer holds the content the draft was taken from: the program's
    // document answers with canTakeDraft); none when it can. Refused, the
    // draft goes into a new untitled document.
    virtual std::optional<DraftSetAside> recoveryDraftRefusal(const RecoveryDraft& draft) const {
        (void)draft;
        if (isReadOnly()) return DraftSetAside::sourceReadOnly;
        return std::nullopt;
    }
    // Scrolls to the heading `fragment`: at once when its page shows a
    // render, else after the next render of the page in place (the first,
    // or that of a web view built again).
    virtual void scrollToFragment(std::string fragment) = 0;
};

// What opens documents: the program's document controller
// (`DesktopDocumentController`) as its openers see it.
class DocumentOpener {
public:
    struct Opened {
        // Null when what was opened is not a document of this program.
        std::shared_ptr<OpenedDocument> document;
        // The document was open already and was only found (and, with
        // `display`, shown).
        bool alreadyOpen = false;
    };

    virtual ~DocumentOpener() = default;

    // Opens the document of `path`, or finds the one already open for it,
    // and with `display` shows its window. Failure throws an exception whose
    // what() is the localised reason shown to the user.
    virtual Task<Opened> openDocument(std::filesystem::path path, bool display) = 0;
    // A new untitled document of `typeIdentifier`, not yet added; null when
    // it is not a document of this program. Throws (std::exception) when
    // none can be made.
    virtual std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view typeIdentifier) = 0;
    // Registers a document made with `makeUntitledDocument`.
    virtual void addDocument(std::shared_ptr<OpenedDocument> document) = 0;
};

}  // namespace larkspin
