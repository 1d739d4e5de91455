#pragma once

#include <functional>
#include <memory>

namespace larkspin {

class Document;

// What a tab page asks of whoever made it: the close review of its document
// when the user closes the tab, and what follows from its showing. The document controller is every page's
// owner in the program. Main thread.
class DocumentPageOwner {
public:
    virtual ~DocumentPageOwner() = default;
    // `done(true)` once the tab may close (its unsaved text saved or
    // discarded after the user's answer), `done(false)` to keep it.
    virtual void reviewClose(std::shared_ptr<Document> document, std::function<void(bool)> done) = 0;
    // The page of `document` is shown, selected in its window (its file is
    // watched from now on, when it waited for a watch).
    virtual void pageShown(Document& document) = 0;
};

}  // namespace larkspin
