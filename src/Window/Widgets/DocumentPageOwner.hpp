#pragma once

#include <functional>
#include <memory>

namespace larkspin {

class Document;

// What a tab page asks of whoever made it: the close review of its document
// when the user closes the tab. The document controller is every page's
// owner in the program. Main thread.
class DocumentPageOwner {
public:
    virtual ~DocumentPageOwner() = default;
    // `done(true)` once the tab may close (its unsaved text saved or
    // discarded after the user's answer), `done(false)` to keep it.
    virtual void reviewClose(std::shared_ptr<Document> document, std::function<void(bool)> done) = 0;
};

}  // namespace larkspin
