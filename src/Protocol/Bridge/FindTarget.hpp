#pragma once

#include <string>

#include "Platform/Async/Task.hpp"
#include "Protocol/Payloads/FindPayload.hpp"
#include "Protocol/Payloads/FindResultPayload.hpp"

namespace larkspin {

// What the find bar needs of the reader it searches: the page's own find
// through the protocol ("find" and "clearFind", both answered by
// "findResult"), the keyboard focus back on the page when the bar closes, and
// the page's selection for "use selection for find".
// The reader view controller implements it, and so does the source editor
// (Editor/Widgets/EditorFindTarget); the find strip (Reader/Strips) holds it
// weakly. Here, below both, so the editor needs nothing of the reader.
// Main thread.
class FindTarget {
public:
    virtual ~FindTarget() = default;

    // The page's answer to a find request. Throws what the bridge throws
    // (no web view, a failed page call, a reply of another type).
    virtual Task<FindResultPayload> find(FindPayload payload) = 0;
    // Drops the page's highlights; the answer is the page's empty result.
    virtual Task<FindResultPayload> clearFind() = 0;
    // Gives the keyboard focus to the page, when the reader has a web view.
    virtual void focusPage() = 0;
    // Whether there is a page to read a selection from (a live web view).
    virtual bool hasWebView() const = 0;
    // The page's selected text as the page gives it (empty without a
    // selection). Throws when the page cannot be asked or its script fails.
    virtual Task<std::string> selectedText() = 0;
};

}  // namespace larkspin
