#pragma once

#include <filesystem>
#include <memory>

#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/OpenLinkPayload.hpp"

namespace larkspin {

class Document;

// What keeps a document and lies outside it: the document controller, with
// its registry, windows and link opener. Each document is given one when it
// is made, and tells it about itself; every call is on the main thread. The
// program's controller implements it; tests give a fake.
class DocumentKeeper {
public:
    virtual ~DocumentKeeper() = default;

    // Makes the document's tab page, which attaches itself.
    virtual void makeWindow(Document& document) = 0;
    // Asked each time the document is about to watch its file: false when
    // it must not now (the process holds as many watches as it may). The
    // document then waits, unwatched, until `resumeObservingFile()`.
    virtual bool mayWatchFile(Document& document) = 0;
    // The document closed: it is let go.
    virtual void documentClosed(Document& document) = 0;
    // The document's file location changed (a relocation, a move, a save
    // as): the registry follows.
    virtual void documentFileChanged(Document& document) = 0;
    // The edited state or the file may have changed (menus follow).
    virtual void documentStateChanged(Document& document) = 0;
    // A relocation of `asking` chose `path`: true when another open
    // document uses that file and was brought forward instead.
    virtual Task<bool> bringForwardIfOpen(std::shared_ptr<Document> asking, std::filesystem::path path) = 0;
    // A link clicked in the document's page.
    virtual void openLink(Document& document, const OpenLinkPayload& payload) = 0;
};

}  // namespace larkspin
